// Ctrl-C, SIGTERM and SIGHUP: each sets the media layer's stop request, so
// that a run stops at once, wherever it is, and leaves OUTPUT as it was.
#ifndef DELBRIN_CLI_STOP_SIGNAL_H
#define DELBRIN_CLI_STOP_SIGNAL_H

#include "stop_request.h"

// Installs the handlers (without SA_RESTART, so a blocked read returns).
void InstallStopHandlers();

#endif
