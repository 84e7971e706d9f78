#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

#include "platform/crc32.h"
#include "platform/files.h"
#include "store_fixture.h"

namespace tally::platform {
namespace {

TEST(AppendLock, ExcludesAnotherHolderUntilReleased) {
    store::testing::ScratchFolder folder("lock");
    std::filesystem::path lockFile = folder.Path() / "store.lock";
    std::string error;
    bool busy = false;
    {
        auto held = AppendLock::Acquire(lockFile, &error);
        ASSERT_TRUE(held) << error;
        auto second = AppendLock::TryAcquire(lockFile, &busy, &error);
        EXPECT_FALSE(second);
        EXPECT_TRUE(busy);
        AppendLock moved = std::move(*held);
        EXPECT_FALSE(AppendLock::TryAcquire(lockFile, &busy, &error));
        EXPECT_TRUE(busy);
    }
    auto again = AppendLock::TryAcquire(lockFile, &busy, &error);
    EXPECT_TRUE(again) << error;
    // The locked byte lies far past the data: the file does not grow.
    EXPECT_EQ(std::filesystem::file_size(lockFile), 0u);
}

TEST(AppendLock, FailsClearlyWhenTheLockFileCannotBeMade) {
    store::testing::ScratchFolder folder("lock");
    std::string error;
    bool busy = true;
    EXPECT_FALSE(AppendLock::Acquire(folder.Path() / "missing" / "x.lock", &error,
                                     std::chrono::milliseconds(50), &busy));
    EXPECT_NE(error.find("x.lock"), std::string::npos) << error;
    EXPECT_FALSE(busy);  // a failure, not a lock somebody holds
}

std::atomic<int> hookCalls{0};
void CountHookCall() {
    ++hookCalls;
}

// A holder that never lets go (here a second lock description in this process, which conflicts
// like another process's) must not freeze the waiter: it gives up, says why, and keeps calling
// the wait hook meanwhile.
TEST(AppendLock, GivesUpWhenAnotherHolderKeepsTheLock) {
    store::testing::ScratchFolder folder("lockwait");
    std::filesystem::path lockFile = folder.Path() / "store.lock";
    std::string error;
    auto held = AppendLock::Acquire(lockFile, &error);
    ASSERT_TRUE(held) << error;

    hookCalls = 0;
    LockWaitHook previous = SetLockWaitHook(&CountHookCall);
    auto started = std::chrono::steady_clock::now();
    bool busy = false;
    EXPECT_FALSE(AppendLock::Acquire(lockFile, &error, std::chrono::milliseconds(150), &busy));
    EXPECT_TRUE(busy);
    EXPECT_NE(error.find("store.lock is locked by another program"), std::string::npos) << error;
    EXPECT_GT(hookCalls.load(), 0);
    EXPECT_FALSE(AppendUnderLock(lockFile, folder.Path() / "log.txt", "x", &error,
                                 std::chrono::milliseconds(50)));
    EXPECT_NE(error.find("is locked by another program"), std::string::npos) << error;
    EXPECT_FALSE(std::filesystem::exists(folder.Path() / "log.txt"));
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(30));
    EXPECT_EQ(SetLockWaitHook(previous), &CountHookCall);

    // Once it is let go, the lock is had at once, without a call of the hook.
    held.reset();
    hookCalls = 0;
    SetLockWaitHook(&CountHookCall);
    auto taken = AppendLock::Acquire(lockFile, &error, std::chrono::milliseconds(0), &busy);
    SetLockWaitHook(previous);
    EXPECT_TRUE(taken) << error;
    EXPECT_FALSE(busy);
    EXPECT_EQ(hookCalls.load(), 0);
}

TEST(Files, AppendUnderLockOfTheFileItself) {
    store::testing::ScratchFolder folder("append");
    std::filesystem::path log = folder.Path() / "log.txt";
    std::string error;
    ASSERT_TRUE(AppendUnderLock(log, log, "first\r\n", &error)) << error;
    ASSERT_TRUE(AppendUnderLock(log, log, "second\r\n", &error)) << error;
    std::string text;
    ASSERT_TRUE(ReadWholeFile(log, text, &error)) << error;
    EXPECT_EQ(text, "first\r\nsecond\r\n");
}

TEST(Files, ReadsKeepToTheOpenedFileAcrossAReplacement) {
    store::testing::ScratchFolder folder("read");
    std::filesystem::path file = folder.Path() / "journal.ldif";
    std::filesystem::path fresh = folder.Path() / "journal.ldif.tmp";
    std::string error;
    ASSERT_TRUE(WriteFileDurably(file, "old contents", &error)) << error;
    bool exists = false;
    auto reader = ReadOnlyFile::Open(file, &exists, &error);
    ASSERT_TRUE(reader && exists) << error;
    ASSERT_TRUE(WriteFileDurably(fresh, "new", &error)) << error;
    // Windows (and Wine) may refuse to replace a file that is open, even shared for deletion;
    // the replacement then goes through once the reader has closed it.
    bool replaced = ReplaceFileDurably(fresh, file, &error);
#ifndef _WIN32
    ASSERT_TRUE(replaced) << error;
#endif
    std::string text;
    ASSERT_TRUE(reader->Read(4, kToEnd, text, &error)) << error;
    EXPECT_EQ(text, "contents");
    ASSERT_TRUE(reader->Read(0, 3, text, &error));
    EXPECT_EQ(text, "old");
    ASSERT_TRUE(reader->Read(100, kToEnd, text, &error));
    EXPECT_EQ(text, "");
    if (!replaced) {
        reader.reset();
        ASSERT_TRUE(ReplaceFileDurably(fresh, file, &error)) << error;
    }
    ASSERT_TRUE(ReadWholeFile(file, text, &error));
    EXPECT_EQ(text, "new");
    EXPECT_FALSE(std::filesystem::exists(fresh));

    auto missing = ReadOnlyFile::Open(folder.Path() / "absent", &exists, &error);
    ASSERT_TRUE(missing);
    EXPECT_FALSE(exists);
    EXPECT_FALSE(ReadWholeFile(folder.Path() / "absent", text, &error));
    EXPECT_NE(error.find("absent"), std::string::npos);
}

TEST(Files, FlushFileToDisk) {
    store::testing::ScratchFolder folder("flush");
    std::filesystem::path file = folder.Path() / "journal.ldif";
    std::string error;
    ASSERT_TRUE(AppendToFile(file, "record\n", &error)) << error;
    EXPECT_TRUE(FlushFileToDisk(file, &error)) << error;
    EXPECT_FALSE(FlushFileToDisk(folder.Path() / "absent.ldif", &error));
    EXPECT_NE(error.find("absent.ldif"), std::string::npos) << error;
    std::string text;
    ASSERT_TRUE(ReadWholeFile(file, text, &error));
    EXPECT_EQ(text, "record\n");
}

TEST(Crc32, KnownValues) {
    EXPECT_EQ(Crc32(""), 0u);
    EXPECT_EQ(Crc32("123456789"), 0xCBF43926u);
}

}  // namespace
}  // namespace tally::platform
