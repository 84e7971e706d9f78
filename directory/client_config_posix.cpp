#include "directory/client_config.h"

#include <system_error>

namespace tally::directory {

std::filesystem::path RunningProgramFolder() {
    std::error_code error;
    std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) {
        return std::filesystem::current_path(error);
    }
    return program.parent_path();
}

}  // namespace tally::directory
