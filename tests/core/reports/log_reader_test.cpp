// Reading the log: whole lines however long, the last line without a line end, the percentage
// against the length at open, a log that grows while it is read (read as long as it was).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "reports/log_reader.h"

namespace tally::reports {
namespace {

namespace fs = std::filesystem;

class LogReaderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        path_ = fs::temp_directory_path() /
                ("tally-log-reader-" +
                 std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    }
    void TearDown() override { fs::remove(path_); }
    void Write(const std::string& text, std::ios::openmode mode = std::ios::trunc) {
        std::ofstream(path_, std::ios::binary | mode) << text;
    }
    std::vector<std::string> ReadAll(LogReader& reader, std::vector<int>* percents = nullptr) {
        std::vector<std::string> lines;
        std::string_view line;
        while (reader.NextLine(line)) {
            lines.emplace_back(line);
            if (percents) {
                percents->push_back(reader.PercentRead());
            }
        }
        return lines;
    }
    fs::path path_;
};

TEST_F(LogReaderTest, LinesComeWholeWithTheirLineEnds) {
    // Longer than the reader's first buffer, so that it has to grow for one line.
    const std::string longLine = "\"" + std::string(600000, 'N') + "\",1\r\n";
    Write("a\r\n" + longLine + "\r\nlast without end");
    LogReader reader;
    ASSERT_TRUE(reader.Open(path_.string()));
    std::vector<int> percents;
    const auto lines = ReadAll(reader, &percents);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "a\r\n");
    EXPECT_EQ(lines[1], longLine);
    EXPECT_EQ(lines[2], "\r\n");
    EXPECT_EQ(lines[3], "last without end");
    EXPECT_EQ(percents.back(), 100);
    EXPECT_EQ(percents.front(), 0);  // 3 of 600,000 bytes
}

TEST_F(LogReaderTest, AnEmptyLogHasNoLinesAndAMissingOneDoesNotOpen) {
    Write("");
    LogReader reader;
    ASSERT_TRUE(reader.Open(path_.string()));
    EXPECT_TRUE(ReadAll(reader).empty());
    EXPECT_FALSE(reader.Open((path_.string() + ".absent")));
}

// A report reads the log as long as it was when the report began: a busy log's report ends, and
// the lines appended meanwhile (or a line still being written) are the next report's.
TEST_F(LogReaderTest, TheLogIsReadAsLongAsItWasAtTheOpen) {
    struct Case {
        const char* name;
        std::string atOpen;
        std::string appended;
        std::uint64_t upTo;
        std::vector<std::string> lines;
        std::vector<int> percents;
    };
    const std::vector<Case> cases = {
        {"appended whole lines",
         "0123456789\r\n0123456789\r\n",
         "0123456789\r\n",
         UINT64_MAX,
         {"0123456789\r\n", "0123456789\r\n"},
         {50, 100}},
        {"a line still being written",
         "ab\r\ncd",
         "ef\r\n",
         UINT64_MAX,
         {"ab\r\n", "cd"},
         {66, 100}},
        {"a second reading as long as the first", "ab\r\ncd\r\n", "", 4, {"ab\r\n"}, {100}},
    };
    for (const Case& c : cases) {
        Write(c.atOpen);
        LogReader reader;
        ASSERT_TRUE(reader.Open(path_.string(), c.upTo)) << c.name;
        Write(c.appended, std::ios::app);
        Write(std::string(300000, 'x') + "\r\n", std::ios::app);  // more than one buffer
        std::vector<int> percents;
        EXPECT_EQ(ReadAll(reader, &percents), c.lines) << c.name;
        EXPECT_EQ(percents, c.percents) << c.name;
    }
}

}  // namespace
}  // namespace tally::reports
