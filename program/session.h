// The directory side of the run: the one directory context and the current context's name,
// created at start-up and used by everything that talks to the directory.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "directory/dirclient.h"

inline constexpr std::size_t kContextNameChars = 256;
// The longest start context accepted from the command line.
inline constexpr std::size_t kStartContextChars = 255;

extern DirContextHandle DirectoryContext;
extern std::string CurrentContextName;

// Sets the client's name context; the real one calls DirSetContextValue on DirectoryContext.
class NameContextSetter {
  public:
    virtual ~NameContextSetter() = default;
    virtual DirStatus SetNameContext(const std::string& name) = 0;
};

class ClientNameContext final : public NameContextSetter {
  public:
    explicit ClientNameContext(DirContextHandle context) : context_(context) {}
    DirStatus SetNameContext(const std::string& name) override;

  private:
    DirContextHandle context_;
};

// Creates DirectoryContext, reads the workstation's current context into CurrentContextName and
// switches the context to typeless names. Results are not tested: a failing client leaves an
// empty name, and every later call reports its own failure.
void OpenDirectoryContext();

// What start-up shows when the directory client will not work: "Not logged into Directory
// Services!", followed by the client's own account of why (a file and line of its configuration
// or store) when it has one, so that the operator learns what to mend.
std::string NotLoggedInMessage(std::string_view problem);

// The context named on the command line, taken whole (no trimming, quotes kept) as a full name
// from "[Root]". On success `currentName` becomes that name; when the client refuses it, or the
// text is longer than any context name can be, the context in force before stays in force.
// Returns true when the start context was applied; else `refusal`, when given, holds the
// client's status for the name (a server that could not be asked is not a missing container).
bool ApplyStartContext(std::string_view commandLine, NameContextSetter& client,
                       std::string& currentName, DirStatus* refusal = nullptr);
