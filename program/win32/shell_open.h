// Opening a document with the viewer the platform associates with it (the shell's "open").
#pragma once

#include <windows.h>

#include <string>

// The shell's result: 32 or more when it opened the document, the failure's code otherwise.
INT_PTR OpenWithShell(const std::string& document, int showCommand);

// Opens a report file (owner MainWindow, no parameters, an empty default folder, shown with
// `showCommand`). When the shell cannot: "Error %d running %s\nYou need to associate .TXT files
// with an application." with caption "Error" and the exclamation icon.
void OpenReportWithShell(const std::string& path, int showCommand);
