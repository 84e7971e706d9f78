#include <gtest/gtest.h>

#include "program/number_format.h"
#include "program/settings.h"
#include "tests/core/program/fakes.h"

namespace {

class LoadSettingsTest : public ::testing::Test {
  protected:
    FakeProfiles profiles;
    FakePlatform platform;
    FakeNetwork network;
    Settings settings;

    void load() { LoadSettings(settings, profiles, platform, network); }
    void local(const std::string& key, const std::string& value) {
        profiles.set(kLocalSettingsFile, key, value);
    }
};

TEST_F(LoadSettingsTest, MissingFilesGiveTheDefaultsAndTheDefaultConnectionsServer) {
    load();
    EXPECT_TRUE(settings.RecordingEnabled);
    EXPECT_EQ(settings.DblClickUser, 0);
    EXPECT_EQ(settings.DblClickGroup, 1);
    EXPECT_EQ(settings.ChargeReason, "Charge");
    EXPECT_EQ(settings.LogServer, "FS2");
    EXPECT_EQ(settings.LogServerConnection, 2u);
    EXPECT_EQ(settings.NumericalFormat, 0);
    EXPECT_EQ(settings.LogFormat, 1);
    EXPECT_EQ(settings.SchemaKeyword, "Standard Netware");
    EXPECT_EQ(settings.Schema.BalanceAttribute, "Account Balance");
    EXPECT_EQ(settings.Schema.LimitAttribute, "Minimum Account Balance");
    EXPECT_EQ(settings.Schema.UnlimitedAttribute, "Allow Unlimited Credit");
    EXPECT_EQ(settings.SharedSettingsPath, kFs2Shared);
    EXPECT_EQ(settings.LogFilePath, "\\\\FS2\\SYS\\SYSTEM\\JOBTALLY\\JOBTALLY.LOG");
    EXPECT_EQ(settings.TempDirectory, "C:\\TEMP\\");
    EXPECT_EQ(settings.OperatorName, "ADMIN.CORP");
    EXPECT_EQ(settings.DateOrder, 1);
    EXPECT_TRUE(profiles.writes.empty()) << "loading never writes";
}

TEST_F(LoadSettingsTest, RecordTransactionsIsStoredInverted) {
    for (const auto& [stored, recording] : std::vector<std::pair<std::string, bool>>{
             {"0", true}, {"1", false}, {"7", false}, {"-1", false}}) {
        local("RecordTransactions", stored);
        load();
        EXPECT_EQ(settings.RecordingEnabled, recording) << "stored " << stored;
    }
}

TEST_F(LoadSettingsTest, ConnectedLogServerIsKeptAndDrivesBothPaths) {
    local("LogServer", "ACCT1");
    profiles.set(kAcct1Shared, "NumericalFormat", "1");
    profiles.set(kAcct1Shared, "LogFormat", "0");
    load();
    EXPECT_EQ(settings.LogServer, "ACCT1");
    EXPECT_EQ(settings.LogServerConnection, 1u);
    EXPECT_EQ(settings.NumericalFormat, 1);
    EXPECT_EQ(settings.LogFormat, 0);
    EXPECT_EQ(settings.LogFilePath, "\\\\ACCT1\\SYS\\SYSTEM\\JOBTALLY\\JOBTALLY.LOG");
}

TEST_F(LoadSettingsTest, UnconnectedLogServerFallsBackInMemoryOnly) {
    local("LogServer", "GONE");
    profiles.set(kFs2Shared, "NumericalFormat", "3");
    load();
    EXPECT_EQ(settings.LogServer, "FS2");
    EXPECT_EQ(settings.NumericalFormat, 3) << "the fall-back server's shared file is read";
    EXPECT_EQ(profiles.files[kLocalSettingsFile]["LogServer"], "GONE");
    EXPECT_TRUE(profiles.writes.empty());
}

TEST_F(LoadSettingsTest, TextsAreReadUpToTheirLimits) {
    local("LogServer", std::string(60, 'S'));
    local("ChargeReason", std::string(40, 'R'));
    local("SchemaKeyword", "ABCDEFGHIJKLMNOPQRST");
    load();
    // A 47-character name is not connected, so the fall-back replaces it; what was asked for
    // is what the read limit left of it.
    ASSERT_FALSE(network.lookedUp.empty());
    EXPECT_EQ(network.lookedUp.front(), std::string(47, 'S'));
    EXPECT_EQ(settings.ChargeReason, std::string(30, 'R'));
    EXPECT_EQ(settings.SchemaKeyword, "ABCDEFGHIJKLMNOP");
    EXPECT_EQ(settings.Schema.BalanceAttribute, "JOBTALLY:ABCDEFGHIJKLMNOP Balance");
    EXPECT_EQ(settings.Schema.UnlimitedAttribute.size(), 33u) << "held whole, not cut";
}

TEST_F(LoadSettingsTest, KeywordComesFromTheSharedFileOnlyWhenTheLocalOneIsEmpty) {
    profiles.set(kFs2Shared, "SchemaKeyword", "Lab");
    load();
    EXPECT_EQ(settings.SchemaKeyword, "Lab") << "key missing locally";

    local("SchemaKeyword", "");
    load();
    EXPECT_EQ(settings.SchemaKeyword, "Lab") << "key present locally with no text";

    local("SchemaKeyword", "Staff");
    load();
    EXPECT_EQ(settings.SchemaKeyword, "Staff");
    EXPECT_EQ(settings.Schema.LimitAttribute, "JOBTALLY:Staff Limit");
}

TEST_F(LoadSettingsTest, EmptySharedKeywordGivesTheJobtallyNamesWithNothingBetween) {
    profiles.set(kFs2Shared, "SchemaKeyword", "");
    load();
    EXPECT_EQ(settings.SchemaKeyword, "");
    EXPECT_EQ(settings.Schema.BalanceAttribute, "JOBTALLY: Balance");
    EXPECT_EQ(settings.Schema.LimitAttribute, "JOBTALLY: Limit");
    EXPECT_EQ(settings.Schema.UnlimitedAttribute, "JOBTALLY: Nolimit");
}

TEST(SelectAccountSchema, OnlyTheExactStandardKeywordSelectsTheStandardNames) {
    EXPECT_EQ(SelectAccountSchema("Standard Netware").BalanceAttribute, "Account Balance");
    const AccountSchema other = SelectAccountSchema("standard netware");
    EXPECT_EQ(other.BalanceAttribute, "JOBTALLY:standard netware Balance");
    EXPECT_EQ(other.LimitAttribute, "JOBTALLY:standard netware Limit");
    EXPECT_EQ(other.UnlimitedAttribute, "JOBTALLY:standard netware Nolimit");
    EXPECT_EQ(SelectAccountSchema("Standard Netware ").BalanceAttribute,
              "JOBTALLY:Standard Netware  Balance");
}

TEST(NumberFormat, FollowsTheLocalesCurrencyDigits) {
    Settings settings;
    DeriveNumberFormat(settings, "2", "0");
    EXPECT_EQ(settings.AmountScale, 100);
    EXPECT_EQ(settings.AmountFormat, "%.2f");
    EXPECT_EQ(settings.AmountColumnFormat, "%8.2f");
    EXPECT_EQ(FormatAmount(-150, settings), "-1.50");
    EXPECT_EQ(FormatAmountColumn(12345, settings), "  123.45");

    settings.NumericalFormat = 1;  // Pages
    EXPECT_EQ(FormatAmount(-150, settings), "-150");
}

TEST(NumberFormat, ZeroCurrencyDigitsShowWholeNumbersEvenInCurrency) {
    Settings settings;
    DeriveNumberFormat(settings, "0", "2");
    EXPECT_EQ(settings.AmountScale, 1);
    EXPECT_EQ(settings.AmountFormat, "%.0f");
    EXPECT_EQ(settings.AmountColumnFormat, "%8.0f");
    EXPECT_EQ(settings.DateOrder, 2);
    EXPECT_FALSE(AmountsInDecimal(settings));
    EXPECT_EQ(FormatAmount(2147483647, settings), "2147483647");
    EXPECT_EQ(FormatAmount(-2147483647 - 1, settings), "-2147483648");
}

TEST(NumberFormat, OutOfRangeDigitsCannotOverflowTheScaleOrBreakTheFormat) {
    Settings settings;
    DeriveNumberFormat(settings, "12", "0");
    EXPECT_EQ(settings.CurrencyDigits, 9);
    EXPECT_EQ(settings.AmountScale, 1000000000);
    DeriveNumberFormat(settings, "-3", "0");
    EXPECT_EQ(settings.CurrencyDigits, 0);
    EXPECT_EQ(settings.AmountFormat, "%.0f");
    DeriveNumberFormat(settings, "x", "");
    EXPECT_EQ(settings.CurrencyDigits, 0);
    EXPECT_EQ(settings.DateOrder, 0);
}

TEST(SaveChargeReason, WritesOnlyTheChargeReasonKey) {
    FakeProfiles profiles;
    Settings settings;
    settings.ChargeReason = "Colour copies";
    EXPECT_TRUE(SaveChargeReason(settings, profiles));
    ASSERT_EQ(profiles.writes.size(), 1u);
    EXPECT_EQ(profiles.writes[0], (ProfileWrite{"tallydsk.ini", "ChargeReason", "Colour copies"}));
}

}  // namespace
