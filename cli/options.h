// The command line: which command, its files, the filter instances and the
// encoder settings. Reading it never touches a video file.
#ifndef DELBRIN_CLI_OPTIONS_H
#define DELBRIN_CLI_OPTIONS_H

#include <stdint.h>

#include <string>
#include <vector>

#include "config_text.h"
#include "encoder_setup.h"

extern const char kUsage[];

// One filter instance as the command line gives it.
struct InstanceSource {
    ConfigCall  call;
    std::string origin;  // "--rect 1", "--config 2", "job.vcf instance 3": for messages
    bool        fromText;  // a Config line or script, whose range text is read leniently
};

struct Options {
    std::string command;
    std::vector<std::string> positional;
    std::vector<InstanceSource> instances;  // in the order given
    bool           border = false;
    EncoderRequest encoder;
    bool           force = false;
    bool           quiet = false;
    bool           verbose = false;
    bool           strict = false;  // damaged input is an error
    bool           printConfig = false;
    long long      frame = -1;
    std::string    previewPath;
    std::vector<std::string> warnings;  // for stderr, once the whole line has been read
};

// Reads argv[2...] (argv[1] is the command). Each --rect, --config and each
// Tavrel instance of a --script is one instance; --feather, --fade, --ranges
// and --cancel apply to every instance, wherever they stand, over what a
// Config line or script says. options->command must be apply, preview or
// demo, and every option one of that command's. False with a usage error.
bool ParseOptions(int argc, char** argv, Options* options, std::string* error);

#endif
