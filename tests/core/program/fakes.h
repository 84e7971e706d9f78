// Stand-ins for the profile files, the platform and the network in the settings tests.
#pragma once

#include <map>
#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "program/settings.h"

struct ProfileWrite {
    std::string file;
    std::string key;
    std::string value;
    bool operator==(const ProfileWrite&) const = default;
};

class FakeProfiles final : public ProfileStore {
  public:
    // file -> key -> value; the section is always "Preferences" in this program.
    std::map<std::string, std::map<std::string, std::string>> files;
    std::vector<ProfileWrite> writes;
    std::vector<std::string> readFiles;
    bool failWrites = false;

    void Set(const std::string& file, const std::string& key, const std::string& value) {
        files[file][key] = value;
    }

    std::string ReadString(const std::string& file, const char* section, const char* key,
                           const char* fallback, std::size_t maxChars) override {
        readFiles.push_back(file);
        const std::string* value = Find(file, section, key);
        return (value ? *value : std::string(fallback)).substr(0, maxChars);
    }
    int ReadInt(const std::string& file, const char* section, const char* key,
                int fallback) override {
        readFiles.push_back(file);
        const std::string* value = Find(file, section, key);
        return value ? ParseDecimal(*value) : fallback;
    }
    bool WriteString(const std::string& file, const char* section, const char* key,
                     const std::string& value) override {
        if (failWrites || std::string(section) != kPreferencesSection) {
            return false;
        }
        writes.push_back({file, key, value});
        files[file][key] = value;
        return true;
    }

  private:
    const std::string* Find(const std::string& file, const char* section, const char* key) const {
        if (std::string(section) != kPreferencesSection) {
            return nullptr;
        }
        auto f = files.find(file);
        if (f == files.end()) {
            return nullptr;
        }
        auto k = f->second.find(key);
        return k == f->second.end() ? nullptr : &k->second;
    }
};

class FakePlatform final : public PlatformFacts {
  public:
    std::string currencyDigits = "2";
    std::string dateOrder = "1";
    std::string temp = "C:\\TEMP\\";

    std::string LocaleCurrencyDigits(std::size_t maxChars) override {
        return currencyDigits.substr(0, maxChars);
    }
    std::string LocaleShortDateOrder(std::size_t maxChars) override {
        return dateOrder.substr(0, maxChars);
    }
    std::string TempPath(std::size_t maxChars) override { return temp.substr(0, maxChars); }
    std::string LocalSettingsFolder() override { return settingsFolder; }
    std::string settingsFolder;
};

class FakeNetwork final : public NetworkServices {
  public:
    // Server name -> connection handle of the servers the workstation is attached to.
    std::map<std::string, NetConnectionHandle> connections{{"ACCT1", 1}, {"FS2", 2}};
    NetConnectionHandle defaultHandle = 2;
    std::vector<std::string> knownServers{"ACCT1", "FS2", "OFFLINE"};
    std::string operatorName = "ADMIN.CORP";
    std::vector<std::string> lookedUp;

    NetStatus FindConnection(const std::string& server, NetConnectionHandle* connection) override {
        lookedUp.push_back(server);
        auto it = connections.find(server);
        if (it == connections.end()) {
            return NET_ERR_NO_CONNECTION;
        }
        *connection = it->second;
        return 0;
    }
    NetStatus DefaultConnection(NetConnectionHandle* connection) override {
        *connection = defaultHandle;
        return 0;
    }
    NetStatus ServerName(NetConnectionHandle connection, std::string* name) override {
        for (const auto& [server, handle] : connections) {
            if (handle == connection) {
                *name = server;
                return 0;
            }
        }
        return NET_ERR_BAD_CONNECTION;
    }
    NetStatus ScanFileServers(NetConnectionHandle, std::int32_t* objectId,
                              std::string* name) override {
        const std::size_t next = static_cast<std::size_t>(*objectId + 1);
        if (next >= knownServers.size()) {
            return NET_ERR_NO_MORE_OBJECTS;
        }
        *objectId = static_cast<std::int32_t>(next);
        *name = knownServers[next];
        return 0;
    }
    DirStatus LoginName(std::string* name) override {
        *name = operatorName;
        return 0;
    }
};

inline const std::string kAcct1Shared = "\\\\ACCT1\\SYS\\PUBLIC\\JOBTALLY.INI";
inline const std::string kFs2Shared = "\\\\FS2\\SYS\\PUBLIC\\JOBTALLY.INI";
