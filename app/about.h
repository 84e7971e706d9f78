// The program's version as the About box shows it.
#pragma once

#include <string>

inline constexpr int kVersionMajor = 4;
inline constexpr int kVersionMinor = 2;
inline constexpr int kVersionRevision = 5;
inline constexpr char kVersionRelease = 'f';

// "TallyDesk 4.25f (32 bit)": each number one hexadecimal digit.
std::string AboutVersionText();
