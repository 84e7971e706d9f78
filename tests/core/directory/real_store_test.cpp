// The client over the real backends: the embedded store opened from a small LDIF folder written
// here, and the same tree on the scratch slapd (scripts/lib/scratch_slapd.py), its counters
// changed with the server's increment and with delete-and-add. The same call sequences as
// against the fake, with the same results over every backend, plus what only a real backend
// shows (a second process's changes, increments journalled as such, a corrupt snapshot).
#include <fstream>
#include <sstream>

#include "callers.h"
#include "directory/dirclient_state.h"
#include "ldap_server.h"

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

enum class Backend { Folder, Ldap, LdapDeleteAdd };

std::string BackendName(const ::testing::TestParamInfo<Backend>& info) {
    switch (info.param) {
        case Backend::Folder:
            return "Folder";
        case Backend::Ldap:
            return "Ldap";
        case Backend::LdapDeleteAdd:
            return "LdapDeleteAdd";
    }
    return "Unknown";
}

// A unique name for what a test puts on disk or on the server.
std::string CaseName() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string("tally-") + info->test_suite_name() + "-" + info->name() + "-" +
                       std::to_string(::testing::UnitTest::GetInstance()->random_seed());
    for (char& c : name) {
        if (c == '/') {
            c = '-';
        }
    }
    return name;
}

class RealStoreTest : public ::testing::Test {
  protected:
    void SetUp() override { Lay(Backend::Folder); }
    void TearDown() override {
        DirClientReset();
        std::filesystem::remove_all(folder);
    }

    // The sample tree on `backend`, and a tallynet.ini that names it.
    void Lay(Backend backend) {
        folder = std::filesystem::temp_directory_path() / CaseName();
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder / "directory");
        std::string storeSection = "[Store]\nPath=directory\n";
        if (backend == Backend::Folder) {
            std::filesystem::copy_file(
                std::filesystem::path(TALLY_SOURCE_DIR) / "dirstore/schema/tallydesk.ldif",
                folder / "directory/schema.ldif");
            std::ofstream(folder / "directory/directory.ldif", std::ios::binary) << kDirectory;
        } else {
            base = server.LoadTree(CaseName(), kDirectory);
            storeSection = server.StoreSection(
                base, server.operatorDn,
                backend == Backend::LdapDeleteAdd ? "Increment=no\nPageSize=2\n" : "");
        }
        // Over a server the login is whoever the connection is bound as; the ini names no User.
        std::ofstream(folder / "tallynet.ini", std::ios::binary)
            << storeSection << "[Login]\n"
            << (backend == Backend::Folder ? "User=ADMIN.CORP\n" : "")
            << "Context=SALES.CORP\n[Connections]\nDefault=ACCT1\n";
        ini = (folder / "tallynet.ini").string();
    }

    LdapServer server = LdapServer::FromEnvironment();
    std::filesystem::path folder;
    std::string ini;
    std::string base;
};

// The same sequences over each backend; the server's cases run under scratch_slapd.py (ctest's
// directory_client_ldap) and are skipped without it.
class EveryBackendTest : public RealStoreTest, public ::testing::WithParamInterface<Backend> {
  protected:
    void SetUp() override {
        if (GetParam() != Backend::Folder && !server.Available()) {
            GTEST_SKIP() << "no scratch slapd (TALLY_LDAP_URL is not set)";
        }
        Lay(GetParam());
    }
};

TEST_P(EveryBackendTest, TheProgramsCallsWorkOverTheRealStore) {
    ASSERT_TRUE(DirClientLoadConfig(ini.c_str()));
    ASSERT_EQ(DirIsLoggedIn(), 1) << DirClientLastProblem();
    DirContextHandle context = DirCreateContext();
    EXPECT_EQ(NameContext(context), "SALES.CORP");
    EXPECT_EQ(ListByClass(context, "User").names, std::vector<std::string>{"JSMITH"});
    EXPECT_EQ(ListByClass(context, "Group").names, std::vector<std::string>{"STAFF"});

    std::int32_t balance = 0;
    ASSERT_EQ(CallAdjustBalance(context, "JSMITH", "Account Balance", -250, &balance), DIR_OK)
        << DirClientLastProblem();
    EXPECT_EQ(balance, 1250);
    if (GetParam() == Backend::Folder) {
        EXPECT_NE(ReadWholeFile(folder / "directory/journal.ldif").find("accountBalance"),
                  std::string::npos);
    }
    ASSERT_EQ(CallAdjustBalance(context, "JSMITH", "Account Balance", 1000, &balance), DIR_OK);
    EXPECT_EQ(balance, 2250);
    // A counter not held yet starts from the amount added.
    ASSERT_EQ(CallAdjustBalance(context, "JSMITH", "JOBTALLY:Colour Balance", -40, &balance),
              DIR_OK)
        << DirClientLastProblem();
    EXPECT_EQ(balance, -40);
    std::int32_t limit = -500;
    ASSERT_EQ(CallWriteAccountAttribute(context, "JSMITH", "Minimum Account Balance", SYN_INTEGER,
                                        &limit, DIR_CHANGE_OVERWRITE_VALUE),
              DIR_OK)
        << DirClientLastProblem();
    limit = 0;
    ASSERT_EQ(CallReadAccountAttribute(context, "JSMITH", "Minimum Account Balance", &limit),
              DIR_OK);
    EXPECT_EQ(limit, -500);
    EXPECT_EQ(CallReadAccountAttribute(context, "NOBODY", "Account Balance", &limit),
              DIR_ERR_NO_SUCH_ENTRY);
    EXPECT_EQ(CallAdjustBalance(context, "NOBODY", "Account Balance", 5, &balance),
              DIR_ERR_NO_SUCH_ENTRY);
    EXPECT_EQ(CallIsGroupMember(context, "STAFF", "NOBODY"), 0);

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

TEST_P(EveryBackendTest, ChangesOfAnotherProcessAreSeenAtTheNextCall) {
    ASSERT_TRUE(DirClientLoadConfig(ini.c_str()));
    DirContextHandle context = DirCreateContext();
    std::int32_t balance = 0;
    ASSERT_EQ(CallReadAccountAttribute(context, "JSMITH", "Account Balance", &balance), DIR_OK);
    {
        // Another copy of the program, with its own view of the same store.
        std::string problem;
        auto other =
            tally::directory::OpenConfiguredStore(tally::directory::LoadClientConfig(ini), problem);
        ASSERT_TRUE(other) << problem;
        ASSERT_EQ(other->Modify("JSMITH.SALES.CORP",
                                {{tally::store::ChangeKind::AddValue, "Account Balance", "-7"}}),
                  tally::store::kOk);
    }
    ASSERT_EQ(CallReadAccountAttribute(context, "JSMITH", "Account Balance", &balance), DIR_OK);
    EXPECT_EQ(balance, 1493);
}

TEST_F(RealStoreTest, ACorruptSnapshotIsReportedAndTheCallsFail) {
    std::ofstream(folder / "directory/directory.ldif", std::ios::binary)
        << "dn: o=CORP\nobjectClass: organization\no: CORP\n\nthis is not ldif\n";
    ASSERT_TRUE(DirClientLoadConfig(ini.c_str()));
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

INSTANTIATE_TEST_SUITE_P(Backends, EveryBackendTest,
                         ::testing::Values(Backend::Folder, Backend::Ldap, Backend::LdapDeleteAdd),
                         BackendName);

}  // namespace
}  // namespace tally::testing
