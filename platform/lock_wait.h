// The bounded wait for a lock of the append convention, shared by both platforms and by every
// lock of the convention (the store's and the accounting log's): poll the non-blocking lock with
// short sleeps until it is taken, fails, or the time is up, calling the lock wait hook between
// the polls. Neither fcntl nor LockFileEx offers a blocking wait with a time limit, and under
// Wine LockFileEx does not wait for a native holder at all.
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>

namespace tally::platform {

enum class LockAttempt { kTaken, kBusy, kFailed };

// Calls `attempt` until it returns kTaken or kFailed, or `timeout` has passed with every attempt
// kBusy; then fills `error` with the "is locked by another program" text and returns kBusy.
// `attempt` fills `error` itself when it fails.
LockAttempt WaitForLock(const std::filesystem::path& lockFile, std::chrono::milliseconds timeout,
                        const std::function<LockAttempt()>& attempt, std::string* error);

}  // namespace tally::platform
