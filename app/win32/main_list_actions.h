// What MainList does on its own: filling it, the double-click rule and the popup menu of a
// right click.
#pragma once

#include <windows.h>

#include "program/win32/handles.h"

// MainDialog's initialisation, after the layout: fill MainList with the users and groups of the
// current context.
void FillMainList();

// A double-click in MainList posts the account command that the settings give for one user or
// for a group, the all-users entry and several entries.
void OnMainListDoubleClick();

// A right click in MainList; `pointer` is the message's packed screen position.
void OnMainListContextMenu(HWND dialog, LPARAM pointer);

// Right click in MainList: clears the selection, then selects the entry under the packed screen
// position `pointer`, or every entry when none lies there.
void SelectEntryUnderPointer(HWND list, LPARAM pointer);

// The five account and report commands of MainList's popup menu, in the order operators know.
UniqueMenu MainListPopupMenu();
