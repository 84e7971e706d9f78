// The directory server's password, asked for at start when tallynet.ini names a login
// ([Store] BindDN) without a PasswordFile ("DirectoryPassword").
#pragma once

#include <windows.h>

#include <string>

// The prompt that WinMain hands the directory client (DirClientSetPasswordPrompt): true with
// the password typed, false when the operator cancelled. The typed text is wiped from the
// dialog's buffers before it closes.
bool AskDirectoryPassword(const char* server, const char* bindDn, std::string& password);

// The procedure, for the template tests.
INT_PTR CALLBACK PasswordDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
