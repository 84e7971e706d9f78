#include "app/win32/main_list_actions.h"

#include <commctrl.h>

#include "browse/object_list.h"
#include "browse/win32/list_box.h"
#include "browse/win32/selection_view.h"
#include "program/settings.h"
#include "program/values.h"
#include "program/win32/dialog_support.h"
#include "program/win32/main_windows.h"
#include "resources/resource.h"

namespace {

// The double-click actions, by their index in the Preferences lists.
constexpr int kDoubleClickActions = 4;

// The message packs the screen position as two unsigned 16-bit halves.
POINT PointerOf(LPARAM pointer) {
    return {static_cast<LONG>(LOWORD(pointer)), static_cast<LONG>(HIWORD(pointer))};
}

}  // namespace

void FillMainList() {
    FillObjectList(MainList, kUserClass, MainWindow);
}

// A stored action outside the four would name another command (Exit, Preferences), so only the
// four account commands are ever posted.
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

UniqueMenu MainListPopupMenu() {
    UniqueMenu menu(CreatePopupMenu());
    if (menu.Get() != nullptr) {
        AppendMenuA(menu.Get(), MF_STRING, CMD_DEPOSIT, "Deposit");
        AppendMenuA(menu.Get(), MF_STRING, CMD_SET_BALANCE, "Set Balance");
        AppendMenuA(menu.Get(), MF_STRING, CMD_CHARGE, "Charge");
        AppendMenuA(menu.Get(), MF_STRING, CMD_SET_CREDIT_LIMIT, "Set Credit Limit");
        AppendMenuA(menu.Get(), MF_STRING, CMD_PRINT_HISTORY, "Print History");
    }
    return menu;
}

void OnMainListContextMenu(HWND dialog, LPARAM pointer) {
    SelectEntryUnderPointer(MainList, pointer);
    ShowSelection();
    FocusMainList();
    const UniqueMenu menu = MainListPopupMenu();
    if (menu.Get() != nullptr) {
        const POINT at = PointerOf(pointer);
        TrackPopupMenu(menu.Get(), TPM_LEFTALIGN | TPM_RIGHTBUTTON, at.x, at.y, 0, dialog, nullptr);
    }
}
