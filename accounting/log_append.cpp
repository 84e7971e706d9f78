#include "accounting/log_append.h"

// Moving hands the open, locked log over; the platform files open, write and release it.
LockedLog::LockedLog(LockedLog&& other) noexcept : handle_(other.handle_), locked_(other.locked_) {
    other.handle_ = -1;
    other.locked_ = false;
}

LockedLog& LockedLog::operator=(LockedLog&& other) noexcept {
    if (this != &other) {
        Release();
        handle_ = other.handle_;
        locked_ = other.locked_;
        other.handle_ = -1;
        other.locked_ = false;
    }
    return *this;
}

LockedLog::~LockedLog() {
    Release();
}

LogAppendResult AppendLogRecord(const std::string& logPath, std::string_view record) {
    LogAppendResult result;
    LockedLog log = LockedLog::Open(logPath, result);
    if (!log.Held()) {
        return result;
    }
    return log.Append(record);
}
