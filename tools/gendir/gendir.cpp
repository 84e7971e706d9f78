// gendir: writes a generated network folder (see gendir_lib.h) for benchmarks and scale tests.
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "tools/gendir/gendir_lib.h"

#ifndef TALLY_SOURCE_DIR
#define TALLY_SOURCE_DIR "."
#endif

int main(int argc, char** argv) {
    std::vector<std::string_view> args(argv, argv + argc);
    for (std::string_view arg : args) {
        if (arg == "--help" || arg == "-h") {
            std::fputs(tally::gendir::HelpText().c_str(), stdout);
            return 0;
        }
    }
    tally::gendir::Options options;
    options.schema = std::string(TALLY_SOURCE_DIR) + "/dirstore/schema/tallydesk.ldif";
    std::string error;
    if (!tally::gendir::ParseArguments(args, options, error)) {
        std::fprintf(stderr, "gendir: %s\n%s", error.c_str(), tally::gendir::Usage().c_str());
        return 2;
    }
    if (!tally::gendir::WriteNetwork(options, error)) {
        std::fprintf(stderr, "gendir: %s\n", error.c_str());
        return 1;
    }
    return 0;
}
