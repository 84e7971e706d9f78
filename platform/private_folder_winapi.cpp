#include <windows.h>

#include <shlobj.h>

#include <system_error>

#include "platform/private_folder.h"

namespace tally::platform {

namespace fs = std::filesystem;

std::optional<fs::path> PrivateFolderAt(const fs::path& folder, std::string* error) {
    std::error_code failed;
    fs::create_directories(folder, failed);
    if (!fs::is_directory(folder, failed)) {
        if (error != nullptr) {
            *error = folder.string() + ": cannot create the folder";
        }
        return std::nullopt;
    }
    return folder;
}

std::optional<fs::path> PrivateFolder(std::string* error) {
    // The user's own local application data, which roaming profiles do not copy around: the
    // outbox belongs to this workstation.
    char base[MAX_PATH] = {};
    if (SHGetFolderPathA(nullptr, CSIDL_LOCAL_APPDATA | CSIDL_FLAG_CREATE, nullptr,
                         SHGFP_TYPE_CURRENT, base) != S_OK ||
        base[0] == '\0') {
        if (error != nullptr) {
            *error = "the user's local application data folder cannot be found";
        }
        return std::nullopt;
    }
    return PrivateFolderAt(fs::path(base) / "TallyDesk", error);
}

}  // namespace tally::platform
