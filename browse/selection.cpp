#include "browse/selection.h"

#include <array>
#include <cstdio>

#include "accounting/account_attributes.h"
#include "browse/object_list.h"
#include "program/number_format.h"
#include "program/settings.h"

namespace {

constexpr const char* kFullNameAttribute = "Full Name";

std::string FullNameOf(const std::string& objectName) {
    std::array<char, DIR_MAX_NAME_BYTES> fullName{};
    ReadAccountAttribute(objectName.c_str(), kFullNameAttribute, fullName.data());
    fullName.back() = '\0';
    return fullName.data();
}

// The wording, typo included, is what operators have always seen.
std::string SeveralSelected(std::int32_t count) {
    std::array<char, 48> text{};
    std::snprintf(text.data(), text.size(), "%ld users selelcted", static_cast<long>(count));
    return text.data();
}

SelectionLines ShowUser() {
    SelectionLines lines;
    lines.fullName = FullNameOf(SelectionText);
    ReadAccountValues(SelectionText.c_str(), AccountValues);
    lines.balance = FormatAmount(AccountValues.Balance, gSettings);
    lines.creditLimit = AccountValues.Unlimited != 0
                            ? std::string("Unlimited")
                            : FormatAmount(AccountValues.CreditLimit, gSettings);
    return lines;
}

SelectionLines ShowSingleEntry(const std::string& entry) {
    SelectionText = entry.substr(0, kSelectionTextChars);
    switch (KindOfEntry(SelectionText)) {
        case EntryKind::AllUsers:
            GroupSelected = true;
            return {kAllUsersLabel, "", ""};
        case EntryKind::Group:
            GroupSelected = true;
            SelectionText = ObjectNameOfEntry(SelectionText);
            return {FullNameOf(SelectionText), "", ""};
        case EntryKind::User:
            break;
    }
    GroupSelected = false;
    return ShowUser();
}

}  // namespace

SelectionLines TakeSelection(const SelectionList& list) {
    SelectedCount = list.CountSelected();
    if (SelectedCount > 1) {
        return {SeveralSelected(SelectedCount), "", ""};
    }
    return ShowSingleEntry(list.CurrentText());
}

bool PrintHistoryAllowed() {
    return SelectedCount <= 1 && SelectionText != kAllUsersEntry;
}
