// What main needs of the platform it runs on: the standard streams, and the run's environment
// (tallycmd.h). platform_posix.cpp and platform_winapi.cpp each give one.
#pragma once

#include "tools/tallycmd/tallycmd.h"

namespace tally::tallycmd {

// Reports go to standard output byte for byte: no line-end translation.
void PrepareStandardStreams();
bool StandardErrorIsTerminal();
bool MakePlatformEnvironment(const CommandLine& line, const directory::ClientConfig& config,
                             RunEnvironment& environment, std::string& error);

}  // namespace tally::tallycmd
