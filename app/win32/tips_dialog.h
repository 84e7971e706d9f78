// The Tips box ("Tips"): a notice of hints for operators.
#pragma once

#include <windows.h>

// Runs the box where its template places it, below the top left of `owner`'s client area.
void OpenTipsDialog(HWND owner);

// The procedure, for the template tests.
INT_PTR CALLBACK TipsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
