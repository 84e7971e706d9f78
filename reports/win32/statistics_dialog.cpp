// The Printing Statistics dialog: the choice of totals and log, "Create report" and "Close".
// The run itself is statistics_run.cpp, the balances balances_report.cpp.
#include "reports/win32/statistics_dialog.h"

#include <commdlg.h>

#include <array>
#include <string>

#include "browse/win32/group_dialog.h"
#include "program/settings.h"
#include "program/win32/dialog_support.h"
#include "program/win32/main_windows.h"
#include "reports/win32/balances_report.h"
#include "reports/win32/statistics_run.h"
#include "resources/resource.h"

namespace tally::reports {
namespace {

// The folder the open-file dialog starts in once a log was chosen, for the rest of the run.
std::string otherLogDirectory;

constexpr std::array<int, 7> kTotalsButtons = {
    IDC_STATS_USERS,        IDC_STATS_PRINT_SERVERS, IDC_STATS_PRINTERS, IDC_STATS_QUEUES,
    IDC_STATS_CLIENT_CODES, IDC_STATS_GROUPS,        IDC_STATS_BALANCES};

StatisticsCategory CategoryOf(int button) {
    switch (button) {
        case IDC_STATS_PRINT_SERVERS:
            return kByPrintServer;
        case IDC_STATS_PRINTERS:
            return kByPrinter;
        case IDC_STATS_QUEUES:
            return kByQueue;
        case IDC_STATS_CLIENT_CODES:
            return kByClientCode;
        default:
            return kByUser;  // users, and the members of a group
    }
}

int ChosenTotals(HWND dialog) {
    for (int button : kTotalsButtons) {
        if (IsDlgButtonChecked(dialog, button) == BST_CHECKED) {
            return button;
        }
    }
    return 0;
}

// The folder the open-file dialog starts in: the last chosen log's, or the log server's.
std::string StartingFolder() {
    if (!otherLogDirectory.empty()) {
        return otherLogDirectory;
    }
    std::string folder = gSettings.LogFilePath;
    const std::size_t cut = folder.find("\\JOBTALLY.LOG");
    if (cut != std::string::npos) {
        folder.erase(cut, std::string("\\JOBTALLY.LOG").size());
    }
    return folder;
}

// False when the operator cancelled; otherwise `path` is the chosen log.
bool AskForLog(HWND dialog, std::string& path) {
    constexpr std::size_t kPathChars = 260;
    std::string file(kPathChars + 1, '\0');
    file.replace(0, 5, "*.LOG");
    const std::string folder = StartingFolder();
    static const char kFilters[] = "Log files (*.LOG)\0*.LOG\0All files (*.*)\0*.*\0";
    OPENFILENAMEA ask{};
    ask.lStructSize = sizeof ask;
    ask.hwndOwner = dialog;
    ask.lpstrFilter = kFilters;
    ask.nFilterIndex = 1;
    ask.lpstrFile = file.data();
    ask.nMaxFile = static_cast<DWORD>(kPathChars);
    ask.lpstrInitialDir = folder.c_str();
    ask.lpstrTitle = "Open Log File";
    // The program's current directory, where the reports go, stays where it was: the dialog would
    // otherwise move it to the folder of the log it opened.
    ask.Flags = OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST | OFN_NOCHANGEDIR;
    if (!GetOpenFileNameA(&ask)) {
        return false;
    }
    path = file.c_str();
    otherLogDirectory = path.substr(0, ask.nFileOffset > 0 ? ask.nFileOffset - 1 : 0);
    return true;
}

void CreateReport(HWND dialog) {
    const int totals = ChosenTotals(dialog);
    if (totals == IDC_STATS_BALANCES) {
        WriteBalancesReport(dialog);
        return;
    }
    StatisticsChoice choice;
    if (totals == IDC_STATS_GROUPS) {
        if (!SelectGroup(dialog)) {
            return;
        }
        choice.groupMode = true;
    }
    if (IsDlgButtonChecked(dialog, IDC_STATS_OTHER_LOG) == BST_CHECKED) {
        if (!AskForLog(dialog, choice.logPath)) {
            return;
        }
    } else {
        choice.logPath = gSettings.LogFilePath;
    }
    choice.category = CategoryOf(totals);
    RunStatistics(dialog, choice);
}

INT_PTR CALLBACK StatisticsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG:
            CentreDialog(dialog);
            CheckRadioButton(dialog, IDC_STATS_USERS, IDC_STATS_BALANCES, IDC_STATS_USERS);
            CheckRadioButton(dialog, IDC_STATS_OTHER_LOG, IDC_STATS_JOBTALLY_LOG,
                             IDC_STATS_JOBTALLY_LOG);
            return TRUE;
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
                case IDOK:
                    CreateReport(dialog);
                    return TRUE;
                case IDCANCEL:
                    EndDialog(dialog, 1);
                    return TRUE;
                default:
                    return FALSE;
            }
        case WM_CLOSE:
            EndDialog(dialog, 0);
            return TRUE;
        default:
            return FALSE;
    }
}

}  // namespace

void OpenStatisticsDialog(HWND owner) {
    DialogBoxParamA(ProgramInstance, "Stats", owner, StatisticsDialogProc, 0);
}

}  // namespace tally::reports
