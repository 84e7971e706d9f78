// The build's version, decided when the build is configured (cmake/TallyVersion.cmake): the
// release that the About box shows and the whole text that tells one build from another.
#pragma once

#include <string_view>

struct ProgramVersion {
    // The release "4.25f": one hexadecimal digit each, then the release letter.
    int major = 0;
    int minor = 0;
    int revision = 0;
    char letter = 'a';
    int build = 0;          // commits after the release's tag; 0 without git
    std::string_view text;  // "4.25f", or "4.25f+12.g1a2b3c4" after the tag
};

const ProgramVersion& BuildVersion();
