#include "directory/client_config.h"

#include <windows.h>

#include <vector>

namespace tally::directory {

std::filesystem::path RunningProgramFolder() {
    // Paths beyond MAX_PATH are possible; grow until the whole name fits.
    std::vector<char> name(MAX_PATH);
    for (;;) {
        DWORD length = GetModuleFileNameA(nullptr, name.data(), static_cast<DWORD>(name.size()));
        if (length == 0) {
            return std::filesystem::path(".");
        }
        if (length < name.size()) {
            return std::filesystem::path(std::string(name.data(), length)).parent_path();
        }
        name.resize(name.size() * 2);
    }
}

}  // namespace tally::directory
