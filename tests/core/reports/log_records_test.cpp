// The fields of a record, the number rules, the transaction test and the Readable columns.
#include <gtest/gtest.h>

#include "reports/log_records.h"

namespace tally::reports {
namespace {

TEST(DelimitedFieldsTest, FieldsArePlacedAsACsvReaderPlacesThem) {
    const struct {
        const char* line;
        std::vector<std::string> texts;  // the fields without quotes
    } cases[] = {
        {"\"A\",\"B\",3\r\n", {"A", "B", "3"}},
        // An empty field is a field; it does not move those after it.
        {"\"A\",,\"C\"", {"A", "", "C"}},
        // A comma inside quotes belongs to its field.
        {"\"A\",\"Laser, 2nd floor\",X", {"A", "Laser, 2nd floor", "X"}},
        // "" inside quotes is one quote; what follows a closing quote is dropped from the text.
        {"\"say \"\"hi\"\"\",\"B\"x,C", {"say \"hi\"", "B", "C"}},
        // A quote that never closes protects nothing.
        {"\"A,B,C", {"A", "B", "C"}},
        {"", {""}},
        {",", {"", ""}},
    };
    for (const auto& c : cases) {
        DelimitedFields fields;
        ASSERT_EQ(fields.Split(c.line), c.texts.size()) << c.line;
        for (std::size_t i = 0; i < c.texts.size(); ++i) {
            EXPECT_EQ(fields.Text(i + 1), c.texts[i]) << c.line << " field " << i + 1;
        }
    }
    DelimitedFields many;
    EXPECT_EQ(many.Split("1,2,3,4,5,6,7,8,9,10,11,12,13,14"), kPrintJobFields);
    EXPECT_EQ(many.Raw(12), "12");
}

TEST(NumberRulesTest, IntegerAndDecimalRulesReadAsTheLogWasAlwaysRead) {
    const struct {
        const char* text;
        std::int64_t integer;
        double decimal;
    } cases[] = {
        {"12", 12, 12.0},  {" \t-7,8", -7, -7.0},
        {"+3x", 3, 3.0},   {"\"5\"", 0, 0.0},
        {"", 0, 0.0},      {"12.75", 12, 12.75},
        {"1e2", 1, 100.0}, {".5", 0, 0.5},
        {"inf", 0, 0.0},   {"99999999999999999999", INT64_MAX, 1e20},
        {"-0", 0, 0.0},    {"\r\n", 0, 0.0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ReadIntegerRule(c.text), c.integer) << c.text;
        EXPECT_DOUBLE_EQ(ReadDecimalRule(c.text), c.decimal) << c.text;
    }
    EXPECT_EQ(CostText({1250, 0}, IntegerAmountMode()), "1250");
    EXPECT_EQ(CostText({0, 12.5}, MakeAmountMode(true, 2)), "12.50");
    EXPECT_EQ(CostText({0, 0.0}, MakeAmountMode(true, 2)), "0.00");
}

TEST(TransactionTestTest, EveryTransactionRecordIsToldApartFromAPrintJob) {
    const struct {
        const char* line;
        bool transaction;
    } cases[] = {
        {"\"JS.S\",\"Deposit\",\"ADMIN\",\"\",\"A1\",\"\",\"\",\"07/04/"
         "99\",\"14:05\",,,100,200\r\n",
         true},
        {"\"JS.S\",\"Charge late\",\"ADMIN\",\"\",\"A1\",\"\",\"\",\"d\",\"t\",,,-1,2\r\n", true},
        // A charge reason of the operator's own: fields 10 and 11 are empty all the same.
        {"\"JS.S\",\"Refund\",\"ADMIN\",\"\",\"A1\",\"\",\"\",\"d\",\"t\",,,5,6\r\n", true},
        {"\"JS.S\",\"Doc\",\"LASER\",\"PS\",\"Q\",\"A1\",\"C\",\"d\",\"t\",1,3,12\r\n", false},
        // Print jobs whose title, printer, queue or client code holds a tag word stay print jobs.
        {"\"JS.S\",\"Chargeback list\",\"LASER\",\"PS\",\"Q\",\"A1\",\"C\",\"d\",\"t\",1,3,12\r\n",
         false},
        {"\"JS.S\",\"Deposit "
         "form\",\"Deposit\",\"PS\",\"SetBal\",\"A1\",\"SetLimit\",\"d\",\"t\",1,"
         "3,12\r\n",
         false},
        {"\"JS.S\",\"Charge\",\"LASER\",\"PS\",\"Q\",\"A1\",\"C\",\"d\",\"t\",1,3,12\r\n", false},
    };
    for (const auto& c : cases) {
        DelimitedFields fields;
        fields.Split(c.line);
        EXPECT_EQ(IsTransactionRecord(fields), c.transaction) << c.line;
    }
}

TEST(NumberRulesTest, SumsHoldAtThe64BitLimitsInsteadOfWrapping) {
    constexpr std::int64_t kMax = INT64_MAX;
    constexpr std::int64_t kMin = INT64_MIN;
    const struct {
        std::int64_t sum, value, result;
    } cases[] = {
        {1, 2, 3},        {kMax - 1, 1, kMax},   {kMax, 1, kMax},  {kMax, kMax, kMax},
        {kMin, -1, kMin}, {kMin + 5, -10, kMin}, {kMax, kMin, -1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SaturatingAdd(c.sum, c.value), c.result) << c.sum << " + " << c.value;
    }
    Cost cost{kMax - 3, 0.0};
    cost.Add({10, 0.5});
    EXPECT_EQ(cost.whole, kMax);
    EXPECT_DOUBLE_EQ(cost.decimal, 0.5);
}

TEST(ReadableColumnsTest, PagesAndCostComeFromTheirColumns) {
    std::string line(72, ' ');
    line.replace(0, 6, "JSMITH");
    line.replace(58, 4, "  12");
    line.replace(63, 8, "   3.50 ");
    const PagesAndCost integer = ReadableColumns(line, IntegerAmountMode());
    EXPECT_EQ(integer.pages, 12);
    EXPECT_EQ(integer.cost.whole, 3);
    EXPECT_DOUBLE_EQ(ReadableColumns(line, MakeAmountMode(true, 2)).cost.decimal, 3.5);
    // No pages: no cost is read; a short line has neither.
    line.replace(58, 4, "    ");
    EXPECT_EQ(ReadableColumns(line, IntegerAmountMode()).cost.whole, 0);
    EXPECT_EQ(ReadableColumns("JSMITH   short\r\n", IntegerAmountMode()).pages, 0);
}

}  // namespace
}  // namespace tally::reports
