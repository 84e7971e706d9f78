#include <unistd.h>

#include <cstdio>

#include "tools/tallycmd/platform_seams.h"

namespace tally::tallycmd {

void PrepareStandardStreams() {}

bool StandardErrorIsTerminal() {
    return isatty(STDERR_FILENO) == 1;
}

bool MakePlatformEnvironment(const CommandLine& line, const directory::ClientConfig& config,
                             RunEnvironment& environment, std::string& error) {
    auto warn = [](const std::string& text) {
        std::fprintf(stderr, "tallycmd: warning: %s\n", text.c_str());
    };
    return MakeNativeEnvironment(line, config, LocalRecordMoment, warn, environment, error);
}

}  // namespace tally::tallycmd
