// Reading and changing a user's print account: every value form, the clearing of values that
// cannot be read, counter additions only, and the four operations as the amount dialog runs them.
#include <cstring>
#include <limits>

#include "accounting/account_attributes.h"
#include "tests/core/browse/browse_fixture.h"

namespace tally::testing {
namespace {

class AccountAttributeTest : public BrowseTest {
  protected:
    void SetUp() override {
        BrowseTest::SetUp();
        AccountValues = {};
        CurrentOperation = AccountOperation::Deposit;
        OperationAmount = 0;
    }
};

TEST_F(AccountAttributeTest, ReadsEachAccountValueInItsForm) {
    char fullName[DIR_MAX_NAME_BYTES];
    std::int32_t balance = -1;
    std::int32_t limit = -1;
    std::uint8_t unlimited = 9;
    EXPECT_EQ(ReadAccountAttribute("JSMITH", "Full Name", fullName), DIR_OK);
    EXPECT_EQ(ReadAccountAttribute("JSMITH", "Account Balance", &balance), DIR_OK);
    EXPECT_EQ(ReadAccountAttribute("JSMITH", "Minimum Account Balance", &limit), DIR_OK);
    EXPECT_EQ(ReadAccountAttribute("JSMITH", "Allow Unlimited Credit", &unlimited), DIR_OK);
    EXPECT_STREQ(fullName, "John Smith");
    EXPECT_EQ(balance, 1500);
    EXPECT_EQ(limit, -200);
    EXPECT_EQ(unlimited, 0);
    EXPECT_EQ(ReadAccountAttribute("JSMITH", "JOBTALLY:Colour Nolimit", &unlimited), DIR_OK);
    EXPECT_EQ(unlimited, 1);
}

// The three values in one read are what the reads of each one give.
TEST_F(AccountAttributeTest, TheAccountValuesInOneReadAreThoseReadOneByOne) {
    for (const char* user : {"JSMITH", "MJONES", "NOACCOUNT", "NOBODY", ".FYOUNG.ACCOUNTS.CORP"}) {
        AccountValuesRecord separately;
        const DirStatus balanceRead =
            ReadAccountAttribute(user, "Account Balance", &separately.Balance);
        ReadAccountAttribute(user, "Minimum Account Balance", &separately.CreditLimit);
        ReadAccountAttribute(user, "Allow Unlimited Credit", &separately.Unlimited);
        AccountValuesRecord together{7, 7, 7};
        const DirStatus status = ReadAccountValues(user, together);
        EXPECT_EQ(status == DIR_OK,
                  balanceRead == DIR_OK || balanceRead == DIR_ERR_NO_SUCH_ATTRIBUTE)
            << user;
        EXPECT_EQ(together.Balance, separately.Balance) << user;
        EXPECT_EQ(together.CreditLimit, separately.CreditLimit) << user;
        EXPECT_EQ(together.Unlimited, separately.Unlimited) << user;
    }
}

TEST_F(AccountAttributeTest, ValuesThatCannotBeReadAreClearedByTheirSyntax) {
    char fullName[DIR_MAX_NAME_BYTES] = "stale";
    std::int32_t balance = 77;
    std::int32_t limit = 77;
    std::uint8_t unlimited = 1;
    EXPECT_NE(ReadAccountAttribute("NOACCOUNT", "Full Name", fullName), DIR_OK);
    EXPECT_NE(ReadAccountAttribute("NOACCOUNT", "Account Balance", &balance), DIR_OK);
    EXPECT_NE(ReadAccountAttribute("NOACCOUNT", "Minimum Account Balance", &limit), DIR_OK);
    EXPECT_NE(ReadAccountAttribute("NOBODY", "Allow Unlimited Credit", &unlimited), DIR_OK);
    EXPECT_STREQ(fullName, "");
    EXPECT_EQ(balance, 0);
    EXPECT_EQ(limit, 0);
    EXPECT_EQ(unlimited, 0);
}

// An attribute the schema lacks has no known syntax: only the first byte is cleared, so a
// one-byte flag is never written past.
TEST_F(AccountAttributeTest, AnUndefinedAttributeClearsOnlyOneByte) {
    unsigned char area[4] = {0x11, 0x22, 0x33, 0x44};
    EXPECT_NE(ReadAccountAttribute("JSMITH", "JOBTALLY:Nothing Nolimit", area), DIR_OK);
    EXPECT_EQ(area[0], 0);
    EXPECT_EQ(area[1], 0x22);
}

TEST_F(AccountAttributeTest, OctetStringsAndAddressesStayInsideTheCallersAreas) {
    store_->Add("CARD.SALES.CORP", "User",
                {{"Card Serial", {std::string(200, 'x')}},
                 {"Network Address", {std::string("\x00\x00\x00\x01", 4) + std::string(20, 'a')}}});
    unsigned char octets[140];
    std::memset(octets, 0, sizeof octets);
    EXPECT_EQ(ReadAccountAttribute("CARD", "Card Serial", octets), DIR_OK);
    EXPECT_EQ(octets[127], 'x');
    EXPECT_EQ(octets[128], 0);

    unsigned char addressOctets[16];
    std::memset(addressOctets, 0, sizeof addressOctets);
    DirNetAddress address{0, 0, addressOctets};
    EXPECT_EQ(ReadAccountAttribute("CARD", "Network Address", &address), DIR_OK);
    EXPECT_EQ(address.addressType, 1u);
    EXPECT_EQ(address.length, 20u);
    EXPECT_EQ(address.data, addressOctets);
    EXPECT_EQ(addressOctets[11], 'a');
    EXPECT_EQ(addressOctets[12], 0);
}

TEST_F(AccountAttributeTest, DepositAndChargeAddToTheCounterAndReadTheBalanceBack) {
    OperationAmount = 500;
    EXPECT_EQ(ApplyAccountOperation("JSMITH"), DIR_OK);
    EXPECT_EQ(AccountValues.Balance, 2000);
    CurrentOperation = AccountOperation::Charge;
    OperationAmount = -2150;
    EXPECT_EQ(ApplyAccountOperation("JSMITH"), DIR_OK);
    EXPECT_EQ(AccountValues.Balance, -150);
    ASSERT_EQ(store_->modifications.size(), 2u);
    for (const auto& request : store_->modifications) {
        ASSERT_EQ(request.size(), 1u);
        EXPECT_EQ(request[0].kind, store::ChangeKind::AddValue);
        EXPECT_EQ(request[0].attribute, "Account Balance");
    }
    EXPECT_EQ(Stored("JSMITH.SALES.CORP", "Account Balance"), "-150");
}

TEST_F(AccountAttributeTest, SetBalanceTakesTheOldBalanceAwayThenAddsTheNewOne) {
    CurrentOperation = AccountOperation::SetBalance;
    AccountValues.Balance = 120;
    OperationAmount = 500;
    EXPECT_EQ(ApplyAccountOperation("MJONES"), DIR_OK);
    ASSERT_EQ(store_->modifications.size(), 2u);
    EXPECT_EQ(store_->modifications[0].at(0).value, "-120");
    EXPECT_EQ(store_->modifications[1].at(0).value, "500");
    EXPECT_EQ(AccountValues.Balance, 500);
    EXPECT_EQ(Stored("MJONES.SALES.CORP", "Account Balance"), "500");
}

// A charge made by someone else between the read and the change stays in the result.
TEST_F(AccountAttributeTest, SetBalanceKeepsAChangeMadeSinceTheRead) {
    CurrentOperation = AccountOperation::SetBalance;
    AccountValues.Balance = 100;  // read earlier; the directory holds 120 now
    OperationAmount = 500;
    EXPECT_EQ(ApplyAccountOperation("MJONES"), DIR_OK);
    EXPECT_EQ(AccountValues.Balance, 520);
}

TEST_F(AccountAttributeTest, SetBalanceFromTheMostNegativeBalanceReachesTheNewOne) {
    store_->Add("LOW.SALES.CORP", "User", {{"Account Balance", {"-2147483648"}}});
    CurrentOperation = AccountOperation::SetBalance;
    AccountValues.Balance = std::numeric_limits<std::int32_t>::min();
    OperationAmount = 7;
    EXPECT_EQ(ApplyAccountOperation("LOW"), DIR_OK);
    EXPECT_EQ(AccountValues.Balance, 7);
}

// The new balance must not land on top of an old one that could not be taken away.
TEST_F(AccountAttributeTest, SetBalanceStopsWhenTheOldBalanceCannotBeTakenAway) {
    CurrentOperation = AccountOperation::SetBalance;
    AccountValues.Balance = -120;  // subtracting it would pass the counter's upper bound
    store_->Add("HIGH.SALES.CORP", "User", {{"Account Balance", {"2147483600"}}});
    OperationAmount = 500;
    EXPECT_NE(ApplyAccountOperation("HIGH"), DIR_OK);
    EXPECT_EQ(Stored("HIGH.SALES.CORP", "Account Balance"), "2147483600");
    EXPECT_EQ(AccountValues.Balance, 2147483600);
}

TEST_F(AccountAttributeTest, AFailedAdjustmentStillRefreshesTheBalance) {
    std::int32_t balance = 0;
    store_->Add("HIGH.SALES.CORP", "User", {{"Account Balance", {"2147483600"}}});
    EXPECT_NE(AdjustBalance("HIGH", 100, &balance), DIR_OK);
    EXPECT_EQ(balance, 2147483600);
}

TEST_F(AccountAttributeTest, SetLimitWritesTheFlagThenTheLimit) {
    CurrentOperation = AccountOperation::SetLimit;
    OperationAmount = 100;
    AccountValues.CreditLimit = -200;
    EXPECT_EQ(ApplyAccountOperation("JSMITH"), DIR_OK);
    ASSERT_EQ(store_->modifications.size(), 2u);
    EXPECT_EQ(store_->modifications[0].at(0).attribute, "Allow Unlimited Credit");
    EXPECT_EQ(store_->modifications[1].at(0).kind, store::ChangeKind::Overwrite);
    EXPECT_EQ(Stored("JSMITH.SALES.CORP", "Minimum Account Balance"), "100");
    EXPECT_EQ(Stored("JSMITH.SALES.CORP", "Allow Unlimited Credit"), "FALSE");
    EXPECT_EQ(AccountValues.CreditLimit, -200);  // the operation leaves the last read alone
}

TEST_F(AccountAttributeTest, SetLimitWithTheFlagSetClearsTheLimit) {
    UseSchema("Colour");
    CurrentOperation = AccountOperation::SetLimit;
    OperationAmount = 100;
    AccountValues.Unlimited = 1;
    EXPECT_EQ(ApplyAccountOperation("MJONES"), DIR_OK);
    ASSERT_EQ(store_->modifications.size(), 2u);
    EXPECT_EQ(store_->modifications[1].at(0).kind, store::ChangeKind::Clear);
    EXPECT_EQ(Stored("MJONES.SALES.CORP", "JOBTALLY:Colour Nolimit"), "TRUE");
    EXPECT_EQ(Stored("MJONES.SALES.CORP", "JOBTALLY:Colour Limit"), "<none>");
}

TEST_F(AccountAttributeTest, SetLimitReportsAFlagThatCouldNotBeWritten) {
    gSettings.Schema.UnlimitedAttribute = "JOBTALLY:Nothing Nolimit";
    CurrentOperation = AccountOperation::SetLimit;
    OperationAmount = 100;
    EXPECT_NE(ApplyAccountOperation("JSMITH"), DIR_OK);
    EXPECT_EQ(Stored("JSMITH.SALES.CORP", "Minimum Account Balance"), "-200");
}

TEST_F(AccountAttributeTest, OnlyTheLimitAttributeIsWrittenAsAnInteger) {
    const std::int32_t limit = 300;
    EXPECT_EQ(WriteAccountAttribute("MJONES", "Minimum Account Balance", &limit,
                                    DIR_CHANGE_OVERWRITE_VALUE),
              DIR_OK);
    EXPECT_EQ(Stored("MJONES.SALES.CORP", "Minimum Account Balance"), "300");
    // Under another schema the same name is not the limit, so it goes as a flag and the
    // directory refuses a flag for an integer attribute.
    UseSchema("Colour");
    EXPECT_NE(WriteAccountAttribute("MJONES", "Minimum Account Balance", &limit,
                                    DIR_CHANGE_OVERWRITE_VALUE),
              DIR_OK);
}

}  // namespace
}  // namespace tally::testing
