// "View all balances": every user of MainList with the balance the directory holds, written
// inside the Stats dialog's handler while the wait cursor shows, then opened with the shell.
#include "reports/win32/balances_report.h"

#include "program/number_format.h"
#include "program/session.h"
#include "program/settings.h"
#include "program/values.h"
#include "program/win32/dialog_support.h"
#include "program/win32/list_box_text.h"
#include "program/win32/main_windows.h"
#include "program/win32/shell_open.h"
#include "reports/account_balances.h"
#include "reports/report_files.h"

namespace tally::reports {
void WriteBalancesReport(HWND owner) {
    std::string secondPath;
    ReportFile report = ReportFile::Create(BalancesBaseName(CurrentContextName), ".TXT",
                                           gSettings.TempDirectory, secondPath);
    if (!report.IsOpen()) {
        ShowReportError(owner, "Error creating " + secondPath);
        return;
    }
    gSettings.ReportFilePath = report.Path();
    HCURSOR previous = SetCursor(LoadCursor(nullptr, IDC_WAIT));
    report.Write(AccountBalancesReport(CurrentContextName, ListBoxTexts(MainList),
                                       static_cast<std::size_t>(MaxUserNameLength),
                                       CurrentAmountMode(), ReadBalanceOf));
    report.Close();
    SetCursor(previous);
    OpenReportWithShell(gSettings.ReportFilePath, SW_SHOW);
}

}  // namespace tally::reports
