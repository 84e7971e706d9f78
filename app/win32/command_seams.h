// Where the main window and its dialog hand over to the object list, the selection display and
// the operator commands.
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

// Right click in MainList: clears the selection, then selects the entry under the packed screen
// position `pointer`, or every entry when none lies there.
void SelectEntryUnderPointer(HWND list, LPARAM pointer);

// A popup menu destroyed with its owner object.
class PopupMenu {
  public:
    PopupMenu();
    ~PopupMenu();
    PopupMenu(PopupMenu&& other) noexcept : menu_(other.menu_) { other.menu_ = nullptr; }
    PopupMenu(const PopupMenu&) = delete;
    PopupMenu& operator=(const PopupMenu&) = delete;
    PopupMenu& operator=(PopupMenu&&) = delete;
    HMENU get() const { return menu_; }

  private:
    HMENU menu_;
};

// The five account and report commands of MainList's popup menu, in the order operators know.
PopupMenu MainListPopupMenu();

// Commands 3 (How to order), 310-316 and 319 arriving at MainWindow.
void RunOperatorCommand(HWND mainWindow, int command);
