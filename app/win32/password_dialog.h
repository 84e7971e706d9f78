// The directory server's password, asked for at start when tallynet.ini names a login
// ([Store] BindDN) without a PasswordFile ("DirectoryPassword").
#pragma once

#include <windows.h>

#include <cstddef>

// The prompt that WinMain hands the directory client (DirClientSetPasswordPrompt): true with
// the password typed into `password` (NUL-terminated, `capacity` bytes and the NUL), false when
// the operator cancelled. `refusal`, when not empty, is the server's answer to the password
// typed before, shown under the field. The edit control is emptied before the dialog closes.
bool AskDirectoryPassword(const char* server, const char* bindDn, const char* refusal,
                          char* password, std::size_t capacity);

// The procedure, for the template tests.
INT_PTR CALLBACK PasswordDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
