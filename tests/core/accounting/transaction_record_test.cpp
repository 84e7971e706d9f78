#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "accounting/transaction_record.h"

namespace {

// A deposit of 500 to JSMITH by ADMIN.CORP on 4 July 1999 at 14:05, leaving 1500.
TransactionRecordInput Deposit(LogLayout layout) {
    TransactionRecordInput in;
    in.layout = layout;
    in.operation = AccountOperation::Deposit;
    in.userName = "JSMITH";
    in.userFullName = "JSMITH.SALES.CORP";
    in.operatorName = "ADMIN.CORP";
    in.operatorFullName = "ADMIN.CORP";
    in.logServer = "FS1";
    in.chargeReason = "Charge";
    in.operationAmount = 500;
    in.balanceAfter = 1500;
    in.creditLimit = -200;
    in.date = {1999, 7, 4};
    in.dateOrder = 0;
    in.timeText = "14:05";
    return in;
}

const char* const kReadableDeposit =
    "JSMITH     Deposit  ADMIN        07/04/1999 14:05                    500     1500\r\n";
const char* const kDelimitedDeposit =
    "\"JSMITH.SALES.CORP\",\"Deposit\",\"ADMIN.CORP\",\"\",\"FS1\",\"\",\"\",\"07/04/1999\","
    "\"14:05\",,,500,1500\r\n";

std::size_t Count(const std::string& text, char c) {
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), c));
}

// The statistics reader's view of a delimited line: split at every comma.
std::vector<std::string> CommaFields(const std::string& line) {
    std::vector<std::string> fields(1);
    for (char c : line) {
        if (c == ',') {
            fields.emplace_back();
        } else {
            fields.back() += c;
        }
    }
    return fields;
}

TEST(TransactionRecord, BothLayoutsOfTheDepositExampleByteForByte) {
    const std::string readable = ComposeTransactionRecord(Deposit(LogLayout::Readable));
    EXPECT_EQ(readable, kReadableDeposit);
    EXPECT_EQ(readable.size(), 83u);
    EXPECT_EQ(ComposeTransactionRecord(Deposit(LogLayout::AsciiDelimited)), kDelimitedDeposit);
}

TEST(TransactionRecord, LogFormatZeroAloneIsReadable) {
    EXPECT_EQ(LogLayoutFromFormat(0), LogLayout::Readable);
    EXPECT_EQ(LogLayoutFromFormat(1), LogLayout::AsciiDelimited);
    EXPECT_EQ(LogLayoutFromFormat(-1), LogLayout::AsciiDelimited);
    EXPECT_EQ(LogLayoutFromFormat(7), LogLayout::AsciiDelimited);
}

struct OperationCase {
    AccountOperation operation;
    const char* chargeReason;
    std::int32_t operationAmount;
    const char* readableTail;   // from the tag column to the line end
    const char* delimitedTail;  // from field 2 to the line end, date and time left out
};

void PrintTo(const OperationCase& c, std::ostream* out) {
    *out << "operation " << static_cast<int>(c.operation);
}

class RecordByOperation : public ::testing::TestWithParam<OperationCase> {};

TEST_P(RecordByOperation, TagAndAmountsInBothLayouts) {
    const OperationCase& c = GetParam();
    TransactionRecordInput in = Deposit(LogLayout::Readable);
    in.operation = c.operation;
    in.chargeReason = c.chargeReason;
    in.operationAmount = c.operationAmount;
    const std::string readable = ComposeTransactionRecord(in);
    EXPECT_EQ(readable.substr(11, 8), std::string(c.readableTail).substr(0, 8));
    EXPECT_EQ(readable.substr(63), std::string(c.readableTail).substr(8));

    in.layout = LogLayout::AsciiDelimited;
    const std::string delimited = ComposeTransactionRecord(in);
    const std::vector<std::string> fields = CommaFields(delimited);
    ASSERT_EQ(fields.size(), 13u) << delimited;
    const std::string tail = std::string(c.delimitedTail);
    EXPECT_EQ(fields[1] + "," + fields[11] + "," + fields[12], tail);
}

INSTANTIATE_TEST_SUITE_P(
    TransactionRecord, RecordByOperation,
    ::testing::Values(OperationCase{AccountOperation::Deposit, "Charge", 500,
                                    "Deposit       500     1500\r\n", "\"Deposit\",500,1500\r\n"},
                      OperationCase{AccountOperation::Charge, "Photocopies", -5,
                                    "Photocop       -5     1500\r\n",
                                    "\"Photocopies\",-5,1500\r\n"},
                      OperationCase{AccountOperation::Charge, "", -5,
                                    "Charge         -5     1500\r\n", "\"Charge\",-5,1500\r\n"},
                      OperationCase{AccountOperation::SetBalance, "Charge", 900,
                                    "SetBal          0     1500\r\n", "\"SetBal\",0,1500\r\n"},
                      OperationCase{AccountOperation::SetLimit, "Charge", -200,
                                    "SetLimit        0     -200\r\n", "\"SetLimit\",0,-200\r\n"}));

TEST(TransactionRecord, DecimalModeAmounts) {
    TransactionRecordInput in = Deposit(LogLayout::AsciiDelimited);
    in.operation = AccountOperation::Charge;
    in.operationAmount = -500;
    in.balanceAfter = 1250;
    in.mode = MakeAmountMode(true, 2);
    EXPECT_TRUE(ComposeTransactionRecord(in).ends_with("\"14:05\",,,-5.00,12.50\r\n"));
    in.layout = LogLayout::Readable;
    EXPECT_TRUE(ComposeTransactionRecord(in).ends_with("   -5.00    12.50\r\n"));
}

TEST(TransactionRecord, ReadableCutsNamesToTheirColumns) {
    TransactionRecordInput in = Deposit(LogLayout::Readable);
    in.userName = "ABCDEFGHIJKL";
    in.operatorName = "ADMINISTRATOR.CORP";
    const std::string line = ComposeTransactionRecord(in);
    EXPECT_EQ(line.substr(0, 11), "ABCDEFGHIJ ");
    EXPECT_EQ(line.substr(20, 13), "ADMINISTRATO ");
    EXPECT_EQ(line.size(), 83u);
}

TEST(TransactionRecord, OperatorShortFormIsTheLoginNameUpToItsFirstDot) {
    EXPECT_EQ(OperatorShortName("ADMIN.CORP"), "ADMIN");
    EXPECT_EQ(OperatorShortName("ADMIN.SALES.CORP"), "ADMIN");
    EXPECT_EQ(OperatorShortName("ADMIN"), "ADMIN");
    EXPECT_EQ(OperatorShortName(""), "");
    EXPECT_EQ(OperatorShortName(".CORP"), "");
    EXPECT_EQ(OperatorShortName(std::string(70, 'A') + ".CORP"), std::string(63, 'A'));
}

TEST(TransactionRecord, DateAndTimeKeepTheirNaturalWidth) {
    TransactionRecordInput in = Deposit(LogLayout::Readable);
    in.timeText = "9:05";
    const std::string line = ComposeTransactionRecord(in);
    EXPECT_EQ(line.size(), 82u);
    EXPECT_EQ(line.substr(44, 5), "9:05 ");
    in.date = {10000, 7, 4};
    EXPECT_EQ(ComposeTransactionRecord(in).size(), 83u);
}

TEST(TransactionRecord, AmountsWiderThanTheirColumnAreWrittenWhole) {
    TransactionRecordInput in = Deposit(LogLayout::Readable);
    in.operationAmount = -2147483647 - 1;
    in.balanceAfter = 2147483647;
    EXPECT_TRUE(ComposeTransactionRecord(in).ends_with(" -2147483648 2147483647\r\n"));
}

struct DateCase {
    int order;
    RecordDate date;
    const char* expected;
};

TEST(RecordDate, EveryDateOrderZeroPadded) {
    const DateCase cases[] = {
        {0, {1999, 7, 4}, "07/04/1999"},  {1, {1999, 7, 4}, "04/07/1999"},
        {2, {1999, 7, 4}, "1999/07/04"},  {3, {1999, 7, 4}, "07/04/1999"},
        {-1, {1999, 7, 4}, "07/04/1999"}, {2, {2024, 12, 31}, "2024/12/31"},
        {1, {2001, 1, 9}, "09/01/2001"},
    };
    for (const DateCase& c : cases) {
        EXPECT_EQ(RecordDateText(c.date, c.order), c.expected) << "order " << c.order;
    }
}

TEST(TransactionRecord, LongFullNamesAreWrittenWhole) {
    const std::string user = std::string(200, 'U') + ".CORP";
    const std::string op = std::string(200, 'O') + ".CORP";
    TransactionRecordInput in = Deposit(LogLayout::AsciiDelimited);
    in.userFullName = user;
    in.operatorFullName = op;
    const std::string line = ComposeTransactionRecord(in);
    EXPECT_GT(line.size(), 256u);
    EXPECT_TRUE(line.starts_with("\"" + user + "\",\"Deposit\",\"" + op + "\","));
    EXPECT_TRUE(line.ends_with(",,,500,1500\r\n"));
}

// Hostile text in every field that can carry it must leave one line whose fields stay where the
// log's readers look for them.
TEST(TransactionRecord, HostileTextCannotBreakTheDelimitedLayout) {
    TransactionRecordInput in = Deposit(LogLayout::AsciiDelimited);
    in.operation = AccountOperation::Charge;
    in.operationAmount = -5;
    in.chargeReason = "Toner, \"extra\"\r\n,,,,,,,,,,,,1,2";
    in.userFullName = "J\"SMITH,\n.CORP";
    in.operatorFullName = "AD\tMIN\x7F";
    in.logServer = "FS,1\"";
    in.timeText = "14\r\n05";
    const std::string line = ComposeTransactionRecord(in);

    EXPECT_EQ(line.find_first_of("\r\n"), line.size() - 2) << line;
    EXPECT_EQ(Count(line, '"'), 18u) << line;
    const std::vector<std::string> fields = CommaFields(line);
    ASSERT_EQ(fields.size(), 13u) << line;
    EXPECT_EQ(fields[0], "\"J'SMITH; .CORP\"");
    EXPECT_EQ(fields[1], "\"Toner; 'extra'  ;;;;;;;;;;;;1;2\"");
    EXPECT_EQ(fields[2], "\"AD MIN \"");
    EXPECT_EQ(fields[4], "\"FS;1'\"");
    EXPECT_EQ(fields[8], "\"14  05\"");
    EXPECT_EQ(fields[9], "");
    EXPECT_EQ(fields[10], "");
    EXPECT_EQ(fields[11], "-5");
    // The statistics merge runs of commas; eleven fields are too few for a print job.
    EXPECT_EQ(std::count_if(fields.begin(), fields.end(),
                            [](const std::string& field) { return !field.empty(); }),
              11);
}

TEST(TransactionRecord, HostileTextKeepsTheReadableColumns) {
    TransactionRecordInput in = Deposit(LogLayout::Readable);
    in.operation = AccountOperation::Charge;
    in.chargeReason = "A\r\nB,\"C\"";
    in.userName = "J\tSMITH";
    in.operatorName = "AD\nMIN.CORP";
    const std::string line = ComposeTransactionRecord(in);
    EXPECT_EQ(line.find_first_of("\r\n"), 81u);
    EXPECT_EQ(line.size(), 83u);
    EXPECT_EQ(line.substr(0, 33), "J SMITH    A  B,\"C\" AD MIN       ");
}

}  // namespace
