// The log append on POSIX systems: the same convention with an fcntl lock on the log's own
// descriptor (the lock Wine takes for a Windows writer's LockFileEx), and O_APPEND so that the
// record lands at the end even for a writer that ignores the lock.
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "accounting/log_append.h"
#include "accounting/log_messages.h"
#include "platform/files.h"
#include "platform/lock_wait.h"

namespace {

using tally::platform::LockAttempt;
using Handle = int;

struct flock LockRecord(short type) {
    struct flock record {};
    record.l_type = type;
    record.l_whence = SEEK_SET;
    record.l_start = static_cast<off_t>(tally::platform::kAppendLockOffset);
    record.l_len = 1;
    return record;
}

LockAttempt TryLock(Handle handle) {
    const int fd = handle;
    struct flock record = LockRecord(F_WRLCK);
    while (::fcntl(fd, F_SETLK, &record) != 0) {
        if (errno == EINTR) {
            continue;
        }
        return (errno == EAGAIN || errno == EACCES) ? LockAttempt::kBusy : LockAttempt::kFailed;
    }
    return LockAttempt::kTaken;
}

bool WriteWhole(int fd, std::string_view records) {
    while (!records.empty()) {
        const ssize_t written = ::write(fd, records.data(), records.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        records.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

LogAppendResult Failed(LogAppendStage stage) {
    return {stage, SystemErrorText()};
}

constexpr const char* kNotAFile = "it is not an ordinary file (a pipe or a device)";

// Opened without waiting (a pipe in the log's place that nobody reads would hold the open for
// ever), then kept only when it is an ordinary file, and from then on written with waiting.
int OpenOrdinaryFileForAppending(const std::string& path, bool& notAFile) {
    notAFile = false;
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NONBLOCK, 0666);
    if (fd < 0) {
        notAFile = errno == ENXIO;  // a pipe without a reader
        return -1;
    }
    struct stat info {};
    const int flags = ::fcntl(fd, F_GETFL);
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || flags < 0 ||
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        notAFile = true;
        ::close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

LogAppendResult CheckLogWritable(const std::string& logPath) {
    bool notAFile = false;
    const int fd = OpenOrdinaryFileForAppending(logPath, notAFile);
    if (fd < 0) {
        return notAFile ? LogAppendResult{LogAppendStage::Open, kNotAFile}
                        : Failed(LogAppendStage::Open);
    }
    ::close(fd);
    return {};
}

LockedLog LockedLog::Open(const std::string& logPath, LogAppendResult& result,
                          std::chrono::milliseconds wait) {
    LockedLog log;
    bool notAFile = false;
    const int fd = OpenOrdinaryFileForAppending(logPath, notAFile);
    if (fd < 0) {
        result = notAFile ? LogAppendResult{LogAppendStage::Open, kNotAFile}
                          : Failed(LogAppendStage::Open);
        return log;
    }
    log.handle_ = fd;
    tally::platform::FileLockQueue queue(fd);
    switch (tally::platform::WaitForLock(
        logPath, wait, [fd] { return TryLock(fd); }, nullptr, &queue)) {
        case LockAttempt::kTaken:
            log.locked_ = true;
            result = {};
            break;
        case LockAttempt::kBusy:
            errno = EAGAIN;
            result = Failed(LogAppendStage::Locked);
            break;
        case LockAttempt::kFailed:
            result = Failed(LogAppendStage::Write);
            break;
    }
    return log;
}

LogAppendResult LockedLog::Append(std::string_view records) {
    const int fd = static_cast<int>(handle_);
    if (!locked_ || !WriteWhole(fd, records) || ::fsync(fd) != 0) {
        return Failed(LogAppendStage::Write);
    }
    return {};
}

// Closing the descriptor also releases the lock; errno is kept for a caller's SystemErrorText.
void LockedLog::Release() {
    if (handle_ >= 0) {
        const int saved = errno;
        ::close(static_cast<int>(handle_));
        errno = saved;
    }
    handle_ = -1;
    locked_ = false;
}

std::string SystemErrorText() {
    const int code = errno;
    return FormatSystemErrorText(std::strerror(code), code);
}
