#include "app/about.h"

#include <array>
#include <cstdio>

std::string AboutVersionText() {
    std::array<char, 64> text{};
    std::snprintf(text.data(), text.size(), "TallyDesk %1X.%1X%1X%c (32 bit)",
                  static_cast<unsigned>(kVersionMajor), static_cast<unsigned>(kVersionMinor),
                  static_cast<unsigned>(kVersionRevision), kVersionRelease);
    return text.data();
}
