#include <array>

#include "program/settings.h"

NetStatus ClientNetwork::FindConnection(const std::string& server,
                                        NetConnectionHandle* connection) {
    return NetFindConnection(server.c_str(), 0, connection, 0);
}

NetStatus ClientNetwork::DefaultConnection(NetConnectionHandle* connection) {
    return NetGetDefaultConnection(connection);
}

NetStatus ClientNetwork::ServerName(NetConnectionHandle connection, std::string* name) {
    std::array<char, NET_MAX_SERVER_NAME_BYTES> text{};
    const NetStatus status = NetGetServerName(connection, text.data());
    text.back() = '\0';
    *name = text.data();
    return status;
}

NetStatus ClientNetwork::ScanFileServers(NetConnectionHandle connection, std::int32_t* objectId,
                                         std::string* name) {
    std::array<char, NET_MAX_SERVER_NAME_BYTES> text{};
    const NetStatus status = NetScanObjects(connection, "*", NET_OT_FILE_SERVER, objectId,
                                            text.data(), nullptr, nullptr, nullptr, nullptr);
    text.back() = '\0';
    *name = text.data();
    return status;
}

DirStatus ClientNetwork::LoginName(std::string* name) {
    std::array<char, DIR_MAX_NAME_BYTES> text{};
    const DirStatus status = DirGetLoginName(context_, text.data());
    text.back() = '\0';
    *name = text.data();
    return status;
}
