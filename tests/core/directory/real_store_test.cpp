// The client over the real store, opened from a small LDIF folder written here: the same call
// sequences as against the fake, plus what only a real journal shows (a second process's
// changes, increments journalled as such, a corrupt snapshot).
#include <fstream>
#include <sstream>

#include "callers.h"

namespace tally::testing {
namespace {

const char* kDirectory = R"(dn: o=CORP
objectClass: organization
o: CORP

dn: cn=ADMIN,o=CORP
objectClass: tallyUser
cn: ADMIN
allowUnlimitedCredit: TRUE

dn: cn=ACCT1,o=CORP
objectClass: tallyFileServer
cn: ACCT1

dn: cn=FS9,o=CORP
objectClass: tallyFileServer
cn: FS9

dn: ou=SALES,o=CORP
objectClass: organizationalUnit
ou: SALES

dn: cn=JSMITH,ou=SALES,o=CORP
objectClass: tallyUser
cn: JSMITH
fullName: John Smith
accountBalance: 1500
minimumAccountBalance: 0
allowUnlimitedCredit: FALSE

dn: cn=STAFF,ou=SALES,o=CORP
objectClass: tallyGroup
cn: STAFF
member: cn=JSMITH,ou=SALES,o=CORP
member: cn=ADMIN,o=CORP
)";

std::string ReadWholeFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

class RealStoreTest : public ::testing::Test {
  protected:
    void SetUp() override {
        folder_ = std::filesystem::temp_directory_path() /
                  ("tally-client-store-" +
                   std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(folder_);
        std::filesystem::create_directories(folder_ / "directory");
        std::filesystem::copy_file(
            std::filesystem::path(TALLY_SOURCE_DIR) / "dirstore/schema/tallydesk.ldif",
            folder_ / "directory/schema.ldif");
        std::ofstream(folder_ / "directory/directory.ldif", std::ios::binary) << kDirectory;
        std::ofstream(folder_ / "tallynet.ini", std::ios::binary)
            << "[Store]\nPath=directory\n[Login]\nUser=ADMIN.CORP\nContext=SALES.CORP\n"
               "[Connections]\nDefault=ACCT1\n";
        ini_ = (folder_ / "tallynet.ini").string();
    }
    void TearDown() override {
        DirClientReset();
        std::filesystem::remove_all(folder_);
    }

    std::filesystem::path folder_;
    std::string ini_;
};

TEST_F(RealStoreTest, TheProgramsCallsWorkOverTheRealStore) {
    ASSERT_TRUE(DirClientLoadConfig(ini_.c_str()));
    ASSERT_EQ(DirIsLoggedIn(), 1) << DirClientLastProblem();
    DirContextHandle context = DirCreateContext();
    EXPECT_EQ(NameContext(context), "SALES.CORP");
    EXPECT_EQ(ListByClass(context, "User").names, std::vector<std::string>{"JSMITH"});
    EXPECT_EQ(ListByClass(context, "Group").names, std::vector<std::string>{"STAFF"});

    std::int32_t balance = 0;
    ASSERT_EQ(CallAdjustBalance(context, "JSMITH", "Account Balance", -250, &balance), DIR_OK)
        << DirClientLastProblem();
    EXPECT_EQ(balance, 1250);
    EXPECT_NE(ReadWholeFile(folder_ / "directory/journal.ldif").find("accountBalance"),
              std::string::npos);

    Members members = ReadMembers(context, "STAFF");
    EXPECT_EQ(members.names, (std::vector<std::string>{"JSMITH.SALES.CORP", "ADMIN.CORP"}));
    EXPECT_EQ(CallIsGroupMember(context, "STAFF", "JSMITH"), 1);
    std::uint8_t unlimited = 0;
    ASSERT_EQ(CallReadAccountAttribute(context, members.names[1].c_str(), "Allow Unlimited Credit",
                                       &unlimited),
              DIR_OK);
    EXPECT_EQ(unlimited, 1);

    NetConnectionHandle connection = 0;
    ASSERT_EQ(NetGetDefaultConnection(&connection), 0);
    std::int32_t id = -1;
    char name[NET_MAX_SERVER_NAME_BYTES];
    std::vector<std::string> servers;
    while (NetScanObjects(connection, "*", NET_OT_FILE_SERVER, &id, name, nullptr, nullptr, nullptr,
                          nullptr) == 0) {
        servers.emplace_back(name);
    }
    EXPECT_EQ(servers, (std::vector<std::string>{"ACCT1", "FS9"}));
}

TEST_F(RealStoreTest, ChangesOfAnotherProcessAreSeenAtTheNextCall) {
    ASSERT_TRUE(DirClientLoadConfig(ini_.c_str()));
    DirContextHandle context = DirCreateContext();
    std::int32_t balance = 0;
    ASSERT_EQ(CallReadAccountAttribute(context, "JSMITH", "Account Balance", &balance), DIR_OK);
    {
        // Another copy of the program, with its own view of the same store.
        tally::store::Problem problem;
        auto other = tally::store::Store::Open(folder_ / "directory", &problem);
        ASSERT_TRUE(other) << problem.Describe();
        ASSERT_EQ(other->Modify("JSMITH.SALES.CORP",
                                {{tally::store::ChangeKind::AddValue, "Account Balance", "-7"}}),
                  tally::store::kOk);
    }
    ASSERT_EQ(CallReadAccountAttribute(context, "JSMITH", "Account Balance", &balance), DIR_OK);
    EXPECT_EQ(balance, 1493);
}

TEST_F(RealStoreTest, ACorruptSnapshotIsReportedAndTheCallsFail) {
    std::ofstream(folder_ / "directory/directory.ldif", std::ios::binary)
        << "dn: o=CORP\nobjectClass: organization\no: CORP\n\nthis is not ldif\n";
    ASSERT_TRUE(DirClientLoadConfig(ini_.c_str()));
    EXPECT_EQ(DirIsLoggedIn(), 0);
    EXPECT_NE(std::string(DirClientLastProblem()).find("directory.ldif"), std::string::npos)
        << DirClientLastProblem();
    DirContextHandle context = DirCreateContext();
    EXPECT_EQ(ListByClass(context, "User").status, DIR_ERR_STORE);
    std::int32_t balance = 5;
    EXPECT_EQ(CallReadAccountAttribute(context, "JSMITH", "Account Balance", &balance),
              DIR_ERR_STORE);
    EXPECT_EQ(balance, 0);
}

}  // namespace
}  // namespace tally::testing
