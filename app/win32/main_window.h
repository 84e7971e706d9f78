// The main window "Tallydsk": its class, its creation and its procedure, which runs the command
// table.
#pragma once

#include <windows.h>

// Class "Tallydsk" with its icon, background brush and class menu.
ATOM RegisterMainWindowClass(HINSTANCE instance, HBRUSH background);
// The main window, centred on the screen at its first size; not visible yet.
HWND CreateMainWindow(HINSTANCE instance);

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
