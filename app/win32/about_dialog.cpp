#include "app/about.h"
#include "app/win32/dialog_helpers.h"
#include "app/win32/dialogs.h"
#include "resources/resource.h"

INT_PTR CALLBACK AboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_INITDIALOG) {
        CentreDialog(dialog);
        SetDlgItemTextA(dialog, IDC_VERSION, AboutVersionText().c_str());
        return TRUE;
    }
    return NoticeDialogAnswer(dialog, message, wParam);
}
