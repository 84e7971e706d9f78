// Opening a report file with the viewer the platform associates with text files.
#pragma once

#include <windows.h>

#include <string>

namespace tally::reports {

// The shell's "open" on `path` (owner MainWindow, no parameters, an empty default folder,
// shown with `showCommand`). When the shell cannot, "Error %d running %s\nYou need to associate
// .TXT files with an application." with caption "Error" and the exclamation icon.
void OpenReportWithShell(const std::string& path, int showCommand);

}  // namespace tally::reports
