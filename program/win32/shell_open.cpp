#include "program/win32/shell_open.h"

#include <shellapi.h>

#include "program/win32/dialog_support.h"
#include "program/win32/main_windows.h"

namespace {

// The shell reports failure with a result of 31 or less.
constexpr INT_PTR kShellFailureLimit = 32;

}  // namespace

INT_PTR OpenWithShell(const std::string& document, int showCommand) {
    return reinterpret_cast<INT_PTR>(
        ShellExecuteA(MainWindow, "open", document.c_str(), nullptr, "", showCommand));
}

void OpenReportWithShell(const std::string& path, int showCommand) {
    const INT_PTR result = OpenWithShell(path, showCommand);
    if (result < kShellFailureLimit) {
        ShowError(MainWindow, "Error " + std::to_string(result) + " running " + path +
                                  "\nYou need to associate .TXT files with an application.");
    }
}
