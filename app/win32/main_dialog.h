// MainDialog: the modeless dialog that fills the main window, with MainList, the command
// buttons, the context line and the three lines about the selection.
#pragma once

#include <windows.h>

INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
