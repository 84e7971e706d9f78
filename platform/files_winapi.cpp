// File services on Windows. The append lock is LockFileEx on one byte. Under Wine a lock held
// by a native (POSIX) process is not waited for: LockFileEx then fails at once with a lock
// violation, so the wait is a retry loop with a short sleep (platform/lock_wait.h), which is
// also correct on Windows and lets the wait end after a time.
#include "platform/files.h"

#include <windows.h>

#include <algorithm>

#include "platform/lock_wait.h"

namespace tally::platform {
namespace {

HANDLE AsHandle(std::intptr_t value) {
    return reinterpret_cast<HANDLE>(value);
}
std::intptr_t FromHandle(HANDLE handle) {
    return reinterpret_cast<std::intptr_t>(handle);
}

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

std::string SystemMessage(DWORD code) {
    char text[512] = {};
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, code, 0, text, sizeof text, nullptr);
    while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == '\r' ||
                          text[length - 1] == ' ' || text[length - 1] == '.')) {
        text[--length] = '\0';
    }
    if (length == 0) {
        return "system error " + std::to_string(code);
    }
    return text;
}

void Describe(std::string* error, const std::filesystem::path& file, const char* what, DWORD code) {
    if (error) {
        *error = file.string() + ": " + what + ": " + SystemMessage(code);
    }
}

// Closes a handle on every way out of the function that opened it.
struct HandleCloser {
    HANDLE handle;
    ~HandleCloser() {
        if (handle != INVALID_HANDLE_VALUE) {
            CloseHandle(handle);
        }
    }
};

OVERLAPPED LockPosition(std::uint64_t offset = kAppendLockOffset) {
    OVERLAPPED position{};
    position.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFu);
    position.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return position;
}

HANDLE OpenLockFile(const std::filesystem::path& lockFile, std::string* error) {
    HANDLE handle = CreateFileA(lockFile.string().c_str(), GENERIC_READ | GENERIC_WRITE, kShareAll,
                                nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        Describe(error, lockFile, "cannot open the lock file", GetLastError());
    }
    return handle;
}

// One attempt at the lock on the open lock file.
LockAttempt LockOnce(HANDLE handle, const std::filesystem::path& lockFile, std::string* error) {
    OVERLAPPED position = LockPosition();
    if (LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                   &position)) {
        return LockAttempt::kTaken;
    }
    DWORD code = GetLastError();
    if (code == ERROR_LOCK_VIOLATION || code == ERROR_IO_PENDING) {
        return LockAttempt::kBusy;
    }
    Describe(error, lockFile, "cannot lock", code);
    return LockAttempt::kFailed;
}

bool WriteAll(HANDLE handle, std::string_view bytes) {
    while (!bytes.empty()) {
        DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 0x40000000));
        DWORD written = 0;
        if (!WriteFile(handle, bytes.data(), chunk, &written, nullptr)) {
            return false;
        }
        bytes.remove_prefix(written);
    }
    return true;
}

}  // namespace

// Nobody else waits when the waiting byte can be had exclusively for a moment.
bool FileLockQueue::OthersWaiting() {
    OVERLAPPED position = LockPosition(kWaitingOffset);
    if (!LockFileEx(AsHandle(handle_), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                    &position)) {
        return GetLastError() == ERROR_LOCK_VIOLATION || GetLastError() == ERROR_IO_PENDING;
    }
    position = LockPosition(kWaitingOffset);
    UnlockFileEx(AsHandle(handle_), 0, 1, 0, &position);
    return false;
}

bool FileLockQueue::JoinWaiters() {
    OVERLAPPED position = LockPosition(kWaitingOffset);
    return LockFileEx(AsHandle(handle_), LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &position) != FALSE;
}

void FileLockQueue::LeaveWaiters() {
    OVERLAPPED position = LockPosition(kWaitingOffset);
    UnlockFileEx(AsHandle(handle_), 0, 1, 0, &position);
}

std::optional<AppendLock> AppendLock::Acquire(const std::filesystem::path& lockFile,
                                              std::string* error, std::chrono::milliseconds timeout,
                                              bool* busy) {
    if (busy) {
        *busy = false;
    }
    HandleCloser closer{OpenLockFile(lockFile, error)};
    if (closer.handle == INVALID_HANDLE_VALUE) {
        return std::nullopt;
    }
    FileLockQueue queue(FromHandle(closer.handle));
    LockAttempt result = WaitForLock(
        lockFile, timeout, [&] { return LockOnce(closer.handle, lockFile, error); }, error, &queue);
    if (result != LockAttempt::kTaken) {
        if (busy) {
            *busy = result == LockAttempt::kBusy;
        }
        return std::nullopt;
    }
    AppendLock lock(FromHandle(closer.handle));
    closer.handle = INVALID_HANDLE_VALUE;
    return lock;
}

std::optional<AppendLock> AppendLock::TryAcquire(const std::filesystem::path& lockFile, bool* busy,
                                                 std::string* error) {
    *busy = false;
    HandleCloser closer{OpenLockFile(lockFile, error)};
    if (closer.handle == INVALID_HANDLE_VALUE) {
        return std::nullopt;
    }
    LockAttempt result = LockOnce(closer.handle, lockFile, error);
    if (result != LockAttempt::kTaken) {
        *busy = result == LockAttempt::kBusy;
        return std::nullopt;
    }
    AppendLock lock(FromHandle(closer.handle));
    closer.handle = INVALID_HANDLE_VALUE;
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
    if (handle_ == -1) {
        return;
    }
    OVERLAPPED position = LockPosition();
    UnlockFileEx(AsHandle(handle_), 0, 1, 0, &position);
    CloseHandle(AsHandle(handle_));
    handle_ = -1;
}

bool AppendToFile(const std::filesystem::path& file, std::string_view bytes, std::string* error) {
    HandleCloser closer{CreateFileA(file.string().c_str(), GENERIC_WRITE, kShareAll, nullptr,
                                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr)};
    if (closer.handle == INVALID_HANDLE_VALUE) {
        Describe(error, file, "cannot open for appending", GetLastError());
        return false;
    }
    LARGE_INTEGER zero{};
    if (!SetFilePointerEx(closer.handle, zero, nullptr, FILE_END) ||
        !WriteAll(closer.handle, bytes)) {
        Describe(error, file, "cannot append", GetLastError());
        return false;
    }
    return true;
}

std::optional<ReadOnlyFile> ReadOnlyFile::Open(const std::filesystem::path& file, bool* exists,
                                               std::string* error) {
    HANDLE handle = CreateFileA(file.string().c_str(), GENERIC_READ, kShareAll, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        DWORD code = GetLastError();
        if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) {
            *exists = false;
            return ReadOnlyFile(-1);
        }
        Describe(error, file, "cannot open", code);
        return std::nullopt;
    }
    *exists = true;
    return ReadOnlyFile(FromHandle(handle));
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
    if (handle_ != -1) {
        CloseHandle(AsHandle(handle_));
        handle_ = -1;
    }
}

bool ReadOnlyFile::Read(std::uint64_t offset, std::uint64_t maxBytes, std::string& out,
                        std::string* error) {
    out.clear();
    if (handle_ == -1) {
        return true;
    }
    HANDLE handle = AsHandle(handle_);
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(handle, &size)) {
        Describe(error, "file", "cannot read", GetLastError());
        return false;
    }
    std::uint64_t total = static_cast<std::uint64_t>(size.QuadPart);
    if (offset >= total) {
        return true;
    }
    std::uint64_t wanted = std::min(total - offset, maxBytes);
    out.resize(static_cast<std::size_t>(wanted));
    std::size_t got = 0;
    while (got < out.size()) {
        OVERLAPPED position{};
        std::uint64_t at = offset + got;
        position.Offset = static_cast<DWORD>(at & 0xFFFFFFFFu);
        position.OffsetHigh = static_cast<DWORD>(at >> 32);
        DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(out.size() - got, 0x40000000));
        DWORD n = 0;
        if (!ReadFile(handle, out.data() + got, chunk, &n, &position)) {
            DWORD code = GetLastError();
            if (code == ERROR_HANDLE_EOF) {
                break;
            }
            Describe(error, "file", "cannot read", code);
            return false;
        }
        if (n == 0) {
            break;
        }
        got += n;
    }
    out.resize(got);
    return true;
}

bool FlushFileToDisk(const std::filesystem::path& file, std::string* error) {
    // FlushFileBuffers needs a handle with write access; it flushes the file, whoever wrote it.
    HandleCloser closer{CreateFileA(file.string().c_str(), GENERIC_WRITE, kShareAll, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)};
    if (closer.handle == INVALID_HANDLE_VALUE) {
        Describe(error, file, "cannot open to flush it to the disk", GetLastError());
        return false;
    }
    if (!FlushFileBuffers(closer.handle)) {
        Describe(error, file, "cannot flush to the disk", GetLastError());
        return false;
    }
    return true;
}

bool WriteFileDurably(const std::filesystem::path& file, std::string_view bytes,
                      std::string* error) {
    HandleCloser closer{CreateFileA(file.string().c_str(), GENERIC_WRITE, kShareAll, nullptr,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr)};
    if (closer.handle == INVALID_HANDLE_VALUE) {
        Describe(error, file, "cannot create", GetLastError());
        return false;
    }
    if (!WriteAll(closer.handle, bytes) || !FlushFileBuffers(closer.handle)) {
        Describe(error, file, "cannot write", GetLastError());
        return false;
    }
    return true;
}

bool ReplaceFileDurably(const std::filesystem::path& from, const std::filesystem::path& to,
                        std::string* error) {
    // A reader that opened the target without FILE_SHARE_DELETE blocks the rename for a moment.
    DWORD code = 0;
    for (int attempt = 0; attempt < 200; ++attempt) {
        if (MoveFileExA(from.string().c_str(), to.string().c_str(),
                        MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            return true;
        }
        code = GetLastError();
        if (code != ERROR_ACCESS_DENIED && code != ERROR_SHARING_VIOLATION) {
            break;
        }
        Sleep(10);
    }
    Describe(error, from, ("cannot rename to " + to.string()).c_str(), code);
    return false;
}

}  // namespace tally::platform
