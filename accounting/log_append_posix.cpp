// The log append on POSIX systems: the same convention with an fcntl lock on the log's own
// descriptor (the lock Wine takes for a Windows writer's LockFileEx), and O_APPEND so that the
// record lands at the end even for a writer that ignores the lock.
#include "accounting/log_append.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "accounting/log_messages.h"
#include "platform/files.h"

namespace {

class LogDescriptor {
  public:
    explicit LogDescriptor(const std::string& path)
        : fd_(::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666)) {}
    LogDescriptor(const LogDescriptor&) = delete;
    LogDescriptor& operator=(const LogDescriptor&) = delete;
    // Closing also releases the lock.
    ~LogDescriptor() {
        if (opened()) {
            const int saved = errno;
            ::close(fd_);
            errno = saved;
        }
    }
    bool opened() const { return fd_ >= 0; }
    int get() const { return fd_; }

  private:
    int fd_;
};

struct flock LockRecord(short type) {
    struct flock record {};
    record.l_type = type;
    record.l_whence = SEEK_SET;
    record.l_start = static_cast<off_t>(tally::platform::kAppendLockOffset);
    record.l_len = 1;
    return record;
}

bool Lock(int fd) {
    struct flock record = LockRecord(F_WRLCK);
    while (::fcntl(fd, F_SETLKW, &record) != 0) {
        if (errno != EINTR) {
            return false;
        }
    }
    return true;
}

bool WriteWhole(int fd, std::string_view record) {
    while (!record.empty()) {
        const ssize_t written = ::write(fd, record.data(), record.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        record.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

LogAppendResult Failed(LogAppendStage stage) {
    return {stage, SystemErrorText()};
}

}  // namespace

LogAppendResult AppendLogRecord(const std::string& logPath, std::string_view record) {
    LogDescriptor log(logPath);
    if (!log.opened()) {
        return Failed(LogAppendStage::Open);
    }
    if (!Lock(log.get()) || !WriteWhole(log.get(), record)) {
        return Failed(LogAppendStage::Write);
    }
    return {};
}

std::string SystemErrorText() {
    const int code = errno;
    return FormatSystemErrorText(std::strerror(code), code);
}
