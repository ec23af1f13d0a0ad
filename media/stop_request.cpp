#include "stop_request.h"

volatile sig_atomic_t g_stopSignal = 0;

int StopRequested(void*) { return g_stopSignal != 0; }
