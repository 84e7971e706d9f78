#include <gtest/gtest.h>

#include "program/number_format.h"
#include "program/settings.h"
#include "tests/core/program/fakes.h"

namespace {

class LoadSettingsTest : public ::testing::Test {
  protected:
    FakeProfiles profiles_;
    FakePlatform platform_;
    FakeNetwork network_;
    Settings settings_;

    void Load() { LoadSettings(settings_, profiles_, platform_, network_); }
    void Local(const std::string& key, const std::string& value) {
        profiles_.Set(kLocalSettingsFile, key, value);
    }
};

TEST_F(LoadSettingsTest, MissingFilesGiveTheDefaultsAndTheDefaultConnectionsServer) {
    Load();
    EXPECT_TRUE(settings_.RecordingEnabled);
    EXPECT_EQ(settings_.DblClickUser, 0);
    EXPECT_EQ(settings_.DblClickGroup, 1);
    EXPECT_EQ(settings_.ChargeReason, "Charge");
    EXPECT_EQ(settings_.LogServer, "FS2");
    EXPECT_EQ(settings_.LogServerConnection, 2u);
    EXPECT_EQ(settings_.NumericalFormat, 0);
    EXPECT_EQ(settings_.LogFormat, 1);
    EXPECT_EQ(settings_.SchemaKeyword, "Standard Netware");
    EXPECT_EQ(settings_.Schema.BalanceAttribute, "Account Balance");
    EXPECT_EQ(settings_.Schema.LimitAttribute, "Minimum Account Balance");
    EXPECT_EQ(settings_.Schema.UnlimitedAttribute, "Allow Unlimited Credit");
    EXPECT_EQ(settings_.SharedSettingsPath, kFs2Shared);
    EXPECT_EQ(settings_.LogFilePath, "\\\\FS2\\SYS\\SYSTEM\\JOBTALLY\\JOBTALLY.LOG");
    EXPECT_EQ(settings_.TempDirectory, "C:\\TEMP\\");
    EXPECT_EQ(settings_.OperatorName, "ADMIN.CORP");
    EXPECT_EQ(settings_.DateOrder, 1);
    EXPECT_TRUE(profiles_.writes.empty()) << "loading never writes";
}

TEST_F(LoadSettingsTest, RecordTransactionsIsStoredInverted) {
    for (const auto& [stored, recording] : std::vector<std::pair<std::string, bool>>{
             {"0", true}, {"1", false}, {"7", false}, {"-1", false}}) {
        Local("RecordTransactions", stored);
        Load();
        EXPECT_EQ(settings_.RecordingEnabled, recording) << "stored " << stored;
    }
}

TEST_F(LoadSettingsTest, ConnectedLogServerIsKeptAndDrivesBothPaths) {
    Local("LogServer", "ACCT1");
    profiles_.Set(kAcct1Shared, "NumericalFormat", "1");
    profiles_.Set(kAcct1Shared, "LogFormat", "0");
    Load();
    EXPECT_EQ(settings_.LogServer, "ACCT1");
    EXPECT_EQ(settings_.LogServerConnection, 1u);
    EXPECT_EQ(settings_.NumericalFormat, 1);
    EXPECT_EQ(settings_.LogFormat, 0);
    EXPECT_EQ(settings_.LogFilePath, "\\\\ACCT1\\SYS\\SYSTEM\\JOBTALLY\\JOBTALLY.LOG");
}

// Every writer of one log waits for its lock as long as the log server's shared file says; the
// records that wait for the log are kept beside the local settings, else in the temporary folder.
TEST_F(LoadSettingsTest, TheLogLockBoundIsSharedAndTheOutboxLivesBesideTheSettings) {
    Local("LogServer", "ACCT1");
    const struct {
        const char* stored;
        int seconds;
    } bounds[] = {{nullptr, 30}, {"5", 5}, {"120", 120}, {"0", 30}, {"-3", 30}};
    for (const auto& bound : bounds) {
        profiles_ = FakeProfiles{};
        Local("LogServer", "ACCT1");
        if (bound.stored) {
            profiles_.Set(kAcct1Shared, "LogLockWait", bound.stored);
        }
        Load();
        EXPECT_EQ(settings_.LogLockWaitSeconds, bound.seconds)
            << (bound.stored ? bound.stored : "missing");
    }
    EXPECT_EQ(settings_.OutboxFolder, "C:\\TEMP\\");
    platform_.settingsFolder = "C:\\WINDOWS";
    Load();
    EXPECT_EQ(settings_.OutboxFolder, "C:\\WINDOWS");
}

TEST_F(LoadSettingsTest, UnconnectedLogServerFallsBackInMemoryOnly) {
    Local("LogServer", "GONE");
    profiles_.Set(kFs2Shared, "NumericalFormat", "3");
    Load();
    EXPECT_EQ(settings_.LogServer, "FS2");
    EXPECT_EQ(settings_.NumericalFormat, 3) << "the fall-back server's shared file is read";
    EXPECT_EQ(profiles_.files[kLocalSettingsFile]["LogServer"], "GONE");
    EXPECT_TRUE(profiles_.writes.empty());
}

TEST_F(LoadSettingsTest, TextsAreReadUpToTheirLimits) {
    Local("LogServer", std::string(60, 'S'));
    Local("ChargeReason", std::string(40, 'R'));
    Local("SchemaKeyword", "ABCDEFGHIJKLMNOPQRST");
    Load();
    // A 47-character name is not connected, so the fall-back replaces it; what was asked for
    // is what the read limit left of it.
    ASSERT_FALSE(network_.lookedUp.empty());
    EXPECT_EQ(network_.lookedUp.front(), std::string(47, 'S'));
    EXPECT_EQ(settings_.ChargeReason, std::string(30, 'R'));
    EXPECT_EQ(settings_.SchemaKeyword, "ABCDEFGHIJKLMNOP");
    EXPECT_EQ(settings_.Schema.BalanceAttribute, "JOBTALLY:ABCDEFGHIJKLMNOP Balance");
    EXPECT_EQ(settings_.Schema.UnlimitedAttribute.size(), 33u) << "held whole, not cut";
}

TEST_F(LoadSettingsTest, KeywordComesFromTheSharedFileOnlyWhenTheLocalOneIsEmpty) {
    profiles_.Set(kFs2Shared, "SchemaKeyword", "Lab");
    Load();
    EXPECT_EQ(settings_.SchemaKeyword, "Lab") << "key missing locally";

    Local("SchemaKeyword", "");
    Load();
    EXPECT_EQ(settings_.SchemaKeyword, "Lab") << "key present locally with no text";

    Local("SchemaKeyword", "Staff");
    Load();
    EXPECT_EQ(settings_.SchemaKeyword, "Staff");
    EXPECT_EQ(settings_.Schema.LimitAttribute, "JOBTALLY:Staff Limit");
}

TEST_F(LoadSettingsTest, EmptySharedKeywordGivesTheJobtallyNamesWithNothingBetween) {
    profiles_.Set(kFs2Shared, "SchemaKeyword", "");
    Load();
    EXPECT_EQ(settings_.SchemaKeyword, "");
    EXPECT_EQ(settings_.Schema.BalanceAttribute, "JOBTALLY: Balance");
    EXPECT_EQ(settings_.Schema.LimitAttribute, "JOBTALLY: Limit");
    EXPECT_EQ(settings_.Schema.UnlimitedAttribute, "JOBTALLY: Nolimit");
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
