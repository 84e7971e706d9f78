// The MainList selection as it was last shown, and the three information lines that show it.
// The list itself is the shell's; it is seen here only through SelectionList, so that the
// display logic runs the same in the program and in the native tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Number of selected MainList entries.
extern std::int32_t SelectedCount;
// The text of the list's current entry as last shown, without the group marker: the object name
// of a single selection. The Select Group dialog leaves its chosen entry here, marker included.
extern std::string SelectionText;
// The current entry is a group or the all-users entry (kept from the last selection of at most
// one entry).
extern bool GroupSelected;

// Longest text SelectionText holds; longer entries are cut to it.
inline constexpr std::size_t kSelectionTextChars = 255;

class SelectionList {
  public:
    virtual ~SelectionList() = default;
    virtual int selectedCount() const = 0;
    // The text of the list's current entry ("" when the list has none).
    virtual std::string currentText() const = 0;
};

// The full-name, balance and credit-limit lines of the main dialog.
struct SelectionLines {
    std::string FullName;
    std::string Balance;
    std::string CreditLimit;

    bool operator==(const SelectionLines&) const = default;
};

// Takes the selection from `list` into SelectedCount, SelectionText and GroupSelected, reads a
// single user's account into AccountValues, and gives the lines to show. Amounts follow the
// number format of gSettings.
SelectionLines TakeSelection(const SelectionList& list);

// Print History works on one user or one group: not on several entries, nor on the whole
// context.
bool PrintHistoryAllowed();
