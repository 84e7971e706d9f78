#include "app/win32/commands.h"

#include <string>

#include "accounting/win32/amount_dialog.h"
#include "app/win32/main_list_actions.h"
#include "browse/win32/context_dialog.h"
#include "browse/win32/selection_view.h"
#include "program/settings.h"
#include "program/values.h"
#include "program/win32/dialog_support.h"
#include "program/win32/main_windows.h"
#include "program/win32/shell_open.h"
#include "reports/win32/history_dialog.h"
#include "reports/win32/statistics_dialog.h"
#include "resources/resource.h"

namespace {

// The shell reports failure with a result of 31 or less.
constexpr INT_PTR kShellFailureLimit = 32;

void HowToOrder() {
    const INT_PTR result = OpenWithShell("HOW2BUY.WRI", SW_SHOWNORMAL);
    if (result < kShellFailureLimit) {
        ShowError(MainWindow, "Error " + std::to_string(result) + " running HOW2BUY.WRI");
    }
}

// Modal dialogs belong to whichever window is active when the command arrives.
void AccountCommand(AccountOperation operation, const char* templateName) {
    CurrentOperation = operation;
    if (OpenAmountDialog(GetActiveWindow(), templateName)) {
        ShowSelection();
    }
    FocusMainList();
}

void PrintHistory() {
    if (SelectedCount == 0) {
        return;
    }
    if (tally::reports::OpenHistoryDialog(MainWindow)) {
        OpenReportWithShell(gSettings.ReportFilePath, SW_SHOWNORMAL);
    }
    FocusMainList();
}

void ChangeContextCommand() {
    ShowWindow(MainDialog, SW_HIDE);
    const bool refill = ChangeContext(GetActiveWindow());
    ShowWindow(MainDialog, SW_SHOW);
    if (refill) {
        FillMainList();
        FocusMainList();
        ShowSelection();
    }
}

void Statistics() {
    ShowWindow(MainDialog, SW_HIDE);
    tally::reports::OpenStatisticsDialog(GetActiveWindow());
    ShowWindow(MainDialog, SW_SHOW);
    FocusMainList();
}

}  // namespace

bool IsButtonOperatorCommand(int command) {
    switch (command) {
        case CMD_DEPOSIT:
        case CMD_SET_BALANCE:
        case CMD_CHARGE:
        case CMD_SET_CREDIT_LIMIT:
        case CMD_PRINT_HISTORY:
        case CMD_CHANGE_CONTEXT:
        case CMD_STATISTICS:
            return true;
        default:
            return false;
    }
}

void RunOperatorCommand(HWND, int command) {
    switch (command) {
        case CMD_HOW_TO_ORDER:
            HowToOrder();
            break;
        case CMD_DEPOSIT:
            AccountCommand(AccountOperation::Deposit, "DepositDialog");
            break;
        case CMD_SET_BALANCE:
            AccountCommand(AccountOperation::SetBalance, "DepositDialog");
            break;
        case CMD_CHARGE:
            AccountCommand(AccountOperation::Charge, "ChargeDialog");
            break;
        case CMD_SET_CREDIT_LIMIT:
            AccountCommand(AccountOperation::SetLimit, "LimitDialog");
            break;
        case CMD_PRINT_HISTORY:
            PrintHistory();
            break;
        case CMD_CHANGE_CONTEXT:
            ChangeContextCommand();
            break;
        case CMD_STATISTICS:
            Statistics();
            break;
        default:
            break;
    }
}
