#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <system_error>

#include "directory/client_config.h"

namespace tally::directory {

std::filesystem::path RunningProgramFolder() {
    std::error_code error;
    std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) {
        return std::filesystem::current_path(error);
    }
    return program.parent_path();
}

bool ReadOwnerOnlyFile(const std::filesystem::path& file, std::string& firstLine,
                       std::string& problem) {
    struct stat status {};
    if (::stat(file.c_str(), &status) != 0) {
        problem = file.string() + ": cannot be read";
        return false;
    }
    if ((status.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(status.st_mode & 07777));
        problem = file.string() + ": others may read or change it (mode " + mode +
                  "); a password file must be its owner's alone (chmod 600)";
        return false;
    }
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        problem = file.string() + ": cannot be read";
        return false;
    }
    std::getline(in, firstLine);
    if (!firstLine.empty() && firstLine.back() == '\r') {
        firstLine.pop_back();
    }
    return true;
}

}  // namespace tally::directory
