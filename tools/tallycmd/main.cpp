// tallycmd: TallyDesk without a window (docs/tallycmd.md). Everything but the platform's part
// is in the library the tests link.
#include <cstdio>
#include <string>
#include <vector>

#include "tools/tallycmd/platform_seams.h"

int main(int argc, char** argv) {
    using namespace tally::tallycmd;
    PrepareStandardStreams();
    const std::vector<std::string> words(argv + 1, argv + argc);
    FileSink out(stdout);
    FileSink err(stderr);
    Console console{out, err, StandardErrorIsTerminal()};
    const int code = RunTallyCmd(words, console, MakePlatformEnvironment);
    std::fflush(stdout);
    return code;
}
