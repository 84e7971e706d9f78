#include "browse/win32/list_box.h"

#include <vector>

#include "program/win32/dialog_support.h"

ListBoxEntries::ListBoxEntries(HWND list) : list_(list) {
    SendMessageA(list_, WM_SETREDRAW, FALSE, 0);
}

ListBoxEntries::~ListBoxEntries() {
    SendMessageA(list_, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(list_, nullptr, TRUE);
}

void ListBoxEntries::Clear() {
    SendMessageA(list_, LB_RESETCONTENT, 0, 0);
}

void ListBoxEntries::Add(const std::string& entry) {
    SendMessageA(list_, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry.c_str()));
}

// A list of several selections has a caret entry that is current without being selected; a
// single-selection list's current entry is its selection.
void ListBoxEntries::SelectFirst() {
    if (IsMultipleSelectionList(list_)) {
        SendMessageA(list_, LB_SETCARETINDEX, 0, FALSE);
    } else {
        SendMessageA(list_, LB_SETCURSEL, 0, 0);
    }
}

bool IsMultipleSelectionList(HWND list) {
    const LONG_PTR style = GetWindowLongPtrA(list, GWL_STYLE);
    return (style & (LBS_EXTENDEDSEL | LBS_MULTIPLESEL)) != 0;
}

int ListBoxSelection::CountSelected() const {
    if (!IsMultipleSelectionList(list_)) {
        return SendMessageA(list_, LB_GETCURSEL, 0, 0) == LB_ERR ? 0 : 1;
    }
    const LRESULT count = SendMessageA(list_, LB_GETSELCOUNT, 0, 0);
    return count == LB_ERR ? 0 : static_cast<int>(count);
}

std::string ListBoxSelection::CurrentText() const {
    const UINT message = IsMultipleSelectionList(list_) ? LB_GETCARETINDEX : LB_GETCURSEL;
    return ListBoxText(list_, static_cast<int>(SendMessageA(list_, message, 0, 0)));
}

DirStatus FillObjectList(HWND list, const char* className, HWND owner) {
    DirStatus status = DIR_OK;
    std::size_t listed = 0;
    {
        ListBoxEntries entries(list);  // repaints the list as it goes
        status = FillObjectList(entries, className, &listed);
    }
    if (status != DIR_OK) {
        ShowError(owner, ListingFailureMessage(status, listed));
    }
    return status;
}
