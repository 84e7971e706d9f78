// The Select Context dialog ("ContextList"): moves the current context down into a container or
// up to its parent, one double-click at a time.
#pragma once

#include <windows.h>

// Runs the dialog, owned by `owner`. True when the context has moved at any time in the run (the
// program's context-changed flag), so that the caller refills MainList.
bool ChangeContext(HWND owner);

// The procedure, for the template tests.
INT_PTR CALLBACK ContextListDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
