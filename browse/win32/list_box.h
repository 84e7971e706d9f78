// The object lists and the selection display on real list boxes.
#pragma once

#include <windows.h>

#include <string>

#include "browse/object_list.h"
#include "browse/selection.h"
#include "program/win32/list_box_text.h"

// Entries go into a list box, which sorts them. Redrawing is held off while a listing runs, so
// that a context of thousands of users fills in one paint.
class ListBoxEntries final : public ObjectListSink {
  public:
    explicit ListBoxEntries(HWND list);
    ~ListBoxEntries() override;
    ListBoxEntries(const ListBoxEntries&) = delete;
    ListBoxEntries& operator=(const ListBoxEntries&) = delete;

    void Clear() override;
    void Add(const std::string& entry) override;
    void SelectFirst() override;

  private:
    HWND list_;
};

class ListBoxSelection final : public SelectionList {
  public:
    explicit ListBoxSelection(HWND list) : list_(list) {}
    int CountSelected() const override;
    std::string CurrentText() const override;

  private:
    HWND list_;
};

// A list box accepting several selected entries.
bool IsMultipleSelectionList(HWND list);

// FillObjectList on a list box; a listing that failed is shown to the operator in an error box
// owned by `owner` (ListingFailureMessage). Returns the listing's status.
DirStatus FillObjectList(HWND list, const char* className, HWND owner);
