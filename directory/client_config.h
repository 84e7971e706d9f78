// The directory client's own configuration: tallynet.ini.
//
// The file says where the embedded store lives, who the workstation is logged in as, its current
// context, which file servers it is connected to and where each server's volumes live on this
// machine. The reader is plain C++ so that the same code serves the Windows program, the native
// tests and the fuzzer.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ldapstore/secret_buffer.h"

namespace tally::directory {

// One INI file as read: sections of key=value pairs, names compared without regard to case.
class IniFile {
  public:
    struct NoCaseLess {
        using is_transparent = void;
        bool operator()(std::string_view a, std::string_view b) const;
    };
    using Section = std::map<std::string, std::string, NoCaseLess>;

    // Reads `text`; `fileName` only names the file in messages. Lines that are neither a
    // [section], a key=value pair, a comment (";" or "#") nor blank are problems, each
    // "<file>:<line>: <what is wrong>"; the lines that could be read are kept.
    static IniFile Parse(std::string_view text, const std::string& fileName);

    // The value, or nullopt when the section or the key is absent.
    std::optional<std::string> Value(std::string_view section, std::string_view key) const;
    // The line the value was read from (the last one, for a key given twice); 0 when absent.
    int Line(std::string_view section, std::string_view key) const;
    const Section* FindSection(std::string_view name) const;
    const std::vector<std::string>& Problems() const { return problems_; }

  private:
    std::map<std::string, Section, NoCaseLess> sections_;
    std::map<std::string, std::map<std::string, int, NoCaseLess>, NoCaseLess> lines_;
    std::vector<std::string> problems_;
};

// Where the directory lives: the embedded store (a folder) or an LDAP server.
enum class StoreKind { Folder, Ldap };

// [Store] Kind=ldap: the server and how to log in to it. The password is never kept in
// tallynet.ini: it comes from a file only its owner may read, or is asked for at start.
struct LdapConfig {
    std::string url;                     // ldap://host:port or ldaps://host:port
    bool startTls = false;               // StartTLS on an ldap:// connection
    std::string base;                    // the DN that "[Root]" stands for ("" for the top)
    std::string bindDn;                  // empty: an anonymous bind
    std::filesystem::path passwordFile;  // empty: asked for at start
    std::filesystem::path caCertFile;    // certificates to trust for TLS; empty: the system's
    bool increment = true;               // use the increment of RFC 4525 where announced
    std::uint32_t pageSize = 500;        // entries per page of a listing
    int timeoutSeconds = 10;             // to connect, and for each operation
    int retrySeconds = 30;               // how long a lost server is tried again in a call
    int changesInFlight = 32;            // changes of a batch on their way at once
    // The object classes that make a site's entry a user, a group or a container ([Store]
    // UserClasses, GroupClasses, ContainerClasses, comma-separated); empty: the defaults of
    // ldap_store.h (persons, groupOfNames and the like, organizational units and domains).
    std::vector<std::string> userClasses, groupClasses, containerClasses;
};

struct ClientConfig {
    std::filesystem::path iniFile;
    StoreKind kind = StoreKind::Folder;
    std::filesystem::path storeFolder;  // empty when the file names none
    LdapConfig ldap;                    // with kind Ldap
    std::string loginUser;              // typeless full name; empty: not logged in
    std::string loginContext;           // empty: the top of the tree
    std::string defaultServer;
    std::vector<std::string> servers;  // the connected servers, as the file spells them
    std::map<std::string, std::filesystem::path, IniFile::NoCaseLess> volumes;
    std::vector<std::string> problems;  // empty when the file was read without fault
};

// Reads the configuration from the text of an ini file found at `iniPath` (relative paths in it
// are taken from the file's folder).
ClientConfig ParseClientConfig(std::string_view text, const std::filesystem::path& iniPath);

// Reads the file; a file that cannot be read gives a configuration whose problems say so.
ClientConfig LoadClientConfig(const std::filesystem::path& iniPath);

// Where the configuration is looked for: $TALLYNET_INI when set and not empty, else
// tallynet.ini beside the running program.
std::filesystem::path DefaultConfigPath();

// The folder of the running program (platform-specific, *_posix.cpp / *_winapi.cpp).
std::filesystem::path RunningProgramFolder();

// The first line of a file that only its owner may read (a password), read straight into
// `firstLine`. False with the reason in `problem` when the file cannot be read, is not a
// regular file (a folder, a pipe: refused before it is opened for reading, so that nothing
// blocks), holds an empty first line, or when others may read it: group or world permission
// bits natively and under Wine (whose access lists do not show the group's bits, so the Unix
// side is asked), an access entry for anyone but the owner, SYSTEM and Administrators on
// Windows. Platform-specific, like RunningProgramFolder.
bool ReadOwnerOnlyFile(const std::filesystem::path& file, ldap::SecretBuffer& firstLine,
                       std::string& problem);

// The first line of `bytes` (up to LF or CR LF) made the secret; false when it is empty.
bool KeepFirstLine(ldap::SecretBuffer& bytes, std::size_t read);

// A path written in the file, made usable here: backslashes become separators, and on systems
// without drive letters "X:\..." is taken from the root, as Wine shows the Unix tree on Z:.
// Relative paths are taken from `base`.
std::filesystem::path ConfiguredPath(std::string_view text, const std::filesystem::path& base);

}  // namespace tally::directory
