// The entries of the object lists. Users, groups and the fixed entries are told apart by their
// text alone, so these texts are what every part of the program reads back from a list.
#pragma once

#include <cstddef>
#include <cstdint>
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

// Length of the longest user name put into a list by the last listing of users.
extern std::int32_t MaxUserNameLength;

enum class EntryKind { AllUsers, Group, User };

// The all-users text exactly (case counts), then the marker anywhere; anything else is a user.
EntryKind KindOfEntry(std::string_view entry);

// The entry as an object name: cut where the group marker first occurs.
std::string ObjectNameOfEntry(std::string_view entry);

// Where FillObjectList puts its entries: a list box in the program, a vector in the tests.
class ObjectListSink {
  public:
    virtual ~ObjectListSink() = default;
    virtual void clear() = 0;
    virtual void add(const std::string& entry) = 0;
    // Makes the first entry (in the list's own order) the current one.
    virtual void selectFirst() = 0;
};

// Lists the current context's objects of `className` into `list`: "User" also lists the groups
// and adds the all-users entry; "Organizational Unit" also lists the organizations and adds the
// parent entry below the root; "Group" alone only adds. A listing that fails keeps what it had.
void FillObjectList(ObjectListSink& list, const char* className);
