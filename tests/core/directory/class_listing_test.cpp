// A listing of one class is the whole listing of the container with the others left out, on the
// embedded store and on a server; and on a server the containers beside a large container's
// users are asked for alone: the server never sends those users, nor the users inside. The server's
// cases run under scripts/lib/scratch_slapd.py --stats (ctest's directory_client_ldap); skipped
// without it.
#include <chrono>
#include <fstream>
#include <map>
#include <thread>

#include "callers.h"
#include "directory/dirclient_setup.h"
#include "ldap_server.h"

namespace tally::testing {
namespace {

constexpr int kBigUsers = 300;

// One listed object as the window's caller sees it.
struct Listed {
    std::string name;
    std::string baseClass;
    std::uint32_t subordinates = 0;
    bool operator==(const Listed&) const = default;
};

std::vector<Listed> ListWithInfo(DirContextHandle context, const char* className) {
    std::vector<Listed> listed;
    BufferPtr result = AllocBuffer();
    std::int32_t handle = DIR_NO_MORE_ITERATIONS;
    do {
        const DirStatus status =
            DirListByClass(context, "", className, nullptr, &handle, result.get());
        EXPECT_EQ(status, DIR_OK) << className << ": " << DirClientLastProblem();
        if (status != DIR_OK) {
            break;
        }
        std::uint32_t count = 0;
        DirGetObjectCount(context, result.get(), &count);
        for (std::uint32_t i = 0; i < count; ++i) {
            char name[DIR_MAX_NAME_BYTES];
            std::uint32_t attributes = 0;
            DirObjectInfo info{};
            EXPECT_EQ(DirGetObjectName(context, result.get(), name, &attributes, &info), DIR_OK);
            listed.push_back({name, info.baseClass, info.subordinateCount});
        }
    } while (handle != DIR_NO_MORE_ITERATIONS);
    return listed;
}

// A site's tree: containers of the three kinds a site names (o, ou, dc), one of them holding
// many people beside a few groups, a file server, and an entry of no class of the directory.
// `site` adds what only a server holds: people and groups of a site's own classes, domains.
std::string TreeLdif(bool site) {
    std::string ldif =
        "dn: o=CORP\nobjectClass: organization\no: CORP\n\n"
        "dn: cn=ADMIN,o=CORP\nobjectClass: tallyUser\ncn: ADMIN\n\n"
        "dn: cn=ACCT1,o=CORP\nobjectClass: tallyFileServer\ncn: ACCT1\n\n"
        "dn: ou=SMALL,o=CORP\nobjectClass: organizationalUnit\nou: SMALL\n\n"
        "dn: ou=inner,ou=SMALL,o=CORP\nobjectClass: organizationalUnit\nou: inner\n\n"
        "dn: o=EMPTY\nobjectClass: organization\no: EMPTY\n\n"
        "dn: ou=BIG,o=CORP\nobjectClass: organizationalUnit\nou: BIG\n\n"
        "dn: cn=staff,ou=BIG,o=CORP\nobjectClass: tallyGroup\ncn: staff\n"
        "member: cn=U7,ou=BIG,o=CORP\n\n";
    for (int i = 0; i < kBigUsers; ++i) {
        const std::string n = std::to_string(i * 7 % kBigUsers);
        ldif += site && i % 2 == 1
                    ? "dn: uid=p" + n + ",ou=BIG,o=CORP\nobjectClass: inetOrgPerson\nuid: p" + n +
                          "\ncn: Person " + n + "\nsn: P\n\n"
                    : "dn: cn=U" + n + ",ou=BIG,o=CORP\nobjectClass: tallyUser\ncn: U" + n + "\n\n";
    }
    if (site) {
        ldif +=
            "dn: dc=lab,o=CORP\nobjectClass: domain\ndc: lab\n\n"
            "dn: cn=printer,o=CORP\nobjectClass: device\ncn: printer\n\n"
            "dn: cn=admins,o=CORP\nobjectClass: groupOfNames\ncn: admins\n"
            "member: cn=ADMIN,o=CORP\n\n"
            "dn: cn=posix,ou=BIG,o=CORP\nobjectClass: posixGroup\ncn: posix\ngidNumber: 7\n\n"
            "dn: dc=site\nobjectClass: domain\ndc: site\n\n"
            "dn: ou=people,dc=site\nobjectClass: organizationalUnit\nou: people\n\n"
            "dn: cn=solo,ou=people,dc=site\nobjectClass: person\ncn: solo\nsn: S\n";
    }
    return ldif;
}

// Every container of the tree, by its typeless name, for a walk of the whole tree.
const char* const kContainers[] = {"[Root]",     "CORP",  "BIG.CORP",
                                   "SMALL.CORP", "EMPTY", "inner.SMALL.CORP",
                                   "lab.CORP",   "site",  "people.site"};
const char* const kClasses[] = {"User", "Group", "Organizational Unit", "Organization",
                                "NCP Server"};

class ClassListingLdapTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        name = std::string("tally-") + info->name() + "-" +
               std::to_string(::testing::UnitTest::GetInstance()->random_seed());
        folder = std::filesystem::temp_directory_path() / name;
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder / "directory");
    }
    void TearDown() override {
        DirClientReset();
        std::filesystem::remove_all(folder);
    }

    // Logs in over `store` (a [Store] section) at "[Root]".
    void LogIn(const std::string& store) {
        const std::filesystem::path ini = folder / "tallynet.ini";
        const bool overServer = store.find("Kind=ldap") != std::string::npos;
        std::ofstream(ini, std::ios::binary)
            << store << "[Login]\n"
            << (overServer ? "" : "User=ADMIN.CORP\n") << "Context=[Root]\n"
            << "[Connections]\nDefault=ACCT1\n";
        ASSERT_TRUE(DirClientLoadConfig(ini.string().c_str()));
        ASSERT_EQ(DirIsLoggedIn(), 1) << DirClientLastProblem();
    }

    std::string EmbeddedStore() {
        std::filesystem::copy_file(
            std::filesystem::path(TALLY_SOURCE_DIR) / "dirstore/schema/tallydesk.ldif",
            folder / "directory/schema.ldif");
        std::ofstream(folder / "directory/directory.ldif", std::ios::binary) << TreeLdif(false);
        return "[Store]\nPath=directory\n";
    }

    LdapServer server = LdapServer::FromEnvironment();
    std::string name;
    std::filesystem::path folder;
};

// For every container and every class: the class's listing is the whole listing's objects of
// that class, in the same order, each with the same class and subordinate count; and a
// container's subordinate count is what its own listing holds (a server counts none).
void ExpectEachClassIsTheWholeFiltered(bool site) {
    DirContextHandle context = DirCreateContext();
    std::map<std::string, std::uint32_t> counted;  // a container's count as its parent lists it
    std::size_t seen = 0;
    for (const char* container : kContainers) {
        if (SetNameContext(context, container) != DIR_OK) {
            EXPECT_FALSE(site) << container;  // the embedded tree has no domains
            continue;
        }
        SCOPED_TRACE(container);
        const std::vector<Listed> whole = ListWithInfo(context, "");
        for (const Listed& object : whole) {
            if (object.baseClass == "Organizational Unit" || object.baseClass == "Organization") {
                counted[object.name + (std::string(container) == "[Root]"
                                           ? std::string()
                                           : "." + std::string(container))] = object.subordinates;
            }
        }
        if (counted.count(container) != 0) {
            EXPECT_EQ(counted[container], site ? 0u : whole.size());
        }
        for (const char* className : kClasses) {
            SCOPED_TRACE(className);
            std::vector<Listed> expected;
            for (const Listed& object : whole) {
                if (object.baseClass == className) {
                    expected.push_back(object);
                }
            }
            EXPECT_EQ(ListWithInfo(context, className), expected);
            seen += expected.size();
        }
    }
    // Every object but the server's device is of one of the classes.
    EXPECT_EQ(seen, site ? 14u + kBigUsers : 8u + kBigUsers);
    EXPECT_EQ(counted["BIG.CORP"], site ? 0u : 1u + kBigUsers);
}

TEST_F(ClassListingLdapTest, EachClassListsAsTheWholeListingFiltered) {
    {
        SCOPED_TRACE("embedded store");
        LogIn(EmbeddedStore());
        ExpectEachClassIsTheWholeFiltered(false);
        DirClientReset();
    }
    if (!server.Available()) {
        GTEST_SKIP() << "no scratch slapd (TALLY_LDAP_URL is not set)";
    }
    SCOPED_TRACE("server");
    const std::string base = server.LoadTree(name, TreeLdif(true));
    LogIn(server.StoreSection(base, server.readerDn, "PageSize=64\n"));
    ExpectEachClassIsTheWholeFiltered(true);
}

std::string ServerLog() {
    return LdapServer::OnThisSystem(LdapServer::Env("TALLY_LDAP_LOG"));
}

// The searches the server logged (scratch_slapd.py --stats) from byte `from` of its log on:
// base, scope, filter, entries sent. Waits for the last result to be written.
struct Search {
    std::string base;
    std::string scope;
    std::string filter;
    int entries = 0;
};

std::vector<Search> SearchesLogged(std::streamoff from, std::size_t atLeast) {
    std::vector<Search> searches;
    for (int wait = 0; wait < 50; ++wait) {
        searches.clear();
        std::map<std::string, std::size_t> byOperation;  // "conn=N op=M" -> index
        std::ifstream log(ServerLog());
        log.seekg(from);
        for (std::string line; std::getline(log, line);) {
            const std::size_t conn = line.find("conn=");
            const std::size_t op = line.find(" op=", conn);
            if (conn == std::string::npos || op == std::string::npos) {
                continue;
            }
            const std::string key = line.substr(conn, line.find(' ', op + 1) - conn);
            auto field = [&](const char* start) {
                const std::size_t at = line.find(start);
                return at == std::string::npos ? std::string()
                                               : line.substr(at + std::strlen(start));
            };
            if (line.find(" SRCH base=") != std::string::npos) {
                std::string base = field("SRCH base=\"");
                base = base.substr(0, base.find('"'));
                std::string scope = field(" scope=");
                scope = scope.substr(0, scope.find(' '));
                std::string filter = field("filter=\"");
                filter = filter.substr(0, filter.rfind('"'));
                byOperation[key] = searches.size();
                searches.push_back({base, scope, filter, -1});
            } else if (auto known = byOperation.find(key); known != byOperation.end()) {
                if (line.find(" SEARCH RESULT ") != std::string::npos) {
                    searches[known->second].entries = std::stoi(field("nentries="));
                }
            }
        }
        // The server's threads log a search and another's result in either order: only when
        // every search logged has its result is the count whole.
        const bool complete = std::all_of(searches.begin(), searches.end(),
                                          [](const Search& search) { return search.entries >= 0; });
        if (complete && searches.size() >= atLeast) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return searches;
}

// Select Context at the parent of a large container: the containers are asked for by their
// classes, and neither the users beside them nor those inside are sent. The main list asks for
// the users, then for the groups alone.
TEST_F(ClassListingLdapTest, TheServerSendsOnlyTheClassAskedFor) {
    if (!server.Available()) {
        GTEST_SKIP() << "no scratch slapd (TALLY_LDAP_URL is not set)";
    }
    const std::string base = server.LoadTree(name, TreeLdif(true));
    LogIn(server.StoreSection(base, server.readerDn));
    DirContextHandle context = DirCreateContext();
    ASSERT_EQ(SetNameContext(context, "CORP"), DIR_OK);
    const std::string corp = "o=CORP," + base;
    const std::string big = "ou=BIG," + corp;
    const std::streamoff start =
        static_cast<std::streamoff>(std::filesystem::file_size(ServerLog()));
    std::vector<std::string> containers;
    for (const char* className : {"Organizational Unit", "Organization"}) {
        for (const Listed& object : ListWithInfo(context, className)) {
            containers.push_back(object.name);
        }
    }
    EXPECT_EQ(containers, (std::vector<std::string>{"BIG", "lab", "SMALL"}));
    int entriesBelowCorp = 0;
    for (const Search& search : SearchesLogged(start, 2)) {
        if (search.scope != "1") {
            continue;  // the container's own entry, read by its DN
        }
        SCOPED_TRACE(search.base + " " + search.filter);
        EXPECT_EQ(search.base, corp);  // nothing below BIG is asked for
        EXPECT_NE(search.filter.find("organizationalUnit"), std::string::npos);
        EXPECT_EQ(search.filter.find("inetOrgPerson"), std::string::npos);
        entriesBelowCorp += search.entries;
    }
    // Each of the two listings finds the three containers; no user, group or server.
    EXPECT_EQ(entriesBelowCorp, 6);

    ASSERT_EQ(SetNameContext(context, "BIG.CORP"), DIR_OK);
    const std::streamoff before =
        static_cast<std::streamoff>(std::filesystem::file_size(ServerLog()));
    EXPECT_EQ(ListByClass(context, "User").names.size(), static_cast<std::size_t>(kBigUsers));
    EXPECT_EQ(ListByClass(context, "Group").names, (std::vector<std::string>{"posix", "staff"}));
    int usersSent = 0;
    int groupsSent = 0;
    for (const Search& search : SearchesLogged(before, 2)) {
        if (search.base == big && search.scope == "1") {
            (search.filter.find("groupOfNames") != std::string::npos ? groupsSent : usersSent) +=
                search.entries;
        }
    }
    EXPECT_EQ(usersSent, kBigUsers);
    EXPECT_EQ(groupsSent, 2);

    // The file servers (the Preferences' list) are found by walking the containers: each
    // container is asked for its servers and its containers, never for its users.
    const std::streamoff scan =
        static_cast<std::streamoff>(std::filesystem::file_size(ServerLog()));
    NetConnectionHandle connection = 0;
    ASSERT_EQ(NetGetDefaultConnection(&connection), 0);
    std::vector<std::string> servers;
    std::int32_t id = -1;
    char found[NET_MAX_SERVER_NAME_BYTES];
    while (NetScanObjects(connection, "*", NET_OT_FILE_SERVER, &id, found, nullptr, nullptr,
                          nullptr, nullptr) == 0 &&
           servers.size() < 5) {
        servers.emplace_back(found);
    }
    EXPECT_EQ(servers, std::vector<std::string>{"ACCT1"});
    int sent = 0;
    for (const Search& search : SearchesLogged(scan, 54)) {
        if (search.scope == "1") {
            EXPECT_NE(search.filter, "(objectClass=*)") << search.base;
            sent += search.entries;
        }
    }
    // Two calls (ACCT1, then the end), each a walk of the nine containers that sends ACCT1
    // once and each of the eight containers below the top twice (once for each container
    // class asked for).
    EXPECT_EQ(sent, 2 * 17);
}

}  // namespace
}  // namespace tally::testing
