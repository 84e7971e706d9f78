// Typeless directory names ("JSMITH.SALES.CORP"): the object's own name first, then its
// containers, joined by points, compared without regard to case.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tally::directory {

bool SameName(std::string_view a, std::string_view b);
bool IsRootName(std::string_view name);  // "[Root]" in any case

// The object's own name: "JSMITH" of "JSMITH.SALES.CORP".
std::string_view LeafOf(std::string_view fullName);
// The container's name: "SALES.CORP" of "JSMITH.SALES.CORP"; "" for a top-level object.
std::string_view ContainerOf(std::string_view fullName);

// The complete name of `name` taken relative to the name context `context` ("" or "[Root]" for
// the top of the tree). A leading point marks a name that is complete already; each trailing
// point takes the name one container further up. Nullopt for a name that cannot be formed
// (empty, an empty part, more trailing points than the context has containers).
std::optional<std::string> CompleteName(std::string_view name, std::string_view context);

// The name as written, without a leading point, when it has no empty part; else nullopt.
std::optional<std::string> AsWrittenName(std::string_view name);

// "*" stands for any run of characters, "?" for any one; letters match in either case.
bool MatchesPattern(std::string_view name, std::string_view pattern);

// Copies at most DIR_MAX_NAME_BYTES - 1 characters and the NUL, the size of every name field
// the program hands over.
void CopyName(std::string_view name, char* out);

}  // namespace tally::directory
