// Window and dialog procedures of the application shell, and the helpers they share.
#pragma once

#include <windows.h>

// Class "Tallydsk" with its icon, background brush and class menu.
ATOM RegisterMainWindowClass(HINSTANCE instance, HBRUSH background);
// The main window, centred on the screen at its first size; not visible yet.
HWND CreateMainWindow(HINSTANCE instance);

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK AboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK TipsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK PreferencesDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Places a dialog over the middle of MainWindow's client area and on top of the window order.
void CentreDialog(HWND dialog);

// Empties `comboBox` and fills it with the User class's schema keywords; returns their number.
int ListSchemaKeywords(HWND comboBox);

void FocusMainList();
