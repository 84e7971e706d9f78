// The statistics' progress dialog: the preparing step (CMD_STATS_PREPARE) reads a group's
// members, the continue step (CMD_STATS_CONTINUE) reads the log in slices, and at the end the
// report is written and opened. Cancel and the close box end the run with nothing written.
#include "reports/win32/statistics_run.h"

#include <new>
#include <optional>

#include "program/list_entries.h"
#include "program/session.h"
#include "program/settings.h"
#include "program/values.h"
#include "program/win32/dialog_support.h"
#include "program/win32/main_windows.h"
#include "program/win32/shell_open.h"
#include "reports/group_members.h"
#include "reports/log_reader.h"
#include "reports/report_files.h"
#include "reports/win32/log_progress.h"
#include "resources/resource.h"

namespace tally::reports {
namespace {

constexpr const char* kStatusPrefix = "Reading Log File: ";

struct StatisticsRun {
    const StatisticsChoice& choice;
    LogReader log;
    std::optional<PrintStatistics> statistics;
    StatisticsProgress progress;
};

void End(HWND dialog, StatisticsRun& run) {
    run.log.Close();
    run.statistics.reset();
    EndDialog(dialog, 0);
}

void Start(HWND dialog, StatisticsRun& run) {
    CentreDialog(dialog);
    // The reading keeps the queue busy from the start, so the dialog would otherwise only show
    // once the log has been read.
    ShowWindow(dialog, SW_SHOW);
    if (!run.log.Open(run.choice.logPath)) {
        ShowReportError(dialog, "Error opening " + run.choice.logPath);
        End(dialog, run);
        return;
    }
    const char* category = run.choice.category.name;
    const std::string caption =
        std::string(run.choice.groupMode ? SelectionText : category) + " print totals";
    SetWindowTextA(dialog, caption.c_str());
    std::string title = category;
    if (run.choice.groupMode) {
        const std::size_t marker = SelectionText.find(kGroupMarker);
        if (marker != std::string::npos) {
            SelectionText.erase(marker, std::char_traits<char>::length(kGroupMarker));
        }
        title = SelectionText;
    }
    run.statistics.emplace(run.choice.category, title, run.choice.groupMode, CurrentAmountMode());
    PostMessageA(dialog, WM_COMMAND, CMD_STATS_PREPARE, 0);
}

// Every member of the group, as a full name, becomes a row before the log is read.
void ReadMembers(PrintStatistics& statistics) {
    std::vector<std::string> members;
    ReadGroupMembers(statistics.Title(), members);
    for (std::string& member : members) {
        char fullName[DIR_MAX_NAME_BYTES] = {};
        DirGetFullName(DirectoryContext, member.c_str(), fullName);
        statistics.AddMember(fullName);
    }
}

void Prepare(HWND dialog, StatisticsRun& run) {
    if (run.choice.groupMode) {
        SetDlgItemTextA(dialog, IDC_REPORT_STATUS, "Getting group members...");
        ReadMembers(*run.statistics);
        if (run.statistics->RowCount() == 0) {
            MessageBoxA(dialog, "No members in group!", run.statistics->Title().c_str(),
                        MB_OK | MB_ICONEXCLAMATION);
            End(dialog, run);
            return;
        }
    }
    SetDlgItemTextA(dialog, IDC_REPORT_STATUS, "Reading Log File: 0%");
    PostMessageA(dialog, WM_COMMAND, CMD_STATS_CONTINUE, 0);
}

void WriteReport(HWND dialog, const PrintStatistics& statistics) {
    std::string secondPath;
    ReportFile report =
        ReportFile::Create(statistics.Title(), ".txt", gSettings.TempDirectory, secondPath);
    if (!report.IsOpen()) {
        ShowReportError(dialog, "Error creating " + secondPath);
        return;
    }
    gSettings.ReportFilePath = report.Path();
    report.Write(statistics.Report());
    report.Close();
    OpenReportWithShell(gSettings.ReportFilePath, SW_SHOW);
}

void Continue(HWND dialog, StatisticsRun& run) {
    if (!run.statistics) {
        return;
    }
    auto take = [&run](std::string_view line) { run.statistics->Take(line); };
    const SliceEnd end =
        ReadLogSlice(dialog, run.log, take, run.progress, kStatusPrefix, CMD_STATS_CONTINUE,
                     [&run] { return run.statistics.has_value(); });
    if (end != SliceEnd::EndOfLog) {
        return;
    }
    run.log.Close();
    WriteReport(dialog, *run.statistics);
    End(dialog, run);
}

INT_PTR HandleMessage(HWND dialog, UINT message, WPARAM wParam, StatisticsRun* run) {
    switch (message) {
        case WM_INITDIALOG:
            if (run != nullptr) {
                Start(dialog, *run);
            }
            return TRUE;
        case WM_COMMAND:
            if (run == nullptr || !run->statistics) {
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
    StatisticsRun* run = DialogStateOf<StatisticsRun>(dialog, message, lParam);
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
    StatisticsRun run{choice, {}, std::nullopt, {}};
    DialogBoxParamA(ProgramInstance, "HistoryDialog", owner, StatisticsRunProc,
                    reinterpret_cast<LPARAM>(&run));
}

}  // namespace tally::reports
