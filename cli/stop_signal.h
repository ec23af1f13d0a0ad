// Ctrl-C, SIGTERM and SIGHUP: remembered by a flag that every loop and every
// blocking read or write of the libraries looks at, so that a run stops at
// once, wherever it is, and leaves OUTPUT as it was.
#ifndef DELBRIN_CLI_STOP_SIGNAL_H
#define DELBRIN_CLI_STOP_SIGNAL_H

#include <signal.h>

// The signal that asked the command to stop, 0 while none has.
extern volatile sig_atomic_t g_stopSignal;

// Installs the handlers (without SA_RESTART, so a blocked read returns).
void InstallStopHandlers();

// For AVIOInterruptCB: nonzero once a stop was asked for.
int StopRequested(void* unused);

#endif
