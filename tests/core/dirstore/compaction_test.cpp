#include <gtest/gtest.h>

#include <algorithm>

#include "dirstore/store.h"
#include "fresh_store_test.h"

namespace tally::store {
namespace {

using testing::readText;
using testing::writeText;

class CompactionTest : public testing::FreshStoreTest {
  protected:
    CompactionTest() : FreshStoreTest("compact") {}

    static std::string balance(const Store& store, std::string_view name) {
        return value(store, name, "Account Balance");
    }

    static void add(Store& store, std::string_view name, const char* amount) {
        ASSERT_EQ(store.Modify(name, {{ChangeKind::AddValue, "Account Balance", amount}}), kOk);
    }

    std::filesystem::path file(const char* name) const { return folder.path() / name; }
};

TEST_F(CompactionTest, FoldsTheJournalIntoANewSnapshot) {
    auto store = open();
    auto other = open();
    ASSERT_TRUE(store && other);
    add(*store, "JSMITH.SALES.CORP", "5");
    add(*store, "AJONES.SALES.CORP", "9");
    ASSERT_EQ(store->Compact(), kOk);
    EXPECT_EQ(readText(file("journal.ldif")), "# tallydesk journal generation=1\n");
    std::string snapshot = readText(file("directory.ldif"));
    EXPECT_EQ(snapshot.rfind("# tallydesk snapshot generation=1\n", 0), 0u);
    EXPECT_NE(snapshot.find("accountBalance: 1505"), std::string::npos);
    EXPECT_NE(snapshot.find("description: kept as it is"), std::string::npos);
    // Containers come before what they hold, as LDAP loaders need.
    EXPECT_LT(snapshot.find("dn: ou=SALES,o=CORP"), snapshot.find("dn: cn=JSMITH,ou=SALES"));
    EXPECT_LT(snapshot.find("dn: o=CORP"), snapshot.find("dn: ou=SALES,o=CORP"));

    // Another view notices the compaction and goes on from the new files.
    EXPECT_EQ(other->Refresh(), kOk);
    EXPECT_EQ(balance(*other, "JSMITH.SALES.CORP"), "1505");
    add(*store, "JSMITH.SALES.CORP", "1");
    add(*other, "JSMITH.SALES.CORP", "2");
    EXPECT_EQ(store->Refresh(), kOk);
    EXPECT_EQ(balance(*store, "JSMITH.SALES.CORP"), "1508");
    ASSERT_EQ(other->Compact(), kOk);
    EXPECT_EQ(store->Refresh(), kOk);
    EXPECT_EQ(balance(*store, "JSMITH.SALES.CORP"), "1508");
    EXPECT_EQ(balance(*open(), "AJONES.SALES.CORP"), "9");
}

// Killed while writing the temporary files: the old snapshot and journal still stand.
TEST_F(CompactionTest, LeftoverTemporaryFilesAreIgnored) {
    {
        auto store = open();
        add(*store, "JSMITH.SALES.CORP", "5");
    }
    writeText(file("directory.ldif.tmp"),
              "# tallydesk snapshot generation=1\ndn: o=HALF\nobjectCl");
    writeText(file("journal.ldif.tmp"), "# tallydesk journal generation=1\n");
    auto store = open();
    EXPECT_EQ(balance(*store, "JSMITH.SALES.CORP"), "1505");
    EXPECT_EQ(store->Find("HALF"), nullptr);
    ASSERT_EQ(store->Compact(), kOk);
    EXPECT_FALSE(std::filesystem::exists(file("directory.ldif.tmp")));
    EXPECT_EQ(balance(*open(), "JSMITH.SALES.CORP"), "1505");
}

// Killed between the two renames: the new snapshot holds every change and the old journal is
// still in place. Its records must not be applied a second time, and the next writer starts a
// new journal before it appends.
TEST_F(CompactionTest, OldJournalBesideANewSnapshotIsNotAppliedTwice) {
    {
        auto store = open();
        add(*store, "JSMITH.SALES.CORP", "5");
        add(*store, "JSMITH.SALES.CORP", "7");
    }
    std::string oldJournal = readText(file("journal.ldif"));
    {
        auto store = open();
        ASSERT_EQ(store->Compact(), kOk);
    }
    writeText(file("journal.ldif"), oldJournal);

    auto reader = open();
    EXPECT_EQ(balance(*reader, "JSMITH.SALES.CORP"), "1512");
    auto writer = open();
    add(*writer, "JSMITH.SALES.CORP", "1");
    EXPECT_EQ(readText(file("journal.ldif")).rfind("# tallydesk journal generation=1\n", 0), 0u);
    EXPECT_EQ(balance(*writer, "JSMITH.SALES.CORP"), "1513");
    EXPECT_EQ(reader->Refresh(), kOk);
    EXPECT_EQ(balance(*reader, "JSMITH.SALES.CORP"), "1513");
    EXPECT_EQ(balance(*open(), "JSMITH.SALES.CORP"), "1513");

    // The same state met by a compaction first.
    std::string journalOfGeneration1 = readText(file("journal.ldif"));
    ASSERT_EQ(open()->Compact(), kOk);
    writeText(file("journal.ldif"), journalOfGeneration1);
    auto compactor = open();
    ASSERT_EQ(compactor->Compact(), kOk);
    EXPECT_EQ(balance(*open(), "JSMITH.SALES.CORP"), "1513");
}

// A compaction killed at any point while a writer that opened the store before it goes on
// writing: every change must land where every later reader reads, exactly once. Each case lays
// the files as the compaction leaves them when killed there; the journal "at the renames" is the
// one a compaction leaves when it fails just before them (its temporary snapshot cannot be made).
TEST_F(CompactionTest, KilledAtAnyPointWhileAWriterHasTheStoreOpen) {
    enum class KilledAt {
        WritingTheSnapshot,
        BeforeTheRenames,
        BetweenTheRenames,
        AfterTheRenames
    };
    struct Case {
        KilledAt at;
        bool handWrittenJournal;  // a journal without its generation line
    };
    const Case cases[] = {
        {KilledAt::WritingTheSnapshot, false}, {KilledAt::BeforeTheRenames, false},
        {KilledAt::BetweenTheRenames, false},  {KilledAt::AfterTheRenames, false},
        {KilledAt::BetweenTheRenames, true},   {KilledAt::AfterTheRenames, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("killed at " + std::to_string(static_cast<int>(c.at)) +
                     (c.handWrittenJournal ? ", hand-written journal" : ""));
        testing::ScratchFolder own("killed");
        testing::layStore(own.path());
        auto at = [&](const char* name) { return own.path() / name; };
        if (c.handWrittenJournal) {
            writeText(at("journal.ldif"),
                      "dn: cn=ADMIN,o=CORP\nchangetype: modify\nincrement: accountBalance\n"
                      "accountBalance: 4\n-\n\n");
        }
        Problem problem;
        auto writer = Store::Open(own.path(), &problem);
        ASSERT_TRUE(writer) << problem.Describe();
        add(*writer, "JSMITH.SALES.CORP", "1");
        auto reader = Store::Open(own.path(), &problem);
        ASSERT_TRUE(reader) << problem.Describe();

        std::string oldSnapshot = readText(at("directory.ldif"));
        std::filesystem::create_directory(at("directory.ldif.tmp"));
        EXPECT_EQ(Store::Open(own.path(), &problem)->Compact(), kIoError);
        std::filesystem::remove(at("directory.ldif.tmp"));
        std::string journalAtTheRenames = readText(at("journal.ldif"));
        ASSERT_EQ(Store::Open(own.path(), &problem)->Compact(), kOk);
        std::string newSnapshot = readText(at("directory.ldif"));
        std::string newJournal = readText(at("journal.ldif"));
        switch (c.at) {
            case KilledAt::WritingTheSnapshot:
                writeText(at("directory.ldif"), oldSnapshot);
                writeText(at("journal.ldif"), journalAtTheRenames);
                writeText(at("directory.ldif.tmp"), newSnapshot.substr(0, newSnapshot.size() / 2));
                break;
            case KilledAt::BeforeTheRenames:
                writeText(at("directory.ldif"), oldSnapshot);
                writeText(at("journal.ldif"), journalAtTheRenames);
                writeText(at("directory.ldif.tmp"), newSnapshot);
                writeText(at("journal.ldif.tmp"), newJournal);
                break;
            case KilledAt::BetweenTheRenames:
                writeText(at("journal.ldif"), journalAtTheRenames);
                writeText(at("journal.ldif.tmp"), newJournal);
                break;
            case KilledAt::AfterTheRenames:
                break;
        }

        add(*writer, "JSMITH.SALES.CORP", "10");
        auto late = Store::Open(own.path(), &problem);
        ASSERT_TRUE(late) << problem.Describe();
        add(*late, "JSMITH.SALES.CORP", "100");
        add(*writer, "JSMITH.SALES.CORP", "1000");
        const char* adminBalance = c.handWrittenJournal ? "4" : "0";
        for (Store* view : {writer.get(), late.get(), reader.get()}) {
            EXPECT_EQ(view->Refresh(), kOk);
            EXPECT_EQ(balance(*view, "JSMITH.SALES.CORP"), "2611");
            EXPECT_EQ(balance(*view, "ADMIN.CORP"), adminBalance);
        }
        auto fresh = Store::Open(own.path(), &problem);
        ASSERT_TRUE(fresh) << problem.Describe();
        EXPECT_EQ(balance(*fresh, "JSMITH.SALES.CORP"), "2611");
        EXPECT_EQ(balance(*fresh, "ADMIN.CORP"), adminBalance);
        EXPECT_TRUE(fresh->Warnings().empty()) << fresh->Warnings().front().Describe();
        ASSERT_EQ(fresh->Compact(), kOk);
        auto compacted = Store::Open(own.path(), &problem);
        ASSERT_TRUE(compacted) << problem.Describe();
        EXPECT_EQ(balance(*compacted, "JSMITH.SALES.CORP"), "2611");
        EXPECT_EQ(balance(*compacted, "ADMIN.CORP"), adminBalance);
    }
}

TEST_F(CompactionTest, AJournalNewerThanTheSnapshotIsReported) {
    writeText(file("journal.ldif"), "# tallydesk journal generation=4\n");
    Problem problem;
    EXPECT_EQ(Store::Open(folder.path(), &problem), nullptr);
    EXPECT_NE(problem.Describe().find("journal.ldif:1: journal generation 4"), std::string::npos)
        << problem.Describe();
}

// A snapshot that lost lines must not load as if it were whole, nor be folded into a new one.
// A compaction's snapshot ends with a line counting its entries (announced on its line 2); one
// written by hand or by an older compaction has none and still loads.
TEST_F(CompactionTest, DamagedSnapshotsAreNeverTakenForWholeOnes) {
    ASSERT_EQ(open()->Compact(), kOk);
    const std::string compacted = readText(file("directory.ldif"));
    ASSERT_NE(compacted.find("\n# end of snapshot: 6 entries\n"), std::string::npos) << compacted;
    const std::string tree(testing::kSmallTree);
    auto crOnly = [](std::string text) {
        std::replace(text.begin(), text.end(), '\n', '\r');
        return text;
    };
    auto lastLine = [](const std::string& text) {
        return static_cast<int>(std::count(text.begin(), text.end() - 1, '\n')) + 1;
    };
    const std::string cutInAnEntry = compacted.substr(0, compacted.find("cn: JSMITH") + 5);
    const std::string cutBeforeAnEntry = compacted.substr(0, compacted.find("dn: cn=JSMITH"));
    const std::string miscounted =
        compacted.substr(0, compacted.rfind("6 entries")) + "7 entries\n";
    struct Case {
        std::string snapshot;
        int line;
        const char* words;
    };
    const Case refused[] = {
        {crOnly(compacted), 1, "carriage return"},
        {crOnly(tree), 1, "carriage return"},
        {cutInAnEntry, lastLine(cutInAnEntry), "cut short"},
        {cutBeforeAnEntry, lastLine(cutBeforeAnEntry) - 1, "cut short"},
        {compacted.substr(0, compacted.size() - 5), lastLine(compacted), "damaged end line"},
        {miscounted, lastLine(miscounted), "counts 7 entries, the file holds 6"},
        {compacted + "\ndn: cn=NEW,o=CORP\nobjectClass: tallyUser\n", lastLine(compacted),
         "lines follow the end line"},
    };
    for (const Case& c : refused) {
        writeText(file("directory.ldif"), c.snapshot);
        Problem problem;
        EXPECT_EQ(Store::Open(folder.path(), &problem), nullptr) << c.snapshot;
        EXPECT_EQ(problem.file.filename(), "directory.ldif");
        EXPECT_EQ(problem.line, c.line) << problem.Describe();
        EXPECT_NE(problem.message.find(c.words), std::string::npos) << problem.Describe();
    }

    // Without the end line: a snapshot of an older compaction loads as it did, while one whose
    // last line has no line end loads with a warning and is never compacted.
    std::string older = compacted.substr(0, compacted.rfind("# end of snapshot"));
    older.replace(older.find("# Written"), older.find("\n\n") - older.find("# Written"),
                  "# Written by compaction: the directory as of the journal it replaced.");
    writeText(file("directory.ldif"), older);
    auto store = open();
    ASSERT_TRUE(store);
    EXPECT_TRUE(store->Warnings().empty()) << store->Warnings().front().Describe();
    EXPECT_EQ(balance(*store, "JSMITH.SALES.CORP"), "1500");
    const std::string cutByHand = tree.substr(0, tree.find("accountBalance: 1500") + 17);
    writeText(file("directory.ldif"), cutByHand);
    writeText(file("journal.ldif"), "");
    store = open();
    ASSERT_TRUE(store);
    ASSERT_EQ(store->Warnings().size(), 1u);
    EXPECT_NE(store->Warnings()[0].Describe().find(
                  "directory.ldif:" + std::to_string(lastLine(cutByHand)) +
                  ": the last line has no line end"),
              std::string::npos)
        << store->Warnings()[0].Describe();
    EXPECT_EQ(store->Compact(), kCorrupt);
    EXPECT_NE(store->Warnings().back().message.find("compaction refused"), std::string::npos);
    EXPECT_EQ(readText(file("directory.ldif")), cutByHand);
}

// A compaction never writes fewer entries than the snapshot on disk holds: here it was replaced
// by hand, keeping its generation, after this view was loaded.
TEST_F(CompactionTest, NeverWritesBackFewerEntriesThanTheSnapshotHolds) {
    auto store = open();
    ASSERT_TRUE(store);
    add(*store, "JSMITH.SALES.CORP", "5");
    const std::string replaced = std::string(testing::kSmallTree) +
                                 "dn: cn=NEWBIE,o=CORP\nobjectClass: tallyUser\ncn: NEWBIE\n\n";
    writeText(file("directory.ldif"), replaced);
    EXPECT_EQ(store->Compact(), kCorrupt);
    ASSERT_FALSE(store->Warnings().empty());
    EXPECT_NE(
        store->Warnings().back().message.find("it would write 6 entries, the snapshot holds 7"),
        std::string::npos)
        << store->Warnings().back().Describe();
    EXPECT_EQ(readText(file("directory.ldif")), replaced);
    EXPECT_EQ(balance(*open(), "JSMITH.SALES.CORP"), "1505");
}

// storetool export is how the LDAP check learns what the store holds: it must show the journal's
// changes without folding them in, in the very form the next compaction writes.
TEST_F(CompactionTest, ExportShowsTheJournalledViewWithoutTouchingTheFiles) {
    auto store = open();
    ASSERT_TRUE(store);
    add(*store, "JSMITH.SALES.CORP", "5");
    ASSERT_EQ(store->Modify("JSMITH.SALES.CORP",
                            {{ChangeKind::Overwrite, "Allow Unlimited Credit", "true"},
                             {ChangeKind::Clear, "Minimum Account Balance", ""}}),
              kOk);
    ASSERT_EQ(store->Modify("ADMIN.CORP", {{ChangeKind::Overwrite, "Full Name", " Admin"}}), kOk);
    std::string snapshotBefore = readText(file("directory.ldif"));
    std::string journalBefore = readText(file("journal.ldif"));

    std::string exported;
    Problem problem;
    std::vector<Problem> warnings;
    ASSERT_TRUE(ExportLdif(folder.path(), exported, &problem, &warnings)) << problem.Describe();
    EXPECT_TRUE(warnings.empty());
    EXPECT_EQ(readText(file("directory.ldif")), snapshotBefore);
    EXPECT_EQ(readText(file("journal.ldif")), journalBefore);
    EXPECT_NE(exported.find("dn: cn=JSMITH,ou=SALES,o=CORP\nobjectClass: tallyUser\n"
                            "accountBalance: 1505\nallowUnlimitedCredit: TRUE\ncn: JSMITH\n"
                            "fullName: John Smith\ndescription: kept as it is\n\n"),
              std::string::npos)
        << exported;
    EXPECT_NE(exported.find("fullName:: IEFkbWlu\n"), std::string::npos) << exported;
    EXPECT_NE(exported.find("member: cn=JSMITH,ou=SALES,o=CORP\n"), std::string::npos);

    ASSERT_EQ(store->Compact(), kOk);
    std::string snapshot = readText(file("directory.ldif"));
    EXPECT_EQ(snapshot.substr(snapshot.find("\n\n") + 2),
              exported + "# end of snapshot: 6 entries\n");
}

TEST_F(CompactionTest, ExportOfAFolderThatDoesNotOpenNamesTheFile) {
    std::filesystem::remove(file("schema.ldif"));
    std::string exported;
    Problem problem;
    EXPECT_FALSE(ExportLdif(folder.path(), exported, &problem));
    EXPECT_TRUE(exported.empty());
    EXPECT_NE(problem.Describe().find("schema.ldif"), std::string::npos) << problem.Describe();
}

}  // namespace
}  // namespace tally::store
