#include <gtest/gtest.h>

#include "app/preferences.h"
#include "tests/core/program/fakes.h"

namespace {

class PreferencesTest : public ::testing::Test {
  protected:
    FakeProfiles profiles;
    FakePlatform platform;
    FakeNetwork network;
    Settings settings;

    void SetUp() override {
        profiles.set(kLocalSettingsFile, "LogServer", "ACCT1");
        profiles.set(kAcct1Shared, "NumericalFormat", "1");
        profiles.set(kAcct1Shared, "LogFormat", "0");
        LoadSettings(settings, profiles, platform, network);
    }

    PreferencesChoices choicesAsLoaded() const {
        return {settings.RecordingEnabled, settings.LogServer, settings.DblClickUser,
                settings.DblClickGroup, settings.SchemaKeyword};
    }
};

TEST_F(PreferencesTest, SaveWritesTheSixKeysInOrderWithRecordingInverted) {
    settings.ChargeReason = "Posters";
    PreferencesChoices choices{true, "FS2", 3, 2, "Lab"};
    ASSERT_TRUE(
        SavePreferences(settings, PendingFromSettings(settings), choices, network, profiles));
    const std::vector<ProfileWrite> expected{
        {"tallydsk.ini", "RecordTransactions", "0"}, {"tallydsk.ini", "DblClickUser", "3"},
        {"tallydsk.ini", "DblClickGroup", "2"},      {"tallydsk.ini", "LogServer", "FS2"},
        {"tallydsk.ini", "ChargeReason", "Posters"}, {"tallydsk.ini", "SchemaKeyword", "Lab"}};
    EXPECT_EQ(profiles.writes, expected);
    EXPECT_EQ(settings.LogServerConnection, 2u);
    EXPECT_EQ(settings.Schema.BalanceAttribute, "JOBTALLY:Lab Balance");

    profiles.writes.clear();
    choices.recordingEnabled = false;
    SavePreferences(settings, PendingFromSettings(settings), choices, network, profiles);
    EXPECT_EQ(profiles.writes.front().value, "1");
    LoadSettings(settings, profiles, platform, network);
    EXPECT_FALSE(settings.RecordingEnabled) << "what Save stores reads back as saved";
}

TEST_F(PreferencesTest, ChosenServerTakesEffectOnlyThroughSave) {
    profiles.set(kFs2Shared, "NumericalFormat", "0");
    profiles.set(kFs2Shared, "LogFormat", "1");
    PreferencesPending pending = PendingFromSettings(settings);
    ChooseLogServer(settings, pending, "FS2", profiles);
    EXPECT_EQ(pending.NumericalFormat, 0);
    EXPECT_EQ(pending.LogFormat, 1);
    EXPECT_EQ(pending.LogFilePath, "\\\\FS2\\SYS\\SYSTEM\\JOBTALLY\\JOBTALLY.LOG");
    EXPECT_EQ(settings.SharedSettingsPath, kFs2Shared);

    // Cancel: the pending values are dropped, the values in force stay.
    EXPECT_EQ(settings.NumericalFormat, 1);
    EXPECT_EQ(settings.LogFormat, 0);
    EXPECT_EQ(settings.LogFilePath, "\\\\ACCT1\\SYS\\SYSTEM\\JOBTALLY\\JOBTALLY.LOG");

    PreferencesChoices choices = choicesAsLoaded();
    choices.logServer = "FS2";
    SavePreferences(settings, pending, choices, network, profiles);
    EXPECT_EQ(settings.NumericalFormat, 0);
    EXPECT_EQ(settings.LogFormat, 1);
    EXPECT_EQ(settings.LogFilePath, pending.LogFilePath);
}

TEST_F(PreferencesTest, ServerWithoutSharedFileKeepsTheFormatsInForce) {
    PreferencesPending pending = PendingFromSettings(settings);
    ChooseLogServer(settings, pending, "NOFILE", profiles);
    EXPECT_EQ(pending.NumericalFormat, 1);
    EXPECT_EQ(pending.LogFormat, 0);
}

TEST_F(PreferencesTest, SavingWithoutSelectionsStoresEmptyServerAndMinusOne) {
    PreferencesChoices choices{true, "", -1, -1, "Standard Netware"};
    SavePreferences(settings, PendingFromSettings(settings), choices, network, profiles);
    EXPECT_EQ(profiles.files[kLocalSettingsFile]["LogServer"], "");
    EXPECT_EQ(profiles.files[kLocalSettingsFile]["DblClickUser"], "-1");
    EXPECT_EQ(profiles.files[kLocalSettingsFile]["DblClickGroup"], "-1");
    EXPECT_EQ(settings.LogServer, "") << "no fall-back at Save";

    LoadSettings(settings, profiles, platform, network);
    EXPECT_EQ(settings.LogServer, "FS2") << "the next start-up falls back";
    EXPECT_EQ(settings.DblClickUser, -1);
}

TEST_F(PreferencesTest, FailedWriteIsReportedButTheValuesAreInForce) {
    profiles.failWrites = true;
    PreferencesChoices choices = choicesAsLoaded();
    choices.schemaKeyword = "Lab";
    EXPECT_FALSE(
        SavePreferences(settings, PendingFromSettings(settings), choices, network, profiles));
    EXPECT_EQ(settings.SchemaKeyword, "Lab");
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
