#include "platform/regular_file.h"

namespace tally::platform {

std::string NotAFileMessage(const std::string& path, FileKind kind, const std::string& what) {
    switch (kind) {
        case FileKind::Folder:
            return path + " is a folder, not " + what;
        case FileKind::Other:
            return path + " is not an ordinary file (a pipe or a device), not " + what;
        case FileKind::Missing:
        case FileKind::Regular:
            break;
    }
    return {};
}

}  // namespace tally::platform
