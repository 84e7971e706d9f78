#include "app/win32/about_dialog.h"

#include "app/about.h"
#include "program/win32/dialog_support.h"
#include "program/win32/main_windows.h"
#include "resources/resource.h"

INT_PTR CALLBACK AboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_INITDIALOG) {
        CentreDialog(dialog);
        SetDlgItemTextA(dialog, IDC_VERSION, AboutVersionText().c_str());
        return TRUE;
    }
    return NoticeDialogAnswer(dialog, message, wParam);
}

void OpenAboutDialog(HWND owner) {
    DialogBoxParamA(ProgramInstance, "About", owner, AboutDialogProc, 0);
}
