#include "reports/win32/report_shell.h"

#include <shellapi.h>

#include "app/win32/shell_state.h"

namespace tally::reports {

void OpenReportWithShell(const std::string& path, int showCommand) {
    // The shell reports failure with a result of 31 or less.
    constexpr INT_PTR kShellFailureLimit = 32;
    const INT_PTR result = reinterpret_cast<INT_PTR>(
        ShellExecuteA(MainWindow, "open", path.c_str(), nullptr, "", showCommand));
    if (result < kShellFailureLimit) {
        const std::string text = "Error " + std::to_string(result) + " running " + path +
                                 "\nYou need to associate .TXT files with an application.";
        MessageBoxA(MainWindow, text.c_str(), "Error", MB_OK | MB_ICONEXCLAMATION);
    }
}

}  // namespace tally::reports
