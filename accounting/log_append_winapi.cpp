// The log append on Windows. The log is opened the way every writer of the shared log opens it
// (write access, shared reading and writing, created when absent) and locked by LockFileEx on the
// convention's byte. Under Wine a lock held by a native process is not waited for, LockFileEx
// fails at once with a lock violation, so the wait is a bounded retry loop, correct on Windows as
// well. The records are written at the end of file as the system sees it at the moment of writing
// (the offset 0xFFFFFFFF:0xFFFFFFFF), which local Windows file systems make one atomic append,
// and flushed to the disk before the writer reports them written.
#include <windows.h>

#include "accounting/log_append.h"
#include "accounting/log_messages.h"
#include "platform/files.h"
#include "platform/lock_wait.h"

namespace {

using tally::platform::LockAttempt;
using Handle = HANDLE;

constexpr DWORD kLogSharing = FILE_SHARE_READ | FILE_SHARE_WRITE;

OVERLAPPED LockPosition() {
    OVERLAPPED position{};
    position.Offset = static_cast<DWORD>(tally::platform::kAppendLockOffset & 0xFFFFFFFFu);
    position.OffsetHigh = static_cast<DWORD>(tally::platform::kAppendLockOffset >> 32);
    return position;
}

LockAttempt TryLock(Handle handle) {
    HANDLE log = handle;
    OVERLAPPED position = LockPosition();
    if (LockFileEx(log, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &position)) {
        return LockAttempt::kTaken;
    }
    const DWORD code = GetLastError();
    return (code == ERROR_LOCK_VIOLATION || code == ERROR_IO_PENDING) ? LockAttempt::kBusy
                                                                      : LockAttempt::kFailed;
}

bool WriteAtEnd(HANDLE log, std::string_view records) {
    if (SetFilePointer(log, 0, nullptr, FILE_END) == INVALID_SET_FILE_POINTER &&
        GetLastError() != NO_ERROR) {
        return false;
    }
    OVERLAPPED atEnd{};
    atEnd.Offset = 0xFFFFFFFFu;
    atEnd.OffsetHigh = 0xFFFFFFFFu;
    DWORD written = 0;
    if (!WriteFile(log, records.data(), static_cast<DWORD>(records.size()), &written, &atEnd)) {
        return false;
    }
    if (written != records.size()) {
        SetLastError(ERROR_WRITE_FAULT);
        return false;
    }
    return true;
}

LogAppendResult Failed(LogAppendStage stage) {
    return {stage, SystemErrorText()};
}

HANDLE AsHandle(std::intptr_t handle) {
    return reinterpret_cast<HANDLE>(handle);
}

}  // namespace

LogAppendResult CheckLogWritable(const std::string& logPath) {
    HANDLE handle = CreateFileA(logPath.c_str(), GENERIC_WRITE, kLogSharing, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return Failed(LogAppendStage::Open);
    }
    CloseHandle(handle);
    return {};
}

LockedLog LockedLog::Open(const std::string& logPath, LogAppendResult& result,
                          std::chrono::milliseconds wait) {
    LockedLog log;
    HANDLE handle = CreateFileA(logPath.c_str(), GENERIC_WRITE, kLogSharing, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        result = Failed(LogAppendStage::Open);
        return log;
    }
    log.handle_ = reinterpret_cast<std::intptr_t>(handle);
    tally::platform::FileLockQueue queue(reinterpret_cast<std::intptr_t>(handle));
    switch (tally::platform::WaitForLock(
        logPath, wait, [handle] { return TryLock(handle); }, nullptr, &queue)) {
        case LockAttempt::kTaken:
            log.locked_ = true;
            result = {};
            break;
        case LockAttempt::kBusy:
            SetLastError(ERROR_LOCK_VIOLATION);
            result = Failed(LogAppendStage::Locked);
            break;
        case LockAttempt::kFailed:
            result = Failed(LogAppendStage::Write);
            break;
    }
    return log;
}

LogAppendResult LockedLog::Append(std::string_view records) {
    // Records are a few hundred bytes each; anything near 4 GB is a fault, never records.
    if (records.size() > 0x7FFFFFFFu) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return Failed(LogAppendStage::Write);
    }
    HANDLE log = AsHandle(handle_);
    if (!locked_ || !WriteAtEnd(log, records) || !FlushFileBuffers(log)) {
        return Failed(LogAppendStage::Write);
    }
    return {};
}

// The last error is kept for a caller's SystemErrorText.
void LockedLog::Release() {
    if (handle_ != -1) {
        const DWORD saved = GetLastError();
        HANDLE log = AsHandle(handle_);
        if (locked_) {
            OVERLAPPED position = LockPosition();
            UnlockFileEx(log, 0, 1, 0, &position);
        }
        CloseHandle(log);
        SetLastError(saved);
    }
    handle_ = -1;
    locked_ = false;
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
