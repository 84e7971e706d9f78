#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
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

namespace {

struct Descriptor {
    int fd;
    ~Descriptor() {
        if (fd >= 0) {
            ::close(fd);
        }
    }
};

}  // namespace

bool ReadOwnerOnlyFile(const std::filesystem::path& file, ldap::SecretBuffer& firstLine,
                       std::string& problem) {
    // Opened without waiting (a FIFO would block an ordinary open until a writer came), then
    // judged by what was opened, so that nothing can be swapped in between.
    Descriptor opened{::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC)};
    struct stat status {};
    if (opened.fd < 0 || ::fstat(opened.fd, &status) != 0) {
        problem = file.string() + ": cannot be read";
        return false;
    }
    if (!S_ISREG(status.st_mode)) {
        problem = file.string() + ": is not a regular file (" +
                  (S_ISDIR(status.st_mode) ? "a folder" : "a pipe, socket or device") +
                  "); a password file must be a plain file";
        return false;
    }
    if ((status.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(status.st_mode & 07777));
        problem = file.string() + ": others may read or change it (mode " + mode +
                  "); a password file must be its owner's alone (chmod 600)";
        return false;
    }
    std::size_t read = 0;
    while (read < firstLine.Capacity()) {
        const ssize_t got = ::read(opened.fd, firstLine.Data() + read, firstLine.Capacity() - read);
        if (got < 0) {
            firstLine.Wipe();
            problem = file.string() + ": cannot be read";
            return false;
        }
        if (got == 0) {
            break;
        }
        read += static_cast<std::size_t>(got);
    }
    if (!KeepFirstLine(firstLine, read)) {
        problem = file.string() + ": holds no password (its first line is empty)";
        return false;
    }
    return true;
}

}  // namespace tally::directory
