// The object lists: the users and groups of the current context for MainList, the containers for
// the Select Context dialog, the groups for the Select Group dialog, each in the entry syntax of
// program/list_entries.h.
#pragma once

#include <string>

#include "directory/dirclient.h"
#include "program/list_entries.h"
#include "program/values.h"

// Where FillObjectList puts its entries: a list box in the program, a vector in the tests.
class ObjectListSink {
  public:
    virtual ~ObjectListSink() = default;
    virtual void Clear() = 0;
    virtual void Add(const std::string& entry) = 0;
    // Makes the first entry (in the list's own order) the current one.
    virtual void SelectFirst() = 0;
};

// Lists the current context's objects of `className` into `list`: "User" also lists the groups
// and adds the all-users entry; "Organizational Unit" also lists the organizations and adds the
// parent entry below the root; "Group" alone only adds. A listing that fails keeps what it had
// and its status is returned (DIR_OK when every listing ran to its end), so that a list the
// directory refused or cut short is never shown as if it were whole. `listed`, when given,
// receives the number of objects put into the list (the fixed entries not counted).
DirStatus FillObjectList(ObjectListSink& list, const char* className,
                         std::size_t* listed = nullptr);

// What the operator is told when FillObjectList returned `status` after listing `listed`
// objects: the context, the status and the directory client's own words (its last problem)
// where it has any; then that the entries shown are not all there are, or, when none could be
// listed, that nothing could.
std::string ListingFailureMessage(DirStatus status, std::size_t listed);
