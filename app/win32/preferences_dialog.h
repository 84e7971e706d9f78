// The Preferences dialog ("Preferences"): the local settings and the log server.
#pragma once

#include <windows.h>

// Runs the dialog, owned by `owner`. True after Save (the settings and the local file hold the
// new values, so the caller shows the selection anew); false after Cancel or Close.
bool OpenPreferencesDialog(HWND owner);

// The procedure, for the template tests.
INT_PTR CALLBACK PreferencesDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
