#include "progress.h"

#include <stdio.h>
#include <time.h>
#include <unistd.h>

static double Now() {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

Progress StartProgress(bool quiet, int64_t total) {
    Progress p = {!quiet && isatty(2), total, Now(), 0};
    return p;
}

void DrawProgress(Progress* p, int64_t done, bool last) {
    if (!p->shown) return;
    double now = Now();
    if (!last && now - p->drawn < 0.1) return;
    p->drawn = now;
    double elapsed = now - p->started;
    double fps = elapsed > 0 ? done / elapsed : 0;
    if (p->total > 0) {
        int64_t total = done > p->total ? done : p->total;
        char bar[31];
        int filled = static_cast<int>(30 * done / total);
        for (int i = 0; i < 30; i++) bar[i] = i < filled ? '#' : '.';
        bar[30] = '\0';
        char eta[32] = "--:--";
        if (fps > 0) {
            long seconds = static_cast<long>((total - done) / fps + 0.5);
            snprintf(eta, sizeof eta, "%ld:%02ld", seconds / 60, seconds % 60);
        }
        fprintf(stderr, "\r[%s] %lld/%lld frames  %.1f fps  ETA %s ", bar, (long long)done, (long long)total, fps, eta);
    } else {
        fprintf(stderr, "\r%lld frames  %.1f fps ", (long long)done, fps);
    }
    if (last) fputc('\n', stderr);
}
