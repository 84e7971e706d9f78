// File services on POSIX systems. The append lock is an fcntl record lock; where the system
// has open-file-description locks they are used, so that two lock holders inside one process
// (two stores on one folder, threads) exclude each other too. They conflict with classic
// fcntl locks, which is what Wine's server takes for a Windows program's LockFileEx.
#include "platform/files.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/lock_wait.h"

namespace tally::platform {
namespace {

#ifdef F_OFD_SETLK
constexpr int kLockTry = F_OFD_SETLK;
constexpr int kLockQuery = F_OFD_GETLK;
#else
constexpr int kLockTry = F_SETLK;
constexpr int kLockQuery = F_GETLK;
#endif

void Describe(std::string* error, const std::filesystem::path& file, const char* what) {
    if (error) {
        *error = file.string() + ": " + what + ": " + std::strerror(errno);
    }
}

struct flock LockRecord(short type, std::uint64_t offset = kAppendLockOffset) {
    struct flock record {};
    record.l_type = type;
    record.l_whence = SEEK_SET;
    record.l_start = static_cast<off_t>(offset);
    record.l_len = 1;
    record.l_pid = 0;
    return record;
}

int OpenLockFile(const std::filesystem::path& lockFile, std::string* error) {
    int fd = ::open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
        Describe(error, lockFile, "cannot open the lock file");
    }
    return fd;
}

bool WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

// Closes a descriptor on every way out of the function that opened it.
struct FdCloser {
    int fd;
    ~FdCloser() {
        if (fd >= 0) {
            ::close(fd);
        }
    }
};

// One attempt at the lock on the open lock file.
LockAttempt LockOnce(int fd, const std::filesystem::path& lockFile, std::string* error) {
    struct flock record = LockRecord(F_WRLCK);
    for (;;) {
        if (::fcntl(fd, kLockTry, &record) == 0) {
            return LockAttempt::kTaken;
        }
        if (errno == EAGAIN || errno == EACCES) {
            return LockAttempt::kBusy;
        }
        if (errno != EINTR) {
            Describe(error, lockFile, "cannot lock");
            return LockAttempt::kFailed;
        }
    }
}

}  // namespace

bool FileLockQueue::OthersWaiting() {
    struct flock record = LockRecord(F_WRLCK, kWaitingOffset);
    return ::fcntl(static_cast<int>(handle_), kLockQuery, &record) == 0 && record.l_type != F_UNLCK;
}

bool FileLockQueue::JoinWaiters() {
    struct flock record = LockRecord(F_RDLCK, kWaitingOffset);
    if (::fcntl(static_cast<int>(handle_), kLockTry, &record) == 0) {
        return true;
    }
    if (errno != EBADF) {
        return false;
    }
    record = LockRecord(F_WRLCK, kWaitingOffset);
    return ::fcntl(static_cast<int>(handle_), kLockTry, &record) == 0;
}

void FileLockQueue::LeaveWaiters() {
    struct flock record = LockRecord(F_UNLCK, kWaitingOffset);
    ::fcntl(static_cast<int>(handle_), kLockTry, &record);
}

std::optional<AppendLock> AppendLock::Acquire(const std::filesystem::path& lockFile,
                                              std::string* error, std::chrono::milliseconds timeout,
                                              bool* busy) {
    if (busy) {
        *busy = false;
    }
    FdCloser closer{OpenLockFile(lockFile, error)};
    if (closer.fd < 0) {
        return std::nullopt;
    }
    FileLockQueue queue(closer.fd);
    LockAttempt result = WaitForLock(
        lockFile, timeout, [&] { return LockOnce(closer.fd, lockFile, error); }, error, &queue);
    if (result != LockAttempt::kTaken) {
        if (busy) {
            *busy = result == LockAttempt::kBusy;
        }
        return std::nullopt;
    }
    AppendLock lock(closer.fd);
    closer.fd = -1;
    return lock;
}

std::optional<AppendLock> AppendLock::TryAcquire(const std::filesystem::path& lockFile, bool* busy,
                                                 std::string* error) {
    *busy = false;
    FdCloser closer{OpenLockFile(lockFile, error)};
    if (closer.fd < 0) {
        return std::nullopt;
    }
    LockAttempt result = LockOnce(closer.fd, lockFile, error);
    if (result != LockAttempt::kTaken) {
        *busy = result == LockAttempt::kBusy;
        return std::nullopt;
    }
    AppendLock lock(closer.fd);
    closer.fd = -1;
    return lock;
}

AppendLock::AppendLock(AppendLock&& other) noexcept : handle_(other.handle_) {
    other.handle_ = -1;
}

AppendLock& AppendLock::operator=(AppendLock&& other) noexcept {
    if (this != &other) {
        Release();
        handle_ = other.handle_;
        other.handle_ = -1;
    }
    return *this;
}

AppendLock::~AppendLock() {
    Release();
}

void AppendLock::Release() {
    if (handle_ < 0) {
        return;
    }
    int fd = static_cast<int>(handle_);
    struct flock record = LockRecord(F_UNLCK);
    ::fcntl(fd, kLockTry, &record);
    ::close(fd);
    handle_ = -1;
}

bool AppendToFile(const std::filesystem::path& file, std::string_view bytes, std::string* error) {
    FdCloser closer{::open(file.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666)};
    if (closer.fd < 0) {
        Describe(error, file, "cannot open for appending");
        return false;
    }
    if (!WriteAll(closer.fd, bytes)) {
        Describe(error, file, "cannot append");
        return false;
    }
    return true;
}

std::optional<ReadOnlyFile> ReadOnlyFile::Open(const std::filesystem::path& file, bool* exists,
                                               std::string* error) {
    int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) {
            *exists = false;
            return ReadOnlyFile(-1);
        }
        Describe(error, file, "cannot open");
        return std::nullopt;
    }
    *exists = true;
    return ReadOnlyFile(fd);
}

ReadOnlyFile::ReadOnlyFile(ReadOnlyFile&& other) noexcept : handle_(other.handle_) {
    other.handle_ = -1;
}

ReadOnlyFile& ReadOnlyFile::operator=(ReadOnlyFile&& other) noexcept {
    if (this != &other) {
        Close();
        handle_ = other.handle_;
        other.handle_ = -1;
    }
    return *this;
}

ReadOnlyFile::~ReadOnlyFile() {
    Close();
}

void ReadOnlyFile::Close() {
    if (handle_ >= 0) {
        ::close(static_cast<int>(handle_));
        handle_ = -1;
    }
}

bool ReadOnlyFile::Read(std::uint64_t offset, std::uint64_t maxBytes, std::string& out,
                        std::string* error) {
    out.clear();
    if (handle_ < 0) {
        return true;
    }
    int fd = static_cast<int>(handle_);
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        if (error) {
            *error = std::string("cannot read: ") + std::strerror(errno);
        }
        return false;
    }
    std::uint64_t size = static_cast<std::uint64_t>(info.st_size);
    if (offset >= size) {
        return true;
    }
    std::uint64_t wanted = std::min(size - offset, maxBytes);
    out.resize(static_cast<std::size_t>(wanted));
    std::size_t got = 0;
    while (got < out.size()) {
        ssize_t n =
            ::pread(fd, out.data() + got, out.size() - got, static_cast<off_t>(offset + got));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            if (error) {
                *error = std::string("cannot read: ") + std::strerror(errno);
            }
            return false;
        }
        if (n == 0) {
            break;
        }
        got += static_cast<std::size_t>(n);
    }
    out.resize(got);
    return true;
}

bool FlushFileToDisk(const std::filesystem::path& file, std::string* error) {
    FdCloser closer{::open(file.c_str(), O_WRONLY | O_CLOEXEC)};
    if (closer.fd < 0) {
        Describe(error, file, "cannot open to flush it to the disk");
        return false;
    }
    while (::fsync(closer.fd) != 0) {
        if (errno != EINTR) {
            Describe(error, file, "cannot flush to the disk");
            return false;
        }
    }
    return true;
}

bool WriteFileDurably(const std::filesystem::path& file, std::string_view bytes,
                      std::string* error) {
    FdCloser closer{::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666)};
    if (closer.fd < 0) {
        Describe(error, file, "cannot create");
        return false;
    }
    if (!WriteAll(closer.fd, bytes) || ::fsync(closer.fd) != 0) {
        Describe(error, file, "cannot write");
        return false;
    }
    return true;
}

bool ReplaceFileDurably(const std::filesystem::path& from, const std::filesystem::path& to,
                        std::string* error) {
    if (::rename(from.c_str(), to.c_str()) != 0) {
        Describe(error, from, ("cannot rename to " + to.string()).c_str());
        return false;
    }
    // The rename itself lives in the folder: flush the folder so that it survives a crash.
    std::filesystem::path folder = to.has_parent_path() ? to.parent_path() : ".";
    FdCloser dir{::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
    if (dir.fd >= 0) {
        ::fsync(dir.fd);
    }
    return true;
}

}  // namespace tally::platform
