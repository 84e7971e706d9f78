// The outbox read back after its writer ended at any point: every record of a change that was
// made reaches the log exactly once, a change in flight is settled by the directory's value,
// and an outbox that a running writer holds is left to it.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>

#include "accounting/record_outbox.h"

namespace {

namespace fs = std::filesystem;

const std::string kA =
    "\"A\",\"Deposit\",\"ADMIN\",\"\",\"ACCT1\",\"\",\"\",\"07/04/1999\",\"14:05\",,,1,11\r\n";
const std::string kB =
    "\"B\",\"Deposit\",\"ADMIN\",\"\",\"ACCT1\",\"\",\"\",\"07/04/1999\",\"14:05\",,,1,21\r\n";
const std::string kC =
    "\"C\",\"Deposit\",\"ADMIN\",\"\",\"ACCT1\",\"\",\"\",\"07/04/1999\",\"14:05\",,,1,31\r\n";
const std::string kOther =
    "\"X\",\"Document "
    "1\",\"LASER1\",\"PSERV1\",\"Q\",\"ACCT1\",\"\",\"07/04/1999\",\"14:05\",1,1,3,7\r\n";

std::string Entry(const std::string& kind, const std::string& record) {
    return kind + "\t" + record.substr(0, record.size() - 2) + "\n";
}

// The intent of a deposit of 1 to C, whose balance was 30.
std::string IntentOfC() {
    return "intent\t.C.CORP\tAccount Balance\t30\t31\t" + kC.substr(0, kC.size() - 2) + "\n";
}

std::string Read(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void Write(const fs::path& file, const std::string& text) {
    std::ofstream(file, std::ios::binary) << text;
}

TEST(RecordOutbox, EntriesReadBackAsTheirWriterLeftThem) {
    const OutboxContents contents =
        ParseOutbox(Entry("record", kA) + "sending\t120\n" + Entry("record", kB) + IntentOfC() +
                    "refused\n" + IntentOfC() + "record\tcut sho");
    EXPECT_EQ(contents.records, (std::vector<std::string>{kA, kB}));
    EXPECT_EQ(contents.sentFrom, 120u);
    EXPECT_EQ(contents.sentCount, 1u);
    ASSERT_EQ(contents.inFlight.size(), 1u);
    EXPECT_EQ(contents.inFlight[0].object, ".C.CORP");
    EXPECT_EQ(contents.inFlight[0].before, 30);
    EXPECT_EQ(contents.inFlight[0].expected, 31);
    EXPECT_EQ(contents.inFlight[0].record, kC);
    EXPECT_EQ(contents.unreadLines, 1);  // the entry a kill cut short

    // Changes sent ahead: each record or refusal settles the oldest change still open.
    std::string intentOfD = IntentOfC();
    intentOfD.replace(intentOfD.find(".C.CORP"), 7, ".D.CORP");
    const OutboxContents ahead = ParseOutbox(IntentOfC() + intentOfD + IntentOfC() +
                                             Entry("record", kC) + "refused\n" + intentOfD);
    ASSERT_EQ(ahead.inFlight.size(), 2u);
    EXPECT_EQ(ahead.inFlight[0].object, ".C.CORP");
    EXPECT_EQ(ahead.inFlight[1].object, ".D.CORP");
    EXPECT_EQ(ahead.records, std::vector<std::string>{kC});

    const IntendedChange deposit{".C", "Account Balance", 30, 31, kC};
    const IntendedChange unknownBefore{".C", "Account Balance", std::nullopt, 31, kC};
    const struct {
        const IntendedChange& change;
        std::optional<std::int64_t> now;
        InFlightVerdict verdict;
    } cases[] = {
        {deposit, 31, InFlightVerdict::Made},
        {deposit, 30, InFlightVerdict::NotMade},
        {deposit, 28, InFlightVerdict::Unknown},  // a print job charged meanwhile
        {deposit, std::nullopt, InFlightVerdict::Unknown},
        {unknownBefore, 30, InFlightVerdict::Unknown},
        {unknownBefore, 31, InFlightVerdict::Made},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(JudgeInFlight(c.change, c.now), c.verdict) << c.now.value_or(-1);
    }
}

class OutboxRecoveryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        folder_ = fs::temp_directory_path() /
                  ("tally-outbox-" +
                   std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(folder_);
        fs::create_directories(folder_);
        log_ = (folder_ / "JOBTALLY.LOG").string();
    }
    void TearDown() override { fs::remove_all(folder_); }

    fs::path folder_;
    std::string log_;
};

// Killed before, during and after its delivery, or with a change in flight: afterwards the log
// holds each record of a made change once, after what other writers appended meanwhile.
TEST_F(OutboxRecoveryTest, EveryMadeChangeIsInTheLogOnce) {
    const std::string sentAtEnd = "sending\t" + std::to_string(kOther.size()) + "\n";
    const struct {
        const char* what;
        std::string logBefore;
        std::string outbox;
        std::int64_t balanceOfC;
        std::string logAfter;
        int appended;
        int doubtful;
    } cases[] = {
        {"killed between changes", kOther, Entry("record", kA) + Entry("record", kB), 30,
         kOther + kA + kB, 2, 0},
        {"killed after appending, before emptying", kOther + kA + kB + kOther,
         Entry("record", kA) + Entry("record", kB) + sentAtEnd, 30, kOther + kA + kB + kOther, 0,
         0},
        {"killed while waiting for the lock", kOther + kOther,
         Entry("record", kA) + Entry("record", kB) + sentAtEnd, 30, kOther + kOther + kA + kB, 2,
         0},
        {"in flight and made", kOther, Entry("record", kA) + IntentOfC(), 31, kOther + kA + kC, 2,
         0},
        {"in flight and not made", kOther, Entry("record", kA) + IntentOfC(), 30, kOther + kA, 1,
         0},
        {"in flight, and changed by another since", kOther, IntentOfC(), 27, kOther, 0, 1},
        {"refused", kOther, IntentOfC() + "refused\n", 31, kOther, 0, 0},
        {"a start killed after it found the records in the log", kOther + kA + kB,
         Entry("record", kA) + Entry("record", kB) + sentAtEnd + "delivered\n" + IntentOfC() +
             Entry("record", kC),
         30, kOther + kA + kB + kC, 1, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Write(log_, c.logBefore);
        Write(folder_ / "tallydsk.out", c.outbox);
        const auto reader = [&](const std::string& object, const std::string& attribute) {
            EXPECT_EQ(object, ".C.CORP");
            EXPECT_EQ(attribute, "Account Balance");
            return std::optional<std::int64_t>(c.balanceOfC);
        };
        const OutboxRecovery recovery =
            RecoverWaitingRecords(folder_, log_, std::chrono::seconds(1), reader);
        EXPECT_EQ(Read(log_), c.logAfter);
        EXPECT_EQ(recovery.appended, c.appended);
        EXPECT_EQ(recovery.doubtful.size(), static_cast<std::size_t>(c.doubtful));
        EXPECT_EQ(recovery.waiting, 0);
        EXPECT_EQ(Read(folder_ / "tallydsk.out"), "");
        // Taken up once: a second start finds nothing more to do.
        EXPECT_EQ(RecoverWaitingRecords(folder_, log_, std::chrono::seconds(1), reader).appended,
                  0);
        EXPECT_EQ(Read(log_), c.logAfter);
    }
}

// A batch that sent changes ahead was killed with three of them open: each is settled on its
// own account, in the order noted, behind the record that settled the oldest.
TEST_F(OutboxRecoveryTest, ChangesSentAheadAreSettledEachOnItsOwn) {
    const auto recordOf = [](const std::string& user) {
        return "\"" + user + kC.substr(2);  // kC with another user's name
    };
    const auto intentOf = [&](const std::string& user) {
        const std::string record = recordOf(user);
        return "intent\t." + user + ".CORP\tAccount Balance\t30\t31\t" +
               record.substr(0, record.size() - 2) + "\n";
    };
    Write(log_, kOther);
    Write(folder_ / "tallydsk.out",
          intentOf("C") + intentOf("D") + intentOf("E") + intentOf("F") + Entry("record", kC));
    const std::map<std::string, std::optional<std::int64_t>> now = {
        {".D.CORP", 31}, {".E.CORP", 30}, {".F.CORP", 28}};
    const auto reader = [&](const std::string& object, const std::string&) {
        return now.at(object);
    };
    const OutboxRecovery recovery =
        RecoverWaitingRecords(folder_, log_, std::chrono::seconds(1), reader);
    EXPECT_EQ(Read(log_), kOther + kC + recordOf("D"));  // E was not made, F cannot tell
    EXPECT_EQ(recovery.appended, 2);
    ASSERT_EQ(recovery.doubtful.size(), 1u);
    EXPECT_EQ(recovery.doubtful[0].rfind("\"F\"", 0), 0u);
}

// A running writer's outbox is its own; a second writer on the workstation takes the next one.
TEST_F(OutboxRecoveryTest, AHeldOutboxIsLeftToItsWriter) {
    std::string error;
    std::optional<RecordOutbox> first = RecordOutbox::Claim(folder_, &error);
    ASSERT_TRUE(first) << error;
    std::optional<RecordOutbox> second = RecordOutbox::Claim(folder_, &error);
    ASSERT_TRUE(second) << error;
    EXPECT_EQ(first->Path().filename(), "tallydsk.out");
    EXPECT_EQ(second->Path().filename(), "tallydsk.2.out");
    ASSERT_TRUE(first->NoteRecord(kA, &error)) << error;
    ASSERT_TRUE(second->NoteRecord(kB, &error)) << error;

    const auto reader = [](const std::string&, const std::string&) {
        return std::optional<std::int64_t>();
    };
    EXPECT_EQ(RecoverWaitingRecords(folder_, log_, std::chrono::seconds(1), reader).appended, 0);
    EXPECT_TRUE(second->Deliver(log_, std::chrono::seconds(1)).Written());
    second.reset();
    first.reset();  // ended without delivering: the next start does
    EXPECT_EQ(RecoverWaitingRecords(folder_, log_, std::chrono::seconds(1), reader).appended, 1);
    EXPECT_EQ(Read(log_), kB + kA);
}

}  // namespace
