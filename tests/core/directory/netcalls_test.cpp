// The NetWare calls: connections from the configuration, the server scan from the directory.
#include "callers.h"

namespace tally::testing {
namespace {

using NetCallsTest = ClientTest;

std::string ServerName(NetConnectionHandle connection) {
    char name[NET_MAX_SERVER_NAME_BYTES] = "";
    EXPECT_EQ(NetGetServerName(connection, name), 0);
    return name;
}

TEST_F(NetCallsTest, ConnectionsAreTheConfiguredServersInAnyCase) {
    EXPECT_EQ(NetInitLibrary(nullptr, nullptr), 0);
    NetConnectionHandle connection = 0;
    ASSERT_EQ(NetFindConnection("fs2", 0, &connection, 0), 0);
    EXPECT_EQ(ServerName(connection), "FS2");
    EXPECT_NE(NetFindConnection("ARCHIVE", 0, &connection, 0), 0);
    EXPECT_NE(NetFindConnection("", 0, &connection, 0), 0);
    ASSERT_EQ(NetGetDefaultConnection(&connection), 0);
    EXPECT_EQ(ServerName(connection), "ACCT1");
    char name[NET_MAX_SERVER_NAME_BYTES];
    EXPECT_EQ(NetGetServerName(99, name), NET_ERR_BAD_CONNECTION);
}

TEST_F(NetCallsTest, TheDefaultServerIsAConnectionEvenWhenNotListed) {
    auto config = LoggedInConfig();
    config.servers = {"FS2"};
    config.defaultServer = "ACCT1";
    DirClientUseStore(config, SampleStore());
    NetConnectionHandle connection = 0;
    ASSERT_EQ(NetGetDefaultConnection(&connection), 0);
    EXPECT_EQ(ServerName(connection), "ACCT1");
    EXPECT_EQ(NetFindConnection("ACCT1", 0, &connection, 0), 0);

    config.servers.clear();
    config.defaultServer.clear();
    DirClientUseStore(config, SampleStore());
    EXPECT_EQ(NetGetDefaultConnection(&connection), NET_ERR_NO_CONNECTION);
}

TEST_F(NetCallsTest, ScanGivesEveryFileServerOfTheDirectoryOnePerCall) {
    NetConnectionHandle connection = 0;
    ASSERT_EQ(NetGetDefaultConnection(&connection), 0);
    std::vector<std::string> found;
    std::int32_t id = -1;
    char name[NET_MAX_SERVER_NAME_BYTES];
    std::int32_t previous = id;
    while (NetScanObjects(connection, "*", NET_OT_FILE_SERVER, &id, name, nullptr, nullptr, nullptr,
                          nullptr) == 0) {
        EXPECT_GT(id, previous);
        previous = id;
        found.emplace_back(name);
        ASSERT_LT(found.size(), 10u);
    }
    // ARCHIVE is known to the directory although the workstation has no connection to it.
    EXPECT_EQ(found, (std::vector<std::string>{"ACCT1", "ARCHIVE", "FS2"}));

    id = -1;
    std::uint16_t type = 0;
    ASSERT_EQ(NetScanObjects(connection, "?cC*", NET_OT_FILE_SERVER, &id, name, &type, nullptr,
                             nullptr, nullptr),
              0);
    EXPECT_EQ(std::string(name), "ACCT1");
    EXPECT_EQ(type, NET_OT_FILE_SERVER);
    EXPECT_NE(NetScanObjects(connection, "?cC*", NET_OT_FILE_SERVER, &id, name, nullptr, nullptr,
                             nullptr, nullptr),
              0);
    id = -1;
    EXPECT_NE(
        NetScanObjects(connection, "*", 0x0100, &id, name, nullptr, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(
        NetScanObjects(0, "*", NET_OT_FILE_SERVER, &id, name, nullptr, nullptr, nullptr, nullptr),
        NET_ERR_BAD_CONNECTION);
}

}  // namespace
}  // namespace tally::testing
