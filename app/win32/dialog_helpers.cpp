#include "app/win32/dialog_helpers.h"

#include "app/win32/shell_state.h"
#include "resources/resource.h"

namespace {

PixelRect ToPixels(const RECT& r) {
    return {r.left, r.top, r.right, r.bottom};
}

}  // namespace

MainWindowAndDialog MeasureOverMainWindow(HWND dialog) {
    RECT client{};
    RECT window{};
    RECT box{};
    GetClientRect(MainWindow, &client);
    GetWindowRect(MainWindow, &window);
    GetWindowRect(dialog, &box);
    return {{client.right, client.bottom}, ToPixels(window), ToPixels(box)};
}

bool EndedByCancelOrClose(HWND dialog, UINT message, WPARAM wParam) {
    const bool dismissed =
        message == WM_CLOSE || (message == WM_COMMAND && LOWORD(wParam) == IDCANCEL);
    if (dismissed) {
        EndDialog(dialog, 0);
    }
    return dismissed;
}

INT_PTR NoticeDialogAnswer(HWND dialog, UINT message, WPARAM wParam) {
    if (message == WM_COMMAND && LOWORD(wParam) == IDOK) {
        EndDialog(dialog, 1);
        return TRUE;
    }
    return EndedByCancelOrClose(dialog, message, wParam) ? TRUE : FALSE;
}

bool IsButtonOperatorCommand(int command) {
    switch (command) {
        case CMD_DEPOSIT:
        case CMD_SET_BALANCE:
        case CMD_CHARGE:
        case CMD_SET_CREDIT_LIMIT:
        case CMD_PRINT_HISTORY:
        case CMD_CHANGE_CONTEXT:
        case CMD_STATISTICS:
            return true;
        default:
            return false;
    }
}
