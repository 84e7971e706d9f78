// What only a directory on a server shows: names that LDAP filters and DNs must escape, a
// login the server does not let write, a server that cannot be reached or refuses the login,
// counter changes from many connections at once, a context listed in pages. Run under
// scripts/lib/scratch_slapd.py (ctest's directory_client_ldap); skipped without it.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <thread>

#include "callers.h"
#include "directory/dirclient_setup.h"
#include "directory/dirclient_state.h"
#include "ldapstore/ldap_store.h"
#include "ldap_server.h"
#include "memory_scan.h"

namespace tally::testing {
namespace {

class LdapBackendTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!server.Available()) {
            GTEST_SKIP() << "no scratch slapd (TALLY_LDAP_URL is not set)";
        }
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        name = std::string("tally-") + info->name() + "-" +
               std::to_string(::testing::UnitTest::GetInstance()->random_seed());
        folder = std::filesystem::temp_directory_path() / name;
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder);
    }
    void TearDown() override {
        DirClientReset();
        std::filesystem::remove_all(folder);
    }

    // A tallynet.ini with `store` as its [Store], logged in to `context`. Over a server the
    // login is whoever the connection is bound as, so [Login] names a User only for the
    // embedded store.
    std::string WriteIni(const std::string& store, const char* context = "SALES.CORP") {
        const std::filesystem::path ini = folder / "tallynet.ini";
        const bool overServer = store.find("Kind=ldap") != std::string::npos;
        std::ofstream(ini, std::ios::binary)
            << store << "[Login]\n"
            << (overServer ? "" : "User=ADMIN.CORP\n") << "Context=" << context << "\n";
        return ini.string();
    }

    LdapServer server = LdapServer::FromEnvironment();
    std::string name;
    std::filesystem::path folder;
};

// The lines of the server's log (scratch_slapd.py --stats) that record a bind as `dn`.
std::size_t BindsLogged(const std::string& dn) {
    std::ifstream log(LdapServer::Env("TALLY_LDAP_LOG"));
    std::size_t binds = 0;
    for (std::string line; std::getline(log, line);) {
        if (line.find("BIND dn=\"" + dn + "\"") != std::string::npos) {
            ++binds;
        }
    }
    return binds;
}

// Each name as typed (a typeless name: "\\" and "\." stand for a backslash and a point), and
// its RDN as written in the tree loaded (RFC 4514 escapes).
struct HostileName {
    const char* typeless;
    const char* rdn;
};

const HostileName kHostileNames[] = {
    {"STAR*", "cn=STAR*"},           {"*", "cn=*"},
    {"X)(CN=*", "cn=X)(CN=*"},       {"BACK\\\\SLASH", "cn=BACK\\5cSLASH"},
    {"DOT\\.TED", "cn=DOT.TED"},     {"COMMA,ONE", "cn=COMMA\\,ONE"},
    {"PLUS+SIGN", "cn=PLUS\\+SIGN"}, {"#HASH", "cn=\\#HASH"},
    {"QUOTE\"D", "cn=QUOTE\\\"D"},   {"SEMI;COLON", "cn=SEMI\\;COLON"},
    {"LT<GT>", "cn=LT\\<GT\\>"},     {"EQ=UAL", "cn=EQ\\=UAL"},
};

TEST_F(LdapBackendTest, HostileNamesAreEscapedInEveryFilterAndDn) {
    // A decoy whose name an unescaped filter "STAR*" would also find, and one that "*" would.
    std::string ldif =
        "dn: o=CORP\nobjectClass: organization\no: CORP\n\n"
        "dn: cn=ADMIN,o=CORP\nobjectClass: tallyUser\ncn: ADMIN\n\n"
        "dn: ou=SALES,o=CORP\nobjectClass: organizationalUnit\nou: SALES\n\n"
        "dn: cn=STARX,ou=SALES,o=CORP\nobjectClass: tallyUser\ncn: STARX\naccountBalance: 7\n\n"
        "dn: cn=CROWD,ou=SALES,o=CORP\nobjectClass: tallyGroup\ncn: CROWD\n";
    for (const HostileName& hostile : kHostileNames) {
        ldif += std::string("member: ") + hostile.rdn + ",ou=SALES,o=CORP\n";
    }
    for (const HostileName& hostile : kHostileNames) {
        ldif += std::string("\ndn: ") + hostile.rdn +
                ",ou=SALES,o=CORP\nobjectClass: tallyUser\naccountBalance: 100\n";
    }
    const std::string base = server.LoadTree(name, ldif);
    ASSERT_TRUE(
        DirClientLoadConfig(WriteIni(server.StoreSection(base, server.operatorDn)).c_str()));
    ASSERT_EQ(DirIsLoggedIn(), 1) << DirClientLastProblem();
    DirContextHandle context = DirCreateContext();

    std::vector<std::string> expected{"STARX"};
    for (const HostileName& hostile : kHostileNames) {
        SCOPED_TRACE(hostile.typeless);
        const std::string typeless = hostile.typeless;
        expected.push_back(typeless);
        std::int32_t balance = 0;
        ASSERT_EQ(CallReadAccountAttribute(context, typeless.c_str(), "Account Balance", &balance),
                  DIR_OK)
            << DirClientLastProblem();
        EXPECT_EQ(balance, 100);
        ASSERT_EQ(CallAdjustBalance(context, typeless.c_str(), "Account Balance", 5, &balance),
                  DIR_OK)
            << DirClientLastProblem();
        EXPECT_EQ(balance, 105);
        EXPECT_EQ(CallIsGroupMember(context, "CROWD", typeless.c_str()), 1);
    }
    // Every change went to its own entry: the decoy is as it was, each hostile entry moved once.
    std::int32_t decoy = 0;
    ASSERT_EQ(CallReadAccountAttribute(context, "STARX", "Account Balance", &decoy), DIR_OK);
    EXPECT_EQ(decoy, 7);
    EXPECT_EQ(CallIsGroupMember(context, "CROWD", "STARX"), 0);
    auto admin = server.Admin();
    for (const HostileName& hostile : kHostileNames) {
        std::vector<std::string> balances;
        auto outcome = admin->Search(std::string(hostile.rdn) + ",ou=SALES,o=CORP," + base,
                                     ldap::LdapScope::Base, "(objectClass=*)", {"accountBalance"},
                                     0, [&](ldap::LdapEntry&& entry) {
                                         for (auto& [attribute, values] : entry.attributes) {
                                             balances = values;
                                         }
                                     });
        EXPECT_TRUE(outcome.Ok()) << hostile.rdn << ": " << outcome.message;
        EXPECT_EQ(balances, std::vector<std::string>{"105"}) << hostile.rdn;
    }
    Listing listing = ListByClass(context, "User");
    std::sort(expected.begin(), expected.end(), store::CaseInsensitiveLess());
    EXPECT_EQ(listing.names, expected);
}

TEST_F(LdapBackendTest, FilterValuesEscapeWhatRfc4515Names) {
    const struct {
        std::string_view value;
        const char* escaped;
    } cases[] = {
        {"PLAIN", "PLAIN"},
        {"*", "\\2a"},
        {"X)(CN=*", "X\\29\\28CN=\\2a"},
        {"A\\B", "A\\5cB"},
        {std::string_view("N\0UL", 4), "N\\00UL"},
        {"\xc3\xa9t\xc3\xa9", "\xc3\xa9t\xc3\xa9"},  // UTF-8 goes as it is
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ldap::EscapeFilterValue(c.value), c.escaped);
    }
}

TEST_F(LdapBackendTest, AnOperatorWithoutWriteRightsIsToldAndNothingChanges) {
    const char* tree =
        "dn: o=CORP\nobjectClass: organization\no: CORP\n\n"
        "dn: ou=SALES,o=CORP\nobjectClass: organizationalUnit\nou: SALES\n\n"
        "dn: cn=JSMITH,ou=SALES,o=CORP\nobjectClass: tallyUser\ncn: JSMITH\n"
        "accountBalance: 1500\nminimumAccountBalance: 0\n";
    const std::string base = server.LoadTree(name, tree);
    const struct {
        const std::string& bindDn;
        const char* attribute;
        std::uint32_t syntax;
        std::uint32_t change;
        DirStatus status;
        std::int32_t after;
    } cases[] = {
        {server.readerDn, "Account Balance", SYN_COUNTER, DIR_CHANGE_ADD_VALUE, DIR_ERR_NO_ACCESS,
         1500},
        {server.readerDn, "Minimum Account Balance", SYN_INTEGER, DIR_CHANGE_OVERWRITE_VALUE,
         DIR_ERR_NO_ACCESS, 0},
        {server.operatorDn, "Account Balance", SYN_COUNTER, DIR_CHANGE_ADD_VALUE, DIR_OK, 1525},
        {server.operatorDn, "Minimum Account Balance", SYN_INTEGER, DIR_CHANGE_OVERWRITE_VALUE,
         DIR_OK, 25},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bindDn + " " + c.attribute);
        ASSERT_TRUE(DirClientLoadConfig(WriteIni(server.StoreSection(base, c.bindDn)).c_str()));
        ASSERT_EQ(DirIsLoggedIn(), 1) << DirClientLastProblem();
        DirContextHandle context = DirCreateContext();
        std::int32_t amount = 25;
        EXPECT_EQ(
            CallWriteAccountAttribute(context, "JSMITH", c.attribute, c.syntax, &amount, c.change),
            c.status);
        if (c.status == DIR_ERR_NO_ACCESS) {
            const std::string problem = DirClientLastProblem();
            // "Insufficient access" (libldap), "Insufficient Rights" (wldap32).
            EXPECT_NE(problem.find("Insufficient"), std::string::npos) << problem;
            EXPECT_NE(problem.find("cn=JSMITH"), std::string::npos) << problem;
        }
        std::int32_t value = -1;
        ASSERT_EQ(CallReadAccountAttribute(context, "JSMITH", c.attribute, &value), DIR_OK);
        EXPECT_EQ(value, c.after);
        DirClientReset();
    }
}

TEST_F(LdapBackendTest, AServerThatCannotBeUsedIsAClearProblemAtStart) {
    const std::string base = server.LoadTree(name, "dn: o=CORP\nobjectClass: organization\n");
    const std::string password = server.Password();
    // Made by scratch_slapd.py: under Wine a test cannot make a file its owner's alone.
    std::string wrong = LdapServer::Env("TALLY_LDAP_WRONG_PASSWORD_FILE");
#ifdef _WIN32
    wrong = "Z:" + wrong;
#endif
    const std::filesystem::path open = folder / "open";
    std::ofstream(open, std::ios::binary) << password << "\n";
    std::filesystem::permissions(open, std::filesystem::perms::others_read,
                                 std::filesystem::perm_options::add);
    struct Case {
        std::string store;
        const char* problem;
    };
    std::vector<Case> cases = {
        {server.StoreSection(base, server.operatorDn), nullptr},
        {"[Store]\nKind=ldap\nUrl=ldap://127.0.0.1:1\nBase=" + base + "\n",
         "ldap://127.0.0.1:1: the directory server cannot be reached"},
        {"[Store]\nKind=ldap\nUrl=" + server.url + "\nBase=" + base +
             "\nBindDN=" + server.operatorDn + "\nPasswordFile=" + wrong + "\n",
         "refused the login as cn=operator"},
        {"[Store]\nKind=ldap\nUrl=" + server.url + "\nBase=" + base +
             "\nBindDN=" + server.operatorDn + "\nPasswordFile=" + open.string() + "\n",
         "open: others may read"},
        {"[Store]\nKind=ldap\nUrl=" + server.url + "\nBase=" + base +
             "\nBindDN=" + server.operatorDn + "\nPasswordFile=" + folder.string() + "/none\n",
         "none: cannot be read"},
        {server.StoreSection("ou=nowhere," + server.suffix, server.operatorDn),
         "the base ou=nowhere,dc=tally,dc=test cannot be read"},
        {"[Store]\nKind=ldap\nUrl=" + server.url + "\nBase=" + base +
             "\nBindDN=" + server.operatorDn + "\n",
         "has no PasswordFile and no password was given"},
        {"[Store]\nKind=ldap\nUrl=" + server.url + "\nPassword=" + password + "\n",
         "tallynet.ini:4: [Store] Password is not read from tallynet.ini"},
        {"[Store]\nKind=ldap\nUrl=http://" + server.url.substr(7) + "\n",
         "must begin with ldap:// or ldaps://"},
    };
    // Password files refused before any bind: an empty first line (CR LF alone), a folder, a
    // FIFO (which would block an ordinary open for ever), one the group may read.
    const std::string bad = LdapServer::Env("TALLY_LDAP_BAD_PASSWORD_FILES");
    const std::string empty = bad.substr(0, bad.find(':'));
    const std::string group = bad.substr(empty.size() + 1, bad.rfind(':') - empty.size() - 1);
    const std::string fifo = bad.substr(bad.rfind(':') + 1);
    LdapServer withFile = server;
    for (const auto& [file, problem] : std::vector<std::pair<std::string, const char*>>{
             {empty, "holds no password (its first line is empty)"},
             {folder.string(), "is not a regular file (a folder)"},
             {fifo, "is not a regular file (a pipe"},
             {group, "others may read or change it (mode 0640)"},
         }) {
        withFile.passwordFile = LdapServer::OnThisSystem(file);
        cases.push_back({withFile.StoreSection(base, server.operatorDn), problem});
    }
    for (const auto& c : cases) {
        SCOPED_TRACE(c.store);
        const std::size_t bindsBefore = BindsLogged(server.operatorDn);
        DirClientLoadConfig(WriteIni(c.store).c_str());
        const std::int32_t loggedIn = DirIsLoggedIn();
        const std::string problem = DirClientLastProblem();
        if (c.problem == nullptr) {
            EXPECT_EQ(loggedIn, 1) << problem;
        } else {
            EXPECT_EQ(loggedIn, 0);
            EXPECT_NE(problem.find(c.problem), std::string::npos) << problem;
            EXPECT_EQ(problem.find(password), std::string::npos) << "the password shows";
            if (problem.find("[Store] PasswordFile") != std::string::npos) {
                EXPECT_EQ(BindsLogged(server.operatorDn), bindsBefore) << "a bind was sent";
            }
        }
        DirClientReset();
    }
}

// After the login, the password is nowhere in the process's memory: not in the client's
// buffers, not in the strings of the configuration, not in what the LDAP library freed.
TEST_F(LdapBackendTest, ThePasswordIsNotInMemoryAfterTheLogin) {
    if (!kMemoryScanPossible) {
        GTEST_SKIP() << "the address sanitizer's shadow memory is too large to scan";
    }
    const std::string scanDn = LdapServer::Env("TALLY_LDAP_SCAN_DN");
    if (scanDn.empty()) {
        GTEST_SKIP() << "no login of its own (scratch_slapd.py)";
    }
    LdapServer scanning = server;
    scanning.passwordFile =
        LdapServer::OnThisSystem(LdapServer::Env("TALLY_LDAP_SCAN_PASSWORD_FILE"));
    const std::string base = server.LoadTree(
        name,
        "dn: o=CORP\nobjectClass: organization\no: CORP\n\n"
        "dn: cn=JSMITH,o=CORP\nobjectClass: tallyUser\ncn: JSMITH\naccountBalance: 3\n");
    ASSERT_TRUE(DirClientLoadConfig(WriteIni(scanning.StoreSection(base, scanDn), "CORP").c_str()));
    ASSERT_EQ(DirIsLoggedIn(), 1) << DirClientLastProblem();
    std::int32_t balance = 0;
    ASSERT_EQ(CallReadAccountAttribute(DirCreateContext(), "JSMITH", "Account Balance", &balance),
              DIR_OK);

    ldap::SecretBuffer password;
    std::string problem;
    ASSERT_TRUE(directory::ReadOwnerOnlyFile(scanning.passwordFile, password, problem)) << problem;
    EXPECT_EQ(MemoryScan(password.View()).Count(), 0) << "copies of the password in memory";
}

// A password typed at the prompt that the server refuses is asked for again with the server's
// words, three tries in all; then the login fails in words and none of the refused passwords is
// anywhere in the process's memory, the last one least of all, while the program shows that
// failure.
struct TypedPasswords {
    static inline int asked = 0;
    static inline bool refusalsTold = true;
    // Each try's password is made where the client wants it, never kept by the test: the scan
    // makes it again.
    static void Make(int attempt, char* into) {
        const char* kStem = "refused-";
        std::size_t at = 0;
        for (; kStem[at] != '\0'; ++at) {
            into[at] = kStem[at];
        }
        for (int i = 0; i < 12; ++i) {
            into[at++] = static_cast<char>('a' + (attempt * 7 + i * 5 + 3) % 26);
        }
        into[at] = '\0';
    }
    static bool Prompt(const char*, const char*, const char* refusal, char* password,
                       std::size_t capacity) {
        if (capacity < 32) {
            return false;
        }
        refusalsTold =
            refusalsTold && (asked == 0) == (*refusal == '\0') &&
            (asked == 0 || std::string(refusal).find("refused the login") != std::string::npos);
        Make(++asked, password);
        return true;
    }
};

TEST_F(LdapBackendTest, RefusedPasswordsAreAskedForThriceAndLeftNowhere) {
    const std::string base =
        server.LoadTree(name, "dn: o=CORP\nobjectClass: organization\no: CORP\n");
    // Over the plain connection, and over TLS where the scratch server has it (libldap's copy
    // of the request is then in the clear above the TLS layer).
    std::vector<std::string> extras = {""};
    const std::string tlsUrl = LdapServer::Env("TALLY_LDAP_TLS_URL");
    if (!tlsUrl.empty()) {
        extras.push_back("StartTLS=yes\nCACertFile=" +
                         LdapServer::OnThisSystem(LdapServer::Env("TALLY_LDAP_CA_FILE")) + "\n");
    }
    for (const std::string& extra : extras) {
        std::string section = server.StoreSection(base, server.operatorDn, extra);
        const std::size_t file = section.find("PasswordFile=");
        section.erase(file, section.find('\n', file) - file + 1);
        TypedPasswords::asked = 0;
        DirClientSetPasswordPrompt(TypedPasswords::Prompt);
        ASSERT_TRUE(DirClientLoadConfig(WriteIni(section, "CORP").c_str()));
        EXPECT_EQ(DirIsLoggedIn(), 0) << extra;
        DirClientSetPasswordPrompt(nullptr);
        EXPECT_EQ(TypedPasswords::asked, 3) << extra;
        EXPECT_TRUE(TypedPasswords::refusalsTold) << "the second and third tries show the refusal";
        EXPECT_NE(std::string(DirClientLastProblem()).find("refused the login"), std::string::npos)
            << DirClientLastProblem();
        if (!kMemoryScanPossible) {
            GTEST_SKIP() << "the address sanitizer's shadow memory is too large to scan";
        }
        for (int attempt = 1; attempt <= 3; ++attempt) {
            ldap::SecretBuffer typed;
            TypedPasswords::Make(attempt, typed.Data());
            typed.SetSize(std::strlen(typed.Data()));
            EXPECT_EQ(MemoryScan(typed.View()).Count(), 0)
                << "copies of the password of try " << attempt << " " << extra;
        }
        DirClientReset();
    }
}

// A site's own tree: people named by uid, groups of the three kinds a site keeps, containers
// of its own classes. Its people hold accounts (the first change adds the auxiliary class), its
// groups list their members, and the operator is the person the connection is bound as.
TEST_F(LdapBackendTest, ASitesOwnPeopleGroupsAndLoginsAreTheDirectorys) {
    const std::string password = server.Password();
    const std::string base = store::FormatRdn({"ou", name}) + "," + server.suffix;
    const std::string tree =
        "dn: ou=people\nobjectClass: organizationalUnit\nou: people\n\n"
        "dn: uid=jsmith,ou=people\nobjectClass: inetOrgPerson\nuid: jsmith\ncn: John Smith\n"
        "sn: Smith\ndisplayName: Johnny Smith\n\n"
        "dn: uid=mjones,ou=people\nobjectClass: inetOrgPerson\nuid: mjones\ncn: Mary Jones\n"
        "sn: Jones\nuserPassword: " +
        password +
        "\n\n"
        "dn: cn=old,ou=people\nobjectClass: tallyUser\ncn: old\naccountBalance: 5\n\n"
        "dn: ou=groups\nobjectClass: organizationalUnit\nou: groups\n\n"
        "dn: cn=staff,ou=groups\nobjectClass: groupOfNames\ncn: staff\n"
        "member: uid=jsmith,ou=people\n\n"
        "dn: cn=unique,ou=groups\nobjectClass: groupOfUniqueNames\ncn: unique\n"
        "uniqueMember: uid=mjones,ou=people," +
        base + "#'0101'B\n\n" +
        "dn: cn=posix,ou=groups\nobjectClass: posixGroup\ncn: posix\ngidNumber: 100\n"
        "memberUid: jsmith\nmemberUid: mjones\nmemberUid: gone\n\n"
        "dn: dc=dept\nobjectClass: domain\ndc: dept\n";
    ASSERT_EQ(server.LoadTree(name, tree), base);
    // A page larger than the server allows (its size.pr is 1000) is made smaller on its own.
    ASSERT_TRUE(DirClientLoadConfig(
        WriteIni(server.StoreSection(base, server.operatorDn, "PageSize=100000\n"), "[Root]")
            .c_str()));
    ASSERT_EQ(DirIsLoggedIn(), 1) << DirClientLastProblem();
    DirContextHandle context = DirCreateContext();
    EXPECT_EQ(ListByClass(context, "Organizational Unit").names,
              (std::vector<std::string>{"groups", "people"}));
    EXPECT_EQ(ListByClass(context, "Organization").names, std::vector<std::string>{"dept"});
    ASSERT_EQ(SetNameContext(context, "people"), DIR_OK) << DirClientLastProblem();
    EXPECT_EQ(ListByClass(context, "User").names,
              (std::vector<std::string>{"jsmith", "mjones", "old"}));
    const struct {
        const char* group;
        std::vector<std::string> members;
    } groups[] = {{"staff.groups", {"jsmith.people"}},
                  {"unique.groups", {"mjones.people"}},
                  {"posix.groups", {"jsmith.people", "mjones.people"}}};
    for (const auto& g : groups) {
        SCOPED_TRACE(g.group);
        Members members = ReadMembers(context, (std::string(".") + g.group).c_str());
        ASSERT_EQ(members.status, DIR_OK) << DirClientLastProblem();
        std::sort(members.names.begin(), members.names.end());
        EXPECT_EQ(members.names, g.members);
        EXPECT_EQ(CallIsGroupMember(context, (std::string(".") + g.group).c_str(),
                                    g.members.front().c_str()),
                  1);
    }
    char fullName[DIR_MAX_NAME_BYTES] = {};
    ASSERT_EQ(CallReadAccountAttribute(context, "jsmith", "Full Name", fullName), DIR_OK);
    EXPECT_STREQ(fullName, "Johnny Smith");
    // Two deposits to a person without an account, and one to the shipped class: the first
    // gives the person the auxiliary class, and each balance is the one its change produced.
    for (const auto& [user, after] :
         {std::pair{"jsmith", 3}, std::pair{"jsmith", 6}, std::pair{"old", 8}}) {
        std::int32_t amount = 3;
        ASSERT_EQ(CallWriteAccountAttribute(context, user, "Account Balance", SYN_COUNTER, &amount,
                                            DIR_CHANGE_ADD_VALUE),
                  DIR_OK)
            << DirClientLastProblem();
        std::int32_t produced = 0;
        ASSERT_TRUE(DirClientProducedNumber("Account Balance", &produced)) << user;
        EXPECT_EQ(produced, after) << user;
    }
    std::vector<std::string> classes;
    server.Admin()->Search(
        "uid=jsmith,ou=people," + base, ldap::LdapScope::Base, "(objectClass=*)", {"objectClass"},
        0, [&](ldap::LdapEntry&& entry) { classes = entry.attributes.front().second; });
    EXPECT_NE(std::find(classes.begin(), classes.end(), "tallyAccount"), classes.end());
    DirClientReset();

    // Logged in as a person of the tree or as a login outside the base: the log's operator is
    // that login, named the same by DirGetFullName (the record's full-name field) from any
    // context; an ini that names someone else is refused at start, naming both.
    const std::string mjones = "uid=mjones,ou=people," + base;
    const std::filesystem::path ini = folder / "tallynet.ini";
    const struct {
        std::string bindDn;
        const char* login;
        const char* operatorName;  // null: refused
    } logins[] = {{mjones, "", "mjones.people"},
                  {mjones, "User=mjones.people\n", "mjones.people"},
                  {mjones, "User=MJONES.PEOPLE\n", "mjones.people"},
                  {mjones, "User=jsmith.people\n", nullptr},
                  {server.operatorDn, "", "operator.tally.test"}};
    for (const auto& [bindDn, login, operatorName] : logins) {
        SCOPED_TRACE(bindDn + " " + login);
        std::ofstream(ini, std::ios::binary) << server.StoreSection(base, bindDn) << "[Login]\n"
                                             << login << "Context=people\n";
        ASSERT_TRUE(DirClientLoadConfig(ini.string().c_str()));
        if (operatorName == nullptr) {
            EXPECT_EQ(DirIsLoggedIn(), 0);
            const std::string problem = DirClientLastProblem();
            for (const std::string& named :
                 {std::string("User=jsmith.people"), mjones, std::string("(mjones.people)")}) {
                EXPECT_NE(problem.find(named), std::string::npos) << problem;
            }
        } else {
            ASSERT_EQ(DirIsLoggedIn(), 1) << DirClientLastProblem();
            char bound[DIR_MAX_NAME_BYTES] = {};
            DirContextHandle people = DirCreateContext();
            ASSERT_EQ(SetNameContext(people, "people"), DIR_OK) << DirClientLastProblem();
            ASSERT_EQ(DirGetLoginName(people, bound), DIR_OK);
            EXPECT_STREQ(bound, operatorName);
            for (const std::string& asked : {std::string(bound), "." + std::string(bound)}) {
                char full[DIR_MAX_NAME_BYTES] = {};
                ASSERT_EQ(DirGetFullName(people, asked.c_str(), full), DIR_OK) << asked;
                EXPECT_STREQ(full, operatorName) << asked;
            }
        }
        DirClientReset();
    }
}

// Writers on connections of their own change the same counters at once; with the server's
// increment and with delete-and-add, no change may be lost.
TEST_F(LdapBackendTest, CounterChangesFromManyConnectionsAreNeverLost) {
    const char* tree =
        "dn: o=CORP\nobjectClass: organization\no: CORP\n\n"
        "dn: cn=A,o=CORP\nobjectClass: tallyUser\ncn: A\naccountBalance: 0\n\n"
        "dn: cn=B,o=CORP\nobjectClass: tallyUser\ncn: B\naccountBalance: 1000\n\n"
        "dn: cn=C1,o=CORP\nobjectClass: tallyUser\ncn: C1\n\n"
        "dn: cn=C2,o=CORP\nobjectClass: tallyUser\ncn: C2\n";
    const std::string base = server.LoadTree(name, tree);
    constexpr int kWriters = 4, kChanges = 60;
    for (const char* extra : {"", "Increment=no\n"}) {
        SCOPED_TRACE(extra);
        const auto config = directory::ParseClientConfig(
            server.StoreSection(base, server.operatorDn, extra), folder / "tallynet.ini");
        ASSERT_TRUE(config.problems.empty()) << config.problems.front();
        std::atomic<int> failures{0};
        std::vector<std::thread> writers;
        for (int w = 0; w < kWriters; ++w) {
            writers.emplace_back([&, w] {
                std::string problem;
                auto directory = directory::OpenConfiguredStore(config, problem);
                if (!directory) {
                    ++failures;
                    return;
                }
                // First all at once to a counter that nobody holds yet: one starts it, the
                // others must add to what it started.
                const char* fresh = extra[0] == '\0' ? "C1.CORP" : "C2.CORP";
                if (directory->Modify(fresh, {{store::ChangeKind::AddValue, "Account Balance",
                                               std::to_string(w + 1)}}) != store::kOk) {
                    ++failures;
                }
                for (int i = 0; i < kChanges; ++i) {
                    directory->Refresh();
                    const char* user = (i + w) % 2 == 0 ? "A.CORP" : "B.CORP";
                    const std::string amount = std::to_string((i % 2 == 0) ? 3 : -1);
                    if (directory->Modify(user, {{store::ChangeKind::AddValue, "Account Balance",
                                                  amount}}) != store::kOk) {
                        ++failures;
                    }
                }
            });
        }
        for (std::thread& writer : writers) {
            writer.join();
        }
        EXPECT_EQ(failures, 0);
        std::string problem;
        auto reader = directory::OpenConfiguredStore(config, problem);
        ASSERT_TRUE(reader) << problem;
        // Each writer gives A and B thirty changes each: half +3, half -1 => +30 per writer.
        EXPECT_EQ(reader->Find("A.CORP")->attributes.at("Account Balance").front(),
                  std::to_string(kWriters * 30 * (extra[0] == '\0' ? 1 : 2)));
        EXPECT_EQ(reader->Find(extra[0] == '\0' ? "C1.CORP" : "C2.CORP")
                      ->attributes.at("Account Balance"),
                  std::vector<std::string>{std::to_string(kWriters * (kWriters + 1) / 2)});
        EXPECT_EQ(reader->Find("B.CORP")->attributes.at("Account Balance").front(),
                  std::to_string(1000 + kWriters * 30 * (extra[0] == '\0' ? 1 : 2)));
    }
}

// A context larger than a page, listed over the server and over the embedded store holding the
// same tree: the same names, in the same order, in the same number of calls.
TEST_F(LdapBackendTest, ALargeContextListsAsTheEmbeddedStoreListsIt) {
    std::string ldif =
        "dn: o=CORP\nobjectClass: organization\no: CORP\n\n"
        "dn: ou=BIG,o=CORP\nobjectClass: organizationalUnit\nou: BIG\n";
    for (int i = 0; i < 1500; ++i) {
        ldif += "\ndn: cn=U" + std::to_string(i * 7919 % 1500) +
                ",ou=BIG,o=CORP\nobjectClass: tallyUser\naccountBalance: " + std::to_string(i) +
                "\n";
    }
    const std::string base = server.LoadTree(name, ldif);
    std::filesystem::create_directories(folder / "directory");
    std::filesystem::copy_file(
        std::filesystem::path(TALLY_SOURCE_DIR) / "dirstore/schema/tallydesk.ldif",
        folder / "directory/schema.ldif");
    std::ofstream(folder / "directory/directory.ldif", std::ios::binary) << ldif;

    std::vector<Listing> listings;
    for (const std::string& store :
         {std::string("[Store]\nPath=directory\n"),
          server.StoreSection(base, server.readerDn, "PageSize=128\n")}) {
        ASSERT_TRUE(DirClientLoadConfig(WriteIni(store, "BIG.CORP").c_str()));
        ASSERT_EQ(DirIsLoggedIn(), 1) << DirClientLastProblem();
        listings.push_back(ListByClass(DirCreateContext(), "User"));
        EXPECT_EQ(listings.back().status, DIR_OK) << DirClientLastProblem();
        DirClientReset();
    }
    EXPECT_EQ(listings[0].names.size(), 1500u);
    EXPECT_GT(listings[0].calls, 1);
    EXPECT_EQ(listings[1].names, listings[0].names);
    EXPECT_EQ(listings[1].calls, listings[0].calls);
}

// ldaps:// and StartTLS with the server's certificate and name checked, in both builds: a
// certificate from CACertFile's authority is taken; one from an authority nobody trusts, one
// made out to another name, and a CA file that cannot be used are each refused in words before
// the bind, so that the server never sees the login.
TEST_F(LdapBackendTest, TlsConnectionsCheckTheServersCertificate) {
    const std::string tlsUrl = LdapServer::Env("TALLY_LDAP_TLS_URL");
    if (tlsUrl.empty()) {
        GTEST_SKIP() << "no TLS (scratch_slapd.py --tls)";
    }
    const std::string ca = LdapServer::OnThisSystem(LdapServer::Env("TALLY_LDAP_CA_FILE"));
    const std::string otherCa =
        LdapServer::OnThisSystem(LdapServer::Env("TALLY_LDAP_OTHER_CA_FILE"));
    const std::filesystem::path notPem = folder / "not-a-certificate.pem";
    std::ofstream(notPem) << "just text\n";
    const std::string base = server.LoadTree(
        name,
        "dn: o=CORP\nobjectClass: organization\no: CORP\n\n"
        "dn: cn=JSMITH,o=CORP\nobjectClass: tallyUser\ncn: JSMITH\naccountBalance: 10\n");
    LdapServer overTls = server;
    overTls.url = tlsUrl;
    LdapServer wrongName = server;  // the certificate holds 127.0.0.1 only
    wrongName.url = "ldaps://localhost" + tlsUrl.substr(tlsUrl.rfind(':'));
    LdapServer expired = server;  // the same authority and name, out of its dates
    expired.url = LdapServer::Env("TALLY_LDAP_EXPIRED_TLS_URL");
    LdapServer future = server;
    future.url = LdapServer::Env("TALLY_LDAP_FUTURE_TLS_URL");
    const struct {
        std::string store;
        const char* problem;
    } cases[] = {
        {overTls.StoreSection(base, server.readerDn, "CACertFile=" + ca + "\n"), nullptr},
        {server.StoreSection(base, server.readerDn, "StartTLS=yes\nCACertFile=" + ca + "\n"),
         nullptr},
        {overTls.StoreSection(base, server.readerDn), "certificate is not trusted"},
        {overTls.StoreSection(base, server.readerDn, "CACertFile=" + otherCa + "\n"),
         "certificate is not trusted"},
        {server.StoreSection(base, server.readerDn, "StartTLS=yes\nCACertFile=" + otherCa + "\n"),
         "certificate is not trusted"},
        {wrongName.StoreSection(base, server.readerDn, "CACertFile=" + ca + "\n"),
         "does not match the name in [Store] Url"},
        {expired.StoreSection(base, server.readerDn, "CACertFile=" + ca + "\n"),
         "the server's certificate has expired; the server needs a current certificate"},
        {future.StoreSection(base, server.readerDn, "CACertFile=" + ca + "\n"),
         "the server's certificate is not valid yet"},
        {expired.StoreSection(base, server.readerDn, "CACertFile=" + otherCa + "\n"),
         "certificate is not trusted"},
        {overTls.StoreSection(base, server.readerDn, "CACertFile=" + ca + ".missing\n"),
         ".missing cannot be read"},
        {overTls.StoreSection(base, server.readerDn, "CACertFile=" + notPem.string() + "\n"),
         "holds no PEM certificate"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.store);
        const std::size_t bindsBefore = BindsLogged(server.readerDn);
        const auto started = std::chrono::steady_clock::now();
        ASSERT_TRUE(DirClientLoadConfig(WriteIni(c.store, "CORP").c_str()));
        const std::int32_t loggedIn = DirIsLoggedIn();
        const std::string problem = DirClientLastProblem();
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
        if (c.problem == nullptr) {
            ASSERT_EQ(loggedIn, 1) << problem;
            // Reads after the schema's, which is large: no answer may be left waiting.
            std::int32_t balance = 0;
            EXPECT_EQ(
                CallReadAccountAttribute(DirCreateContext(), "JSMITH", "Account Balance", &balance),
                DIR_OK);
            EXPECT_EQ(balance, 10);
            EXPECT_EQ(ListByClass(DirCreateContext(), "User").names,
                      std::vector<std::string>{"JSMITH"});
        } else {
            EXPECT_EQ(loggedIn, 0);
            EXPECT_NE(problem.find(c.problem), std::string::npos) << problem;
            EXPECT_NE(problem.find("the login was not sent"), std::string::npos) << problem;
            DirClientReset();
            EXPECT_EQ(BindsLogged(server.readerDn), bindsBefore) << "the bind reached the server";
        }
        DirClientReset();
    }
}

// A server that takes the connection and then says nothing: the start gives up after the
// Timeout, over plain LDAP and over TLS, instead of waiting for ever.
TEST_F(LdapBackendTest, ASilentServerIsGivenUpAfterTheTimeout) {
    const std::string silent = LdapServer::Env("TALLY_LDAP_SILENT_PORT");
    if (silent.empty()) {
        GTEST_SKIP() << "no silent port (scratch_slapd.py)";
    }
    for (const char* scheme : {"ldap", "ldaps"}) {
        SCOPED_TRACE(scheme);
        const auto started = std::chrono::steady_clock::now();
        ASSERT_TRUE(DirClientLoadConfig(WriteIni(std::string("[Store]\nKind=ldap\nUrl=") + scheme +
                                                 "://127.0.0.1:" + silent + "\nTimeout=2\n")
                                            .c_str()));
        EXPECT_EQ(DirIsLoggedIn(), 0);
        const auto took = std::chrono::steady_clock::now() - started;
        EXPECT_LT(took, std::chrono::seconds(12)) << DirClientLastProblem();
        EXPECT_NE(std::string(DirClientLastProblem()).find("127.0.0.1:" + silent),
                  std::string::npos);
        DirClientReset();
    }
}

// A change made through the client on the provider is read back through the client from the
// consumer that replicates it; the consumer itself refuses changes, with the server's words.
TEST_F(LdapBackendTest, ChangesMadeOnTheProviderAreReadOnTheConsumer) {
    const std::string consumerUrl = LdapServer::Env("TALLY_LDAP_CONSUMER_URL");
    if (consumerUrl.empty()) {
        GTEST_SKIP() << "no consumer (scratch_slapd.py --consumer)";
    }
    const std::string base = server.LoadTree(
        name,
        "dn: o=CORP\nobjectClass: organization\no: CORP\n\n"
        "dn: cn=JSMITH,o=CORP\nobjectClass: tallyUser\ncn: JSMITH\naccountBalance: 10\n");
    LdapServer consumer = server;
    consumer.url = consumerUrl;
    const struct {
        const LdapServer& at;
        std::int32_t amount;
        DirStatus status;
        std::int32_t providerBalance;
    } steps[] = {
        {server, 32, DIR_OK, 42},
        {consumer, 1000, DIR_ERR_NO_ACCESS, 42},
        {server, -2, DIR_OK, 40},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.at.url);
        ASSERT_TRUE(DirClientLoadConfig(
            WriteIni(step.at.StoreSection(base, server.operatorDn), "CORP").c_str()));
        ASSERT_EQ(DirIsLoggedIn(), 1) << DirClientLastProblem();
        std::int32_t balance = 0;
        EXPECT_EQ(CallAdjustBalance(DirCreateContext(), "JSMITH", "Account Balance", step.amount,
                                    &balance),
                  step.status)
            << DirClientLastProblem();
        if (step.status == DIR_ERR_NO_ACCESS) {
            // The consumer refers changes to its provider (olcUpdateRef): the message says so.
            EXPECT_EQ(DirClientLastProblem(),
                      consumerUrl + " is a read-only copy; changes go to " + server.url);
        }
        DirClientReset();
        // The consumer has it within a few seconds (refreshAndPersist); a new tree's base may
        // not be there yet at the first look.
        const std::string consumerIni =
            WriteIni(consumer.StoreSection(base, server.readerDn), "CORP");
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
        DirStatus read = DIR_OK;
        do {
            DirClientReset();
            balance = 0;
            read = DIR_ERR_STORE;
            if (DirClientLoadConfig(consumerIni.c_str()) && DirIsLoggedIn() == 1) {
                read = CallReadAccountAttribute(DirCreateContext(), "JSMITH", "Account Balance",
                                                &balance);
            }
            if (read == DIR_OK && balance == step.providerBalance) {
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        } while (std::chrono::steady_clock::now() < deadline);
        EXPECT_EQ(read, DIR_OK) << DirClientLastProblem();
        EXPECT_EQ(balance, step.providerBalance);
        DirClientReset();
    }
}

}  // namespace
}  // namespace tally::testing
