// Running shell command lines from the command's tests.
#ifndef DELBRIN_TESTS_SHELL_RUN_H
#define DELBRIN_TESTS_SHELL_RUN_H

#include <stdio.h>
#include <sys/wait.h>

#include <string>

// s in single quotes, safe to paste into a shell command line.
inline std::string Quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// Runs a shell command line; returns its exit code and its stdout and stderr.
inline int Shell(const std::string& command, std::string* output = nullptr) {
    FILE* p = popen((command + " 2>&1").c_str(), "r");
    if (!p) return -1;
    std::string text;
    char chunk[4096];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, p)) > 0) text.append(chunk, n);
    int status = pclose(p);
    if (output) *output = text;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

#endif
