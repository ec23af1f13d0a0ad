// Video in and out through the ffmpeg and ffprobe programs.
//
// The command drives the programs through pipes instead of linking the
// libav* libraries: raw BGRA frames are the one format the filter and ffmpeg
// share, the programs' options are stable across the Debian releases while
// the libraries' interfaces are not, decoding and encoding run in their own
// processes (so on other cores than the filter) for free, and keeping the
// audio and every other stream as it is is one "-c copy" away instead of a
// remuxer of our own.
#ifndef DELBRIN_CLI_VIDEO_PIPE_H
#define DELBRIN_CLI_VIDEO_PIPE_H

#include <stdint.h>
#include <sys/types.h>

#include <string>
#include <vector>

struct VideoTools {
    std::string ffmpeg;   // absolute paths, found on PATH
    std::string ffprobe;
};

// What the command needs to know about the input's first video stream.
struct VideoInfo {
    int32_t     width;
    int32_t     height;
    std::string frameRate;    // as ffmpeg writes it, "30000/1001"
    double      framesPerSecond;
    int64_t     frameCount;   // -1 when the container does not say
    std::string pixelFormat;  // the decoder's, "yuv420p"
    double      startOffset;  // seconds the video starts after the file
};

// A child process with one end of a pipe: its stdout to read from, or its
// stdin to write to.
struct ChildProcess {
    pid_t pid;
    int   fd;
};

bool FindVideoTools(VideoTools* tools);

// Fails with ffprobe's own words (or ours) in *error when the file cannot be
// read or holds no video stream.
bool ProbeVideo(const VideoTools& tools, const std::string& input, VideoInfo* info,
                std::string* error);

// Whether ffmpeg offers the named encoder.
bool HasEncoder(const VideoTools& tools, const char* name);

enum PipeDirection { kReadFromChild, kWriteToChild };

// Starts argv[0] in a process group of its own (so a Ctrl-C reaches only
// this command, which then stops the child itself). stderr is inherited.
bool StartChild(const std::vector<std::string>& argv, PipeDirection direction,
                ChildProcess* child);

// Closes the pipe end, waits for the child and returns its exit status
// (128 + signal number when a signal ended it, -1 when it cannot be waited for).
int FinishChild(ChildProcess* child);

// Asks a running child to stop.
void StopChild(const ChildProcess* child);

// Runs a program to completion, collecting its stdout and stderr together.
int RunAndCollect(const std::vector<std::string>& argv, std::string* output);

// 1 when all bytes were read, 0 at a clean end before any byte, -1 on a short
// read or an error (errno EINTR when a signal interrupted it).
int ReadFully(int fd, void* buffer, size_t size);
bool WriteFully(int fd, const void* buffer, size_t size);

#endif
