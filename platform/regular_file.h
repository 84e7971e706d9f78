// Opening a file for reading only when it is an ordinary file.
//
// A path handed to the program may name a folder, a pipe or a device. Opening a pipe that
// nobody writes would wait for ever, and a folder or a device read as a file gives nonsense, so
// what the path names is found out first, without waiting, and only an ordinary file is opened.
#pragma once

#include <cstdio>
#include <string>

namespace tally::platform {

enum class FileKind {
    Missing,  // nothing there, or it cannot be opened
    Regular,
    Folder,
    Other,  // a pipe, a device, a socket
};

// Opens `path` for reading without line-end translation when it is an ordinary file; null
// otherwise. `kind` says what the path names.
std::FILE* OpenRegularFileForReading(const std::string& path, FileKind& kind);

// "<path> is a folder, not <what>", "<path> is not an ordinary file (a pipe or a device), not
// <what>"; empty for a regular or missing file, whose message the caller words itself.
std::string NotAFileMessage(const std::string& path, FileKind kind, const std::string& what);

}  // namespace tally::platform
