// The bounded wait for a lock of the append convention, shared by both platforms and by every
// lock of the convention (the store's and the accounting log's): poll the non-blocking lock with
// short sleeps until it is taken, fails, or the time is up, calling the lock wait hook between
// the polls. Neither fcntl nor LockFileEx offers a blocking wait with a time limit, and under
// Wine LockFileEx does not wait for a native holder at all.
//
// The wait is fair among the writers that follow the waiting convention: a writer that has to
// wait says so by holding a shared lock on the byte after the lock byte (kWaitingOffset) until
// it has the lock, and a writer that comes to the lock while others say they wait lets them go
// first. So a writer that has just released the lock never takes it again ahead of one that was
// waiting for it, and a batch that appends every few hundred changes cannot starve a print
// server that appends every few milliseconds. A file opened for writing only cannot take a
// shared lock on POSIX systems; such a writer says that it waits with an exclusive lock on the
// waiting byte, which it may have to try for again while others say so.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

namespace tally::platform {

enum class LockAttempt { kTaken, kBusy, kFailed };

// The waiting convention on one open lock file.
class LockQueue {
  public:
    virtual ~LockQueue() = default;
    // Whether another writer says it waits for the lock.
    virtual bool OthersWaiting() = 0;
    // Says, and stops saying, that this writer waits. False when it could not say so now (the
    // wait then tries again).
    virtual bool JoinWaiters() = 0;
    virtual void LeaveWaiters() = 0;
};

// Calls `attempt` until it returns kTaken or kFailed, or `timeout` has passed with every attempt
// kBusy; then fills `error` with the "is locked by another program" text and returns kBusy.
// `attempt` fills `error` itself when it fails.
// The waiting convention on an open lock file: a descriptor on POSIX, a HANDLE on Windows.
class FileLockQueue final : public LockQueue {
  public:
    explicit FileLockQueue(std::intptr_t handle) : handle_(handle) {}
    bool OthersWaiting() override;
    bool JoinWaiters() override;
    void LeaveWaiters() override;

  private:
    std::intptr_t handle_;
};

// With a `queue`, the wait follows the waiting convention.
LockAttempt WaitForLock(const std::filesystem::path& lockFile, std::chrono::milliseconds timeout,
                        const std::function<LockAttempt()>& attempt, std::string* error,
                        LockQueue* queue = nullptr);

}  // namespace tally::platform
