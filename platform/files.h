// Portable file services shared by the directory store and the accounting log writer:
// whole-record appends under a byte-range lock, reads that keep seeing one file even while
// another process replaces it, and durable replacement of a file.
//
// The append convention (docs/directory-store.md): a writer takes an exclusive lock on the one
// byte at kAppendLockOffset of a lock file, seeks to the end of the target, writes the whole
// record, and unlocks. The byte lies far past any real data, so the lock never stops anybody
// from reading or writing the file's contents; Windows writers (LockFileEx) and POSIX writers
// (fcntl) see each other's locks, also when the Windows writer runs under Wine.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace tally::platform {

inline constexpr std::uint64_t kAppendLockOffset = std::uint64_t{1} << 40;
// The byte a writer holds shared while it waits for the lock byte (platform/lock_wait.h).
inline constexpr std::uint64_t kWaitingOffset = kAppendLockOffset + 1;

// How long AppendLock::Acquire waits for a lock that another process holds before it gives up.
inline constexpr std::chrono::milliseconds kDefaultLockWait{5000};

// Called between the polls of every AppendLock::Acquire that waits, on the waiting thread (every
// few milliseconds), so that a program can keep its windows painted meanwhile. It must not take
// the append lock itself.
using LockWaitHook = void (*)();
// Installs `hook` for the whole process (null: none) and returns the one it replaces.
LockWaitHook SetLockWaitHook(LockWaitHook hook);

// The exclusive lock of the append convention, held for the object's lifetime.
class AppendLock {
  public:
    // Takes the lock on `lockFile` (created when absent), polling for at most `timeout` while
    // another holder has it, calling the lock wait hook between the polls. On failure returns
    // nothing and describes why in `error`; when the time ran out with the lock still held by
    // somebody else, `busy` (if given) is set and `error` says the file "is locked by another
    // program".
    static std::optional<AppendLock> Acquire(const std::filesystem::path& lockFile,
                                             std::string* error,
                                             std::chrono::milliseconds timeout = kDefaultLockWait,
                                             bool* busy = nullptr);
    // Takes the lock only if nobody holds it; `busy` tells a held lock from a failure.
    static std::optional<AppendLock> TryAcquire(const std::filesystem::path& lockFile, bool* busy,
                                                std::string* error);

    AppendLock(AppendLock&& other) noexcept;
    AppendLock& operator=(AppendLock&& other) noexcept;
    AppendLock(const AppendLock&) = delete;
    AppendLock& operator=(const AppendLock&) = delete;
    ~AppendLock();

  private:
    explicit AppendLock(std::intptr_t handle) : handle_(handle) {}
    void Release();
    std::intptr_t handle_ = -1;
};

// Writes `bytes` at the end of `file` (created when absent) with as few writes as the system
// allows (one, normally). Call it while holding the AppendLock of the file.
bool AppendToFile(const std::filesystem::path& file, std::string_view bytes, std::string* error);

// Takes the lock on `lockFile` (waiting for it at most `timeout`, as AppendLock::Acquire),
// appends `bytes` to `file` and unlocks: the whole convention in one call. `lockFile` and `file`
// may be the same path (the accounting log locks itself).
bool AppendUnderLock(const std::filesystem::path& lockFile, const std::filesystem::path& file,
                     std::string_view bytes, std::string* error,
                     std::chrono::milliseconds timeout = kDefaultLockWait);

// A file opened for reading. Every read goes to the file that was opened, even when another
// process renames a new file over its name meanwhile; others may write, rename or delete it.
class ReadOnlyFile {
  public:
    // Opens `file`. A file that does not exist is not an error: `exists` is set false.
    static std::optional<ReadOnlyFile> Open(const std::filesystem::path& file, bool* exists,
                                            std::string* error);

    ReadOnlyFile(ReadOnlyFile&& other) noexcept;
    ReadOnlyFile& operator=(ReadOnlyFile&& other) noexcept;
    ReadOnlyFile(const ReadOnlyFile&) = delete;
    ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;
    ~ReadOnlyFile();

    // Reads from `offset` up to `maxBytes` bytes (or to the end) into `out`, replacing it.
    bool Read(std::uint64_t offset, std::uint64_t maxBytes, std::string& out, std::string* error);

  private:
    explicit ReadOnlyFile(std::intptr_t handle) : handle_(handle) {}
    void Close();
    std::intptr_t handle_ = -1;
};

inline constexpr std::uint64_t kToEnd = ~std::uint64_t{0};

// Reads a whole file; false (with `error`) when it is missing or unreadable.
bool ReadWholeFile(const std::filesystem::path& file, std::string& out, std::string* error);

// Flushes what was written to `file` (by any process, through any handle) to the disk: fsync on
// POSIX, FlushFileBuffers on Windows. False (with `error`) when the file cannot be opened for
// writing or the flush fails.
bool FlushFileToDisk(const std::filesystem::path& file, std::string* error);

// Creates or truncates `file`, writes `bytes` and flushes them to the disk before returning.
bool WriteFileDurably(const std::filesystem::path& file, std::string_view bytes,
                      std::string* error);

// Renames `from` over `to` in one step (the old `to`, if any, is replaced) and makes the rename
// durable.
bool ReplaceFileDurably(const std::filesystem::path& from, const std::filesystem::path& to,
                        std::string* error);

}  // namespace tally::platform
