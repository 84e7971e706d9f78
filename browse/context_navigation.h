// Moving the current context down into a container or up to its parent, and testing group
// membership. The current context is CurrentContextName (app/session.h), always as the
// directory client reads it back.
#pragma once

#include <string>

#include "directory/dirclient.h"

// Set by the first context change of the run and never cleared: once the context has moved,
// every closing of the Select Context dialog has the main list refilled.
extern bool ContextChanged;

// The context after `current` loses its first name: "SALES.CORP" -> "CORP", "CORP" -> "[Root]".
std::string ParentContextOf(const std::string& current);

// The context that a double-click on a Select Context entry names: the parent for the parent
// entry, else the container below `current` (the container alone below the root).
std::string ContextNamedByEntry(const std::string& entry, const std::string& current);

// Asks the client to move to the context that `entry` names, then reads the context back into
// CurrentContextName whether or not the move was accepted, and sets ContextChanged. Returns the
// status of the move.
DirStatus MoveToContextOfEntry(const std::string& entry);

// 1 when the group's "Member" attribute holds the user, else 0 (a failing compare included).
// Uses `compareBuffer` when given, so that a scan over many users prepares one buffer; without
// it the compare takes a buffer of its own.
int IsGroupMember(const char* groupName, const char* userName, DirBuffer* compareBuffer = nullptr);
