// The object lists as the operator sees them: entry texts, the fixed entries, chunked listings,
// MaxUserNameLength, and moving through the tree.
#include <algorithm>
#include <vector>

#include "browse/context_navigation.h"
#include "browse/object_list.h"
#include "browse_fixture.h"

namespace tally::testing {
namespace {

// Keeps the entries in the order added; the list box sorts them itself.
class RecordingList : public ObjectListSink {
  public:
    void Clear() override {
        entries.clear();
        ++clears;
    }
    void Add(const std::string& entry) override { entries.push_back(entry); }
    void SelectFirst() override { ++firstSelections; }

    std::vector<std::string> Sorted() const {
        auto copy = entries;
        std::sort(copy.begin(), copy.end());
        return copy;
    }

    std::vector<std::string> entries;
    int clears = 0;
    int firstSelections = 0;
};

using ObjectListTest = BrowseTest;

TEST_F(ObjectListTest, UsersThenGroupsThenTheAllUsersEntry) {
    RecordingList list;
    list.entries = {"left over"};
    FillObjectList(list, kUserClass);
    EXPECT_EQ(list.entries,
              (std::vector<std::string>{"JSMITH", "MJONES", "NOACCOUNT", "BARE (Group)",
                                        "STAFF (Group)", "* (All users in this context)"}));
    EXPECT_EQ(list.firstSelections, 1);
    EXPECT_EQ(MaxUserNameLength, 9);  // NOACCOUNT; group names and the fixed entry do not count
}

TEST_F(ObjectListTest, AGroupListingOnlyAdds) {
    RecordingList list;
    list.entries = {"kept"};
    FillObjectList(list, kGroupClass);
    EXPECT_EQ(list.entries, (std::vector<std::string>{"kept", "BARE (Group)", "STAFF (Group)"}));
    EXPECT_EQ(list.clears, 0);
    EXPECT_EQ(list.firstSelections, 0);
}

TEST_F(ObjectListTest, AContextWithoutUsersShowsOnlyTheAllUsersEntry) {
    MaxUserNameLength = 42;
    CurrentContextName = "EMPTY.CORP";
    ASSERT_EQ(DirSetContextValue(DirectoryContext, DIR_CTX_NAME_CONTEXT, "EMPTY.CORP"), DIR_OK);
    RecordingList list;
    FillObjectList(list, kUserClass);
    EXPECT_EQ(list.entries, (std::vector<std::string>{kAllUsersEntry}));
    EXPECT_EQ(MaxUserNameLength, 0);
}

// One LDAP name cannot be both, so a directory that lists a user and a group of one name is
// made up here: the listing must give both entries, the group's with its marker.
class TwinNameStore : public FakeStore {
  public:
    std::vector<const store::Entry*> Children(std::string_view container) const override {
        auto found = FakeStore::Children(container);
        if (directory::SameName(container, "SALES.CORP")) {
            found.push_back(&twin_);
        }
        return found;
    }

  private:
    store::Entry twin_{"JSMITH.SALES.CORP", "Group", {}};
};

TEST_F(ObjectListTest, AUserAndAGroupOfTheSameNameAreTwoEntries) {
    auto tree = std::make_unique<TwinNameStore>();
    tree->Add("CORP", "Organization")
        .Add("SALES.CORP", "Organizational Unit")
        .Add("JSMITH.SALES.CORP", "User");
    DirClientUseStore(BrowseConfig(), std::move(tree));
    DirectoryContext = DirCreateContext();
    RecordingList list;
    FillObjectList(list, kUserClass);
    EXPECT_EQ(list.Sorted(),
              (std::vector<std::string>{kAllUsersEntry, "JSMITH", "JSMITH (Group)"}));
}

TEST_F(ObjectListTest, EntriesAreToldApartByTheirTextAlone) {
    EXPECT_EQ(KindOfEntry("* (All users in this context)"), EntryKind::AllUsers);
    EXPECT_EQ(KindOfEntry("* (all users in this context)"), EntryKind::User);
    EXPECT_EQ(KindOfEntry("A (Group) B (Group)"), EntryKind::Group);
    EXPECT_EQ(ObjectNameOfEntry("A (Group) B (Group)"), "A");
    EXPECT_EQ(ObjectNameOfEntry("JSMITH"), "JSMITH");
}

// More names than one 4096-byte result holds come in several chunks, and every one is listed.
TEST_F(ObjectListTest, ALargeContextListsCompletely) {
    for (int i = 0; i < 1200; ++i) {
        store_->Add("USER" + std::to_string(10000 + i) + "-WITH-A-LONG-NAME.SALES.CORP", "User");
    }
    RecordingList list;
    FillObjectList(list, kUserClass);
    EXPECT_EQ(list.entries.size(), 1200u + 3 + 2 + 1);
    EXPECT_EQ(std::count(list.entries.begin(), list.entries.end(), "USER11199-WITH-A-LONG-NAME"),
              1);
    EXPECT_EQ(MaxUserNameLength, 26);
}

TEST_F(ObjectListTest, AFailingListingKeepsTheFixedEntriesAndSaysSo) {
    RecordingList whole;
    std::size_t wholeListed = 0;
    EXPECT_EQ(FillObjectList(whole, kUserClass, &wholeListed), DIR_OK);
    EXPECT_EQ(wholeListed, whole.entries.size() - 1) << "all but the all-users entry";
    store_->failRefresh = true;
    RecordingList list;
    std::size_t listed = 99;
    const DirStatus status = FillObjectList(list, kUserClass, &listed);
    EXPECT_EQ(list.entries, (std::vector<std::string>{kAllUsersEntry}));
    EXPECT_EQ(listed, 0u);
    // A list that is not whole is never passed off as one: the status and the words for it. An
    // empty one is not called short of some entries: nothing could be listed.
    ASSERT_NE(status, DIR_OK);
    const std::string message = ListingFailureMessage(status, listed);
    EXPECT_NE(message.find("The list of " + CurrentContextName + " could not be read whole (" +
                           std::to_string(status) + ")"),
              std::string::npos)
        << message;
    EXPECT_NE(message.find("\nNothing could be listed."), std::string::npos) << message;
    EXPECT_EQ(message.find("not all there are"), std::string::npos) << message;
    EXPECT_NE(ListingFailureMessage(status, 3).find("\nThe entries shown are not all there are."),
              std::string::npos);
}

TEST_F(ObjectListTest, ContainersWithTheParentEntryBelowTheRootOnly) {
    RecordingList list;
    FillObjectList(list, kUnitClass);
    EXPECT_EQ(list.entries, (std::vector<std::string>{"EAST", kParentEntry}));
    EXPECT_EQ(list.firstSelections, 1);

    ASSERT_EQ(MoveToContextOfEntry(kParentEntry), DIR_OK);
    ASSERT_EQ(MoveToContextOfEntry(kParentEntry), DIR_OK);
    ASSERT_EQ(CurrentContextName, "[Root]");
    FillObjectList(list, kUnitClass);
    EXPECT_EQ(list.Sorted(), (std::vector<std::string>{"CORP", "WIDGETS"}));
}

TEST(ContextNames, ParentDropsTheFirstNameOrReachesTheRoot) {
    EXPECT_EQ(ParentContextOf("EAST.SALES.CORP"), "SALES.CORP");
    EXPECT_EQ(ParentContextOf("CORP"), "[Root]");
    EXPECT_EQ(ContextNamedByEntry(kParentEntry, "SALES.CORP"), "CORP");
    EXPECT_EQ(ContextNamedByEntry("CORP", "[Root]"), "CORP");
    EXPECT_EQ(ContextNamedByEntry("EAST", "SALES.CORP"), "EAST.SALES.CORP");
}

TEST_F(ObjectListTest, MovingDownAndUpReadsTheContextBackEachTime) {
    ContextChanged = false;
    EXPECT_EQ(MoveToContextOfEntry("east"), DIR_OK);
    EXPECT_EQ(CurrentContextName, "EAST.SALES.CORP");  // as the directory spells it
    EXPECT_TRUE(ContextChanged);
    EXPECT_EQ(MoveToContextOfEntry(kParentEntry), DIR_OK);
    EXPECT_EQ(MoveToContextOfEntry(kParentEntry), DIR_OK);
    EXPECT_EQ(CurrentContextName, "CORP");
    EXPECT_EQ(MoveToContextOfEntry("WIDGETS"), DIR_ERR_ILLEGAL_NAME);
    EXPECT_EQ(CurrentContextName, "CORP");  // refused: the context in force is read back
}

TEST_F(ObjectListTest, TheChangedFlagOutlivesAMoveBackToTheStart) {
    ContextChanged = false;
    MoveToContextOfEntry(kParentEntry);
    MoveToContextOfEntry("SALES");
    EXPECT_EQ(CurrentContextName, "SALES.CORP");
    EXPECT_TRUE(ContextChanged);
}

TEST_F(ObjectListTest, GroupMembershipByCompare) {
    EXPECT_EQ(IsGroupMember("STAFF", "JSMITH.SALES.CORP"), 1);
    EXPECT_EQ(IsGroupMember("STAFF", "ADMIN.CORP"), 1);
    EXPECT_EQ(IsGroupMember("STAFF", "MJONES.SALES.CORP"), 0);
    EXPECT_EQ(IsGroupMember("BARE", "JSMITH.SALES.CORP"), 0);
    EXPECT_EQ(IsGroupMember("NOGROUP", "JSMITH.SALES.CORP"), 0);
    // The history of a group prepares one buffer for its whole scan at the root.
    DirBuffer* buffer = nullptr;
    ASSERT_EQ(DirAllocBuffer(DIR_BUFFER_SIZE, &buffer), DIR_OK);
    ASSERT_EQ(DirSetContextValue(DirectoryContext, DIR_CTX_NAME_CONTEXT, "[Root]"), DIR_OK);
    EXPECT_EQ(IsGroupMember("STAFF.SALES.CORP", "ADMIN.CORP", buffer), 1);
    EXPECT_EQ(IsGroupMember("STAFF.SALES.CORP", "FYOUNG.ACCOUNTS.CORP", buffer), 0);
    DirFreeBuffer(buffer);
}

}  // namespace
}  // namespace tally::testing
