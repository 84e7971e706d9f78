#include "browse/win32/selection_view.h"

#include <windows.h>

#include "browse/selection.h"
#include "browse/win32/list_box.h"
#include "program/win32/main_windows.h"
#include "resources/resource.h"

void ShowSelection() {
    if (MainList == nullptr) {
        return;
    }
    const SelectionLines lines = TakeSelection(ListBoxSelection(MainList));
    SetDlgItemTextA(MainDialog, IDC_FULL_NAME, lines.fullName.c_str());
    SetDlgItemTextA(MainDialog, IDC_BALANCE, lines.balance.c_str());
    SetDlgItemTextA(MainDialog, IDC_CREDIT_LIMIT, lines.creditLimit.c_str());
    UpdateSelectionCommands();
}

void UpdateSelectionCommands() {
    const bool allowed = PrintHistoryAllowed();
    EnableMenuItem(GetMenu(MainWindow), CMD_PRINT_HISTORY,
                   MF_BYCOMMAND | (allowed ? MF_ENABLED : MF_GRAYED));
    EnableWindow(GetDlgItem(MainDialog, CMD_PRINT_HISTORY), allowed ? TRUE : FALSE);
}
