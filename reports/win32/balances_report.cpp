// "View all balances": a BalancesRun (reports/report_runs) over MainList's entries, inside the
// Stats dialog's handler while the wait cursor shows, then opened with the shell.
#include "reports/win32/balances_report.h"

#include <new>

#include "program/number_format.h"
#include "program/session.h"
#include "program/settings.h"
#include "program/values.h"
#include "program/win32/dialog_support.h"
#include "program/win32/list_box_text.h"
#include "program/win32/main_windows.h"
#include "program/win32/shell_open.h"
#include "reports/report_runs.h"

namespace tally::reports {
namespace {

// The cursor shown before, shown again on every way out.
class WaitCursor {
  public:
    WaitCursor() : previous_(SetCursor(LoadCursor(nullptr, IDC_WAIT))) {}
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
    ~WaitCursor() { SetCursor(previous_); }

  private:
    HCURSOR previous_;
};

// False after telling why no report is to be opened.
bool WriteBalances(HWND owner) {
    ReportFileSink report(gSettings.TempDirectory, gSettings.ReportFilePath);
    BalancesRun balances(
        {CurrentContextName, ListBoxTexts(MainList), static_cast<std::size_t>(MaxUserNameLength),
         CurrentAmountMode(), ReportLayout::Text},
        report);
    WaitCursor wait;
    if (!balances.Write()) {
        ShowReportError(owner, balances.Failure());
        return false;
    }
    return true;
}

}  // namespace

void WriteBalancesReport(HWND owner) {
    bool written = false;
    try {
        written = WriteBalances(owner);
    } catch (const std::bad_alloc&) {
        // A context of very many users: the list's texts and the report are held in memory.
        ShowReportError(owner, "Unable to allocate memory for operation");
    }
    if (written) {
        OpenReportWithShell(gSettings.ReportFilePath, SW_SHOW);
    }
}

}  // namespace tally::reports
