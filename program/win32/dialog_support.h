// What every dialog of the program shares: placing it over the main window, ending it by Cancel
// or the close box, keeping its own state, giving the list its focus back, and the two kinds of
// error box.
//
// The dialog pattern: one file per dialog holds its procedure and a typed opener, declared in
// the dialog's header, that states what goes in and what comes out. State that belongs to one
// run of the dialog lives in a struct of the opener's, handed in as the init parameter and found
// again with DialogStateOf; program-wide values stay program-wide. The procedure stays thin: the
// rules it follows live in the core.
#pragma once

#include <windows.h>

#include <string>

#include "program/layout.h"

// What the placement arithmetic needs of MainWindow and of a dialog placed over it.
struct MainWindowAndDialog {
    PixelSize client;  // MainWindow's client area
    PixelRect window;  // MainWindow's outer rectangle
    PixelRect dialog;
};
MainWindowAndDialog MeasureOverMainWindow(HWND dialog);

// Cancel and the close box dismiss a modal dialog with 0, nothing done; true when `message` was
// one of them and the dialog has been ended.
bool EndedByCancelOrClose(HWND dialog, UINT message, WPARAM wParam);

// A notice that only asks to be read: OK ends it with 1, Cancel and the close box with 0. The
// answer to every message but WM_INITDIALOG.
INT_PTR NoticeDialogAnswer(HWND dialog, UINT message, WPARAM wParam);

// Places a dialog over the middle of MainWindow's client area and on top of the window order.
void CentreDialog(HWND dialog);

// Gives MainList the keyboard focus (when it exists).
void FocusMainList();

// The state a dialog's opener handed in as the init parameter: stored with the dialog at
// WM_INITDIALOG and found again for every later message (null before it, or when none was
// given).
template <typename State>
State* DialogStateOf(HWND dialog, UINT message, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrA(dialog, DWLP_USER, lParam);
    }
    return reinterpret_cast<State*>(GetWindowLongPtrA(dialog, DWLP_USER));
}

// An account, log-writing or shell failure: caption "Error", the warning icon, OK.
void ShowError(HWND owner, const std::string& text);
// A report failure: caption "Error!", the exclamation icon, OK.
void ShowReportError(HWND owner, const std::string& text);
