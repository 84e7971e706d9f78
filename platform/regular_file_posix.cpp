#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/regular_file.h"

namespace tally::platform {

std::FILE* OpenRegularFileForReading(const std::string& path, FileKind& kind) {
    // O_NONBLOCK: opening a pipe that has no writer returns at once instead of waiting for one.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        struct stat info {};
        kind = (::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) ? FileKind::Folder
                                                                           : FileKind::Missing;
        return nullptr;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        kind = (S_ISDIR(info.st_mode)) ? FileKind::Folder : FileKind::Other;
        ::close(fd);
        return nullptr;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        ::close(fd);
        kind = FileKind::Missing;
        return nullptr;
    }
    std::FILE* file = ::fdopen(fd, "rb");
    if (file == nullptr) {
        ::close(fd);
        kind = FileKind::Missing;
        return nullptr;
    }
    kind = FileKind::Regular;
    return file;
}

}  // namespace tally::platform
