// The entries of the object lists. Users, groups and the fixed entries are told apart by their
// text alone, so these texts are what every part of the program reads back from a list.
#pragma once

#include <string>
#include <string_view>

inline constexpr const char* kAllUsersEntry = "* (All users in this context)";
inline constexpr const char* kAllUsersLabel = "All users in this context";
inline constexpr const char* kGroupMarker = " (Group)";
inline constexpr const char* kParentEntry = ".. (Parent)";

inline constexpr const char* kUserClass = "User";
inline constexpr const char* kGroupClass = "Group";
inline constexpr const char* kUnitClass = "Organizational Unit";
inline constexpr const char* kOrganizationClass = "Organization";

enum class EntryKind { AllUsers, Group, User };

// The all-users text exactly (case counts), then the marker anywhere; anything else is a user.
EntryKind KindOfEntry(std::string_view entry);

// A MainList entry that names a user: neither a group nor the all-users entry.
bool IsUserEntry(std::string_view entry);

// The entry as an object name: cut where the group marker first occurs.
std::string ObjectNameOfEntry(std::string_view entry);
