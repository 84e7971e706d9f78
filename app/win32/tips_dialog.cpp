#include "app/win32/tips_dialog.h"

#include "program/win32/dialog_support.h"
#include "program/win32/main_windows.h"

// Stands where its template puts it, below the owner's top left; not centred.
INT_PTR CALLBACK TipsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_INITDIALOG) {
        return TRUE;
    }
    return NoticeDialogAnswer(dialog, message, wParam);
}

void OpenTipsDialog(HWND owner) {
    DialogBoxParamA(ProgramInstance, "Tips", owner, TipsDialogProc, 0);
}
