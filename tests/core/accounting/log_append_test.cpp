// The log append of the platform: a missing log is created, records follow each other whole, and
// a log that cannot be opened gives the operator's message with the system's text and code.
#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

#include <filesystem>
#include <fstream>
#include <sstream>

#include "accounting/log_append.h"
#include "accounting/transaction_log.h"
#include "platform/files.h"

namespace {

namespace fs = std::filesystem;

std::string ReadAll(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

class LogAppendTest : public ::testing::Test {
  protected:
    void SetUp() override {
        folder_ = fs::temp_directory_path() /
                  ("tally-log-append-" +
                   std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(folder_);
        fs::create_directories(folder_);
    }
    void TearDown() override { fs::remove_all(folder_); }
    fs::path folder_;
};

TEST_F(LogAppendTest, AMissingLogIsCreatedAndRecordsFollowWhole) {
    const fs::path log = folder_ / "JOBTALLY.LOG";
    EXPECT_TRUE(AppendLogRecord(log.string(), "first\r\n").Written());
    EXPECT_EQ(ReadAll(log), "first\r\n");
    // Far longer than the old 256-character line buffer.
    const std::string longRecord = "\"" + std::string(600, 'N') + "\",\"Deposit\"\r\n";
    EXPECT_TRUE(AppendLogRecord(log.string(), longRecord).Written());
    EXPECT_TRUE(AppendLogRecord(log.string(), "third\r\n").Written());
    EXPECT_EQ(ReadAll(log), "first\r\n" + longRecord + "third\r\n");
}

TEST_F(LogAppendTest, AnExistingLogKeepsWhatItHeld) {
    const fs::path log = folder_ / "JOBTALLY.LOG";
    std::ofstream(log, std::ios::binary) << "print job\r\n";
    EXPECT_TRUE(AppendLogRecord(log.string(), "record\r\n").Written());
    EXPECT_EQ(ReadAll(log), "print job\r\nrecord\r\n");
}

TEST_F(LogAppendTest, ALogThatCannotBeOpenedNamesPathAndSystemError) {
    const std::string log = (folder_ / "MISSING" / "JOBTALLY.LOG").string();
    const LogAppendResult result = AppendLogRecord(log, "record\r\n");
    EXPECT_EQ(result.stage, LogAppendStage::Open);
    EXPECT_FALSE(fs::exists(log));
    // "<system text> (<code>)": the code of a missing folder is 3 on Windows, 2 (ENOENT) here.
    EXPECT_TRUE(result.errorText.ends_with(" (3)") || result.errorText.ends_with(" (2)"))
        << result.errorText;
    EXPECT_GT(result.errorText.size(), 4u) << "the system's own text is missing";
    const std::string message = LogAppendFailureMessage(result, log);
    EXPECT_EQ(message, "Unable to open " + log + ":\n" + result.errorText);
    EXPECT_EQ(message.find('\r'), std::string::npos);
}

// A lock on the convention's byte, taken the way another program takes it.
class ForeignLock {
  public:
    explicit ForeignLock(const fs::path& file) {
#ifdef _WIN32
        handle_ =
            CreateFileA(file.string().c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                        nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        OVERLAPPED at{};
        at.OffsetHigh = static_cast<DWORD>(tally::platform::kAppendLockOffset >> 32);
        held_ = LockFileEx(handle_, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                           &at) != 0;
#else
        fd_ = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        struct flock lock {};
        lock.l_type = F_WRLCK;
        lock.l_whence = SEEK_SET;
        lock.l_start = static_cast<off_t>(tally::platform::kAppendLockOffset);
        lock.l_len = 1;
        held_ = ::fcntl(fd_, F_OFD_SETLK, &lock) == 0;  // conflicts within one process too
#endif
    }
    ~ForeignLock() {
#ifdef _WIN32
        CloseHandle(handle_);
#else
        ::close(fd_);
#endif
    }
    ForeignLock(const ForeignLock&) = delete;
    ForeignLock& operator=(const ForeignLock&) = delete;
    bool Held() const { return held_; }

  private:
#ifdef _WIN32
    HANDLE handle_ = INVALID_HANDLE_VALUE;
#else
    int fd_ = -1;
#endif
    bool held_ = false;
};

TEST_F(LogAppendTest, ALogLockedByAnotherProgramIsWaitedForOnlyABoundedTime) {
    const fs::path log = folder_ / "JOBTALLY.LOG";
    std::ofstream(log, std::ios::binary) << "print job\r\n";
    {
        ForeignLock other(log);
        ASSERT_TRUE(other.Held());
        LogAppendResult result;
        LockedLog locked = LockedLog::Open(log.string(), result, std::chrono::milliseconds(50));
        EXPECT_FALSE(locked.Held());
        EXPECT_EQ(result.stage, LogAppendStage::Locked);
        EXPECT_EQ(LogAppendFailureMessage(result, "L"),
                  "Unable to write to L:\nit is locked by another program.");
    }
    LogAppendResult result;
    LockedLog free = LockedLog::Open(log.string(), result, std::chrono::milliseconds(50));
    ASSERT_TRUE(free.Held());
    EXPECT_TRUE(free.Append("one\r\ntwo\r\n").Written());
    EXPECT_EQ(ReadAll(log), "print job\r\none\r\ntwo\r\n");
}

TEST_F(LogAppendTest, AWriteFailureHasItsOwnMessage) {
    LogAppendResult result{LogAppendStage::Write, "Access is denied. (5)"};
    EXPECT_EQ(LogAppendFailureMessage(result, "\\\\ACCT1\\SYS\\LOG"),
              "Unable to write to \\\\ACCT1\\SYS\\LOG:\nAccess is denied. (5)");
}

}  // namespace
