// A group's members, read once per report run through the directory client.
#pragma once

#include <string>
#include <unordered_set>
#include <vector>

#include "directory/dirclient.h"

namespace tally::reports {

// Every "Member" value of `group` (a name as the current name context reads it), as the
// directory gives them: complete names. False when the group cannot be read; a group without
// members gives an empty list and true.
bool ReadGroupMembers(const std::string& group, std::vector<std::string>& members);

// `name`'s full name as the directory gives it (DirGetFullName); "" when it cannot be had.
std::string FullNameOf(const std::string& name);

// Every member of `group` as a full name; a member whose full name cannot be read keeps the name
// the directory gave for it, so that no member becomes an empty row. False when the group cannot
// be read.
bool ReadMemberFullNames(const std::string& group, std::vector<std::string>& fullNames);

// Sets the directory's name context to the root of the tree, so that the full names found in the
// log are understood from there, and puts the session's current context back however the run
// ends.
class NameContextAtRoot {
  public:
    NameContextAtRoot();
    NameContextAtRoot(const NameContextAtRoot&) = delete;
    NameContextAtRoot& operator=(const NameContextAtRoot&) = delete;
    ~NameContextAtRoot();
};

// Whether a full name found in the log belongs to a member of a group, with the name context at
// the root of the tree. The members are read once; a complete name is then looked up among them
// without regard to case, as the directory's compare matches it, and only a name written
// relative to a context (with a leading or trailing point) is asked of the directory
// (IsGroupMember). A history over a million lines thus asks the directory once, not once per
// distinct user.
class GroupMembership {
  public:
    GroupMembership(std::string groupFullName, DirBuffer* compareBuffer);
    bool Contains(const std::string& name) const;

  private:
    std::string group_;
    DirBuffer* compareBuffer_;
    bool read_ = false;
    std::unordered_set<std::string> folded_;
};

}  // namespace tally::reports
