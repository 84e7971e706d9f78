#include "app/about.h"

#include <array>
#include <cstdio>

std::string AboutVersionText(const ProgramVersion& version) {
    std::array<char, 64> text{};
    std::snprintf(text.data(), text.size(), "TallyDesk %1X.%1X%1X%c (32 bit)",
                  static_cast<unsigned>(version.major), static_cast<unsigned>(version.minor),
                  static_cast<unsigned>(version.revision), version.letter);
    return text.data();
}
