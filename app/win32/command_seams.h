// Where the main window hands over to the object list, the selection display and the operator
// commands. These are empty until those arrive; the shell calls them at the right moments
// already, so that filling them in needs no change here.
#pragma once

#include <windows.h>

// MainDialog's initialisation, after the layout: fill MainList with the users and groups of the
// current context.
void FillMainList();

// The MainList selection changed or has to be shown again (also command 999).
void RefreshSelection();

// A double-click in MainList.
void OnMainListDoubleClick();

// A right click in MainList; `pointer` is the message's packed screen position.
void OnMainListContextMenu(HWND dialog, LPARAM pointer);

// Commands 3 (How to order), 310-316 and 319 arriving at MainWindow.
void RunOperatorCommand(HWND mainWindow, int command);
