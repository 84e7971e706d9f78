// The statistics' progress dialog, the operator's side of a StatisticsRun (reports/report_runs):
// the preparing step (CMD_STATS_PREPARE) reads a group's members, the continue step
// (CMD_STATS_CONTINUE) reads the log in slices, and at the end the report is written and opened.
// Cancel and the close box end the run with nothing written.
#include "reports/win32/statistics_run.h"

#include <new>
#include <optional>

#include "program/list_entries.h"
#include "program/settings.h"
#include "program/values.h"
#include "program/win32/dialog_support.h"
#include "program/win32/main_windows.h"
#include "program/win32/shell_open.h"
#include "reports/report_runs.h"
#include "reports/win32/log_progress.h"
#include "resources/resource.h"

namespace tally::reports {
namespace {

constexpr const char* kStatusPrefix = "Reading Log File: ";

// One run of the dialog: the run itself, which writes nothing before the end of the log.
struct StatisticsDialogRun {
    const StatisticsChoice& choice;
    ReportFileSink report{gSettings.TempDirectory, gSettings.ReportFilePath};
    std::optional<StatisticsRun> run;
};

void End(HWND dialog, StatisticsDialogRun& state) {
    if (state.run) {
        state.run->Stop();
        state.run.reset();
    }
    EndDialog(dialog, 0);
}

// The group's name without its marker: it names the report and heads it.
std::string GroupWithoutMarker() {
    const std::size_t marker = SelectionText.find(kGroupMarker);
    if (marker != std::string::npos) {
        SelectionText.erase(marker, std::char_traits<char>::length(kGroupMarker));
    }
    return SelectionText;
}

void Start(HWND dialog, StatisticsDialogRun& state) {
    CentreDialog(dialog);
    const char* category = state.choice.category.name;
    const std::string caption =
        std::string(state.choice.groupMode ? SelectionText : category) + " print totals";
    SetWindowTextA(dialog, caption.c_str());
    // The reading keeps the queue busy from the start, so the dialog would otherwise only show
    // once the log has been read.
    ShowWindow(dialog, SW_SHOW);
    const std::string group = state.choice.groupMode ? GroupWithoutMarker() : std::string();
    state.run.emplace(
        StatisticsRequest{state.choice.category, state.choice.groupMode, group,
                          state.choice.logPath, CurrentAmountMode(), ReportLayout::Text},
        state.report);
    if (!state.run->OpenLog()) {
        ShowReportError(dialog, state.run->Failure());
        End(dialog, state);
        return;
    }
    PostMessageA(dialog, WM_COMMAND, CMD_STATS_PREPARE, 0);
}

void Prepare(HWND dialog, StatisticsDialogRun& state) {
    if (state.choice.groupMode) {
        SetDlgItemTextA(dialog, IDC_REPORT_STATUS, "Getting group members...");
        // Reading the members keeps the program busy: the text is painted before, not after.
        UpdateWindow(dialog);
        if (state.run->ReadMembers() != StatisticsRun::Members::Read) {
            MessageBoxA(dialog, "No members in group!", state.run->Title().c_str(),
                        MB_OK | MB_ICONEXCLAMATION);
            End(dialog, state);
            return;
        }
    }
    SetDlgItemTextA(dialog, IDC_REPORT_STATUS, "Reading Log File: 0%");
    PostMessageA(dialog, WM_COMMAND, CMD_STATS_CONTINUE, 0);
}

void Continue(HWND dialog, StatisticsDialogRun& state) {
    if (!ReadLogSlice(dialog, *state.run, kStatusPrefix, CMD_STATS_CONTINUE,
                      [&state] { return state.run.has_value(); })) {
        return;
    }
    if (state.run->Finish()) {
        OpenReportWithShell(gSettings.ReportFilePath, SW_SHOW);
    } else {
        // Not created, or cut short (a full disk): told, and nothing is opened.
        ShowReportError(dialog, state.run->Failure());
    }
    End(dialog, state);
}

INT_PTR HandleMessage(HWND dialog, UINT message, WPARAM wParam, StatisticsDialogRun* run) {
    switch (message) {
        case WM_INITDIALOG:
            if (run != nullptr) {
                Start(dialog, *run);
            }
            return TRUE;
        case WM_COMMAND:
            if (run == nullptr || !run->run) {
                return FALSE;
            }
            switch (LOWORD(wParam)) {
                case CMD_STATS_PREPARE:
                    Prepare(dialog, *run);
                    return TRUE;
                case CMD_STATS_CONTINUE:
                    Continue(dialog, *run);
                    return TRUE;
                case IDCANCEL:
                    End(dialog, *run);
                    return TRUE;
                default:
                    return FALSE;
            }
        case WM_CLOSE:
            if (run != nullptr) {
                End(dialog, *run);
            }
            return TRUE;
        default:
            return FALSE;
    }
}

// The table grows with the keys the log holds; when memory runs out the run ends with the
// message the operator knows, instead of the exception crossing the window system.
INT_PTR CALLBACK StatisticsRunProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    StatisticsDialogRun* run = DialogStateOf<StatisticsDialogRun>(dialog, message, lParam);
    try {
        return HandleMessage(dialog, message, wParam, run);
    } catch (const std::bad_alloc&) {
        ShowReportError(dialog, "Unable to allocate memory for operation");
        if (run != nullptr) {
            End(dialog, *run);
        }
        return TRUE;
    }
}

}  // namespace

void RunStatistics(HWND owner, const StatisticsChoice& choice) {
    StatisticsDialogRun state{choice, {gSettings.TempDirectory, gSettings.ReportFilePath}, {}};
    DialogBoxParamA(ProgramInstance, "HistoryDialog", owner, StatisticsRunProc,
                    reinterpret_cast<LPARAM>(&state));
}

}  // namespace tally::reports
