// The log append on Windows. The log is opened the way every writer of the shared log opens it
// (write access, shared reading and writing, created when absent) and locked by LockFileEx on the
// convention's byte. Under Wine a lock held by a native process is not waited for, LockFileEx
// fails at once with a lock violation, so the wait is a retry loop, correct on Windows as well.
// The record is written at the end of file as the system sees it at the moment of writing (the
// offset 0xFFFFFFFF:0xFFFFFFFF), which local Windows file systems make one atomic append.
#include "accounting/log_append.h"

#include <windows.h>

#include <algorithm>

#include "accounting/log_messages.h"
#include "platform/files.h"

namespace {

constexpr DWORD kLogSharing = FILE_SHARE_READ | FILE_SHARE_WRITE;
constexpr DWORD kLongestPause = 8;

class LogHandle {
  public:
    explicit LogHandle(const std::string& path)
        : handle_(CreateFileA(path.c_str(), GENERIC_WRITE, kLogSharing, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr)) {}
    LogHandle(const LogHandle&) = delete;
    LogHandle& operator=(const LogHandle&) = delete;
    ~LogHandle() {
        if (opened()) {
            CloseHandle(handle_);
        }
    }
    bool opened() const { return handle_ != INVALID_HANDLE_VALUE; }
    HANDLE get() const { return handle_; }

  private:
    HANDLE handle_;
};

OVERLAPPED LockPosition() {
    OVERLAPPED position{};
    position.Offset = static_cast<DWORD>(tally::platform::kAppendLockOffset & 0xFFFFFFFFu);
    position.OffsetHigh = static_cast<DWORD>(tally::platform::kAppendLockOffset >> 32);
    return position;
}

bool LockIsBusy(DWORD code) {
    return code == ERROR_LOCK_VIOLATION || code == ERROR_IO_PENDING;
}

// Held for the object's lifetime; `held()` false leaves the error in GetLastError().
class LogLock {
  public:
    explicit LogLock(HANDLE log) : log_(log) {
        DWORD pause = 1;
        for (;;) {
            OVERLAPPED position = LockPosition();
            if (LockFileEx(log_, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                           &position)) {
                held_ = true;
                return;
            }
            const DWORD code = GetLastError();
            if (!LockIsBusy(code)) {
                return;
            }
            Sleep(pause);
            pause = std::min(pause * 2, kLongestPause);
        }
    }
    LogLock(const LogLock&) = delete;
    LogLock& operator=(const LogLock&) = delete;
    ~LogLock() {
        if (held_) {
            OVERLAPPED position = LockPosition();
            UnlockFileEx(log_, 0, 1, 0, &position);
        }
    }
    bool held() const { return held_; }

  private:
    HANDLE log_;
    bool held_ = false;
};

bool WriteAtEnd(HANDLE log, std::string_view record) {
    if (SetFilePointer(log, 0, nullptr, FILE_END) == INVALID_SET_FILE_POINTER &&
        GetLastError() != NO_ERROR) {
        return false;
    }
    OVERLAPPED atEnd{};
    atEnd.Offset = 0xFFFFFFFFu;
    atEnd.OffsetHigh = 0xFFFFFFFFu;
    DWORD written = 0;
    if (!WriteFile(log, record.data(), static_cast<DWORD>(record.size()), &written, &atEnd)) {
        return false;
    }
    if (written != record.size()) {
        SetLastError(ERROR_WRITE_FAULT);
        return false;
    }
    return true;
}

LogAppendResult Failed(LogAppendStage stage) {
    return {stage, SystemErrorText()};
}

}  // namespace

LogAppendResult AppendLogRecord(const std::string& logPath, std::string_view record) {
    // A record is a few hundred bytes; anything near 4 GB is a fault, never a record.
    if (record.size() > 0x7FFFFFFFu) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return Failed(LogAppendStage::Write);
    }
    LogHandle log(logPath);
    if (!log.opened()) {
        return Failed(LogAppendStage::Open);
    }
    LogLock lock(log.get());
    if (!lock.held()) {
        return Failed(LogAppendStage::Write);
    }
    if (!WriteAtEnd(log.get(), record)) {
        return Failed(LogAppendStage::Write);
    }
    return {};
}

std::string SystemErrorText() {
    const DWORD code = GetLastError();
    char* message = nullptr;
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<char*>(&message),
        0, nullptr);
    std::string text = FormatSystemErrorText(
        length > 0 && message ? std::string_view(message, length) : std::string_view(),
        static_cast<int>(code));
    if (message) {
        LocalFree(message);
    }
    return text;
}
