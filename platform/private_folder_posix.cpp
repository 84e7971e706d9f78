#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

#include "platform/private_folder.h"

namespace tally::platform {

namespace {

namespace fs = std::filesystem;

bool Refuse(const fs::path& folder, const std::string& why, std::string* error) {
    if (error != nullptr) {
        *error = folder.string() + ": " + why;
    }
    return false;
}

// Creates the missing folders of `folder`; the last one gets mode 0700, its parents the usual
// mode (they are the user's state folder and the like).
bool CreateFolder(const fs::path& folder, std::string* error) {
    std::error_code failed;
    if (folder.has_parent_path()) {
        fs::create_directories(folder.parent_path(), failed);
    }
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        return Refuse(folder, std::string("cannot create the folder: ") + std::strerror(errno),
                      error);
    }
    return true;
}

bool CheckPrivate(const fs::path& folder, std::string* error) {
    struct stat info {};
    if (::lstat(folder.c_str(), &info) != 0) {
        return Refuse(folder, std::string("cannot read the folder: ") + std::strerror(errno),
                      error);
    }
    if (S_ISLNK(info.st_mode)) {
        return Refuse(folder, "is a link, not a folder of this user's own; nothing is kept there",
                      error);
    }
    if (!S_ISDIR(info.st_mode)) {
        return Refuse(folder, "is not a folder", error);
    }
    if (info.st_uid != ::geteuid()) {
        return Refuse(folder,
                      "belongs to another user (uid " + std::to_string(info.st_uid) +
                          "); nothing is kept there",
                      error);
    }
    if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        return Refuse(folder,
                      "may be written by other users; make it private (chmod 700) and start "
                      "again",
                      error);
    }
    if ((info.st_mode & (S_IRWXG | S_IRWXO)) != 0 && ::chmod(folder.c_str(), 0700) != 0) {
        return Refuse(folder, "may be read by other users and cannot be made private", error);
    }
    return true;
}

}  // namespace

std::optional<fs::path> PrivateFolderAt(const fs::path& folder, std::string* error) {
    if (!CreateFolder(folder, error) || !CheckPrivate(folder, error)) {
        return std::nullopt;
    }
    return folder;
}

std::optional<fs::path> PrivateFolder(std::string* error) {
    // An XDG variable that is not an absolute path is to be ignored.
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state != nullptr && state[0] == '/') {
        return PrivateFolderAt(fs::path(state) / "tallydesk", error);
    }
    const char* home = std::getenv("HOME");
    if (home == nullptr || home[0] != '/') {
        if (error != nullptr) {
            *error = "neither XDG_STATE_HOME nor HOME names a folder for this user's own files";
        }
        return std::nullopt;
    }
    return PrivateFolderAt(fs::path(home) / ".local" / "state" / "tallydesk", error);
}

}  // namespace tally::platform
