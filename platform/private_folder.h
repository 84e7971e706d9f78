// The folder where the program keeps what it writes for itself (the writer's outbox, a settings
// copy of the user's own), private to the user who runs it.
//
// POSIX: $XDG_STATE_HOME/tallydesk, else $HOME/.local/state/tallydesk, created with mode 0700.
// A folder that is a link, is owned by somebody else, or that others may write to or read is
// refused: what lies there would otherwise be another local user's to plant or read.
// Windows: the user's local application data (%LOCALAPPDATA%\TallyDesk), which only that user
// (and administrators) may reach.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace tally::platform {

// The folder, created when absent; nothing (and why in `error`, naming the folder) when it
// cannot be had or is not private.
std::optional<std::filesystem::path> PrivateFolder(std::string* error);

// The same checks for a folder named by the caller (a test's, or a site's choice): created
// when absent (with mode 0700 on POSIX), refused when it is not the user's own.
std::optional<std::filesystem::path> PrivateFolderAt(const std::filesystem::path& folder,
                                                     std::string* error);

}  // namespace tally::platform
