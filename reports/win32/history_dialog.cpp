// The print history's progress dialog: opens the log and the report, copies every line that
// belongs to the selection into the report while it reads, and writes the totals at the end.
// What belongs and what it adds up is decided by the core's PrintHistory.
#include "reports/win32/history_dialog.h"

#include <memory>
#include <new>
#include <optional>
#include <string>

#include "browse/context_navigation.h"
#include "directory/buffer_owner.h"
#include "program/session.h"
#include "program/settings.h"
#include "program/values.h"
#include "program/win32/dialog_support.h"
#include "program/win32/main_windows.h"
#include "reports/group_members.h"
#include "reports/log_reader.h"
#include "reports/print_history.h"
#include "reports/report_files.h"
#include "reports/win32/log_progress.h"
#include "resources/resource.h"

namespace tally::reports {
namespace {

constexpr const char* kStatusPrefix = "Reading JOBTALLY.LOG: ";

// Everything one run holds; released on every way out by the destructor, which also puts the
// directory's name context back after a group's run.
struct HistoryRun {
    LogReader log;
    ReportFile report;
    std::optional<PrintHistory> history;
    HistoryProgress progress;
    std::unique_ptr<DirBufferOwner> compareBuffer;
    std::unique_ptr<GroupMembership> membership;
    bool nameContextAtRoot = false;

    ~HistoryRun() { CleanUp(); }
    void CleanUp() {
        log.Close();
        report.Close();
        membership.reset();
        compareBuffer.reset();
        if (nameContextAtRoot) {
            DirSetContextValue(DirectoryContext, DIR_CTX_NAME_CONTEXT, CurrentContextName.c_str());
            nameContextAtRoot = false;
        }
    }
};

void Fail(HWND dialog, const std::string& text) {
    ShowReportError(dialog, text);
    EndDialog(dialog, 0);
}

std::string FullNameOf(const std::string& name) {
    char fullName[DIR_MAX_NAME_BYTES] = {};
    if (DirGetFullName(DirectoryContext, name.c_str(), fullName) != DIR_OK) {
        return {};
    }
    return fullName;
}

void Start(HWND dialog, HistoryRun& run) {
    CentreDialog(dialog);
    // The reading keeps the queue busy from the start, so the dialog would otherwise only show
    // once the log has been read.
    ShowWindow(dialog, SW_SHOW);
    const std::string title = "Print History: " + SelectionText;
    SetWindowTextA(dialog, title.c_str());
    if (!run.log.Open(gSettings.LogFilePath)) {
        Fail(dialog, "Error opening " + gSettings.LogFilePath);
        return;
    }
    std::string secondPath;
    run.report = ReportFile::Create(SelectionText, ".txt", gSettings.TempDirectory, secondPath);
    if (!run.report.IsOpen()) {
        run.CleanUp();
        Fail(dialog, "Error creating " + secondPath);
        return;
    }
    gSettings.ReportFilePath = run.report.Path();
    const std::string fullName = FullNameOf(SelectionText);
    PrintHistory::MembershipTest isMember;
    if (GroupSelected) {
        run.compareBuffer = std::make_unique<DirBufferOwner>(DIR_BUFFER_SIZE);
        if (!run.compareBuffer->Ok()) {
            run.CleanUp();
            Fail(dialog, "Unable to allocate DS buffer");
            return;
        }
        // Full names in the log are understood from the root of the tree while the run lasts.
        DirSetContextValue(DirectoryContext, DIR_CTX_NAME_CONTEXT, DIR_ROOT_NAME);
        run.nameContextAtRoot = true;
        run.membership = std::make_unique<GroupMembership>(
            fullName.empty() ? SelectionText : fullName, run.compareBuffer->Get());
        GroupMembership* membership = run.membership.get();
        isMember = [membership](const std::string& name) { return membership->Contains(name); };
    }
    run.history.emplace(HistorySubject{SelectionText, fullName, GroupSelected}, CurrentAmountMode(),
                        std::move(isMember));
    run.report.Write(run.history->Header());
    SetDlgItemTextA(dialog, IDC_REPORT_STATUS, "Reading JOBTALLY.LOG: 0%");
    PostMessageA(dialog, WM_COMMAND, CMD_HISTORY_CONTINUE, 0);
}

void Continue(HWND dialog, HistoryRun& run) {
    if (!run.history) {
        return;
    }
    auto take = [&run](std::string_view line) {
        if (run.history->Take(line)) {
            run.report.Write(line);
        }
    };
    const SliceEnd end =
        ReadLogSlice(dialog, run.log, take, run.progress, kStatusPrefix, CMD_HISTORY_CONTINUE,
                     [&run] { return run.history.has_value(); });
    if (end != SliceEnd::EndOfLog) {
        return;
    }
    run.report.Write(run.history->Totals());
    run.CleanUp();
    run.history.reset();
    EndDialog(dialog, 1);
}

INT_PTR HandleMessage(HWND dialog, UINT message, WPARAM wParam, HistoryRun* run) {
    switch (message) {
        case WM_INITDIALOG:
            if (run != nullptr) {
                Start(dialog, *run);
            }
            return TRUE;
        case WM_COMMAND:
            if (run == nullptr) {
                return FALSE;
            }
            if (LOWORD(wParam) == CMD_HISTORY_CONTINUE) {
                Continue(dialog, *run);
                return TRUE;
            }
            if (LOWORD(wParam) == IDCANCEL) {
                // The file keeps what was written so far and is not opened.
                run->CleanUp();
                run->history.reset();
                EndDialog(dialog, 0);
                return TRUE;
            }
            return FALSE;
        case WM_CLOSE:
            // Closed part-way: the file as far as it was read, without totals, is opened.
            if (run != nullptr) {
                run->CleanUp();
                run->history.reset();
            }
            EndDialog(dialog, 1);
            return TRUE;
        default:
            return FALSE;
    }
}

// Remembering the group's answers takes memory as the log goes on; when it runs out the run ends
// with a message instead of the exception crossing the window system.
INT_PTR CALLBACK HistoryDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    HistoryRun* run = DialogStateOf<HistoryRun>(dialog, message, lParam);
    try {
        return HandleMessage(dialog, message, wParam, run);
    } catch (const std::bad_alloc&) {
        if (run != nullptr) {
            run->CleanUp();
            run->history.reset();
        }
        Fail(dialog, "Unable to allocate memory for operation");
        return TRUE;
    }
}

}  // namespace

bool OpenHistoryDialog(HWND owner) {
    HistoryRun run;
    return DialogBoxParamA(ProgramInstance, "HistoryDialog", owner, HistoryDialogProc,
                           reinterpret_cast<LPARAM>(&run)) > 0;
}

}  // namespace tally::reports
