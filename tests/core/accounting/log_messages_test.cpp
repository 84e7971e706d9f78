#include <gtest/gtest.h>

#include "accounting/log_messages.h"

namespace {

TEST(SystemErrorText, TakesOffOnlyARealLineBreak) {
    EXPECT_EQ(FormatSystemErrorText("The network name cannot be found.\r\n", 67),
              "The network name cannot be found. (67)");
    EXPECT_EQ(FormatSystemErrorText("Access is denied.\n", 5), "Access is denied. (5)");
    EXPECT_EQ(FormatSystemErrorText("Access is denied.", 5), "Access is denied. (5)");
    EXPECT_EQ(FormatSystemErrorText("ok", -1), "ok (-1)");
    EXPECT_EQ(FormatSystemErrorText("x", 53), "x (53)");
    EXPECT_EQ(FormatSystemErrorText("\r\n", 53), "(53)");
    EXPECT_EQ(FormatSystemErrorText("", 53), "(53)");
}

TEST(LogFailureMessages, PathColonLineBreakAndSystemText) {
    const char* path = "\\\\FS1\\SYS\\SYSTEM\\JOBTALLY\\JOBTALLY.LOG";
    EXPECT_EQ(LogOpenFailureMessage(path, "The network path was not found. (53)"),
              std::string("Unable to open ") + path + ":\nThe network path was not found. (53)");
    EXPECT_EQ(LogWriteFailureMessage(path, "(112)"),
              std::string("Unable to write to ") + path + ":\n(112)");
}

}  // namespace
