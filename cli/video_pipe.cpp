// Video in and out through the ffmpeg and ffprobe programs.
#include "video_pipe.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <map>

extern char** environ;

namespace {

bool FindOnPath(const char* name, std::string* path) {
    const char* env = getenv("PATH");
    std::string dirs = env ? env : "";
    size_t start = 0;
    for (;;) {
        size_t colon = dirs.find(':', start);
        std::string dir = dirs.substr(start, colon - start);
        if (dir.empty()) dir = ".";
        std::string candidate = dir + "/" + name;
        struct stat st;
        if (stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
            access(candidate.c_str(), X_OK) == 0) {
            *path = candidate;
            return true;
        }
        if (colon == std::string::npos) return false;
        start = colon + 1;
    }
}

std::vector<char*> ArgvPointers(const std::vector<std::string>& argv) {
    std::vector<char*> pointers;
    for (const std::string& a : argv) pointers.push_back(const_cast<char*>(a.c_str()));
    pointers.push_back(nullptr);
    return pointers;
}

// ffprobe's "flat" output: streams.stream.0.width=64, strings in quotes.
std::map<std::string, std::string> ParseFlat(const std::string& text) {
    std::map<std::string, std::string> values;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        size_t eq = line.find('=');
        if (eq != std::string::npos) {
            std::string value = line.substr(eq + 1);
            if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
                value = value.substr(1, value.size() - 2);
            values[line.substr(0, eq)] = value;
        }
        start = end + 1;
    }
    return values;
}

double ParseRate(const std::string& rate) {
    int num = 0, den = 0;
    if (sscanf(rate.c_str(), "%d/%d", &num, &den) == 2 && num > 0 && den > 0)
        return static_cast<double>(num) / den;
    return 0;
}

double ParseSeconds(const std::string& text) {
    char* end = nullptr;
    double v = strtod(text.c_str(), &end);
    return end == text.c_str() ? 0 : v;
}

}  // namespace

bool FindVideoTools(VideoTools* tools) {
    return FindOnPath("ffmpeg", &tools->ffmpeg) && FindOnPath("ffprobe", &tools->ffprobe);
}

int RunAndCollect(const std::vector<std::string>& argv, std::string* output) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 2);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    std::vector<char*> args = ArgvPointers(argv);
    pid_t pid;
    int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (rc != 0) {
        close(fds[0]);
        return -1;
    }
    char chunk[4096];
    for (;;) {
        ssize_t n = read(fds[0], chunk, sizeof chunk);
        if (n > 0) output->append(chunk, n);
        else if (n == 0 || errno != EINTR) break;
    }
    close(fds[0]);
    ChildProcess child = {pid, -1};
    return FinishChild(&child);
}

bool ProbeVideo(const VideoTools& tools, const std::string& input, VideoInfo* info,
                std::string* error) {
    std::string output;
    int status = RunAndCollect({tools.ffprobe, "-v", "error", "-select_streams", "v:0",
                                "-show_entries",
                                "stream=width,height,pix_fmt,avg_frame_rate,r_frame_rate,"
                                "nb_frames,start_time,duration:format=start_time,duration",
                                "-of", "flat", "--", input},
                               &output);
    std::map<std::string, std::string> v = ParseFlat(output);
    if (status != 0) {
        // ffprobe's message names the file and the reason; keep its first line.
        std::string reason = output.substr(0, output.find('\n'));
        *error = reason.empty() ? "ffprobe cannot read it" : reason;
        return false;
    }
    const std::string s = "streams.stream.0.";
    info->width = atoi(v[s + "width"].c_str());
    info->height = atoi(v[s + "height"].c_str());
    if (info->width <= 0 || info->height <= 0) {
        *error = "it holds no video stream";
        return false;
    }
    info->pixelFormat = v[s + "pix_fmt"];
    // The average rate is the one that keeps the duration of a variable-rate
    // clip; both are the same for a constant-rate one.
    info->frameRate = v[s + "avg_frame_rate"];
    info->framesPerSecond = ParseRate(info->frameRate);
    if (info->framesPerSecond <= 0) {
        info->frameRate = v[s + "r_frame_rate"];
        info->framesPerSecond = ParseRate(info->frameRate);
    }
    if (info->framesPerSecond <= 0) {
        info->frameRate = "25";
        info->framesPerSecond = 25;
    }
    info->frameCount = -1;
    if (!v[s + "nb_frames"].empty() && v[s + "nb_frames"] != "N/A")
        info->frameCount = atoll(v[s + "nb_frames"].c_str());
    if (info->frameCount <= 0) {
        double duration = ParseSeconds(v[s + "duration"]);
        if (duration <= 0) duration = ParseSeconds(v["format.duration"]);
        if (duration > 0) info->frameCount = static_cast<int64_t>(duration * info->framesPerSecond + 0.5);
        else info->frameCount = -1;
    }
    info->startOffset = ParseSeconds(v[s + "start_time"]) - ParseSeconds(v["format.start_time"]);
    if (info->startOffset < 0) info->startOffset = 0;
    return true;
}

bool HasEncoder(const VideoTools& tools, const char* name) {
    std::string output;
    if (RunAndCollect({tools.ffmpeg, "-hide_banner", "-encoders"}, &output) != 0) return false;
    std::string word = std::string(" ") + name + " ";
    return output.find(word) != std::string::npos;
}

bool StartChild(const std::vector<std::string>& argv, PipeDirection direction,
                ChildProcess* child) {
    int fds[2];
    // Close-on-exec keeps every other child from inheriting this pipe: an
    // encoder whose stdin is also held open by the decoder never sees its end.
    if (pipe2(fds, O_CLOEXEC) != 0) return false;
    int childEnd = direction == kReadFromChild ? fds[1] : fds[0];
    int ourEnd = direction == kReadFromChild ? fds[0] : fds[1];
    // Whole frames are megabytes; a larger pipe lets the two sides run apart.
    fcntl(ourEnd, F_SETPIPE_SZ, 1 << 20);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, childEnd, direction == kReadFromChild ? 1 : 0);
    if (direction == kReadFromChild)
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setpgroup(&attributes, 0);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGTERM);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF);

    std::vector<char*> args = ArgvPointers(argv);
    int rc = posix_spawn(&child->pid, args[0], &actions, &attributes, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    close(childEnd);
    if (rc != 0) {
        close(ourEnd);
        errno = rc;
        return false;
    }
    child->fd = ourEnd;
    return true;
}

int FinishChild(ChildProcess* child) {
    if (child->fd >= 0) close(child->fd);
    child->fd = -1;
    int status = 0;
    while (waitpid(child->pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

void StopChild(const ChildProcess* child) {
    if (child->pid > 0) kill(child->pid, SIGTERM);
}

int ReadFully(int fd, void* buffer, size_t size) {
    uint8_t* p = static_cast<uint8_t*>(buffer);
    size_t done = 0;
    while (done < size) {
        ssize_t n = read(fd, p + done, size - done);
        if (n > 0) done += n;
        else if (n == 0) return done == 0 ? 0 : -1;
        else return -1;
    }
    return 1;
}

bool WriteFully(int fd, const void* buffer, size_t size) {
    const uint8_t* p = static_cast<const uint8_t*>(buffer);
    size_t done = 0;
    while (done < size) {
        ssize_t n = write(fd, p + done, size - done);
        if (n > 0) done += n;
        else return false;
    }
    return true;
}
