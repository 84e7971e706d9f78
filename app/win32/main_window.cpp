#include "app/win32/main_window.h"

#include <string>

#include "app/win32/about_dialog.h"
#include "app/win32/commands.h"
#include "app/win32/preferences_dialog.h"
#include "app/win32/tips_dialog.h"
#include "browse/win32/selection_view.h"
#include "program/layout.h"
#include "program/session.h"
#include "program/settings.h"
#include "program/win32/dialog_support.h"
#include "program/win32/main_windows.h"
#include "program/win32/platform_settings.h"
#include "resources/resource.h"

namespace {

void OnCommand(HWND window, int command) {
    if (command == CMD_HOW_TO_ORDER || IsButtonOperatorCommand(command)) {
        RunOperatorCommand(window, command);
        return;
    }
    switch (command) {
        // Modal dialogs belong to whichever window is active when the command arrives.
        case CMD_ABOUT:
            OpenAboutDialog(GetActiveWindow());
            FocusMainList();
            break;
        case CMD_TIPS:
            OpenTipsDialog(GetActiveWindow());
            FocusMainList();
            break;
        case CMD_EXIT:
            PostMessageA(window, WM_CLOSE, 0, 0);
            break;
        case CMD_PREFERENCES:
            if (OpenPreferencesDialog(GetActiveWindow())) {
                ShowSelection();  // attribute names or number format may have changed
            }
            FocusMainList();
            break;
        default:
            break;
    }
}

// Every way of closing comes here: Exit (menu, button, Alt+X) posts WM_CLOSE, and so does the
// system menu's Close.
void OnClose(HWND window) {
    PrivateProfiles profiles;
    SaveChargeReason(gSettings, profiles);
    if (MainDialog != nullptr) {
        DestroyWindow(MainDialog);
        MainDialog = nullptr;
        MainList = nullptr;
    }
    DestroyWindow(window);
}

void OnDestroy() {
    DirFreeContext(DirectoryContext);
    PostQuitMessage(0);
}

}  // namespace

ATOM RegisterMainWindowClass(HINSTANCE instance, HBRUSH background) {
    WNDCLASSA windowClass{};
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = MainWindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconA(instance, "Tallydsk");
    windowClass.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    windowClass.hbrBackground = background;
    windowClass.lpszMenuName = "Tallydsk";
    windowClass.lpszClassName = kMainWindowClass;
    return RegisterClassA(&windowClass);
}

HWND CreateMainWindow(HINSTANCE instance) {
    const PixelPoint at = CentreOnScreen({ScreenWidth, ScreenHeight}, kInitialMainWindowSize);
    return CreateWindowA(kMainWindowClass, kMainWindowTitle, kMainWindowStyle, at.x, at.y,
                         kInitialMainWindowSize.width, kInitialMainWindowSize.height, nullptr,
                         nullptr, instance, nullptr);
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_COMMAND:
            OnCommand(window, LOWORD(wParam));
            return 0;
        case WM_SYSCOMMAND:
            // Only the exact codes: the minimised window names its context in the title.
            if (wParam == SC_MINIMIZE) {
                const std::string title = std::string(kMainWindowTitle) + ": " + CurrentContextName;
                SetWindowTextA(window, title.c_str());
            } else if (wParam == SC_RESTORE) {
                SetWindowTextA(window, kMainWindowTitle);
            }
            break;
        case WM_CLOSE:
            OnClose(window);
            return 0;
        case WM_DESTROY:
            OnDestroy();
            return 0;
        default:
            break;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}
