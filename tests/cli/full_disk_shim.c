/* Loaded before the C library (LD_PRELOAD) into the command under test:
 * every write to a file whose name holds ".delbrin-" (the command's
 * temporary output) fails as it does on a full disk, so that a test
 * reaches the full-disk path without a full file system. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

ssize_t write(int fd, const void* buffer, size_t size)
{
    static ssize_t (*next)(int, const void*, size_t);
    char link[64];
    char target[4096];
    ssize_t length;

    if (!next) {
        next = (ssize_t (*)(int, const void*, size_t))dlsym(RTLD_NEXT, "write");
    }
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    length = readlink(link, target, sizeof target - 1);
    if (length > 0) {
        target[length] = '\0';
        if (strstr(target, ".delbrin-")) {
            errno = ENOSPC;
            return -1;
        }
    }
    return next(fd, buffer, size);
}
