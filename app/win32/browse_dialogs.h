// The Select Context and Select Group dialogs.
#pragma once

#include <windows.h>

// The Select Context dialog ("ContextList"), owned by `owner`. Its result is the program's
// context-changed flag: nonzero once the context has moved at any time in the run.
INT_PTR ChangeContext(HWND owner);

// The Select Group dialog ("GroupList"), owned by `owner`: 1 with the chosen entry (marker
// included) in SelectionText, 0 when closed without a choice.
INT_PTR SelectGroup(HWND owner);

INT_PTR CALLBACK ContextListDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK GroupListDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
