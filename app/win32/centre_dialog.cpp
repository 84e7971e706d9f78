#include "app/layout.h"
#include "app/win32/dialog_helpers.h"
#include "app/win32/dialogs.h"
#include "app/win32/shell_state.h"

void CentreDialog(HWND dialog) {
    const MainWindowAndDialog now = MeasureOverMainWindow(dialog);
    const PixelPoint at = CentreOverClientArea(now.client, now.window, now.dialog);
    SetWindowPos(dialog, HWND_TOP, at.x, at.y, 0, 0, SWP_NOSIZE);
}

void FocusMainList() {
    if (MainList != nullptr) {
        SetFocus(MainList);
    }
}
