// Taking the MainList selection into the program-wide selection values (program/values.h), and
// the three information lines that show it. The list itself is the shell's; it is seen here only
// through SelectionList, so that the display logic runs the same in the program and in the
// native tests.
#pragma once

#include <string>

#include "program/values.h"

class SelectionList {
  public:
    virtual ~SelectionList() = default;
    virtual int CountSelected() const = 0;
    // The text of the list's current entry ("" when the list has none).
    virtual std::string CurrentText() const = 0;
};

// The full-name, balance and credit-limit lines of the main dialog.
struct SelectionLines {
    std::string fullName;
    std::string balance;
    std::string creditLimit;

    bool operator==(const SelectionLines&) const = default;
};

// Takes the selection from `list` into SelectedCount, SelectionText and GroupSelected, reads a
// single user's account into AccountValues, and gives the lines to show. Amounts follow the
// number format of gSettings.
SelectionLines TakeSelection(const SelectionList& list);

// Print History works on one user or one group: not on several entries, nor on the whole
// context.
bool PrintHistoryAllowed();
