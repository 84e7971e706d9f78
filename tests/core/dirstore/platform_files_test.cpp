#include <gtest/gtest.h>

#include "platform/crc32.h"
#include "platform/files.h"
#include "store_fixture.h"

namespace tally::platform {
namespace {

TEST(AppendLock, ExcludesAnotherHolderUntilReleased) {
    store::testing::ScratchFolder folder("lock");
    std::filesystem::path lockFile = folder.path() / "store.lock";
    std::string error;
    bool busy = false;
    {
        auto held = AppendLock::acquire(lockFile, &error);
        ASSERT_TRUE(held) << error;
        auto second = AppendLock::tryAcquire(lockFile, &busy, &error);
        EXPECT_FALSE(second);
        EXPECT_TRUE(busy);
        AppendLock moved = std::move(*held);
        EXPECT_FALSE(AppendLock::tryAcquire(lockFile, &busy, &error));
        EXPECT_TRUE(busy);
    }
    auto again = AppendLock::tryAcquire(lockFile, &busy, &error);
    EXPECT_TRUE(again) << error;
    // The locked byte lies far past the data: the file does not grow.
    EXPECT_EQ(std::filesystem::file_size(lockFile), 0u);
}

TEST(AppendLock, FailsClearlyWhenTheLockFileCannotBeMade) {
    store::testing::ScratchFolder folder("lock");
    std::string error;
    EXPECT_FALSE(AppendLock::acquire(folder.path() / "missing" / "x.lock", &error));
    EXPECT_NE(error.find("x.lock"), std::string::npos) << error;
}

TEST(Files, AppendUnderLockOfTheFileItself) {
    store::testing::ScratchFolder folder("append");
    std::filesystem::path log = folder.path() / "log.txt";
    std::string error;
    ASSERT_TRUE(appendUnderLock(log, log, "first\r\n", &error)) << error;
    ASSERT_TRUE(appendUnderLock(log, log, "second\r\n", &error)) << error;
    std::string text;
    ASSERT_TRUE(readWholeFile(log, text, &error)) << error;
    EXPECT_EQ(text, "first\r\nsecond\r\n");
}

TEST(Files, ReadsKeepToTheOpenedFileAcrossAReplacement) {
    store::testing::ScratchFolder folder("read");
    std::filesystem::path file = folder.path() / "journal.ldif";
    std::filesystem::path fresh = folder.path() / "journal.ldif.tmp";
    std::string error;
    ASSERT_TRUE(writeFileDurably(file, "old contents", &error)) << error;
    bool exists = false;
    auto reader = ReadOnlyFile::open(file, &exists, &error);
    ASSERT_TRUE(reader && exists) << error;
    ASSERT_TRUE(writeFileDurably(fresh, "new", &error)) << error;
    // Windows (and Wine) may refuse to replace a file that is open, even shared for deletion;
    // the replacement then goes through once the reader has closed it.
    bool replaced = replaceFile(fresh, file, &error);
#ifndef _WIN32
    ASSERT_TRUE(replaced) << error;
#endif
    std::string text;
    ASSERT_TRUE(reader->read(4, kToEnd, text, &error)) << error;
    EXPECT_EQ(text, "contents");
    ASSERT_TRUE(reader->read(0, 3, text, &error));
    EXPECT_EQ(text, "old");
    ASSERT_TRUE(reader->read(100, kToEnd, text, &error));
    EXPECT_EQ(text, "");
    if (!replaced) {
        reader.reset();
        ASSERT_TRUE(replaceFile(fresh, file, &error)) << error;
    }
    ASSERT_TRUE(readWholeFile(file, text, &error));
    EXPECT_EQ(text, "new");
    EXPECT_FALSE(std::filesystem::exists(fresh));

    auto missing = ReadOnlyFile::open(folder.path() / "absent", &exists, &error);
    ASSERT_TRUE(missing);
    EXPECT_FALSE(exists);
    EXPECT_FALSE(readWholeFile(folder.path() / "absent", text, &error));
    EXPECT_NE(error.find("absent"), std::string::npos);
}

TEST(Crc32, KnownValues) {
    EXPECT_EQ(crc32(""), 0u);
    EXPECT_EQ(crc32("123456789"), 0xCBF43926u);
}

}  // namespace
}  // namespace tally::platform
