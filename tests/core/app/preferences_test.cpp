#include <gtest/gtest.h>

#include "app/preferences.h"
#include "tests/core/program/fakes.h"

namespace {

class PreferencesTest : public ::testing::Test {
  protected:
    FakeProfiles profiles_;
    FakePlatform platform_;
    FakeNetwork network_;
    Settings settings_;

    void SetUp() override {
        profiles_.Set(kLocalSettingsFile, "LogServer", "ACCT1");
        profiles_.Set(kAcct1Shared, "NumericalFormat", "1");
        profiles_.Set(kAcct1Shared, "LogFormat", "0");
        LoadSettings(settings_, profiles_, platform_, network_);
    }

    PreferencesChoices ChoicesAsLoaded() const {
        return {settings_.RecordingEnabled, settings_.LogServer, settings_.DblClickUser,
                settings_.DblClickGroup, settings_.SchemaKeyword};
    }
};

TEST_F(PreferencesTest, SaveWritesTheSixKeysInOrderWithRecordingInverted) {
    settings_.ChargeReason = "Posters";
    PreferencesChoices choices{true, "FS2", 3, 2, "Lab"};
    ASSERT_TRUE(
        SavePreferences(settings_, PendingFromSettings(settings_), choices, network_, profiles_));
    const std::vector<ProfileWrite> expected{
        {"tallydsk.ini", "RecordTransactions", "0"}, {"tallydsk.ini", "DblClickUser", "3"},
        {"tallydsk.ini", "DblClickGroup", "2"},      {"tallydsk.ini", "LogServer", "FS2"},
        {"tallydsk.ini", "ChargeReason", "Posters"}, {"tallydsk.ini", "SchemaKeyword", "Lab"}};
    EXPECT_EQ(profiles_.writes, expected);
    EXPECT_EQ(settings_.LogServerConnection, 2u);
    EXPECT_EQ(settings_.Schema.BalanceAttribute, "JOBTALLY:Lab Balance");

    profiles_.writes.clear();
    choices.recordingEnabled = false;
    SavePreferences(settings_, PendingFromSettings(settings_), choices, network_, profiles_);
    EXPECT_EQ(profiles_.writes.front().value, "1");
    LoadSettings(settings_, profiles_, platform_, network_);
    EXPECT_FALSE(settings_.RecordingEnabled) << "what Save stores reads back as saved";
}

TEST_F(PreferencesTest, ChosenServerTakesEffectOnlyThroughSave) {
    profiles_.Set(kFs2Shared, "NumericalFormat", "0");
    profiles_.Set(kFs2Shared, "LogFormat", "1");
    PreferencesPending pending = PendingFromSettings(settings_);
    ChooseLogServer(settings_, pending, "FS2", profiles_);
    EXPECT_EQ(pending.NumericalFormat, 0);
    EXPECT_EQ(pending.LogFormat, 1);
    EXPECT_EQ(pending.LogFilePath, "\\\\FS2\\SYS\\SYSTEM\\JOBTALLY\\JOBTALLY.LOG");
    EXPECT_EQ(settings_.SharedSettingsPath, kFs2Shared);

    // Cancel: the pending values are dropped, the values in force stay.
    EXPECT_EQ(settings_.NumericalFormat, 1);
    EXPECT_EQ(settings_.LogFormat, 0);
    EXPECT_EQ(settings_.LogFilePath, "\\\\ACCT1\\SYS\\SYSTEM\\JOBTALLY\\JOBTALLY.LOG");

    PreferencesChoices choices = ChoicesAsLoaded();
    choices.logServer = "FS2";
    SavePreferences(settings_, pending, choices, network_, profiles_);
    EXPECT_EQ(settings_.NumericalFormat, 0);
    EXPECT_EQ(settings_.LogFormat, 1);
    EXPECT_EQ(settings_.LogFilePath, pending.LogFilePath);
}

TEST_F(PreferencesTest, ServerWithoutSharedFileKeepsTheFormatsInForce) {
    PreferencesPending pending = PendingFromSettings(settings_);
    ChooseLogServer(settings_, pending, "NOFILE", profiles_);
    EXPECT_EQ(pending.NumericalFormat, 1);
    EXPECT_EQ(pending.LogFormat, 0);
}

TEST_F(PreferencesTest, SavingWithoutSelectionsStoresEmptyServerAndMinusOne) {
    PreferencesChoices choices{true, "", -1, -1, "Standard Netware"};
    SavePreferences(settings_, PendingFromSettings(settings_), choices, network_, profiles_);
    EXPECT_EQ(profiles_.files[kLocalSettingsFile]["LogServer"], "");
    EXPECT_EQ(profiles_.files[kLocalSettingsFile]["DblClickUser"], "-1");
    EXPECT_EQ(profiles_.files[kLocalSettingsFile]["DblClickGroup"], "-1");
    EXPECT_EQ(settings_.LogServer, "") << "no fall-back at Save";

    LoadSettings(settings_, profiles_, platform_, network_);
    EXPECT_EQ(settings_.LogServer, "FS2") << "the next start-up falls back";
    EXPECT_EQ(settings_.DblClickUser, -1);
}

TEST_F(PreferencesTest, FailedWriteIsReportedButTheValuesAreInForce) {
    profiles_.failWrites = true;
    PreferencesChoices choices = ChoicesAsLoaded();
    choices.schemaKeyword = "Lab";
    EXPECT_FALSE(
        SavePreferences(settings_, PendingFromSettings(settings_), choices, network_, profiles_));
    EXPECT_EQ(settings_.SchemaKeyword, "Lab");
}

TEST(PreferencesServers, ScanRunsUntilFailureAndKeepsOnlyConnectedServers) {
    FakeNetwork network;
    network.knownServers = {"ACCT1", "OFFLINE", "FS2", "OLD"};
    EXPECT_EQ(ConnectedFileServers(1, network), (std::vector<std::string>{"ACCT1", "FS2"}));
    network.knownServers.clear();
    EXPECT_TRUE(ConnectedFileServers(1, network).empty());
}

TEST(PreferencesTexts, NameTheFormatsAsTheJobtallyProgramsDo) {
    EXPECT_EQ(NumericalFormatText(0), "Numerical format: Currency");
    EXPECT_EQ(NumericalFormatText(5), "Numerical format: Pages");
    EXPECT_EQ(LogFormatText(0), "Log file format: Readable");
    EXPECT_EQ(LogFormatText(1), "Log file format: ASCII delimted");
}

}  // namespace
