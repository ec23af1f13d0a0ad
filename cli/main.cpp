// delbrin: the Tavrel filter applied to video files, driven by the same
// Config(...) line the host saves in its processing scripts.
#include <stdio.h>
#include <string.h>

#include <string>

extern "C" {
#include <libavutil/log.h>
}

#include "commands.h"
#include "detect_command.h"
#include "filter_setup.h"
#include "options.h"
#include "run_error.h"
#include "stop_signal.h"

int main(int argc, char** argv) {
    if (argc < 2 || strcmp(argv[1], "--help") == 0 || strcmp(argv[1], "-h") == 0 || strcmp(argv[1], "help") == 0) {
        fputs(kUsage, argc < 2 ? stderr : stdout);
        return argc < 2 ? kExitUsage : kExitOk;
    }
    const std::string command = argv[1];
    InstallStopHandlers();
    Options options;
    options.command = command;
    std::string error;
    if (!ParseOptions(argc, argv, &options, &error)) return Fail(kExitUsage, error);
    for (const std::string& w : options.warnings) fprintf(stderr, "delbrin: warning: %s\n", w.c_str());
    av_log_set_level(options.verbose ? AV_LOG_INFO : AV_LOG_ERROR);
    if (command == "detect") return RunDetect(options);
    if (options.help) {
        fputs(kUsage, stdout);
        return kExitOk;
    }
    const size_t files = options.positional.size();

    if (options.printConfig) {  // preview only
        PrintConfigs(MakeInstances(options, options.border));
        if (files == 0) return kExitOk;
    }
    if (command == "apply" && files != 2) return Fail(kExitUsage, "apply takes INPUT and OUTPUT; see delbrin --help");
    if (command == "preview" && (files != 1 || options.frame < 0 || options.picturePath.empty()))
        return Fail(kExitUsage, "preview takes INPUT, --frame N and -o OUT.png; see delbrin --help");
    // A fresh instance patches one pixel in the corner, which in the host
    // only marks settings the dialog has not seen yet; a run without a
    // rectangle is a forgotten option, not a wish.
    if (command != "demo" && options.instances.empty())
        return Fail(kExitUsage, "no rectangle given: use --rect, --config or --script; see delbrin --help");
    if (command == "demo" && files > 1) return Fail(kExitUsage, "demo takes at most a directory; see delbrin --help");

    if (command == "apply") return RunApply(options);
    if (command == "preview") return RunPreview(options);
    return RunDemo(options);
}
