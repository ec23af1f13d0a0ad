// Running shell command lines from the command's tests.
#ifndef DELBRIN_TESTS_SHELL_RUN_H
#define DELBRIN_TESTS_SHELL_RUN_H

#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

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

// Runs a program reading its input through the pipe `fifo`, which is fed the
// first `fed` bytes of `bytes` and then kept open, so the program is still
// reading when SIGINT comes: once stderr has said `waitFor` (at once when it
// is empty). Returns the exit code (-1 when a signal ended the program) and,
// in *said, its stderr.
inline int RunInterrupted(const std::vector<std::string>& argv, const std::string& fifo,
                          const std::string& bytes, size_t fed, const std::string& waitFor,
                          std::string* said) {
    unlink(fifo.c_str());
    if (mkfifo(fifo.c_str(), 0600) != 0) return -1;
    int fds[2];
    if (pipe(fds) != 0) return -1;
    pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[1], 2);
        close(fds[0]);
        std::vector<char*> args;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    close(fds[1]);
    // Opening the pipe waits for the program to open it for reading.
    int feed = open(fifo.c_str(), O_WRONLY);
    if (feed < 0 || write(feed, bytes.data(), fed) != static_cast<ssize_t>(fed)) {
        kill(pid, SIGKILL);
    }
    said->clear();
    char c;
    while (!waitFor.empty() && said->find(waitFor) == std::string::npos && read(fds[0], &c, 1) == 1)
        *said += c;
    kill(pid, SIGINT);
    while (read(fds[0], &c, 1) == 1) *said += c;
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (feed >= 0) close(feed);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

#endif
