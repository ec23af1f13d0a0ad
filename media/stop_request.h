// A request to stop, set from a signal handler: every loop and every
// blocking read or write of the libraries looks at it, so that a run stops
// at once, wherever it is, with kStepInterrupted.
#ifndef DELBRIN_MEDIA_STOP_REQUEST_H
#define DELBRIN_MEDIA_STOP_REQUEST_H

#include <signal.h>

// The signal that asked for the stop, 0 while none has.
extern volatile sig_atomic_t g_stopSignal;

// For AVIOInterruptCB: nonzero once a stop was asked for.
int StopRequested(void* unused);

#endif
