// The progress line on a terminal: frames done, rate and time left.
#ifndef DELBRIN_CLI_PROGRESS_H
#define DELBRIN_CLI_PROGRESS_H

#include <stdint.h>

struct Progress {
    bool    shown;    // only on a terminal, and not with --quiet
    int64_t total;    // expected frames, -1 when unknown
    double  started;
    double  drawn;
};

Progress StartProgress(bool quiet, int64_t total);

// Redraws at most ten times a second, and always when last.
void DrawProgress(Progress* progress, int64_t done, bool last);

#endif
