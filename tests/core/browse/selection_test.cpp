// The three information lines for each kind of selection, in both number formats, and the state
// that the account and report commands read afterwards.
#include "accounting/account_attributes.h"
#include "browse/object_list.h"
#include "browse/selection.h"
#include "browse_fixture.h"

namespace tally::testing {
namespace {

class FakeSelection : public SelectionList {
  public:
    FakeSelection(int count, std::string text) : count_(count), text_(std::move(text)) {}
    int CountSelected() const override { return count_; }
    std::string CurrentText() const override { return text_; }

  private:
    int count_;
    std::string text_;
};

class SelectionTest : public BrowseTest {
  protected:
    void SetUp() override {
        BrowseTest::SetUp();
        SelectedCount = 0;
        SelectionText.clear();
        GroupSelected = false;
        AccountValues = {};
        UseIntegerAmounts();
    }
};

TEST_F(SelectionTest, AUserShowsNameBalanceAndLimit) {
    EXPECT_EQ(TakeSelection(FakeSelection(1, "JSMITH")),
              (SelectionLines{"John Smith", "1500", "-200"}));
    EXPECT_EQ(SelectionText, "JSMITH");
    EXPECT_FALSE(GroupSelected);
    EXPECT_EQ(AccountValues.Balance, 1500);
    EXPECT_EQ(AccountValues.CreditLimit, -200);
    EXPECT_TRUE(PrintHistoryAllowed());
}

TEST_F(SelectionTest, DecimalModeDividesByTheScale) {
    UseDecimalAmounts();
    EXPECT_EQ(TakeSelection(FakeSelection(1, "JSMITH")),
              (SelectionLines{"John Smith", "15.00", "-2.00"}));
}

TEST_F(SelectionTest, AUserWithoutAccountShowsZerosInEitherFormat) {
    EXPECT_EQ(TakeSelection(FakeSelection(1, "NOACCOUNT")), (SelectionLines{"", "0", "0"}));
    UseDecimalAmounts();
    AccountValues = {5, 5, 1};
    EXPECT_EQ(TakeSelection(FakeSelection(1, "NOACCOUNT")), (SelectionLines{"", "0.00", "0.00"}));
    EXPECT_EQ(AccountValues.Unlimited, 0);
}

TEST_F(SelectionTest, TheFlagShowsUnlimitedWhateverTheLimitHolds) {
    UseSchema("Colour");
    UseDecimalAmounts();
    EXPECT_EQ(TakeSelection(FakeSelection(1, "JSMITH")),
              (SelectionLines{"John Smith", "-1.50", "Unlimited"}));
    EXPECT_EQ(AccountValues.CreditLimit, 2500);
}

TEST_F(SelectionTest, SeveralEntriesShowTheCountAndDisablePrintHistory) {
    TakeSelection(FakeSelection(1, "STAFF (Group)"));
    EXPECT_EQ(TakeSelection(FakeSelection(3, "JSMITH")),
              (SelectionLines{"3 users selelcted", "", ""}));
    EXPECT_EQ(SelectedCount, 3);
    EXPECT_TRUE(GroupSelected);         // kept from the last single selection
    EXPECT_EQ(SelectionText, "STAFF");  // likewise
    EXPECT_FALSE(PrintHistoryAllowed());
}

TEST_F(SelectionTest, AGroupLeavesItsBareNameAndShowsItsFullName) {
    EXPECT_EQ(TakeSelection(FakeSelection(1, "STAFF (Group)")),
              (SelectionLines{"Sales Staff", "", ""}));
    EXPECT_EQ(SelectionText, "STAFF");
    EXPECT_TRUE(GroupSelected);
    EXPECT_TRUE(PrintHistoryAllowed());
    EXPECT_EQ(TakeSelection(FakeSelection(1, "BARE (Group)")), (SelectionLines{"", "", ""}));
}

TEST_F(SelectionTest, TheAllUsersEntryIsAGroupWithoutHistory) {
    EXPECT_EQ(TakeSelection(FakeSelection(1, kAllUsersEntry)),
              (SelectionLines{"All users in this context", "", ""}));
    EXPECT_EQ(SelectionText, kAllUsersEntry);
    EXPECT_TRUE(GroupSelected);
    EXPECT_FALSE(PrintHistoryAllowed());
}

// With nothing selected the list's current entry is still shown; the account commands look at
// SelectedCount and do nothing.
TEST_F(SelectionTest, NothingSelectedStillShowsTheCurrentEntry) {
    EXPECT_EQ(TakeSelection(FakeSelection(0, "MJONES")), (SelectionLines{"", "120", "0"}));
    EXPECT_EQ(SelectedCount, 0);
}

TEST_F(SelectionTest, AnOverlongEntryIsCutToTheSelectionText) {
    TakeSelection(FakeSelection(1, std::string(400, 'A')));
    EXPECT_EQ(SelectionText.size(), kSelectionTextChars);
}

}  // namespace
}  // namespace tally::testing
