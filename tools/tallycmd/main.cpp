// tallycmd: TallyDesk without a window (docs/tallycmd.md). Everything but the platform's part
// is in the library the tests link.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tools/tallycmd/platform_seams.h"

// Under AddressSanitizer (GCC says so one way, Clang another) the run ends as any program does,
// so that its leak check at exit still sees everything.
#if defined(__SANITIZE_ADDRESS__)
#define TALLYCMD_CHECKS_LEAKS 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TALLYCMD_CHECKS_LEAKS 1
#endif
#endif

int main(int argc, char** argv) {
    using namespace tally::tallycmd;
    PrepareStandardStreams();
    const std::vector<std::string> words(argv + 1, argv + argc);
    FileSink out(stdout);
    FileSink err(stderr);
    Console console{out, err, StandardErrorIsTerminal()};
    const int code = RunTallyCmd(words, console, MakePlatformEnvironment);
    std::fflush(stdout);
#ifdef TALLYCMD_CHECKS_LEAKS
    return code;
#else
    // Everything the run wrote is closed by now. What is left is the directory session, whose
    // cache holds every entry the run saw (ten thousand for a large context): the system takes
    // it back with the process at once, where freeing it entry by entry cost a twentieth of a
    // large batch's time. (A server sees its connection close without an unbind.)
    std::fflush(nullptr);
    std::_Exit(code);
#endif
}
