// The program's version as the About box shows it.
#pragma once

#include <string>

#include "program/version.h"

// "TallyDesk 4.25f (32 bit)": each number one hexadecimal digit, then the release letter; the
// build's own version unless another is given.
std::string AboutVersionText(const ProgramVersion& version = BuildVersion());
