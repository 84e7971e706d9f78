#include <windows.h>
#include <io.h>

#include "platform/regular_file.h"

namespace tally::platform {

std::FILE* OpenRegularFileForReading(const std::string& path, FileKind& kind) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        kind = FileKind::Folder;
        return nullptr;
    }
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        kind = FileKind::Missing;
        return nullptr;
    }
    // A device name (CON, a serial port) or a pipe opens like a file but is none.
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
    if (GetFileType(handle) != FILE_TYPE_DISK) {
        std::fclose(file);
        kind = FileKind::Other;
        return nullptr;
    }
    kind = FileKind::Regular;
    return file;
}

}  // namespace tally::platform
