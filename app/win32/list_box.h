// The object lists and the selection display on real list boxes.
#pragma once

#include <windows.h>

#include <string>

#include "directory/object_list.h"
#include "directory/selection.h"

// Entries go into a list box, which sorts them. Redrawing is held off while a listing runs, so
// that a context of thousands of users fills in one paint.
class ListBoxEntries final : public ObjectListSink {
  public:
    explicit ListBoxEntries(HWND list);
    ~ListBoxEntries() override;
    ListBoxEntries(const ListBoxEntries&) = delete;
    ListBoxEntries& operator=(const ListBoxEntries&) = delete;

    void clear() override;
    void add(const std::string& entry) override;
    void selectFirst() override;

  private:
    HWND list_;
};

class ListBoxSelection final : public SelectionList {
  public:
    explicit ListBoxSelection(HWND list) : list_(list) {}
    int selectedCount() const override;
    std::string currentText() const override;

  private:
    HWND list_;
};

// A list box accepting several selected entries.
bool IsMultipleSelectionList(HWND list);

// The text of one entry ("" when there is no such entry).
std::string ListBoxText(HWND list, int index);

// FillObjectList on a list box.
void FillObjectList(HWND list, const char* className);
