// The settings against the real private-profile functions, on a scratch INI file.
#include <gtest/gtest.h>

#include <windows.h>

#include <fstream>
#include <sstream>
#include <string>

#include "app/preferences.h"
#include "program/settings.h"
#include "program/win32/platform_settings.h"

namespace {

// Sends the local file to a scratch file and leaves the shared files missing.
class ScratchProfiles final : public ProfileStore {
  public:
    explicit ScratchProfiles(std::string local) : local_(std::move(local)) {}
    std::string ReadString(const std::string& file, const char* section, const char* key,
                           const char* fallback, std::size_t maxChars) override {
        return real_.ReadString(Map(file), section, key, fallback, maxChars);
    }
    int ReadInt(const std::string& file, const char* section, const char* key,
                int fallback) override {
        return real_.ReadInt(Map(file), section, key, fallback);
    }
    bool WriteString(const std::string& file, const char* section, const char* key,
                     const std::string& value) override {
        return real_.WriteString(Map(file), section, key, value);
    }

  private:
    std::string Map(const std::string& file) const {
        return file == kLocalSettingsFile ? local_ : local_ + ".missing-shared";
    }
    std::string local_;
    PrivateProfiles real_;
};

class NoNetwork final : public NetworkServices {
  public:
    NetStatus FindConnection(const std::string& server, NetConnectionHandle* c) override {
        *c = 7;
        return server == "ACCT1" ? 0 : NET_ERR_NO_CONNECTION;
    }
    NetStatus DefaultConnection(NetConnectionHandle* c) override {
        *c = 7;
        return 0;
    }
    NetStatus ServerName(NetConnectionHandle, std::string* name) override {
        *name = "ACCT1";
        return 0;
    }
    NetStatus ScanFileServers(NetConnectionHandle, std::int32_t*, std::string*) override {
        return NET_ERR_NO_MORE_OBJECTS;
    }
    DirStatus LoginName(std::string* name) override {
        *name = "ADMIN.CORP";
        return 0;
    }
};

class PrivateProfileRoundTrip : public ::testing::Test {
  protected:
    std::string path_;
    void SetUp() override {
        char folder[MAX_PATH + 1] = {};
        ASSERT_NE(GetTempPathA(sizeof folder, folder), 0u);
        path_ =
            std::string(folder) + "tallydesk-app-" + std::to_string(GetCurrentProcessId()) + ".ini";
        DeleteFileA(path_.c_str());
    }
    void TearDown() override { DeleteFileA(path_.c_str()); }

    std::string FileText() const {
        std::ifstream in(path_, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }
};

TEST_F(PrivateProfileRoundTrip, ReadsKeepTheirLimitsAndSignedIntegers) {
    PrivateProfiles profiles;
    EXPECT_EQ(profiles.ReadString(path_, "Preferences", "LogServer", "dflt", 47), "dflt");
    EXPECT_EQ(profiles.ReadInt(path_, "Preferences", "DblClickUser", 5), 5);
    ASSERT_TRUE(profiles.WriteString(path_, "Preferences", "ChargeReason", std::string(40, 'R')));
    ASSERT_TRUE(profiles.WriteString(path_, "Preferences", "DblClickUser", "-1"));
    ASSERT_TRUE(profiles.WriteString(path_, "Preferences", "SchemaKeyword", ""));
    EXPECT_EQ(profiles.ReadString(path_, "Preferences", "ChargeReason", "", 30),
              std::string(30, 'R'));
    EXPECT_EQ(profiles.ReadInt(path_, "Preferences", "DblClickUser", 0), -1);
    EXPECT_EQ(profiles.ReadString(path_, "Preferences", "SchemaKeyword", "X", 16), "")
        << "a key present with no text is not missing";
}

TEST_F(PrivateProfileRoundTrip, SaveThenLoadGivesTheSavedPreferences) {
    ScratchProfiles profiles(path_);
    WindowsPlatformFacts platform;
    NoNetwork network;
    Settings settings;
    LoadSettings(settings, profiles, platform, network);
    EXPECT_TRUE(settings.RecordingEnabled);
    EXPECT_EQ(settings.LogServer, "ACCT1");
    EXPECT_EQ(settings.SchemaKeyword, "Standard Netware");

    settings.ChargeReason = "Binding";
    PreferencesChoices choices{false, "", 3, -1, "Lab"};
    ASSERT_TRUE(
        SavePreferences(settings, PendingFromSettings(settings), choices, network, profiles));
    const std::string text = FileText();
    const std::size_t order[] = {text.find("RecordTransactions=1"), text.find("DblClickUser=3"),
                                 text.find("DblClickGroup=-1"),     text.find("LogServer="),
                                 text.find("ChargeReason=Binding"), text.find("SchemaKeyword=Lab")};
    for (std::size_t i = 0; i < 6; ++i) {
        ASSERT_NE(order[i], std::string::npos) << text;
        if (i > 0) {
            EXPECT_LT(order[i - 1], order[i]) << text;
        }
    }

    Settings again;
    LoadSettings(again, profiles, platform, network);
    EXPECT_FALSE(again.RecordingEnabled);
    EXPECT_EQ(again.DblClickUser, 3);
    EXPECT_EQ(again.DblClickGroup, -1);
    EXPECT_EQ(again.ChargeReason, "Binding");
    EXPECT_EQ(again.LogServer, "ACCT1") << "empty server falls back to the default connection";
    EXPECT_EQ(again.Schema.BalanceAttribute, "JOBTALLY:Lab Balance");
}

TEST(PlatformFacts, LocaleAndTempPathAreUsable) {
    WindowsPlatformFacts platform;
    const std::string digits = platform.LocaleCurrencyDigits(kLocaleItemChars);
    ASSERT_FALSE(digits.empty());
    EXPECT_GE(ParseDecimal(digits), 0);
    EXPECT_FALSE(platform.LocaleShortDateOrder(kLocaleItemChars).empty());
    const std::string temp = platform.TempPath(kPathChars);
    ASSERT_FALSE(temp.empty());
    EXPECT_EQ(temp.back(), '\\');
}

}  // namespace
