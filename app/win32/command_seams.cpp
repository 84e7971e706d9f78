#include "app/win32/command_seams.h"

// TODO(object list): FillObjectList for the class "User".
void FillMainList() {}

// TODO(selection display): ShowSelection.
void RefreshSelection() {}

// TODO(operator commands): the double-click rule (310 + DblClickUser or DblClickGroup).
void OnMainListDoubleClick() {}

// TODO(operator commands): select the entry under the pointer and track the popup menu.
void OnMainListContextMenu(HWND, LPARAM) {}

// TODO(operator commands): the account, history, context, statistics and How-to-order commands.
void RunOperatorCommand(HWND, int) {}
