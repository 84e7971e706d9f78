#include "program/win32/dialog_support.h"

#include "program/win32/main_windows.h"

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

void ShowError(HWND owner, const std::string& text) {
    MessageBoxA(owner, text.c_str(), "Error", MB_OK | MB_ICONWARNING);
}

void ShowReportError(HWND owner, const std::string& text) {
    MessageBoxA(owner, text.c_str(), "Error!", MB_OK | MB_ICONEXCLAMATION);
}
