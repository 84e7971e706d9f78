#include "program/list_entries.h"

EntryKind KindOfEntry(std::string_view entry) {
    if (entry == kAllUsersEntry) {
        return EntryKind::AllUsers;
    }
    if (entry.find(kGroupMarker) != std::string_view::npos) {
        return EntryKind::Group;
    }
    return EntryKind::User;
}

bool IsUserEntry(std::string_view entry) {
    return KindOfEntry(entry) == EntryKind::User;
}

std::string ObjectNameOfEntry(std::string_view entry) {
    return std::string(entry.substr(0, entry.find(kGroupMarker)));
}
