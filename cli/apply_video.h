// The apply command's work from an opened input on: decoding, patching and
// encoding, each in a thread of its own. RunApply drives it on a file, the
// input fuzzer on bytes in memory.
#ifndef DELBRIN_CLI_APPLY_VIDEO_H
#define DELBRIN_CLI_APPLY_VIDEO_H

#include <stdint.h>

#include <string>
#include <vector>

#include "encoder_setup.h"
#include "media_error.h"
#include "options.h"
#include "patch_settings.h"
#include "video_input.h"

// What an apply run did besides writing frames.
struct ApplyCounts {
    int64_t     frames = 0;       // written
    bool        moreFrames = false;  // a picture output: the input has frames after the first
    InputDamage damage;           // what reading found damaged
    int64_t     movedFrames = 0;  // frames whose timestamp did not increase, moved one tick on
    int64_t     roundedFrames = 0;  // frames whose timestamp the encoder's coarser time base rounded
    std::string encoderName;        // the video encoder, and the time base it counts in
    AVRational  encoderTime = {0, 1};
    int         outputVideo = -1;   // the video's stream in the file written
};

// Decodes input (opened with kReadAllStreams) to its end, patches every
// frame with the instances, encodes it per plan (whose pixel format the
// first frame settles) and writes it with every other stream to path in
// plan's container; name is OUTPUT, for messages. With options.strict the
// first damage the reading finds fails the run. The output is closed on
// return, and the file at path left as it is on failure.
bool ApplyVideo(VideoInput* input, const EncoderPlan& plan, const Options& options,
                const std::vector<PatchSettings>& instances, const std::string& path, const std::string& name,
                ApplyCounts* counts, MediaError* error);

#endif
