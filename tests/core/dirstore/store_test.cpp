#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>

#include "dirstore/store.h"
#include "fresh_store_test.h"
#include "platform/files.h"

namespace tally::store {
namespace {

using testing::AppendText;
using testing::ReadText;

class StoreTest : public testing::FreshStoreTest {
  protected:
    StoreTest() : FreshStoreTest("store") {}

    std::string Journal() const { return ReadText(folder_.Path() / "journal.ldif"); }
};

TEST_F(StoreTest, LoadsTheTree) {
    auto store = Open();
    ASSERT_TRUE(store);
    const Entry* user = store->Find("jsmith.sales.corp");
    ASSERT_NE(user, nullptr);
    EXPECT_EQ(user->name, "JSMITH.SALES.CORP");
    EXPECT_EQ(user->objectClass, "User");
    EXPECT_EQ(Value(*store, "JSMITH.SALES.CORP", "CN"), "JSMITH");
    EXPECT_EQ(Value(*store, "JSMITH.SALES.CORP", "Account Balance"), "1500");
    EXPECT_EQ(Value(*store, "JSMITH.SALES.CORP", "Object Class"), "User");
    EXPECT_EQ(Value(*store, "EVERYONE.CORP", "Member"), "ADMIN.CORP|JSMITH.SALES.CORP");

    std::vector<std::string> names;
    for (const Entry* entry : store->Children("sales.corp")) {
        names.push_back(entry->name);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"AJONES.SALES.CORP", "JSMITH.SALES.CORP"}));
    EXPECT_EQ(store->Children("").size(), 1u);
    EXPECT_EQ(store->Children("CORP").size(), 3u);
    EXPECT_TRUE(store->Children("NOWHERE").empty());
}

TEST_F(StoreTest, CounterAdditionsAreJournalledAsIncrements) {
    auto store = Open();
    ASSERT_TRUE(store);
    EXPECT_EQ(
        store->Modify("JSMITH.SALES.CORP", {{ChangeKind::AddValue, "Account Balance", "-25"}}),
        kOk);
    EXPECT_EQ(Value(*store, "JSMITH.SALES.CORP", "Account Balance"), "1475");
    EXPECT_NE(Journal().find("increment: accountBalance\naccountBalance: -25\n-\n"),
              std::string::npos);
    // A counter that is not there yet starts from the amount added.
    EXPECT_EQ(store->Modify("AJONES.SALES.CORP", {{ChangeKind::AddValue, "Account Balance", "40"}}),
              kOk);
    EXPECT_EQ(Value(*store, "AJONES.SALES.CORP", "Account Balance"), "40");
    EXPECT_NE(Journal().find("add: accountBalance\naccountBalance: 40\n"), std::string::npos);

    auto again = Open();
    EXPECT_EQ(Value(*again, "JSMITH.SALES.CORP", "Account Balance"), "1475");
    EXPECT_EQ(Value(*again, "AJONES.SALES.CORP", "Account Balance"), "40");
    EXPECT_TRUE(again->Warnings().empty());
}

TEST_F(StoreTest, OverwriteClearAndAddValue) {
    auto store = Open();
    ASSERT_TRUE(store);
    EXPECT_EQ(store->Modify("JSMITH.SALES.CORP",
                            {{ChangeKind::Overwrite, "Allow Unlimited Credit", "true"},
                             {ChangeKind::Clear, "Minimum Account Balance", "0"}}),
              kOk);
    EXPECT_EQ(
        store->Modify("EVERYONE.CORP", {{ChangeKind::AddValue, "Member", "ajones.sales.corp"}}),
        kOk);
    EXPECT_NE(Journal().find("member: cn=AJONES,ou=SALES,o=CORP\n"), std::string::npos);
    // Clearing what is not there succeeds and writes nothing (LDAP would refuse the delete).
    std::string before = Journal();
    EXPECT_EQ(
        store->Modify("AJONES.SALES.CORP", {{ChangeKind::Clear, "Minimum Account Balance", ""}}),
        kOk);
    EXPECT_EQ(Journal(), before);

    auto again = Open();
    EXPECT_EQ(Value(*again, "JSMITH.SALES.CORP", "Allow Unlimited Credit"), "TRUE");
    EXPECT_EQ(Value(*again, "JSMITH.SALES.CORP", "Minimum Account Balance"), "<absent>");
    EXPECT_EQ(Value(*again, "EVERYONE.CORP", "Member"),
              "ADMIN.CORP|JSMITH.SALES.CORP|AJONES.SALES.CORP");
}

TEST_F(StoreTest, RefusedChangesStoreNothing) {
    auto store = Open();
    ASSERT_TRUE(store);
    struct Case {
        const char* name;
        Change change;
        Status status;
    };
    const Case cases[] = {
        {"NOBODY.SALES.CORP", {ChangeKind::AddValue, "Account Balance", "1"}, kNoSuchEntry},
        {"JSMITH.SALES.CORP", {ChangeKind::AddValue, "Shoe Size", "1"}, kNoSuchAttribute},
        {"JSMITH.SALES.CORP", {ChangeKind::AddValue, "Account Balance", "12x"}, kBadSyntax},
        {"JSMITH.SALES.CORP", {ChangeKind::AddValue, "Account Balance", ""}, kBadSyntax},
        {"JSMITH.SALES.CORP",
         {ChangeKind::Overwrite, "Minimum Account Balance", "3000000000"},
         kBadSyntax},
        {"JSMITH.SALES.CORP", {ChangeKind::Overwrite, "Allow Unlimited Credit", "yes"}, kBadSyntax},
        {"JSMITH.SALES.CORP", {ChangeKind::AddValue, "Account Balance", "2147483647"}, kBadSyntax},
        {"JSMITH.SALES.CORP", {ChangeKind::AddValue, "Member", "ADMIN.CORP"}, kIllegalAttribute},
        {"JSMITH.SALES.CORP", {ChangeKind::Overwrite, "CN", "OTHER"}, kIllegalAttribute},
        {"JSMITH.SALES.CORP", {ChangeKind::Overwrite, "Object Class", "Group"}, kIllegalAttribute},
        {"JSMITH.SALES.CORP", {ChangeKind::AddValue, "Full Name", "Second Name"}, kSingleValued},
        {"EVERYONE.CORP", {ChangeKind::AddValue, "Member", "admin.corp"}, kDuplicateValue},
        {"EVERYONE.CORP", {ChangeKind::AddValue, "Member", "A..CORP"}, kBadSyntax},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(store->Modify(c.name, {c.change}), c.status) << c.change.attribute;
    }
    // A refused change in a request stores none of the request's changes.
    EXPECT_EQ(store->Modify("JSMITH.SALES.CORP",
                            {{ChangeKind::AddValue, "Account Balance", "5"},
                             {ChangeKind::Overwrite, "Minimum Account Balance", "none"}}),
              kBadSyntax);
    EXPECT_EQ(Value(*store, "JSMITH.SALES.CORP", "Account Balance"), "1500");
    EXPECT_EQ(Journal(), "");
}

TEST_F(StoreTest, RefreshSeesAnotherStoresChanges) {
    auto reader = Open();
    auto writer = Open();
    ASSERT_TRUE(reader && writer);
    EXPECT_EQ(writer->Modify("ADMIN.CORP", {{ChangeKind::AddValue, "Account Balance", "7"}}), kOk);
    EXPECT_EQ(Value(*reader, "ADMIN.CORP", "Account Balance"), "0");
    EXPECT_EQ(reader->Refresh(), kOk);
    EXPECT_EQ(Value(*reader, "ADMIN.CORP", "Account Balance"), "7");
    // The reader's own change lands after the writer's, on the current value.
    EXPECT_EQ(reader->Modify("ADMIN.CORP", {{ChangeKind::AddValue, "Account Balance", "3"}}), kOk);
    EXPECT_EQ(writer->Modify("ADMIN.CORP", {{ChangeKind::AddValue, "Account Balance", "1"}}), kOk);
    EXPECT_EQ(Value(*writer, "ADMIN.CORP", "Account Balance"), "11");
    EXPECT_EQ(reader->Refresh(), kOk);
    EXPECT_EQ(Value(*reader, "ADMIN.CORP", "Account Balance"), "11");
}

TEST_F(StoreTest, TornRecordsAreSkippedAndNeverMergeWithTheNext) {
    {
        auto store = Open();
        ASSERT_EQ(store->Modify("ADMIN.CORP", {{ChangeKind::AddValue, "Account Balance", "5"}}),
                  kOk);
    }
    std::string whole = Journal();
    std::size_t recordStart = whole.find("# record");
    std::string record = whole.substr(recordStart);
    // A writer that stopped half-way through the same record.
    AppendText(folder_.Path() / "journal.ldif", record.substr(0, record.size() / 2));

    auto store = Open();
    ASSERT_TRUE(store);
    EXPECT_EQ(Value(*store, "ADMIN.CORP", "Account Balance"), "5");
    ASSERT_EQ(store->Warnings().size(), 1u);
    EXPECT_EQ(store->Warnings()[0].line, 9);
    EXPECT_NE(store->Warnings()[0].Describe().find("journal.ldif:9: torn record"),
              std::string::npos);

    EXPECT_EQ(store->Modify("ADMIN.CORP", {{ChangeKind::AddValue, "Account Balance", "2"}}), kOk);
    auto again = Open();
    EXPECT_EQ(Value(*again, "ADMIN.CORP", "Account Balance"), "7");
    ASSERT_EQ(again->Warnings().size(), 1u);
    EXPECT_EQ(again->Warnings()[0].line, 9);

    // A record whose bytes changed after it was written fails its CRC and is skipped too.
    std::string text = Journal();
    std::size_t last = text.rfind("accountBalance: 2");
    text[last + 16] = '9';
    testing::WriteText(folder_.Path() / "journal.ldif", text);
    auto damaged = Open();
    EXPECT_EQ(Value(*damaged, "ADMIN.CORP", "Account Balance"), "5");
    EXPECT_EQ(damaged->Warnings().size(), 2u);

    // Bytes of a torn write without a line end run into the next whole record, which is read.
    AppendText(folder_.Path() / "journal.ldif", record);
    int junkLine = 1 + static_cast<int>(std::count(text.begin(), text.end(), '\n') +
                                        std::count(record.begin(), record.end(), '\n'));
    AppendText(folder_.Path() / "journal.ldif", "xyz" + record);
    auto junk = Open();
    EXPECT_EQ(Value(*junk, "ADMIN.CORP", "Account Balance"), "15");
    ASSERT_EQ(junk->Warnings().size(), 3u);
    EXPECT_EQ(junk->Warnings()[2].line, junkLine);
}

// Whole journal records that do not apply are skipped with a warning naming their line, and a
// compaction does not write them back.
TEST_F(StoreTest, RecordsThatDoNotApplyAreSkippedWithTheirLine) {
    struct Case {
        const char* record;
        const char* words;
    };
    const Case cases[] = {
        {"dn: cn=GHOST,o=CORP\nchangetype: modify\nincrement: accountBalance\n"
         "accountBalance: 1\n-\n",
         "GHOST"},
        {"dn: cn=ADMIN,o=CORP\\\nchangetype: modify\nincrement: accountBalance\n"
         "accountBalance: 1\n-\n",
         "escapes nothing"},
        {"dn: cn=EVIL\\\nchangetype: add\nobjectClass: tallyUser\n", "escapes nothing"},
        {"dn: cn=CUT,o=CORP\\\nchangetype: add\nobjectClass: tallyUser\n", "escapes nothing"},
        {"dn: cn=LOST,ou=NOWHERE,o=CORP\nchangetype: add\nobjectClass: tallyUser\n",
         "does not exist"},
        {"dn: cn=TOP\nchangetype: add\nobjectClass: tallyUser\n", "top of the tree"},
        {"dn: cn=INSIDE,cn=ADMIN,o=CORP\nchangetype: add\nobjectClass: tallyUser\n", "cannot hold"},
        {"dn: cn=SHIP,o=CORP\nchangetype: add\nobjectClass: spaceship\n", "unknown object class"},
    };
    std::string text;
    std::vector<int> lines;
    for (const Case& c : cases) {
        lines.push_back(1 + static_cast<int>(std::count(text.begin(), text.end(), '\n')));
        text += std::string(c.record) + "\n";
    }
    text +=
        "dn: cn=ADMIN,o=CORP\nchangetype: modify\nincrement: accountBalance\n"
        "accountBalance: 4\n-\n\n";
    AppendText(folder_.Path() / "journal.ldif", text);
    auto store = Open();
    ASSERT_TRUE(store);
    EXPECT_EQ(Value(*store, "ADMIN.CORP", "Account Balance"), "4");
    ASSERT_EQ(store->Warnings().size(), std::size(cases));
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const Problem& warning = store->Warnings()[i];
        EXPECT_EQ(warning.file.filename(), "journal.ldif");
        EXPECT_EQ(warning.line, lines[i]) << warning.Describe();
        EXPECT_NE(warning.message.find(cases[i].words), std::string::npos) << warning.Describe();
    }
    for (const char* name : {"EVIL", "CUT", "TOP", "LOST.NOWHERE.CORP", "SHIP.CORP"}) {
        EXPECT_EQ(store->Find(name), nullptr) << name;
    }
    ASSERT_EQ(store->Compact(), kOk);
    auto compacted = Open();
    EXPECT_EQ(Value(*compacted, "ADMIN.CORP", "Account Balance"), "4");
    EXPECT_TRUE(compacted->Warnings().empty());
    EXPECT_EQ(compacted->Children("").size(), 1u);
    EXPECT_EQ(compacted->Children("CORP").size(), 3u);
}

// A snapshot written by hand may list what a container holds before the container.
TEST_F(StoreTest, ContainersMayComeAfterWhatTheyHold) {
    testing::WriteText(folder_.Path() / "directory.ldif",
                       "dn: cn=A,ou=S,o=C\nobjectClass: tallyUser\n\n"
                       "dn: ou=S,o=C\nobjectClass: organizationalUnit\n\n"
                       "dn: o=C\nobjectClass: organization\n");
    auto store = Open();
    ASSERT_TRUE(store);
    EXPECT_EQ(store->Children("S.C").size(), 1u);
}

std::atomic<int> lockWaits{0};
void CountLockWait() {
    ++lockWaits;
}

// Another program that keeps the store's lock (here a second lock in this process, which
// conflicts like another process's) makes changes fail with kLocked after the wait, storing
// nothing, and never holds up a reader.
TEST_F(StoreTest, AHeldLockEndsChangesWithLockedAndNeverHoldsUpReaders) {
    Problem problem;
    auto store = Store::Open(folder_.Path(), &problem, std::chrono::milliseconds(100));
    ASSERT_TRUE(store) << problem.Describe();
    {
        auto writer = Open();
        ASSERT_EQ(writer->Modify("ADMIN.CORP", {{ChangeKind::AddValue, "Account Balance", "5"}}),
                  kOk);
    }
    std::string error;
    auto held = platform::AppendLock::Acquire(folder_.Path() / "store.lock", &error);
    ASSERT_TRUE(held) << error;
    std::string before = Journal();
    EXPECT_EQ(store->Modify("ADMIN.CORP", {{ChangeKind::AddValue, "Account Balance", "1"}}),
              kLocked);
    EXPECT_EQ(store->AddEntry({"NEW.CORP", "User", {}}), kLocked);
    EXPECT_EQ(store->Compact(), kLocked);
    EXPECT_EQ(Journal(), before);
    EXPECT_EQ(Value(*store, "ADMIN.CORP", "Account Balance"), "0");
    EXPECT_EQ(store->Find("NEW.CORP"), nullptr);
    ASSERT_FALSE(store->Warnings().empty());
    EXPECT_NE(store->Warnings().back().message.find("is locked by another program"),
              std::string::npos)
        << store->Warnings().back().Describe();

    // A record still being written at the end: a reader neither waits for the lock nor takes
    // the record for torn; it reads it once it is whole.
    std::string record = before.substr(before.find("# record"));
    AppendText(folder_.Path() / "journal.ldif", record.substr(0, record.size() / 2));
    auto reader = Open();
    ASSERT_TRUE(reader);
    lockWaits = 0;
    platform::LockWaitHook previous = platform::SetLockWaitHook(&CountLockWait);
    EXPECT_EQ(store->Refresh(), kOk);
    EXPECT_EQ(reader->Refresh(), kOk);
    platform::SetLockWaitHook(previous);
    EXPECT_EQ(lockWaits.load(), 0);
    EXPECT_EQ(Value(*store, "ADMIN.CORP", "Account Balance"), "5");
    EXPECT_TRUE(reader->Warnings().empty()) << reader->Warnings().front().Describe();
    AppendText(folder_.Path() / "journal.ldif", record.substr(record.size() / 2));
    EXPECT_EQ(reader->Refresh(), kOk);
    EXPECT_EQ(Value(*reader, "ADMIN.CORP", "Account Balance"), "10");
    EXPECT_TRUE(reader->Warnings().empty()) << reader->Warnings().front().Describe();

    held.reset();
    EXPECT_EQ(store->Modify("ADMIN.CORP", {{ChangeKind::AddValue, "Account Balance", "1"}}), kOk);
    EXPECT_EQ(Value(*Open(), "ADMIN.CORP", "Account Balance"), "11");
}

// Sync() flushes the journal when this store appended to it since the last sync, and only then:
// a journal that cannot be opened for writing (here a folder in its place) fails the flush, and
// does not matter when there is nothing to flush.
TEST_F(StoreTest, SyncFlushesOnlyWhatWasAppendedSinceTheLastSync) {
    const std::filesystem::path file = folder_.Path() / "journal.ldif";
    const std::filesystem::path aside = folder_.Path() / "journal.aside";
    auto blockJournal = [&] {
        std::filesystem::rename(file, aside);
        std::filesystem::create_directory(file);
    };
    auto unblockJournal = [&] {
        std::filesystem::remove(file);
        std::filesystem::rename(aside, file);
    };
    std::filesystem::remove(file);  // the first change of a folder without a journal
    auto store = Open();
    ASSERT_TRUE(store);
    EXPECT_EQ(store->Sync(), kOk);
    ASSERT_EQ(store->Modify("ADMIN.CORP", {{ChangeKind::AddValue, "Account Balance", "5"}}), kOk);
    EXPECT_EQ(Journal().rfind("# tallydesk journal generation=0\n# record", 0), 0u) << Journal();
    blockJournal();
    EXPECT_EQ(store->Sync(), kIoError);
    ASSERT_FALSE(store->Warnings().empty());
    EXPECT_NE(store->Warnings().back().Describe().find("journal.ldif"), std::string::npos)
        << store->Warnings().back().Describe();
    unblockJournal();
    EXPECT_EQ(store->Sync(), kOk);
    blockJournal();
    EXPECT_EQ(store->Sync(), kOk);  // nothing appended since: nothing to flush
    unblockJournal();
    EXPECT_EQ(Value(*Open(), "ADMIN.CORP", "Account Balance"), "5");
}

TEST_F(StoreTest, AddEntry) {
    auto store = Open();
    ASSERT_TRUE(store);
    Entry user{"NEWBIE.SALES.CORP", "User", {}};
    user.attributes["Full Name"] = {"New Person"};
    user.attributes["Account Balance"] = {"10"};
    EXPECT_EQ(store->AddEntry(user), kOk);
    EXPECT_EQ(store->AddEntry(user), kEntryExists);
    EXPECT_EQ(store->AddEntry({"X.NOWHERE.CORP", "User", {}}), kNoSuchEntry);
    EXPECT_EQ(store->AddEntry({"X.JSMITH.SALES.CORP", "User", {}}), kIllegalContainment);
    EXPECT_EQ(store->AddEntry({"X.SALES.CORP", "Spaceship", {}}), kNoSuchClass);
    Entry bad{"Y.SALES.CORP", "User", {}};
    bad.attributes["Account Balance"] = {"1", "2"};
    EXPECT_EQ(store->AddEntry(bad), kSingleValued);
    EXPECT_NE(Journal().find("dn: cn=NEWBIE,ou=SALES,o=CORP\nchangetype: add\n"),
              std::string::npos);

    auto again = Open();
    EXPECT_EQ(Value(*again, "newbie.sales.corp", "Full Name"), "New Person");
    EXPECT_EQ(again->Children("SALES.CORP").size(), 3u);
}

TEST_F(StoreTest, BadSnapshotsNameFileAndLine) {
    struct Case {
        const char* tree;
        int line;
        const char* words;
    };
#define CORP "dn: o=CORP\nobjectClass: organization\n\n"
    const Case cases[] = {
        {CORP "dn: cn=A,o=CORP\nobjectClass: tallyUser\naccountBalance: lots\n", 4, "bad value"},
        {CORP "dn: O=corp\nobjectClass: organization\n", 4, "twice"},
        {"dn: o=CORP\no: CORP\n", 1, "objectClass"},
        {"dn: cn=A+sn=B,o=CORP\nobjectClass: tallyUser\n", 1, "multi-valued"},
        {"dn: cn=A,o=CORP\nobjectClass: tallyUser\naccountBalance: 1\naccountBalance: 2\n", 1,
         "single value"},
        {"dn: cn=EVIL\\\nobjectClass: tallyUser\n", 1, "escapes nothing"},
        {CORP "dn: cn=A,o=CORP\\\nobjectClass: tallyUser\n", 4, "escapes nothing"},
        {CORP "dn: cn=A,ou=NOWHERE,o=CORP\nobjectClass: tallyUser\n", 4, "does not exist"},
        {CORP "dn: cn=TOP\nobjectClass: tallyUser\n", 4, "top of the tree"},
        {CORP "dn: cn=A,o=CORP\nobjectClass: spaceship\n", 4, "unknown object class"},
        {CORP "dn: cn=A,o=CORP\nobjectClass: top\nobjectClass: spaceship\n", 4, "spaceship"},
        // The container comes later in the file, but cannot hold the entry.
        {CORP "dn: cn=B,cn=A,o=CORP\nobjectClass: tallyUser\n\n"
              "dn: cn=A,o=CORP\nobjectClass: tallyUser\n",
         4, "a User cannot hold a User"},
        {CORP "dn: cn=G,o=CORP\nobjectClass: tallyGroup\nmember: cn=X\\\n", 4, "bad value"},
    };
#undef CORP
    for (const Case& c : cases) {
        testing::WriteText(folder_.Path() / "directory.ldif", c.tree);
        Problem problem;
        EXPECT_EQ(Store::Open(folder_.Path(), &problem), nullptr) << c.tree;
        EXPECT_EQ(problem.line, c.line) << problem.Describe();
        EXPECT_EQ(problem.file.filename(), "directory.ldif");
        EXPECT_NE(problem.message.find(c.words), std::string::npos) << problem.Describe();
    }
    std::filesystem::remove(folder_.Path() / "schema.ldif");
    Problem problem;
    EXPECT_EQ(Store::Open(folder_.Path(), &problem), nullptr);
    EXPECT_NE(problem.Describe().find("schema.ldif"), std::string::npos);
}

}  // namespace
}  // namespace tally::store
