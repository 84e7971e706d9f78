// The parts of the file services that need no operating-system calls of their own.
#include "platform/files.h"

namespace tally::platform {

bool appendUnderLock(const std::filesystem::path& lockFile, const std::filesystem::path& file,
                     std::string_view bytes, std::string* error) {
    auto lock = AppendLock::acquire(lockFile, error);
    if (!lock) {
        return false;
    }
    return appendToFile(file, bytes, error);
}

bool readWholeFile(const std::filesystem::path& file, std::string& out, std::string* error) {
    bool exists = false;
    auto reader = ReadOnlyFile::open(file, &exists, error);
    if (!reader) {
        return false;
    }
    if (!exists) {
        if (error) {
            *error = file.string() + ": file not found";
        }
        return false;
    }
    return reader->read(0, kToEnd, out, error);
}

}  // namespace tally::platform
