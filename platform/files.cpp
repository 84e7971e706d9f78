// The parts of the file services that need no operating-system calls of their own.
#include "platform/files.h"

#include <algorithm>
#include <atomic>
#include <optional>
#include <thread>

#include "platform/lock_wait.h"

namespace tally::platform {
namespace {

std::atomic<LockWaitHook> lockWaitHook{nullptr};

// The first polls come quickly, so that a lock held for one append is had at once; later ones
// every few milliseconds.
constexpr std::chrono::microseconds kFirstPause{250};
constexpr std::chrono::microseconds kLongestPause{2000};

// Says that this writer waits for as long as it lives.
class Waiting {
  public:
    explicit Waiting(LockQueue* queue) : queue_(queue) { Join(); }
    Waiting(const Waiting&) = delete;
    Waiting& operator=(const Waiting&) = delete;
    ~Waiting() {
        if (joined_) {
            queue_->LeaveWaiters();
        }
    }
    void Join() {
        if (queue_ && !joined_) {
            joined_ = queue_->JoinWaiters();
        }
    }

  private:
    LockQueue* queue_;
    bool joined_ = false;
};

}  // namespace

LockWaitHook SetLockWaitHook(LockWaitHook hook) {
    return lockWaitHook.exchange(hook);
}

LockAttempt WaitForLock(const std::filesystem::path& lockFile, std::chrono::milliseconds timeout,
                        const std::function<LockAttempt()>& attempt, std::string* error,
                        LockQueue* queue) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + timeout;
    std::chrono::microseconds pause = kFirstPause;
    // Those already waiting go first: until they have had the lock, a newcomer only watches.
    while (queue && queue->OthersWaiting() && Clock::now() < deadline) {
        if (LockWaitHook hook = lockWaitHook.load()) {
            hook();
        }
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, kLongestPause);
    }
    pause = kFirstPause;
    std::optional<Waiting> waiting;
    for (;;) {
        LockAttempt result = attempt();
        if (result != LockAttempt::kBusy) {
            return result;
        }
        if (!waiting) {
            waiting.emplace(queue);
        } else {
            waiting->Join();
        }
        Clock::time_point now = Clock::now();
        if (now >= deadline) {
            if (error) {
                *error = lockFile.string() + " is locked by another program (gave up after " +
                         std::to_string(timeout.count()) + " ms)";
            }
            return LockAttempt::kBusy;
        }
        if (LockWaitHook hook = lockWaitHook.load()) {
            hook();
        }
        std::this_thread::sleep_for(
            std::min<Clock::duration>(pause, deadline - Clock::now() + kFirstPause));
        pause = std::min(pause * 2, kLongestPause);
    }
}

bool AppendUnderLock(const std::filesystem::path& lockFile, const std::filesystem::path& file,
                     std::string_view bytes, std::string* error,
                     std::chrono::milliseconds timeout) {
    auto lock = AppendLock::Acquire(lockFile, error, timeout);
    if (!lock) {
        return false;
    }
    return AppendToFile(file, bytes, error);
}

bool ReadWholeFile(const std::filesystem::path& file, std::string& out, std::string* error) {
    bool exists = false;
    auto reader = ReadOnlyFile::Open(file, &exists, error);
    if (!reader) {
        return false;
    }
    if (!exists) {
        if (error) {
            *error = file.string() + ": file not found";
        }
        return false;
    }
    return reader->Read(0, kToEnd, out, error);
}

}  // namespace tally::platform
