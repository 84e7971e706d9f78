#include "app/win32/dialog_helpers.h"
#include "app/win32/dialogs.h"

// Stands where its template puts it, below the owner's top left; not centred.
INT_PTR CALLBACK TipsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_INITDIALOG) {
        return TRUE;
    }
    return NoticeDialogAnswer(dialog, message, wParam);
}
