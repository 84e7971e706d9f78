// The print history's progress dialog: the operator's side of a HistoryRun (reports/report_runs),
// which opens the log and the report, copies every line that belongs to the selection while it
// reads, and writes the totals at the end.
#include "reports/win32/history_dialog.h"

#include <new>
#include <optional>
#include <string>

#include "program/settings.h"
#include "program/values.h"
#include "program/win32/dialog_support.h"
#include "program/win32/main_windows.h"
#include "reports/report_runs.h"
#include "reports/win32/log_progress.h"
#include "resources/resource.h"

namespace tally::reports {
namespace {

constexpr const char* kStatusPrefix = "Reading JOBTALLY.LOG: ";

// One run of the dialog; the run gives back what it holds on every way out.
struct HistoryDialogRun {
    ReportFileSink report{gSettings.TempDirectory, gSettings.ReportFilePath};
    std::optional<HistoryRun> run;
};

// Ends the run, with its totals when `withTotals`, and the dialog with `result`; a report that
// could not be written whole is told and not opened.
void EndRun(HWND dialog, HistoryDialogRun& state, bool withTotals, INT_PTR result) {
    if (state.run) {
        const bool written = withTotals ? state.run->Finish() : state.run->Stop();
        const std::string failure = state.run->Failure();
        state.run.reset();
        if (!written) {
            ShowReportError(dialog, failure);
            result = 0;
        }
    }
    EndDialog(dialog, result);
}

void Start(HWND dialog, HistoryDialogRun& state) {
    CentreDialog(dialog);
    const std::string title = "Print History: " + SelectionText;
    SetWindowTextA(dialog, title.c_str());
    // The reading keeps the queue busy from the start, so the dialog would otherwise only show
    // once the log has been read.
    ShowWindow(dialog, SW_SHOW);
    state.run.emplace(HistoryRequest{SelectionText, GroupSelected, gSettings.LogFilePath,
                                     CurrentAmountMode(), ReportLayout::Text},
                      state.report);
    if (!state.run->Start()) {
        const std::string failure = state.run->Failure();
        state.run.reset();
        ShowReportError(dialog, failure);
        EndDialog(dialog, 0);
        return;
    }
    SetDlgItemTextA(dialog, IDC_REPORT_STATUS, "Reading JOBTALLY.LOG: 0%");
    PostMessageA(dialog, WM_COMMAND, CMD_HISTORY_CONTINUE, 0);
}

void Continue(HWND dialog, HistoryDialogRun& state) {
    if (state.run && ReadLogSlice(dialog, *state.run, kStatusPrefix, CMD_HISTORY_CONTINUE,
                                  [&state] { return state.run.has_value(); })) {
        EndRun(dialog, state, true, 1);
    }
}

INT_PTR HandleMessage(HWND dialog, UINT message, WPARAM wParam, HistoryDialogRun* state) {
    switch (message) {
        case WM_INITDIALOG:
            if (state != nullptr) {
                Start(dialog, *state);
            }
            return TRUE;
        case WM_COMMAND:
            if (state == nullptr) {
                return FALSE;
            }
            if (LOWORD(wParam) == CMD_HISTORY_CONTINUE) {
                Continue(dialog, *state);
                return TRUE;
            }
            if (LOWORD(wParam) == IDCANCEL) {
                // The file keeps what was written so far and is not opened.
                EndRun(dialog, *state, false, 0);
                return TRUE;
            }
            return FALSE;
        case WM_CLOSE:
            // Closed part-way: the file as far as it was read, without totals, is opened.
            if (state != nullptr) {
                EndRun(dialog, *state, false, 1);
            } else {
                EndDialog(dialog, 0);
            }
            return TRUE;
        default:
            return FALSE;
    }
}

// Remembering the group's answers takes memory as the log goes on; when it runs out the run ends
// with a message instead of the exception crossing the window system.
INT_PTR CALLBACK HistoryDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    HistoryDialogRun* state = DialogStateOf<HistoryDialogRun>(dialog, message, lParam);
    try {
        return HandleMessage(dialog, message, wParam, state);
    } catch (const std::bad_alloc&) {
        if (state != nullptr) {
            state->run.reset();
        }
        ShowReportError(dialog, "Unable to allocate memory for operation");
        EndDialog(dialog, 0);
        return TRUE;
    }
}

}  // namespace

bool OpenHistoryDialog(HWND owner) {
    HistoryDialogRun state;
    return DialogBoxParamA(ProgramInstance, "HistoryDialog", owner, HistoryDialogProc,
                           reinterpret_cast<LPARAM>(&state)) > 0;
}

}  // namespace tally::reports
