#include "browse/win32/context_dialog.h"

#include <string>

#include "browse/context_navigation.h"
#include "browse/win32/list_box.h"
#include "program/session.h"
#include "program/win32/dialog_support.h"
#include "program/win32/main_windows.h"
#include "resources/resource.h"

namespace {

// The dialog's own list and line, and the main dialog's context line, after every move.
void ShowContext(HWND dialog) {
    HWND list = GetDlgItem(dialog, IDC_CONTEXT_LIST);
    FillObjectList(list, kUnitClass, dialog);
    SetDlgItemTextA(dialog, IDC_CONTEXT, CurrentContextName.c_str());
    SetFocus(list);
}

// A refused name leaves the client where it was; the name read back is shown either way.
void MoveByEntry(HWND dialog) {
    HWND list = GetDlgItem(dialog, IDC_CONTEXT_LIST);
    const int index = static_cast<int>(SendMessageA(list, LB_GETCURSEL, 0, 0));
    if (index == LB_ERR) {
        return;
    }
    MoveToContextOfEntry(ListBoxText(list, index));
    const std::string line = "Context: " + CurrentContextName;
    SetDlgItemTextA(MainDialog, IDC_CONTEXT, line.c_str());
    ShowContext(dialog);
}

}  // namespace

INT_PTR CALLBACK ContextListDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG:
            CentreDialog(dialog);
            ShowContext(dialog);
            return FALSE;  // the focus is on the list
        case WM_COMMAND:
            if (LOWORD(wParam) == IDC_CONTEXT_LIST) {
                if (HIWORD(wParam) == LBN_DBLCLK) {
                    MoveByEntry(dialog);
                }
                return TRUE;
            }
            if (LOWORD(wParam) == IDCANCEL) {
                EndDialog(dialog, ContextChanged ? 1 : 0);
                return TRUE;
            }
            return FALSE;
        case WM_CLOSE:
            EndDialog(dialog, ContextChanged ? 1 : 0);
            return TRUE;
        default:
            return FALSE;
    }
}

bool ChangeContext(HWND owner) {
    return DialogBoxParamA(ProgramInstance, "ContextList", owner, ContextListDialogProc, 0) > 0;
}
