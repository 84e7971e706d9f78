// The balances report of a context: users in list order, groups and the all-users entry passed
// over, both number modes, and a balance that could not be read.
#include <gtest/gtest.h>

#include <map>

#include "reports/account_balances.h"
#include "reports/report_files.h"

namespace tally::reports {
namespace {

TEST(AccountBalancesTest, EveryUserOnceInBothModes) {
    const std::vector<std::string> entries = {
        "* (All users in this context)", "AJONES", "JSMITH", "STAFF (Group)", "NOBAL", "BROKEN"};
    auto read = [](const std::string& name) -> BalanceReading {
        static const std::map<std::string, BalanceReading> kNown = {
            {"AJONES", {true, 1250, 0}},
            {"JSMITH", {true, -75, 0}},
            {"NOBAL", {true, 0, 0}},
            {"BROKEN", {false, 0, -650}},
        };
        return kNown.at(name);
    };
    EXPECT_EQ(AccountBalancesReport("SALES.CORP", entries, 6, IntegerAmountMode(), read),
              "  SALES.CORP: All Account Balances\r\n"
              "AJONES       1250\r\n"
              "JSMITH        -75\r\n"
              "NOBAL           0\r\n"
              "BROKEN   (balance not read: error -650)\r\n");
    EXPECT_EQ(
        AccountBalancesReport("SALES.CORP", {"AJONES", "JSMITH"}, 6, MakeAmountMode(true, 2), read),
        "  SALES.CORP: All Account Balances\r\n"
        "AJONES      12.50\r\n"
        "JSMITH      -0.75\r\n");
    EXPECT_EQ(AccountBalancesReport("EMPTY.CORP", {"* (All users in this context)"}, 0,
                                    IntegerAmountMode(), read),
              "  EMPTY.CORP: All Account Balances\r\n");
    EXPECT_EQ(BalancesBaseName("SALES.ACME"), "SALES");
    EXPECT_EQ(BalancesBaseName("[Root]"), "[Root]");
}

TEST(ReportFilesTest, NamesFromTheDirectoryCannotEscapeOrOpenADevice) {
    const struct {
        const char* name;
        const char* safe;
    } cases[] = {
        {"JSMITH", "JSMITH"},
        {"Printer", "Printer"},
        {"[Root]", "[Root]"},
        {"..\\..\\evil", ".._.._evil"},
        {"a/b:c*d?e\"f<g>h|i", "a_b_c_d_e_f_g_h_i"},
        {"tab\there", "tab_here"},
        {"CON", "CON_"},
        {"con.txt", "con_.txt"},
        {"LPT1", "LPT1_"},
        {"COM0", "COM0"},
        {"NUL .x", "NUL_ .x"},
        {"CONSOLE", "CONSOLE"},
        {"CONOUT$", "CONOUT$_"},
        {"conin$.x", "conin$_.x"},
        {"* (All users in this context)", "_ (All users in this context)"},
        {"", "_"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SafeReportName(c.name), c.safe) << c.name;
    }
}

}  // namespace
}  // namespace tally::reports
