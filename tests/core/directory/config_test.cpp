// tallynet.ini: the INI reader, the configuration taken from it, and how the client behaves
// when the file is bad or the store cannot be opened.
#include <cstdlib>
#include <fstream>

#include "callers.h"
#include "directory/client_config.h"

namespace tally::testing {
namespace {

using directory::ClientConfig;
using directory::ConfiguredPath;
using directory::IniFile;
using directory::ParseClientConfig;

void SetEnvironment(const char* name, const char* value) {
#ifdef _WIN32
    _putenv_s(name, value);  // an empty value removes the variable
#else
    if (*value == '\0') {
        unsetenv(name);
    } else {
        setenv(name, value, 1);
    }
#endif
}

TEST(IniFileTest, ReadsSectionsKeysAndCommentsInAnyCase) {
    IniFile ini = IniFile::Parse(
        "\xEF\xBB\xBF; a comment\r\n"
        "[Store]\r\n"
        "Path = Z:\\work\\network\\directory     ; folder of the store\r\n"
        "# another comment\n"
        "\n"
        "[login]\n"
        "user=ADMIN.CORP\n"
        "Note=a;b\n"
        "Empty=\n",
        "tallynet.ini");
    EXPECT_TRUE(ini.Problems().empty());
    EXPECT_EQ(ini.Value("store", "PATH"), "Z:\\work\\network\\directory");
    EXPECT_EQ(ini.Value("Login", "User"), "ADMIN.CORP");
    EXPECT_EQ(ini.Value("Login", "Note"), "a;b");
    EXPECT_EQ(ini.Value("Login", "Empty"), "");
    EXPECT_EQ(ini.Value("Login", "Context"), std::nullopt);
    EXPECT_EQ(ini.Value("Nowhere", "User"), std::nullopt);
}

TEST(IniFileTest, BadLinesAreNamedByFileAndLine) {
    IniFile ini = IniFile::Parse(
        "Stray=1\n"
        "[Login\n"
        "[Login]\n"
        "just words\n"
        "=value\n"
        "[ ]\n"
        "User=ADMIN.CORP\n",
        "/etc/tallynet.ini");
    EXPECT_EQ(ini.Problems(),
              (std::vector<std::string>{
                  "/etc/tallynet.ini:1: key 'Stray' stands outside of any [section]",
                  "/etc/tallynet.ini:2: section header without a closing ']'",
                  "/etc/tallynet.ini:4: line is neither a [section], key=value nor a comment",
                  "/etc/tallynet.ini:5: key=value line without a key",
                  "/etc/tallynet.ini:6: empty section name",
                  "/etc/tallynet.ini:7: key 'User' stands outside of any [section]",
              }));
    // After a bad header, keys have no section until the next good one.
    EXPECT_EQ(ini.Value("Login", "User"), std::nullopt);
}

TEST(ClientConfigTest, TakesEveryValueAndResolvesPathsFromTheFile) {
    ClientConfig config = ParseClientConfig(
        "[Store]\nPath=..\\network\\directory\n"
        "[Login]\nUser=ADMIN.CORP\nContext=SALES.CORP\n"
        "[Connections]\nDefault=ACCT1\nServers= ACCT1 , FS2,,\n"
        "[Volumes]\nACCT1=servers\\ACCT1\nFS2=/srv/fs2\n",
        "/work/etc/tallynet.ini");
    EXPECT_TRUE(config.problems.empty());
    EXPECT_EQ(config.storeFolder, std::filesystem::path("/work/network/directory"));
    EXPECT_EQ(config.loginUser, "ADMIN.CORP");
    EXPECT_EQ(config.loginContext, "SALES.CORP");
    EXPECT_EQ(config.defaultServer, "ACCT1");
    EXPECT_EQ(config.servers, (std::vector<std::string>{"ACCT1", "FS2"}));
    EXPECT_EQ(config.volumes.at("acct1"), std::filesystem::path("/work/etc/servers/ACCT1"));
    EXPECT_EQ(config.volumes.at("FS2"), std::filesystem::path("/srv/fs2"));
}

#ifndef _WIN32
TEST(ClientConfigTest, DrivePathsAreTakenFromTheRootAsWineShowsThem) {
    EXPECT_EQ(ConfiguredPath("Z:\\work\\network\\directory", "/elsewhere"),
              std::filesystem::path("/work/network/directory"));
    EXPECT_EQ(ConfiguredPath("z:/tmp", "/elsewhere"), std::filesystem::path("/tmp"));
}
#endif

TEST(ClientConfigTest, WithoutAStorePathTheFileHasAProblem) {
    ClientConfig config = ParseClientConfig("[Login]\nUser=ADMIN.CORP\n", "t.ini");
    ASSERT_EQ(config.problems.size(), 1u);
    EXPECT_NE(config.problems[0].find("[Store] has no Path"), std::string::npos);
}

// A login that cannot name an object must not count as one: each bad form is a problem that
// names the file and the line.
TEST(ClientConfigTest, ALoginNameThatCannotBeADirectoryNameIsAProblem) {
    const std::string longName(100000, 'A');
    const struct {
        std::string line;
        std::string problem;  // "" for a login that is taken
    } cases[] = {
        {"User=ADMIN.CORP", ""},
        {"User=A\\.B.CORP", ""},
        {"User=TRAIL\\\\.CORP", ""},
        {"User=....", "t.ini:4: [Login] User has an empty part"},
        {"User=ADMIN..CORP", "t.ini:4: [Login] User has an empty part"},
        {"User=ADMIN.CORP\\", "t.ini:4: [Login] User ends in a lone backslash"},
        {"User=" + longName, "t.ini:4: [Login] User is 100000 characters long"},
        {"Context=.CORP", "t.ini:4: [Login] Context has an empty part"},
        {"Context=[root]", ""},
        {std::string("User=ADMIN\0.CORP", 16), "t.ini:4: line holds a NUL byte"},
    };
    for (const auto& c : cases) {
        ClientConfig config =
            ParseClientConfig("[Store]\nPath=s\n[Login]\n" + c.line + "\n", "t.ini");
        if (c.problem.empty()) {
            EXPECT_TRUE(config.problems.empty())
                << c.line.substr(0, 40) << ": " << config.problems.front();
        } else {
            ASSERT_EQ(config.problems.size(), 1u) << c.line.substr(0, 40);
            EXPECT_EQ(config.problems[0].substr(0, c.problem.size()), c.problem);
        }
    }
}

class ConfigFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        folder_ = std::filesystem::temp_directory_path() /
                  ("tally-client-config-" +
                   std::to_string(::testing::UnitTest::GetInstance()->current_test_info()->line()));
        std::filesystem::create_directories(folder_);
    }
    void TearDown() override {
        DirClientReset();
        std::filesystem::remove_all(folder_);
    }
    std::string Write(const std::string& text) {
        std::filesystem::path path = folder_ / "tallynet.ini";
        std::ofstream(path, std::ios::binary) << text;
        return path.string();
    }
    std::filesystem::path folder_;
};

TEST_F(ConfigFileTest, ABadLineMeansNotLoggedInAndSaysWhere) {
    std::string path = Write("[Store]\nPath=store\n[Login]\nUser=ADMIN.CORP\nnonsense\n");
    EXPECT_FALSE(DirClientLoadConfig(path.c_str()));
    EXPECT_EQ(DirIsLoggedIn(), 0);
    EXPECT_EQ(std::string(DirClientLastProblem()),
              path + ":5: line is neither a [section], " + "key=value nor a comment");
}

TEST_F(ConfigFileTest, AMissingFileMeansNotLoggedIn) {
    EXPECT_FALSE(DirClientLoadConfig((folder_ / "absent.ini").string().c_str()));
    EXPECT_EQ(DirIsLoggedIn(), 0);
    EXPECT_NE(std::string(DirClientLastProblem()).find("absent.ini: cannot be read"),
              std::string::npos);
}

TEST_F(ConfigFileTest, AStoreThatWillNotOpenFailsTheCallsWithItsProblem) {
    std::string path = Write("[Store]\nPath=nothing-here\n[Login]\nUser=ADMIN.CORP\n");
    ASSERT_TRUE(DirClientLoadConfig(path.c_str()));
    EXPECT_EQ(DirIsLoggedIn(), 0);
    EXPECT_NE(std::string(DirClientLastProblem()), "");
    DirContextHandle context = DirCreateContext();
    EXPECT_EQ(NameContext(context), "[Root]");
    EXPECT_EQ(SetNameContext(context, "[Root]"), DIR_OK);
    EXPECT_EQ(SetNameContext(context, "CORP"), DIR_ERR_STORE);
    EXPECT_EQ(ListByClass(context, "User").status, DIR_ERR_STORE);
}

TEST_F(ConfigFileTest, TheEnvironmentNamesTheFileToUse) {
    std::string path = Write("[Store]\nPath=x\n[Login]\nUser=GUEST.CORP\n");
    SetEnvironment("TALLYNET_INI", path.c_str());
    DirClientReset();
    EXPECT_EQ(DirClientConfig().loginUser, "GUEST.CORP");
    SetEnvironment("TALLYNET_INI", "");
    EXPECT_EQ(directory::DefaultConfigPath().filename(), "tallynet.ini");
    EXPECT_NE(directory::DefaultConfigPath().string(), path);
}

TEST(StoreTroubleTest, AJournalThatCannotBeReadFailsTheCallWithoutCrashing) {
    auto directory = SampleStore();
    FakeStore* fake = directory.get();
    DirClientUseStore(LoggedInConfig(), std::move(directory));
    DirContextHandle context = DirCreateContext();
    fake->failRefresh = true;
    std::int32_t balance = 9;
    EXPECT_EQ(CallReadAccountAttribute(context, "JSMITH", "Account Balance", &balance),
              DIR_ERR_STORE);
    EXPECT_EQ(balance, 0);
    EXPECT_NE(std::string(DirClientLastProblem()).find("journal"), std::string::npos);
    fake->failRefresh = false;
    EXPECT_EQ(CallReadAccountAttribute(context, "JSMITH", "Account Balance", &balance), DIR_OK);
    EXPECT_EQ(balance, 1500);

    // Changes that cannot be saved to the disk are a failure the caller sees and can name.
    EXPECT_EQ(DirClientSaveChanges(), DIR_OK);
    fake->failSync = true;
    EXPECT_EQ(DirClientSaveChanges(), store::kIoError);
    EXPECT_NE(std::string(DirClientLastProblem()).find("saved to the disk"), std::string::npos);
    DirClientReset();
}

}  // namespace
}  // namespace tally::testing
