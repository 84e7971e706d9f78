// The About box ("About"): a notice with the program's version.
#pragma once

#include <windows.h>

// Runs the box, centred over the main window and owned by `owner`.
void OpenAboutDialog(HWND owner);

// The procedure, for the template tests.
INT_PTR CALLBACK AboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
