// The NetWare calls over the client's configuration and the directory.
//
// The workstation's connections are the servers tallynet.ini names, numbered from 1 in the
// order given, the default connection's server added when the list lacks it. The object scan
// answers from the directory's "NCP Server" objects, so it also knows servers this workstation
// has no connection to.
#include <algorithm>
#include <exception>
#include <string>
#include <vector>

#include "directory/dirclient.h"
#include "directory/dirclient_names.h"
#include "directory/dirclient_state.h"

using namespace tally::directory;
namespace store = tally::store;

namespace {

std::vector<std::string> ConnectedServers() {
    const ClientConfig& config = LoadedConfig();
    std::vector<std::string> servers;
    auto add = [&](const std::string& server) {
        bool known = std::any_of(servers.begin(), servers.end(),
                                 [&](const std::string& s) { return SameName(s, server); });
        if (!server.empty() && !known) {
            servers.push_back(server);
        }
    };
    for (const std::string& server : config.servers) {
        add(server);
    }
    add(config.defaultServer);
    return servers;
}

void CopyServerName(const std::string& name, char* out) {
    std::size_t length = std::min(name.size(), NET_MAX_SERVER_NAME_BYTES - 1);
    name.copy(out, length);
    out[length] = '\0';
}

// Every file server of the directory, by name, each name once. Each container is asked for its
// servers and its containers alone: over a server its users are never fetched.
std::vector<std::string> DirectoryServers(const store::Store& directory) {
    std::vector<std::string> servers;
    std::vector<std::string> containers{""};
    while (!containers.empty()) {
        std::string container = std::move(containers.back());
        containers.pop_back();
        for (const store::Entry* child : directory.ChildrenOfClass(container, "NCP Server")) {
            servers.emplace_back(LeafOf(child->name));
        }
        for (const char* kind : {"Organization", "Organizational Unit"}) {
            for (const store::Entry* child : directory.ChildrenOfClass(container, kind)) {
                containers.push_back(child->name);
            }
        }
    }
    auto less = [](const std::string& a, const std::string& b) {
        return IniFile::NoCaseLess()(a, b);
    };
    std::sort(servers.begin(), servers.end(), less);
    servers.erase(
        std::unique(servers.begin(), servers.end(),
                    [](const std::string& a, const std::string& b) { return SameName(a, b); }),
        servers.end());
    return servers;
}

}  // namespace

NetStatus NetInitLibrary(void* /*reserved1*/, void* /*reserved2*/) {
    try {
        LoadedConfig();
        return 0;
    } catch (const std::exception& error) {
        NoteProblem(std::string("the NetWare calls could not start: ") + error.what());
        return DIR_ERR_NO_MEMORY;
    }
}

NetStatus NetFindConnection(const char* serverName, std::uint32_t /*reserved1*/,
                            NetConnectionHandle* connection, std::uint32_t /*reserved2*/) {
    if (connection == nullptr) {
        return NET_ERR_BAD_CONNECTION;
    }
    if (serverName == nullptr || *serverName == '\0') {
        return NET_ERR_NO_CONNECTION;
    }
    std::vector<std::string> servers = ConnectedServers();
    for (std::size_t i = 0; i < servers.size(); ++i) {
        if (SameName(servers[i], serverName)) {
            *connection = static_cast<NetConnectionHandle>(i + 1);
            return 0;
        }
    }
    return NET_ERR_NO_CONNECTION;
}

NetStatus NetGetDefaultConnection(NetConnectionHandle* connection) {
    if (connection == nullptr) {
        return NET_ERR_BAD_CONNECTION;
    }
    const ClientConfig& config = LoadedConfig();
    std::vector<std::string> servers = ConnectedServers();
    if (servers.empty()) {
        return NET_ERR_NO_CONNECTION;
    }
    if (config.defaultServer.empty()) {
        *connection = 1;
        return 0;
    }
    return NetFindConnection(config.defaultServer.c_str(), 0, connection, 0);
}

NetStatus NetGetServerName(NetConnectionHandle connection, char* serverName) {
    std::vector<std::string> servers = ConnectedServers();
    if (serverName == nullptr || connection == 0 || connection > servers.size()) {
        return NET_ERR_BAD_CONNECTION;
    }
    CopyServerName(servers[connection - 1], serverName);
    return 0;
}

NetStatus NetScanObjects(NetConnectionHandle connection, const char* namePattern,
                         std::uint16_t objectType, std::int32_t* objectId, char* objectName,
                         std::uint16_t* foundType, std::uint8_t* hasProperties,
                         std::uint8_t* objectFlags, std::uint8_t* objectSecurity) {
    try {
        if (connection == 0 || connection > ConnectedServers().size()) {
            return NET_ERR_BAD_CONNECTION;
        }
        if (objectId == nullptr || objectName == nullptr) {
            return NET_ERR_BAD_CONNECTION;
        }
        if (objectType != NET_OT_FILE_SERVER) {
            return NET_ERR_NO_MORE_OBJECTS;
        }
        store::Store* directory = CurrentStore();
        if (directory == nullptr) {
            return DIR_ERR_STORE;
        }
        // Object ids number the servers in name order from 1; a scan goes on after the id given.
        std::vector<std::string> servers = DirectoryServers(*directory);
        std::size_t next = *objectId < 0 ? 0 : static_cast<std::size_t>(*objectId);
        const char* pattern = namePattern == nullptr || *namePattern == '\0' ? "*" : namePattern;
        for (; next < servers.size(); ++next) {
            if (!MatchesPattern(servers[next], pattern)) {
                continue;
            }
            *objectId = static_cast<std::int32_t>(next + 1);
            CopyServerName(servers[next], objectName);
            if (foundType != nullptr) {
                *foundType = NET_OT_FILE_SERVER;
            }
            if (hasProperties != nullptr) {
                *hasProperties = 0;
            }
            if (objectFlags != nullptr) {
                *objectFlags = 0;
            }
            if (objectSecurity != nullptr) {
                *objectSecurity = 0;
            }
            return 0;
        }
        return NET_ERR_NO_MORE_OBJECTS;
    } catch (const std::exception& error) {
        NoteProblem(std::string("the server scan failed: ") + error.what());
        return DIR_ERR_STORE;
    }
}
