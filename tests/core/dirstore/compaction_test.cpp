#include <gtest/gtest.h>

#include <algorithm>

#include "dirstore/store.h"
#include "fresh_store_test.h"

namespace tally::store {
namespace {

using testing::ReadText;
using testing::WriteText;

class CompactionTest : public testing::FreshStoreTest {
  protected:
    CompactionTest() : FreshStoreTest("compact") {}

    static std::string Balance(const Store& store, std::string_view name) {
        return Value(store, name, "Account Balance");
    }

    static void Add(Store& store, std::string_view name, const char* amount) {
        ASSERT_EQ(store.Modify(name, {{ChangeKind::AddValue, "Account Balance", amount}}), kOk);
    }

    std::filesystem::path File(const char* name) const { return folder_.Path() / name; }
};

TEST_F(CompactionTest, FoldsTheJournalIntoANewSnapshot) {
    auto store = Open();
    auto other = Open();
    ASSERT_TRUE(store && other);
    Add(*store, "JSMITH.SALES.CORP", "5");
    Add(*store, "AJONES.SALES.CORP", "9");
    ASSERT_EQ(store->Compact(), kOk);
    EXPECT_EQ(ReadText(File("journal.ldif")), "# tallydesk journal generation=1\n");
    std::string snapshot = ReadText(File("directory.ldif"));
    EXPECT_EQ(snapshot.rfind("# tallydesk snapshot generation=1\n", 0), 0u);
    EXPECT_NE(snapshot.find("accountBalance: 1505"), std::string::npos);
    EXPECT_NE(snapshot.find("description: kept as it is"), std::string::npos);
    // Containers come before what they hold, as LDAP loaders need.
    EXPECT_LT(snapshot.find("dn: ou=SALES,o=CORP"), snapshot.find("dn: cn=JSMITH,ou=SALES"));
    EXPECT_LT(snapshot.find("dn: o=CORP"), snapshot.find("dn: ou=SALES,o=CORP"));

    // Another view notices the compaction and goes on from the new files.
    EXPECT_EQ(other->Refresh(), kOk);
    EXPECT_EQ(Balance(*other, "JSMITH.SALES.CORP"), "1505");
    Add(*store, "JSMITH.SALES.CORP", "1");
    Add(*other, "JSMITH.SALES.CORP", "2");
    EXPECT_EQ(store->Refresh(), kOk);
    EXPECT_EQ(Balance(*store, "JSMITH.SALES.CORP"), "1508");
    ASSERT_EQ(other->Compact(), kOk);
    EXPECT_EQ(store->Refresh(), kOk);
    EXPECT_EQ(Balance(*store, "JSMITH.SALES.CORP"), "1508");
    EXPECT_EQ(Balance(*Open(), "AJONES.SALES.CORP"), "9");
}

// Killed while writing the temporary files: the old snapshot and journal still stand.
TEST_F(CompactionTest, LeftoverTemporaryFilesAreIgnored) {
    {
        auto store = Open();
        Add(*store, "JSMITH.SALES.CORP", "5");
    }
    WriteText(File("directory.ldif.tmp"),
              "# tallydesk snapshot generation=1\ndn: o=HALF\nobjectCl");
    WriteText(File("journal.ldif.tmp"), "# tallydesk journal generation=1\n");
    auto store = Open();
    EXPECT_EQ(Balance(*store, "JSMITH.SALES.CORP"), "1505");
    EXPECT_EQ(store->Find("HALF"), nullptr);
    ASSERT_EQ(store->Compact(), kOk);
    EXPECT_FALSE(std::filesystem::exists(File("directory.ldif.tmp")));
    EXPECT_EQ(Balance(*Open(), "JSMITH.SALES.CORP"), "1505");
}

// Killed between the two renames: the new snapshot holds every change and the old journal is
// still in place. Its records must not be applied a second time, and the next writer starts a
// new journal before it appends.
TEST_F(CompactionTest, OldJournalBesideANewSnapshotIsNotAppliedTwice) {
    {
        auto store = Open();
        Add(*store, "JSMITH.SALES.CORP", "5");
        Add(*store, "JSMITH.SALES.CORP", "7");
    }
    std::string oldJournal = ReadText(File("journal.ldif"));
    {
        auto store = Open();
        ASSERT_EQ(store->Compact(), kOk);
    }
    WriteText(File("journal.ldif"), oldJournal);

    auto reader = Open();
    EXPECT_EQ(Balance(*reader, "JSMITH.SALES.CORP"), "1512");
    auto writer = Open();
    Add(*writer, "JSMITH.SALES.CORP", "1");
    EXPECT_EQ(ReadText(File("journal.ldif")).rfind("# tallydesk journal generation=1\n", 0), 0u);
    EXPECT_EQ(Balance(*writer, "JSMITH.SALES.CORP"), "1513");
    EXPECT_EQ(reader->Refresh(), kOk);
    EXPECT_EQ(Balance(*reader, "JSMITH.SALES.CORP"), "1513");
    EXPECT_EQ(Balance(*Open(), "JSMITH.SALES.CORP"), "1513");

    // The same state met by a compaction first.
    std::string journalOfGeneration1 = ReadText(File("journal.ldif"));
    ASSERT_EQ(Open()->Compact(), kOk);
    WriteText(File("journal.ldif"), journalOfGeneration1);
    auto compactor = Open();
    ASSERT_EQ(compactor->Compact(), kOk);
    EXPECT_EQ(Balance(*Open(), "JSMITH.SALES.CORP"), "1513");
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
        testing::LayStore(own.Path());
        auto at = [&](const char* name) { return own.Path() / name; };
        if (c.handWrittenJournal) {
            WriteText(at("journal.ldif"),
                      "dn: cn=ADMIN,o=CORP\nchangetype: modify\nincrement: accountBalance\n"
                      "accountBalance: 4\n-\n\n");
        }
        Problem problem;
        auto writer = Store::Open(own.Path(), &problem);
        ASSERT_TRUE(writer) << problem.Describe();
        Add(*writer, "JSMITH.SALES.CORP", "1");
        auto reader = Store::Open(own.Path(), &problem);
        ASSERT_TRUE(reader) << problem.Describe();

        std::string oldSnapshot = ReadText(at("directory.ldif"));
        std::filesystem::create_directory(at("directory.ldif.tmp"));
        EXPECT_EQ(Store::Open(own.Path(), &problem)->Compact(), kIoError);
        std::filesystem::remove(at("directory.ldif.tmp"));
        std::string journalAtTheRenames = ReadText(at("journal.ldif"));
        ASSERT_EQ(Store::Open(own.Path(), &problem)->Compact(), kOk);
        std::string newSnapshot = ReadText(at("directory.ldif"));
        std::string newJournal = ReadText(at("journal.ldif"));
        switch (c.at) {
            case KilledAt::WritingTheSnapshot:
                WriteText(at("directory.ldif"), oldSnapshot);
                WriteText(at("journal.ldif"), journalAtTheRenames);
                WriteText(at("directory.ldif.tmp"), newSnapshot.substr(0, newSnapshot.size() / 2));
                break;
            case KilledAt::BeforeTheRenames:
                WriteText(at("directory.ldif"), oldSnapshot);
                WriteText(at("journal.ldif"), journalAtTheRenames);
                WriteText(at("directory.ldif.tmp"), newSnapshot);
                WriteText(at("journal.ldif.tmp"), newJournal);
                break;
            case KilledAt::BetweenTheRenames:
                WriteText(at("journal.ldif"), journalAtTheRenames);
                WriteText(at("journal.ldif.tmp"), newJournal);
                break;
            case KilledAt::AfterTheRenames:
                break;
        }

        Add(*writer, "JSMITH.SALES.CORP", "10");
        auto late = Store::Open(own.Path(), &problem);
        ASSERT_TRUE(late) << problem.Describe();
        Add(*late, "JSMITH.SALES.CORP", "100");
        Add(*writer, "JSMITH.SALES.CORP", "1000");
        const char* adminBalance = c.handWrittenJournal ? "4" : "0";
        for (Store* view : {writer.get(), late.get(), reader.get()}) {
            EXPECT_EQ(view->Refresh(), kOk);
            EXPECT_EQ(Balance(*view, "JSMITH.SALES.CORP"), "2611");
            EXPECT_EQ(Balance(*view, "ADMIN.CORP"), adminBalance);
        }
        auto fresh = Store::Open(own.Path(), &problem);
        ASSERT_TRUE(fresh) << problem.Describe();
        EXPECT_EQ(Balance(*fresh, "JSMITH.SALES.CORP"), "2611");
        EXPECT_EQ(Balance(*fresh, "ADMIN.CORP"), adminBalance);
        EXPECT_TRUE(fresh->Warnings().empty()) << fresh->Warnings().front().Describe();
        ASSERT_EQ(fresh->Compact(), kOk);
        auto compacted = Store::Open(own.Path(), &problem);
        ASSERT_TRUE(compacted) << problem.Describe();
        EXPECT_EQ(Balance(*compacted, "JSMITH.SALES.CORP"), "2611");
        EXPECT_EQ(Balance(*compacted, "ADMIN.CORP"), adminBalance);
    }
}

TEST_F(CompactionTest, AJournalNewerThanTheSnapshotIsReported) {
    WriteText(File("journal.ldif"), "# tallydesk journal generation=4\n");
    Problem problem;
    EXPECT_EQ(Store::Open(folder_.Path(), &problem), nullptr);
    EXPECT_NE(problem.Describe().find("journal.ldif:1: journal generation 4"), std::string::npos)
        << problem.Describe();
}

// A snapshot that lost lines must not load as if it were whole, nor be folded into a new one.
// A compaction's snapshot ends with a line counting its entries (announced on its line 2); one
// written by hand or by an older compaction has none and still loads.
TEST_F(CompactionTest, DamagedSnapshotsAreNeverTakenForWholeOnes) {
    ASSERT_EQ(Open()->Compact(), kOk);
    const std::string compacted = ReadText(File("directory.ldif"));
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
        WriteText(File("directory.ldif"), c.snapshot);
        Problem problem;
        EXPECT_EQ(Store::Open(folder_.Path(), &problem), nullptr) << c.snapshot;
        EXPECT_EQ(problem.file.filename(), "directory.ldif");
        EXPECT_EQ(problem.line, c.line) << problem.Describe();
        EXPECT_NE(problem.message.find(c.words), std::string::npos) << problem.Describe();
    }

    // Without the end line: a snapshot of an older compaction loads as it did, while one whose
    // last line has no line end loads with a warning and is never compacted.
    std::string older = compacted.substr(0, compacted.rfind("# end of snapshot"));
    older.replace(older.find("# Written"), older.find("\n\n") - older.find("# Written"),
                  "# Written by compaction: the directory as of the journal it replaced.");
    WriteText(File("directory.ldif"), older);
    auto store = Open();
    ASSERT_TRUE(store);
    EXPECT_TRUE(store->Warnings().empty()) << store->Warnings().front().Describe();
    EXPECT_EQ(Balance(*store, "JSMITH.SALES.CORP"), "1500");
    const std::string cutByHand = tree.substr(0, tree.find("accountBalance: 1500") + 17);
    WriteText(File("directory.ldif"), cutByHand);
    WriteText(File("journal.ldif"), "");
    store = Open();
    ASSERT_TRUE(store);
    ASSERT_EQ(store->Warnings().size(), 1u);
    EXPECT_NE(store->Warnings()[0].Describe().find(
                  "directory.ldif:" + std::to_string(lastLine(cutByHand)) +
                  ": the last line has no line end"),
              std::string::npos)
        << store->Warnings()[0].Describe();
    EXPECT_EQ(store->Compact(), kCorrupt);
    EXPECT_NE(store->Warnings().back().message.find("compaction refused"), std::string::npos);
    EXPECT_EQ(ReadText(File("directory.ldif")), cutByHand);
}

// A compaction never writes fewer entries than the snapshot on disk holds: here it was replaced
// by hand, keeping its generation, after this view was loaded.
TEST_F(CompactionTest, NeverWritesBackFewerEntriesThanTheSnapshotHolds) {
    auto store = Open();
    ASSERT_TRUE(store);
    Add(*store, "JSMITH.SALES.CORP", "5");
    const std::string replaced = std::string(testing::kSmallTree) +
                                 "dn: cn=NEWBIE,o=CORP\nobjectClass: tallyUser\ncn: NEWBIE\n\n";
    WriteText(File("directory.ldif"), replaced);
    EXPECT_EQ(store->Compact(), kCorrupt);
    ASSERT_FALSE(store->Warnings().empty());
    EXPECT_NE(
        store->Warnings().back().message.find("it would write 6 entries, the snapshot holds 7"),
        std::string::npos)
        << store->Warnings().back().Describe();
    EXPECT_EQ(ReadText(File("directory.ldif")), replaced);
    EXPECT_EQ(Balance(*Open(), "JSMITH.SALES.CORP"), "1505");
}

// storetool export is how the LDAP check learns what the store holds: it must show the journal's
// changes without folding them in, in the very form the next compaction writes.
TEST_F(CompactionTest, ExportShowsTheJournalledViewWithoutTouchingTheFiles) {
    auto store = Open();
    ASSERT_TRUE(store);
    Add(*store, "JSMITH.SALES.CORP", "5");
    ASSERT_EQ(store->Modify("JSMITH.SALES.CORP",
                            {{ChangeKind::Overwrite, "Allow Unlimited Credit", "true"},
                             {ChangeKind::Clear, "Minimum Account Balance", ""}}),
              kOk);
    ASSERT_EQ(store->Modify("ADMIN.CORP", {{ChangeKind::Overwrite, "Full Name", " Admin"}}), kOk);
    std::string snapshotBefore = ReadText(File("directory.ldif"));
    std::string journalBefore = ReadText(File("journal.ldif"));

    std::string exported;
    Problem problem;
    std::vector<Problem> warnings;
    ASSERT_TRUE(ExportLdif(folder_.Path(), exported, &problem, &warnings)) << problem.Describe();
    EXPECT_TRUE(warnings.empty());
    EXPECT_EQ(ReadText(File("directory.ldif")), snapshotBefore);
    EXPECT_EQ(ReadText(File("journal.ldif")), journalBefore);
    EXPECT_NE(exported.find("dn: cn=JSMITH,ou=SALES,o=CORP\nobjectClass: tallyUser\n"
                            "accountBalance: 1505\nallowUnlimitedCredit: TRUE\ncn: JSMITH\n"
                            "fullName: John Smith\ndescription: kept as it is\n\n"),
              std::string::npos)
        << exported;
    EXPECT_NE(exported.find("fullName:: IEFkbWlu\n"), std::string::npos) << exported;
    EXPECT_NE(exported.find("member: cn=JSMITH,ou=SALES,o=CORP\n"), std::string::npos);

    ASSERT_EQ(store->Compact(), kOk);
    std::string snapshot = ReadText(File("directory.ldif"));
    EXPECT_EQ(snapshot.substr(snapshot.find("\n\n") + 2),
              exported + "# end of snapshot: 6 entries\n");
}

TEST_F(CompactionTest, ExportOfAFolderThatDoesNotOpenNamesTheFile) {
    std::filesystem::remove(File("schema.ldif"));
    std::string exported;
    Problem problem;
    EXPECT_FALSE(ExportLdif(folder_.Path(), exported, &problem));
    EXPECT_TRUE(exported.empty());
    EXPECT_NE(problem.Describe().find("schema.ldif"), std::string::npos) << problem.Describe();
}

}  // namespace
}  // namespace tally::store
