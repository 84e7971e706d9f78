// "View all balances": every user of MainList with the balance the directory holds, written
// inside the Stats dialog's handler while the wait cursor shows, then opened with the shell.
#include "reports/win32/balances_report.h"

#include "app/session.h"
#include "app/settings.h"
#include "app/win32/list_box.h"
#include "app/win32/shell_state.h"
#include "directory/account_attributes.h"
#include "directory/object_list.h"
#include "reports/account_balances.h"
#include "reports/report_files.h"
#include "reports/win32/report_shell.h"

namespace tally::reports {
namespace {

std::vector<std::string> MainListEntries() {
    std::vector<std::string> entries;
    const int count = static_cast<int>(SendMessageA(MainList, LB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        entries.push_back(ListBoxText(MainList, i));
    }
    return entries;
}

// Each balance into storage of the report's own: AccountValues stay as the selection left them.
BalanceReading ReadBalance(const std::string& user) {
    std::int32_t balance = 0;
    const DirStatus status =
        ReadAccountAttribute(user.c_str(), gSettings.Schema.BalanceAttribute.c_str(), &balance);
    if (status == DIR_OK || status == DIR_ERR_NO_SUCH_ATTRIBUTE) {
        return {true, status == DIR_OK ? balance : 0, 0};
    }
    return {false, 0, status};
}

}  // namespace

void WriteBalancesReport(HWND owner) {
    std::string secondPath;
    ReportFile report = ReportFile::Create(BalancesBaseName(CurrentContextName), ".TXT",
                                           gSettings.TempDirectory, secondPath);
    if (!report.IsOpen()) {
        MessageBoxA(owner, ("Error creating " + secondPath).c_str(), "Error!",
                    MB_OK | MB_ICONEXCLAMATION);
        return;
    }
    gSettings.ReportFilePath = report.Path();
    HCURSOR previous = SetCursor(LoadCursor(nullptr, IDC_WAIT));
    const bool decimal = gSettings.NumericalFormat == kNumericalFormatCurrency &&
                         gSettings.CurrencyDigits > 0;
    report.Write(AccountBalancesReport(
        CurrentContextName, MainListEntries(), static_cast<std::size_t>(MaxUserNameLength),
        {decimal, gSettings.CurrencyDigits, gSettings.AmountScale}, ReadBalance));
    report.Close();
    SetCursor(previous);
    OpenReportWithShell(gSettings.ReportFilePath, SW_SHOW);
}

}  // namespace tally::reports
