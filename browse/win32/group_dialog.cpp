#include "browse/win32/group_dialog.h"

#include "browse/object_list.h"
#include "browse/selection.h"
#include "browse/win32/list_box.h"
#include "program/win32/dialog_support.h"
#include "program/win32/main_windows.h"
#include "resources/resource.h"

namespace {

// With no current entry there is no group to hand back, so the dialog stays open.
void ChooseCurrentGroup(HWND dialog) {
    HWND list = GetDlgItem(dialog, IDC_GROUP_LIST);
    const int index = static_cast<int>(SendMessageA(list, LB_GETCURSEL, 0, 0));
    if (index == LB_ERR) {
        return;
    }
    SelectionText = ListBoxText(list, index).substr(0, kSelectionTextChars);
    EndDialog(dialog, 1);
}

}  // namespace

INT_PTR CALLBACK GroupListDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    if (EndedByCancelOrClose(dialog, message, wParam)) {
        return TRUE;
    }
    switch (message) {
        case WM_INITDIALOG: {
            CentreDialog(dialog);
            HWND list = GetDlgItem(dialog, IDC_GROUP_LIST);
            FillObjectList(list, kGroupClass, dialog);
            SetFocus(list);
            return FALSE;
        }
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
                case IDC_GROUP_LIST:
                    if (HIWORD(wParam) == LBN_DBLCLK) {
                        ChooseCurrentGroup(dialog);
                    }
                    return TRUE;
                case IDOK:
                    ChooseCurrentGroup(dialog);
                    return TRUE;
                default:
                    return FALSE;
            }
        default:
            return FALSE;
    }
}

bool SelectGroup(HWND owner) {
    return DialogBoxParamA(ProgramInstance, "GroupList", owner, GroupListDialogProc, 0) > 0;
}
