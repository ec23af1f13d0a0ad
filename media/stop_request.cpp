#include "stop_request.h"

static_assert(ATOMIC_INT_LOCK_FREE == 2, "a signal handler sets the stop request");

std::atomic<int> g_stopSignal{0};

int StopRequested(void*) { return g_stopSignal != 0; }
