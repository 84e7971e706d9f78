// The Select Group dialog ("GroupList"): one of the current context's groups.
#pragma once

#include <windows.h>

// Runs the dialog, owned by `owner`. True with the chosen entry (marker included) in
// SelectionText; false when it was closed without a choice.
bool SelectGroup(HWND owner);

// The procedure, for the template tests.
INT_PTR CALLBACK GroupListDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
