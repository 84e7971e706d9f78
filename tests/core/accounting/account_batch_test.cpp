// Applying an operation to a selection, against a host that remembers what was asked of it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "accounting/account_batch.h"

namespace {

class RecordingHost final : public AccountOperationHost {
  public:
    void Announce(const std::string& name) override { events.push_back("announce " + name); }
    DirStatus Change(const std::string& name, bool readBalanceFirst) override {
        events.push_back((readBalanceFirst ? "change (fresh) " : "change ") + name);
        const auto failing = refusals.find(name);
        return failing == refusals.end() ? DIR_OK : failing->second;
    }
    int ChangesAhead() const override { return ahead; }
    void Send(const std::string& name) override {
        events.push_back("send " + name);
        mostOnTheirWay = std::max(mostOnTheirWay, ++onTheirWay);
    }
    DirStatus Take(const std::string& name) override {
        events.push_back("take " + name);
        --onTheirWay;
        const auto failing = refusals.find(name);
        return failing == refusals.end() ? DIR_OK : failing->second;
    }
    bool Recording() const override { return recordingOn; }
    LogAppendResult OpenLog() override {
        events.push_back("open log");
        return openResult;
    }
    void Record(const std::string& listedName) override {
        events.push_back("record " + listedName);
    }
    LogAppendResult Commit() override {
        EXPECT_EQ(onTheirWay, 0) << "a commit with changes on their way";
        events.push_back("commit");
        ++commits;
        return commitResult;
    }
    void ReportLogFailure(const LogAppendResult& result, bool nothingChanged) override {
        shownLogFailures.push_back(result.errorText + (nothingChanged ? " (nothing changed)" : ""));
    }

    std::vector<std::string> events;
    std::map<std::string, DirStatus> refusals;
    int ahead = 1;
    int onTheirWay = 0;
    int mostOnTheirWay = 0;
    bool recordingOn = true;
    LogAppendResult openResult;
    LogAppendResult commitResult;
    int commits = 0;
    std::vector<std::string> shownLogFailures;
};

TEST(ApplyingToTheSelection, TheFirstMatchingCaseIsTaken) {
    EXPECT_EQ(ClassifySelection(2, false, "JSMITH"), SelectionKind::MultipleSelection);
    EXPECT_EQ(ClassifySelection(3, true, kAllUsersEntry), SelectionKind::MultipleSelection);
    EXPECT_EQ(ClassifySelection(1, false, "JSMITH"), SelectionKind::OneUser);
    EXPECT_EQ(ClassifySelection(1, true, "STAFF"), SelectionKind::Group);
    EXPECT_EQ(ClassifySelection(1, true, kAllUsersEntry), SelectionKind::AllUsers);
    // The entry's text decides, even where the flag was left from an earlier selection.
    EXPECT_EQ(ClassifySelection(1, false, kAllUsersEntry), SelectionKind::AllUsers);

    EXPECT_TRUE(IsUserEntry("JSMITH"));
    EXPECT_TRUE(IsUserEntry("* (All users in this context"));  // not the exact entry
    EXPECT_FALSE(IsUserEntry("STAFF (Group)"));
    EXPECT_FALSE(IsUserEntry(kAllUsersEntry));
}

TEST(ApplyingToTheSelection, MultipleSelectionChangesAndRecordsOnlyItsUsers) {
    RecordingHost host;
    const BatchOutcome outcome = ApplyToEntries(
        {"*  odd", "BJONES", "JSMITH", "STAFF (Group)", "ZED", kAllUsersEntry}, host);
    EXPECT_EQ(outcome.changed, 4);
    EXPECT_TRUE(outcome.failed.empty());
    EXPECT_EQ(host.events,
              (std::vector<std::string>{"open log", "announce *  odd", "change (fresh) *  odd",
                                        "record *  odd", "announce BJONES", "change (fresh) BJONES",
                                        "record BJONES", "announce JSMITH", "change (fresh) JSMITH",
                                        "record JSMITH", "announce ZED", "change (fresh) ZED",
                                        "record ZED", "commit"}));
    EXPECT_EQ(BatchProblemMessage(outcome), "");

    RecordingHost groupsOnly;
    EXPECT_EQ(ApplyToEntries({"A (Group)", "B (Group)"}, groupsOnly).changed, 0);
    EXPECT_TRUE(groupsOnly.events.empty());
}

TEST(ApplyingToTheSelection, AFailedChangeIsNotRecordedAndIsNamedAfterTheBatch) {
    RecordingHost host;
    host.refusals["BJONES"] = -601;
    const BatchOutcome outcome = ApplyToEntries({"AHILL", "BJONES", "CKING"}, host);
    EXPECT_EQ(outcome.changed, 2);
    EXPECT_EQ(outcome.failed, (std::vector<FailedChange>{{"BJONES", -601}}));
    EXPECT_EQ(std::count(host.events.begin(), host.events.end(), "record BJONES"), 0);
    EXPECT_EQ(host.events.end()[-2], "record CKING");  // the batch went on
    EXPECT_EQ(BatchProblemMessage(outcome), "Accounting error for 1 of 3 users:\nBJONES (-601)");
}

// The log is taken before the first change: when it cannot be had, no change is made at all,
// and when it goes away later, the rest of the batch is not changed either.
TEST(ApplyingToTheSelection, NoChangeIsMadeThatItsRecordCannotFollow) {
    RecordingHost locked;
    locked.openResult = {LogAppendStage::Locked, "locked (33)"};
    const BatchOutcome none = ApplyToEntries({"A", "B", "C"}, locked);
    EXPECT_EQ(locked.events, std::vector<std::string>{"open log"});
    EXPECT_EQ(none.changed, 0);
    EXPECT_TRUE(none.logUnavailable);
    EXPECT_EQ(locked.shownLogFailures, std::vector<std::string>{"locked (33) (nothing changed)"});
    EXPECT_NE(BatchProblemMessage(none).find("users after that point were not changed"),
              std::string::npos);

    RecordingHost single;
    single.openResult = {LogAppendStage::Open, "The network path was not found. (53)"};
    const BatchOutcome one = ApplyToOneUser("JSMITH", single);
    EXPECT_EQ(single.events, std::vector<std::string>{"open log"});
    EXPECT_TRUE(one.failed.empty());  // nothing to call an accounting error: the log was shown

    // Not recording: nothing waits for the log, and the changes are still saved to the disk.
    RecordingHost off;
    off.recordingOn = false;
    off.openResult = {LogAppendStage::Locked, "x"};
    EXPECT_EQ(ApplyToEntries({"A"}, off).changed, 1);
    EXPECT_EQ(off.events, (std::vector<std::string>{"announce A", "change (fresh) A", "commit"}));
}

// The disk is flushed in groups: a commit every kChangesPerCommit changes and one at the end;
// the log is made ready once for the whole run.
TEST(ApplyingToTheSelection, ALongBatchIsSavedInGroups) {
    RecordingHost host;
    std::vector<std::string> users;
    for (int i = 0; i < 2 * kChangesPerCommit + 10; ++i) {
        users.push_back("U" + std::to_string(i));
    }
    host.refusals["U3"] = -601;
    const BatchOutcome outcome = ApplyToEntries(users, host);
    EXPECT_EQ(outcome.changed, 2 * kChangesPerCommit + 9);
    EXPECT_EQ(host.commits, 3);
    EXPECT_EQ(std::count(host.events.begin(), host.events.end(), "open log"), 1);
    EXPECT_EQ(host.events.back(), "commit");

    RecordingHost failing;
    failing.commitResult = {LogAppendStage::Write, "disk full (112)"};
    const BatchOutcome unrecorded = ApplyToEntries(users, failing);
    EXPECT_EQ(unrecorded.unrecorded, 2 * kChangesPerCommit + 10);
    EXPECT_EQ(failing.shownLogFailures, std::vector<std::string>{"disk full (112)"});
    EXPECT_NE(BatchProblemMessage(unrecorded).find(" changes were made but are not in the "),
              std::string::npos);
}

// A batch stops at the first change it cannot go on after, instead of waiting the whole bound
// again for every user: records that the locked log could not take (they wait in the outbox),
// or a directory that stays locked.
TEST(ApplyingToTheSelection, ABatchStopsWhereALockCannotBeHad) {
    std::vector<std::string> users;
    for (int i = 0; i < kChangesPerCommit + 50; ++i) {
        users.push_back("U" + std::to_string(i));
    }
    RecordingHost logLocked;
    logLocked.commitResult = {LogAppendStage::Locked, "locked (33)", kChangesPerCommit};
    logLocked.commitResult.waitingIn = "/home/op/tallydsk.out";
    const BatchOutcome waiting = ApplyToEntries(users, logLocked);
    EXPECT_EQ(waiting.changed, kChangesPerCommit);
    EXPECT_EQ(waiting.recordsWaiting, kChangesPerCommit);
    EXPECT_EQ(waiting.unrecorded, 0);
    EXPECT_EQ(logLocked.commits, 1);
    EXPECT_EQ(logLocked.shownLogFailures, std::vector<std::string>{"locked (33)"});
    EXPECT_NE(BatchProblemMessage(waiting).find(std::to_string(kChangesPerCommit) +
                                                " records of changes that were made wait in "
                                                "/home/op/tallydsk.out"),
              std::string::npos)
        << BatchProblemMessage(waiting);

    RecordingHost storeLocked;
    storeLocked.refusals["U3"] = DIR_ERR_LOCKED;
    const BatchOutcome stopped = ApplyToEntries(users, storeLocked);
    EXPECT_EQ(stopped.changed, 3);
    EXPECT_TRUE(stopped.directoryLocked);
    EXPECT_EQ(stopped.failed, (std::vector<FailedChange>{{"U3", DIR_ERR_LOCKED}}));
    EXPECT_EQ(std::count(storeLocked.events.begin(), storeLocked.events.end(), "change (fresh) U4"),
              0);
    EXPECT_EQ(storeLocked.events.back(), "commit");
    EXPECT_NE(BatchProblemMessage(stopped).find("The directory is locked by another program, so "
                                                "the users after that point were not changed (3 "
                                                "changed before)."),
              std::string::npos);
}

// Whatever stops a batch, every user after the stop is named as not done, in order, and no
// change is tried for any of them; a server that stayed away is said so, with the first names.
TEST(ApplyingToTheSelection, AStoppedBatchNamesEveryUserItDidNotReach) {
    const struct {
        DirStatus refusal;
        bool serverAway;
        bool directoryLocked;
    } cases[] = {
        {DIR_ERR_UNAVAILABLE, true, false},
        {DIR_ERR_LOCKED, false, true},
        {DIR_ERR_NO_ACCESS, false, false},  // one user's refusal: the batch goes on
    };
    std::vector<std::string> users;
    for (int i = 0; i < 40; ++i) {
        users.push_back("U" + std::to_string(i));
    }
    for (const auto& one : cases) {
        RecordingHost host;
        host.refusals["U5"] = one.refusal;
        const BatchOutcome outcome = ApplyToEntries(users, host);
        const bool stops = one.serverAway || one.directoryLocked;
        EXPECT_EQ(outcome.serverAway, one.serverAway) << one.refusal;
        EXPECT_EQ(outcome.directoryLocked, one.directoryLocked) << one.refusal;
        EXPECT_EQ(outcome.changed, stops ? 5 : 39) << one.refusal;
        EXPECT_EQ(outcome.notDone, stops ? std::vector<std::string>(users.begin() + 6, users.end())
                                         : std::vector<std::string>{})
            << one.refusal;
        EXPECT_EQ(std::count(host.events.begin(), host.events.end(), "change (fresh) U6"),
                  stops ? 0 : 1)
            << one.refusal;
        const std::string message = BatchProblemMessage(outcome);
        EXPECT_EQ(message.find("The directory server stayed away, so the batch stopped there (5 "
                               "changed before). Not changed:\nU6\nU7\n") != std::string::npos,
                  one.serverAway)
            << message;
        if (one.serverAway) {
            EXPECT_NE(message.find("\nU15\nand 24 more"), std::string::npos) << message;
        }
    }
}

// Changes sent ahead: outcomes are taken and recorded in the batch's order, a refusal fails
// only its user, a user met again waits for its first change, no more than the window is on its
// way, and a server that stays away stops the batch with what was sent still taken.
TEST(ApplyingToTheSelection, ChangesSentAheadKeepTheBatchsOrder) {
    std::vector<std::string> users;
    for (int i = 0; i < 2 * kChangesPerCommit + 20; ++i) {
        users.push_back("U" + std::to_string(i));
    }
    users.insert(users.begin() + 4, "u2");  // U2 again, spelt otherwise
    // Six users come before U5; when the server stays away at U5, those sent after it before
    // its outcome was taken (the window's four at most) are taken, the rest are not done.
    for (const DirStatus refusal : {DIR_ERR_NO_ACCESS, DIR_ERR_UNAVAILABLE}) {
        const bool stops = refusal == DIR_ERR_UNAVAILABLE;
        RecordingHost host;
        host.ahead = 5;
        host.refusals["U5"] = refusal;
        const BatchOutcome outcome = ApplyToEntries(users, host);
        const auto changed = static_cast<std::size_t>(outcome.changed);
        EXPECT_EQ(outcome.failed, (std::vector<FailedChange>{{"U5", refusal}}));
        EXPECT_EQ(changed + 1 + outcome.notDone.size(), users.size());
        if (stops) {
            EXPECT_GE(changed, 6u);
            EXPECT_LE(changed, 10u);
            EXPECT_EQ(outcome.notDone,
                      std::vector<std::string>(users.begin() + changed + 1, users.end()));
        } else {
            EXPECT_TRUE(outcome.notDone.empty());
        }
        EXPECT_EQ(host.mostOnTheirWay, 5);
        EXPECT_EQ(host.onTheirWay, 0);
        std::vector<std::string> records;
        for (const std::string& event : host.events) {
            if (event.rfind("record ", 0) == 0) {
                records.push_back(event.substr(7));
            }
        }
        std::vector<std::string> expected(users.begin(), users.begin() + changed + 1);
        expected.erase(std::find(expected.begin(), expected.end(), "U5"));
        EXPECT_EQ(records, expected) << refusal;
        const auto at = [&](const std::string& event) {
            return std::find(host.events.begin(), host.events.end(), event) - host.events.begin();
        };
        EXPECT_LT(at("take U2"), at("send u2"));
        EXPECT_EQ(host.events.back(), "commit");
    }
}

TEST(ApplyingToTheSelection, OneUserIsRecordedOnlyWhenItsChangeWorked) {
    RecordingHost host;
    EXPECT_TRUE(ApplyToOneUser("JSMITH", host).failed.empty());
    // A single user's Set Balance replaces the balance the selection display read.
    EXPECT_EQ(host.events,
              (std::vector<std::string>{"open log", "change JSMITH", "record JSMITH", "commit"}));

    RecordingHost failing;
    failing.refusals["JSMITH"] = -603;
    EXPECT_EQ(ApplyToOneUser("JSMITH", failing).failed,
              (std::vector<FailedChange>{{"JSMITH", -603}}));
    // Nothing was changed, so there is nothing to save or append.
    EXPECT_EQ(failing.events, (std::vector<std::string>{"open log", "change JSMITH"}));
    EXPECT_EQ(AccountingErrorMessage(-603), "Accounting error -603!");
    EXPECT_EQ(AccountingErrorMessage(DIR_ERR_LOCKED).rfind("Accounting error -652!\n", 0), 0u);
    // A directory server's refusal and absence say what they mean, not only a number.
    const struct {
        DirStatus status;
        const char* start;
    } serverCases[] = {
        {DIR_ERR_NO_ACCESS,
         "Accounting error -672!\nThe directory refused the change: this login may not change"},
        {DIR_ERR_UNAVAILABLE,
         "Accounting error -653!\nThe directory server could not be reached, or went away."},
    };
    for (const auto& c : serverCases) {
        EXPECT_EQ(AccountingErrorMessage(c.status).rfind(c.start, 0), 0u)
            << AccountingErrorMessage(c.status);
        BatchOutcome outcome;
        outcome.changed = 2;
        outcome.failed = {{"A", c.status}, {"B", c.status}};
        const std::string message = BatchProblemMessage(outcome);
        const std::string meaning =
            std::string(c.start).substr(std::strlen("Accounting error -6xx!\n"));
        EXPECT_NE(message.find("\n\n" + meaning), std::string::npos) << message;
        EXPECT_EQ(message.find(meaning), message.rfind(meaning)) << "said once: " << message;
    }

    RecordingHost noLog;
    noLog.commitResult = {LogAppendStage::Write, "x (5)"};
    EXPECT_EQ(ApplyToOneUser("JSMITH", noLog).unrecorded, 1);
    EXPECT_EQ(noLog.shownLogFailures, std::vector<std::string>{"x (5)"});
}

TEST(ApplyingToTheSelection, ManyFailuresAreNamedUpToTenThenCounted) {
    BatchOutcome outcome;
    outcome.changed = 5;
    for (int i = 0; i < 12; ++i) {
        outcome.failed.push_back({"U" + std::to_string(i), -601});
    }
    outcome.listingStatus = -650;
    const std::string message = BatchProblemMessage(outcome);
    EXPECT_EQ(message.rfind("Accounting error for 12 of 17 users:\nU0 (-601)\n", 0), 0u);
    EXPECT_NE(message.find("U9 (-601)\nand 2 more\n\n"), std::string::npos);
    EXPECT_EQ(message.find("U10"), std::string::npos);
    EXPECT_NE(message.find("could not be read to its end (-650)"), std::string::npos);
}

TEST(GroupMembers, AreRecordedUnderTheirNameInTheCurrentContext) {
    EXPECT_EQ(ListedNameInContext("JSMITH.SALES.CORP", "SALES.CORP"), "JSMITH");
    EXPECT_EQ(ListedNameInContext("JSMITH.SALES.CORP", "sales.corp"), "JSMITH");
    EXPECT_EQ(ListedNameInContext("ADMIN.CORP", "SALES.CORP"), "ADMIN.CORP");
    EXPECT_EQ(ListedNameInContext("JSMITH.XSALES.CORP", "SALES.CORP"), "JSMITH.XSALES.CORP");
    EXPECT_EQ(ListedNameInContext("SALES.CORP", "SALES.CORP"), "SALES.CORP");
    EXPECT_EQ(ListedNameInContext("ADMIN.CORP", "[Root]"), "ADMIN.CORP");
}

TEST(AmountDialogTexts, TitleAndPromptFollowTheSelection) {
    const AmountMode pages = IntegerAmountMode();
    const AmountMode cents = MakeAmountMode(true, 2);
    const PromptValues values{1500, -200, false};
    EXPECT_EQ(AmountDialogTitle(AccountOperation::Deposit, 1, "JSMITH"), "Deposit: JSMITH");
    EXPECT_EQ(AmountDialogTitle(AccountOperation::SetBalance, 4, "JSMITH"), "Set Balance");
    EXPECT_EQ(AmountDialogTitle(AccountOperation::SetLimit, 0, ""), "Set Limit: ");

    // The count includes groups and the all-users entry of the selection.
    EXPECT_EQ(AmountPromptLine(AccountOperation::Charge, 4, true, "STAFF", values, pages),
              "Charge for 4 users");
    EXPECT_EQ(AmountPromptLine(AccountOperation::Deposit, 1, true, "STAFF", values, pages),
              "Deposit for group STAFF");
    EXPECT_EQ(AmountPromptLine(AccountOperation::SetLimit, 1, false, kAllUsersEntry, values, pages),
              "Set Limit for group * (All users in this context)");
    EXPECT_EQ(AmountPromptLine(AccountOperation::SetLimit, 1, false, "JSMITH", values, cents),
              "Credit limit is -2.00");
    EXPECT_EQ(
        AmountPromptLine(AccountOperation::SetLimit, 1, false, "JSMITH", {1500, -200, true}, pages),
        "Credit limit is Unlimited");
    EXPECT_EQ(AmountPromptLine(AccountOperation::SetBalance, 1, false, "JSMITH", values, pages),
              "Current balance is 1500");
    EXPECT_EQ(AmountPromptLine(AccountOperation::Deposit, 1, false, "JSMITH", values, cents),
              "Current balance is 15.00");

    EXPECT_EQ(GroupQuestion(AccountOperation::Deposit, "STAFF"),
              "Deposit for all members of group STAFF?");
    EXPECT_EQ(GroupQuestion(AccountOperation::Deposit, kAllUsersEntry),
              "Deposit for all members of group * (All users in this context)?");
    EXPECT_EQ(AmountOutOfRangeMessage("99999999999", cents),
              "The amount \"99999999999\" does not fit an account: it must lie between "
              "-21474836.47 and 21474836.47.\nNothing was changed.");
}

}  // namespace
