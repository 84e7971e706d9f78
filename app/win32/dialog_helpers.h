// Small pieces that several of the shell's window and dialog procedures share.
#pragma once

#include <windows.h>

#include "app/layout.h"

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

// The commands that MainDialog's buttons hand on to MainWindow and MainWindow runs as operator
// commands: the four account operations, Print History, Change Context and Statistics.
bool IsButtonOperatorCommand(int command);
