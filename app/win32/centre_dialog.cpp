#include "app/layout.h"
#include "app/win32/dialogs.h"
#include "app/win32/shell_state.h"

namespace {

PixelRect ToPixels(const RECT& r) {
    return {r.left, r.top, r.right, r.bottom};
}

}  // namespace

void CentreDialog(HWND dialog) {
    RECT client{};
    RECT window{};
    RECT box{};
    GetClientRect(MainWindow, &client);
    GetWindowRect(MainWindow, &window);
    GetWindowRect(dialog, &box);
    const PixelPoint at =
        CentreOverClientArea({client.right, client.bottom}, ToPixels(window), ToPixels(box));
    SetWindowPos(dialog, HWND_TOP, at.x, at.y, 0, 0, SWP_NOSIZE);
}

void FocusMainList() {
    if (MainList != nullptr) {
        SetFocus(MainList);
    }
}
