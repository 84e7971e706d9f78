// The log append of the platform: a missing log is created, records follow each other whole, and
// a log that cannot be opened gives the operator's message with the system's text and code.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "accounting/log_append.h"
#include "accounting/transaction_log.h"

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
        folder = fs::temp_directory_path() /
                 ("tally-log-append-" +
                  std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(folder);
        fs::create_directories(folder);
    }
    void TearDown() override { fs::remove_all(folder); }
    fs::path folder;
};

TEST_F(LogAppendTest, AMissingLogIsCreatedAndRecordsFollowWhole) {
    const fs::path log = folder / "JOBTALLY.LOG";
    EXPECT_TRUE(AppendLogRecord(log.string(), "first\r\n").written());
    EXPECT_EQ(ReadAll(log), "first\r\n");
    // Far longer than the old 256-character line buffer.
    const std::string longRecord = "\"" + std::string(600, 'N') + "\",\"Deposit\"\r\n";
    EXPECT_TRUE(AppendLogRecord(log.string(), longRecord).written());
    EXPECT_TRUE(AppendLogRecord(log.string(), "third\r\n").written());
    EXPECT_EQ(ReadAll(log), "first\r\n" + longRecord + "third\r\n");
}

TEST_F(LogAppendTest, AnExistingLogKeepsWhatItHeld) {
    const fs::path log = folder / "JOBTALLY.LOG";
    std::ofstream(log, std::ios::binary) << "print job\r\n";
    EXPECT_TRUE(AppendLogRecord(log.string(), "record\r\n").written());
    EXPECT_EQ(ReadAll(log), "print job\r\nrecord\r\n");
}

TEST_F(LogAppendTest, ALogThatCannotBeOpenedNamesPathAndSystemError) {
    const std::string log = (folder / "MISSING" / "JOBTALLY.LOG").string();
    const LogAppendResult result = AppendLogRecord(log, "record\r\n");
    EXPECT_EQ(result.Stage, LogAppendStage::Open);
    EXPECT_FALSE(fs::exists(log));
    // "<system text> (<code>)": the code of a missing folder is 3 on Windows, 2 (ENOENT) here.
    EXPECT_TRUE(result.ErrorText.ends_with(" (3)") || result.ErrorText.ends_with(" (2)"))
        << result.ErrorText;
    EXPECT_GT(result.ErrorText.size(), 4u) << "the system's own text is missing";
    const std::string message = LogAppendFailureMessage(result, log);
    EXPECT_EQ(message, "Unable to open " + log + ":\n" + result.ErrorText);
    EXPECT_EQ(message.find('\r'), std::string::npos);
}

TEST_F(LogAppendTest, AWriteFailureHasItsOwnMessage) {
    LogAppendResult result{LogAppendStage::Write, "Access is denied. (5)"};
    EXPECT_EQ(LogAppendFailureMessage(result, "\\\\ACCT1\\SYS\\LOG"),
              "Unable to write to \\\\ACCT1\\SYS\\LOG:\nAccess is denied. (5)");
}

}  // namespace
