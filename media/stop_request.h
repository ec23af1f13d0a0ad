// A request to stop, set from a signal handler: every loop and every
// blocking read or write of the libraries looks at it, so that a run stops
// at once, wherever it is and in whichever thread, with kStepInterrupted.
#ifndef DELBRIN_MEDIA_STOP_REQUEST_H
#define DELBRIN_MEDIA_STOP_REQUEST_H

#include <atomic>

// The signal that asked for the stop, 0 while none has. Lock-free, so a
// signal handler may set it.
extern std::atomic<int> g_stopSignal;

// For AVIOInterruptCB: nonzero once a stop was asked for.
int StopRequested(void* unused);

#endif
