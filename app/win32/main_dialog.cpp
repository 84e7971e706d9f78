#include "app/win32/main_dialog.h"

#include <string>

#include "app/win32/commands.h"
#include "app/win32/main_list_actions.h"
#include "browse/win32/selection_view.h"
#include "program/layout.h"
#include "program/session.h"
#include "program/win32/dialog_support.h"
#include "program/win32/main_windows.h"
#include "resources/resource.h"

namespace {

// Sizes MainWindow to hold the dialog with its margin, centres it on the screen, shows it and
// puts the dialog inside the margin.
void FitMainWindowAround(HWND dialog) {
    const MainWindowAndDialog now = MeasureOverMainWindow(dialog);
    const PixelSize size = MainWindowSizeFor(now.client, now.window, now.dialog);
    const PixelPoint at = CentreOnScreen({ScreenWidth, ScreenHeight}, size);
    MoveWindow(MainWindow, at.x, at.y, size.width, size.height, TRUE);
    ShowWindow(MainWindow, ShowCommand);
    SetWindowPos(dialog, nullptr, kMainDialogMargin, kMainDialogMargin, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER);
}

void OnInitDialog(HWND dialog) {
    MainDialog = dialog;
    FitMainWindowAround(dialog);
    MainList = GetDlgItem(dialog, IDC_MAIN_LIST);
    const std::string context = "Context: " + CurrentContextName;
    SetDlgItemTextA(dialog, IDC_CONTEXT, context.c_str());
    FillMainList();
    FocusMainList();
    PostMessageA(dialog, WM_COMMAND, CMD_REFRESH_SELECTION, 0);
}

BOOL OnCommand(WPARAM wParam, LPARAM lParam) {
    if (IsButtonOperatorCommand(LOWORD(wParam))) {
        PostMessageA(MainWindow, WM_COMMAND, wParam, lParam);
        return TRUE;
    }
    switch (LOWORD(wParam)) {
        case IDC_MAIN_LIST:
            if (HIWORD(wParam) == LBN_SELCHANGE) {
                ShowSelection();
                FocusMainList();
            } else if (HIWORD(wParam) == LBN_DBLCLK) {
                OnMainListDoubleClick();
            }
            return TRUE;
        case CMD_EXIT:
            PostMessageA(MainWindow, WM_CLOSE, 0, 0);
            return TRUE;
        case CMD_REFRESH_SELECTION:
            ShowSelection();
            return TRUE;
        default:
            return FALSE;
    }
}

}  // namespace

// The loop does no dialog-message processing for this modeless dialog: its keys are the main
// window's accelerators.
INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            OnInitDialog(dialog);
            return FALSE;  // the focus is already on the list
        case WM_CONTEXTMENU:
            if (reinterpret_cast<HWND>(wParam) == MainList) {
                OnMainListContextMenu(dialog, lParam);
            }
            return TRUE;
        case WM_COMMAND:
            return OnCommand(wParam, lParam);
        default:
            return FALSE;
    }
}
