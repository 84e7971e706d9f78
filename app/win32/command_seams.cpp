#include "app/win32/command_seams.h"

#include <commctrl.h>
#include <shellapi.h>

#include <array>
#include <cstdio>
#include <string>

#include "accounting/win32/amount_dialog.h"
#include "app/settings.h"
#include "app/win32/browse_dialogs.h"
#include "app/win32/dialogs.h"
#include "app/win32/list_box.h"
#include "app/win32/report_seams.h"
#include "app/win32/selection_view.h"
#include "app/win32/shell_state.h"
#include "directory/account_attributes.h"
#include "directory/object_list.h"
#include "directory/selection.h"
#include "resources/resource.h"

namespace {

// The shell reports failure with a result of 31 or less.
constexpr INT_PTR kShellFailureLimit = 32;
// The double-click actions, by their index in the Preferences lists.
constexpr int kDoubleClickActions = 4;

// The message packs the screen position as two unsigned 16-bit halves.
POINT PointerOf(LPARAM pointer) {
    return {static_cast<LONG>(LOWORD(pointer)), static_cast<LONG>(HIWORD(pointer))};
}

INT_PTR OpenWithShell(const char* document) {
    return reinterpret_cast<INT_PTR>(
        ShellExecuteA(MainWindow, "open", document, nullptr, "", SW_SHOWNORMAL));
}

void ShowShellFailure(const char* text) {
    MessageBoxA(MainWindow, text, "Error", MB_OK | MB_ICONEXCLAMATION);
}

void HowToOrder() {
    const INT_PTR result = OpenWithShell("HOW2BUY.WRI");
    if (result < kShellFailureLimit) {
        std::array<char, 64> text{};
        std::snprintf(text.data(), text.size(), "Error %d running HOW2BUY.WRI",
                      static_cast<int>(result));
        ShowShellFailure(text.data());
    }
}

void AccountCommand(AccountOperation operation, const char* templateName) {
    CurrentOperation = operation;
    OpenAmountDialog(templateName);
    FocusMainList();
}

void PrintHistory() {
    if (SelectedCount == 0) {
        return;
    }
    if (OpenHistoryDialog(MainWindow) != 0) {
        const std::string& report = gSettings.ReportFilePath;
        const INT_PTR result = OpenWithShell(report.c_str());
        if (result < kShellFailureLimit) {
            const std::string text = "Error " + std::to_string(result) + " running " + report +
                                     "\nYou need to associate .TXT files with an application.";
            ShowShellFailure(text.c_str());
        }
    }
    FocusMainList();
}

void ChangeContextCommand() {
    ShowWindow(MainDialog, SW_HIDE);
    const bool refill = ChangeContext(GetActiveWindow()) != 0;
    ShowWindow(MainDialog, SW_SHOW);
    if (refill) {
        FillMainList();
        FocusMainList();
        ShowSelection();
    }
}

void Statistics() {
    ShowWindow(MainDialog, SW_HIDE);
    OpenStatsDialog(GetActiveWindow());
    ShowWindow(MainDialog, SW_SHOW);
    FocusMainList();
}

}  // namespace

void FillMainList() {
    FillObjectList(MainList, kUserClass);
}

void RefreshSelection() {
    ShowSelection();
}

// A stored action outside the four would name another command (7 is Exit, 8 Preferences), so
// only the four account commands are ever posted.
void OnMainListDoubleClick() {
    const int action =
        (SelectedCount > 1 || GroupSelected) ? gSettings.DblClickGroup : gSettings.DblClickUser;
    if (action >= 0 && action < kDoubleClickActions) {
        PostMessageA(MainWindow, WM_COMMAND, CMD_DEPOSIT + action, 0);
    }
}

// The entry under the pointer alone is selected; below the last entry the hit test finds none
// and every entry is selected.
void SelectEntryUnderPointer(HWND list, LPARAM pointer) {
    SendMessageA(list, LB_SETSEL, FALSE, -1);
    const int index = LBItemFromPt(list, PointerOf(pointer), FALSE);
    SendMessageA(list, LB_SETSEL, TRUE, index);
}

PopupMenu::PopupMenu() : menu_(CreatePopupMenu()) {}

PopupMenu::~PopupMenu() {
    if (menu_ != nullptr) {
        DestroyMenu(menu_);
    }
}

PopupMenu MainListPopupMenu() {
    PopupMenu menu;
    if (menu.get() != nullptr) {
        AppendMenuA(menu.get(), MF_STRING, CMD_DEPOSIT, "Deposit");
        AppendMenuA(menu.get(), MF_STRING, CMD_SET_BALANCE, "Set Balance");
        AppendMenuA(menu.get(), MF_STRING, CMD_CHARGE, "Charge");
        AppendMenuA(menu.get(), MF_STRING, CMD_SET_CREDIT_LIMIT, "Set Credit Limit");
        AppendMenuA(menu.get(), MF_STRING, CMD_PRINT_HISTORY, "Print History");
    }
    return menu;
}

void OnMainListContextMenu(HWND dialog, LPARAM pointer) {
    SelectEntryUnderPointer(MainList, pointer);
    ShowSelection();
    FocusMainList();
    const PopupMenu menu = MainListPopupMenu();
    if (menu.get() != nullptr) {
        const POINT at = PointerOf(pointer);
        TrackPopupMenu(menu.get(), TPM_LEFTALIGN | TPM_RIGHTBUTTON, at.x, at.y, 0, dialog, nullptr);
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
