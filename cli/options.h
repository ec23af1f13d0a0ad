// The command line of every command (apply, preview, detect, demo), read
// through one table of options: which command, its files, the filter
// instances, the encoder settings and detect's choices. Reading it never
// touches a video file.
#ifndef DELBRIN_CLI_OPTIONS_H
#define DELBRIN_CLI_OPTIONS_H

#include <stdint.h>

#include <string>
#include <vector>

#include "config_text.h"
#include "encoder_setup.h"

extern const char kUsage[];

// detect's bounds: the most frames to sample (the analysis keeps sums, not
// samples, so the count costs no memory to speak of, but every frame is
// decoded once in each of its passes) and the widest margin.
enum {
    kMaxSampleFrames = 10000,
    kMaxMargin = 1000,
};

// One filter instance as the command line gives it.
struct InstanceSource {
    ConfigCall  call;
    std::string origin;  // "--rect 1", "--config 2", "job.vcf instance 3": for messages
    bool        fromText;  // a Config line or script, whose range text is read leniently
};

struct Options {
    std::string command;
    std::vector<std::string> positional;    // the files; "-" is standard input or output
    std::vector<InstanceSource> instances;  // in the order given
    bool           border = false;
    EncoderRequest encoder;
    bool           force = false;
    bool           quiet = false;
    bool           verbose = false;
    bool           strict = false;  // apply: damaged input is an error
    bool           help = false;
    bool           printConfig = false;
    int32_t        frame = -1;         // preview --frame
    std::string    picturePath;        // preview -o, detect --preview
    int            sampleFrames = 300; // detect --frames
    int            margin = 4;         // detect --margin
    bool           findRanges = false; // detect --ranges
    bool           json = false;       // detect --json
    std::string    maskPath;           // detect --mask
    std::string    deblendMask;        // apply --deblend: the learned logo, a mask picture
    std::string    deblendRanges;      // apply --deblend with --ranges: the frames to de-blend; empty: all
    std::vector<std::string> warnings;  // for stderr, once the whole line has been read
};

// Reads argv[2...] (argv[1] is the command). Options come as "--opt value"
// or "--opt=value", anywhere among the files; "--" ends them, so that a
// file named "-x.mp4" can follow. Each --rect, --config and each Tavrel
// instance of a --script is one instance; --feather, --fade, --ranges and
// --cancel apply to every instance, wherever they stand, over what a Config
// line or script says. options->command must be apply, preview, detect or
// demo, and every option one of that command's. False with a usage error.
bool ParseOptions(int argc, char** argv, Options* options, std::string* error);

#endif
