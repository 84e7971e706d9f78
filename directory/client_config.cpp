#include "directory/client_config.h"

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "dirstore/names.h"

namespace tally::directory {
namespace {

std::string_view Trim(std::string_view s) {
    auto blank = [](char c) {
        return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
    };
    while (!s.empty() && blank(s.front())) {
        s.remove_prefix(1);
    }
    while (!s.empty() && blank(s.back())) {
        s.remove_suffix(1);
    }
    return s;
}

// A ";" that starts the value or follows a blank begins a comment, so that values may still
// hold semicolons of their own ("a;b").
std::string_view WithoutTrailingComment(std::string_view s) {
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == ';' && (i == 0 || s[i - 1] == ' ' || s[i - 1] == '\t')) {
            return Trim(s.substr(0, i));
        }
    }
    return Trim(s);
}

std::string Located(const std::string& file, int line, const std::string& message) {
    return file + ":" + std::to_string(line) + ": " + message;
}

std::vector<std::string> SplitList(std::string_view text) {
    std::vector<std::string> items;
    while (!text.empty()) {
        std::size_t comma = text.find(',');
        std::string_view item = Trim(text.substr(0, comma));
        if (!item.empty()) {
            items.emplace_back(item);
        }
        if (comma == std::string_view::npos) {
            break;
        }
        text.remove_prefix(comma + 1);
    }
    return items;
}

// The longest name the directory client hands out: its name buffers hold 256 characters.
constexpr std::size_t kNameChars = 256;

// Why `name` cannot be a typeless directory name ("" when it can): a name that would be cut,
// that ends in an escape with nothing to escape, or that has an empty part never names the
// object the file meant, so it must not count as a login.
std::string TypelessNameProblem(std::string_view name) {
    if (name.size() > kNameChars) {
        return "is " + std::to_string(name.size()) + " characters long; a name has at most " +
               std::to_string(kNameChars);
    }
    std::size_t trailingBackslashes = 0;
    while (trailingBackslashes < name.size() &&
           name[name.size() - 1 - trailingBackslashes] == '\\') {
        ++trailingBackslashes;
    }
    if (trailingBackslashes % 2 == 1) {
        return "ends in a lone backslash";
    }
    std::vector<std::string> parts;
    if (!store::SplitTypeless(name, parts)) {
        return "has an empty part (a name is its parts joined by single points)";
    }
    return {};
}

// A yes/no key: "yes", "no", "true", "false", "1", "0" in any case; absent gives `otherwise`.
bool ReadSwitch(const IniFile& ini, const std::string& fileName, std::string_view key,
                bool otherwise, std::vector<std::string>& problems) {
    std::optional<std::string> value = ini.Value("Store", key);
    if (!value || value->empty()) {
        return otherwise;
    }
    for (const char* yes : {"yes", "true", "1"}) {
        if (store::EqualsIgnoreCase(*value, yes)) {
            return true;
        }
    }
    for (const char* no : {"no", "false", "0"}) {
        if (store::EqualsIgnoreCase(*value, no)) {
            return false;
        }
    }
    problems.push_back(
        Located(fileName, ini.Line("Store", key),
                "[Store] " + std::string(key) + " is '" + *value + "'; it must be yes or no"));
    return otherwise;
}

// A whole number key within [low, high]; absent gives `otherwise`.
long ReadCount(const IniFile& ini, const std::string& fileName, std::string_view key,
               long otherwise, long low, long high, std::vector<std::string>& problems) {
    std::optional<std::string> value = ini.Value("Store", key);
    if (!value || value->empty()) {
        return otherwise;
    }
    char* end = nullptr;
    long number = std::strtol(value->c_str(), &end, 10);
    if (end == value->c_str() || *end != '\0' || number < low || number > high) {
        problems.push_back(Located(fileName, ini.Line("Store", key),
                                   "[Store] " + std::string(key) + " is '" + *value +
                                       "'; it must be a whole number from " + std::to_string(low) +
                                       " to " + std::to_string(high)));
        return otherwise;
    }
    return number;
}

// [Store]: Kind=store (the default) takes Path; Kind=ldap takes the server's keys.
void ReadStoreSection(const IniFile& ini, const std::string& fileName,
                      const std::filesystem::path& base, ClientConfig& config) {
    std::string kind = ini.Value("Store", "Kind").value_or("");
    if (kind.empty() || store::EqualsIgnoreCase(kind, "store")) {
        std::string storePath = ini.Value("Store", "Path").value_or("");
        if (storePath.empty()) {
            config.problems.push_back(fileName + ": [Store] has no Path, so there is no directory");
        } else {
            config.storeFolder = ConfiguredPath(storePath, base);
        }
        return;
    }
    if (!store::EqualsIgnoreCase(kind, "ldap")) {
        config.problems.push_back(
            Located(fileName, ini.Line("Store", "Kind"),
                    "[Store] Kind is '" + kind + "'; it must be store or ldap"));
        return;
    }
    config.kind = StoreKind::Ldap;
    LdapConfig& ldap = config.ldap;
    ldap.url = ini.Value("Store", "Url").value_or("");
    if (ldap.url.empty()) {
        config.problems.push_back(fileName + ": [Store] Kind=ldap needs a Url (ldap://host:port)");
    } else if (ldap.url.rfind("ldap://", 0) != 0 && ldap.url.rfind("ldaps://", 0) != 0) {
        config.problems.push_back(
            Located(fileName, ini.Line("Store", "Url"),
                    "[Store] Url is '" + ldap.url + "'; it must begin with ldap:// or ldaps://"));
    }
    if (ini.Value("Store", "Password")) {
        // Never read, so that nobody is led to keep a password where anybody may read it.
        config.problems.push_back(
            Located(fileName, ini.Line("Store", "Password"),
                    "[Store] Password is not read from tallynet.ini; name a PasswordFile that "
                    "only its owner may read, or leave it out to be asked at start"));
    }
    ldap.startTls = ReadSwitch(ini, fileName, "StartTLS", false, config.problems);
    if (ldap.startTls && ldap.url.rfind("ldaps://", 0) == 0) {
        config.problems.push_back(Located(fileName, ini.Line("Store", "StartTLS"),
                                          "[Store] StartTLS=yes goes with an ldap:// Url, not "
                                          "ldaps:// (which is TLS from the start)"));
    }
    ldap.base = ini.Value("Store", "Base").value_or("");
    ldap.bindDn = ini.Value("Store", "BindDN").value_or("");
    for (const char* key : {"Base", "BindDN"}) {
        std::string value = ini.Value("Store", key).value_or("");
        std::vector<store::Rdn> rdns;
        std::string error;
        if (!value.empty() && !store::ParseDn(value, rdns, &error)) {
            config.problems.push_back(
                Located(fileName, ini.Line("Store", key),
                        "[Store] " + std::string(key) + " is not a DN: " + error));
        }
    }
    std::string passwordFile = ini.Value("Store", "PasswordFile").value_or("");
    if (!passwordFile.empty()) {
        ldap.passwordFile = ConfiguredPath(passwordFile, base);
        if (ldap.bindDn.empty()) {
            config.problems.push_back(Located(fileName, ini.Line("Store", "PasswordFile"),
                                              "[Store] PasswordFile without a BindDN"));
        }
    }
    std::string caFile = ini.Value("Store", "CACertFile").value_or("");
    if (!caFile.empty()) {
        ldap.caCertFile = ConfiguredPath(caFile, base);
    }
    ldap.increment = ReadSwitch(ini, fileName, "Increment", true, config.problems);
    ldap.pageSize = static_cast<std::uint32_t>(
        ReadCount(ini, fileName, "PageSize", 500, 1, 100000, config.problems));
    ldap.timeoutSeconds =
        static_cast<int>(ReadCount(ini, fileName, "Timeout", 10, 1, 600, config.problems));
    ldap.retrySeconds =
        static_cast<int>(ReadCount(ini, fileName, "RetrySeconds", 30, 0, 3600, config.problems));
    ldap.changesInFlight =
        static_cast<int>(ReadCount(ini, fileName, "ChangesInFlight", 32, 1, 1024, config.problems));
    ldap.userClasses = SplitList(ini.Value("Store", "UserClasses").value_or(""));
    ldap.groupClasses = SplitList(ini.Value("Store", "GroupClasses").value_or(""));
    ldap.containerClasses = SplitList(ini.Value("Store", "ContainerClasses").value_or(""));
}

}  // namespace

bool IniFile::NoCaseLess::operator()(std::string_view a, std::string_view b) const {
    std::size_t n = a.size() < b.size() ? a.size() : b.size();
    for (std::size_t i = 0; i < n; ++i) {
        int ca = std::tolower(static_cast<unsigned char>(a[i]));
        int cb = std::tolower(static_cast<unsigned char>(b[i]));
        if (ca != cb) {
            return ca < cb;
        }
    }
    return a.size() < b.size();
}

IniFile IniFile::Parse(std::string_view text, const std::string& fileName) {
    IniFile ini;
    if (text.substr(0, 3) == "\xEF\xBB\xBF") {
        text.remove_prefix(3);
    }
    Section* current = nullptr;
    std::string currentName;
    int lineNumber = 0;
    while (!text.empty()) {
        ++lineNumber;
        std::size_t end = text.find('\n');
        std::string_view line = Trim(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (line.find('\0') != std::string_view::npos) {
            // Every later use of the value would end at the NUL: refuse the line whole.
            ini.problems_.push_back(Located(fileName, lineNumber, "line holds a NUL byte"));
            continue;
        }

        if (line.empty() || line.front() == ';' || line.front() == '#') {
            continue;
        }
        if (line.front() == '[') {
            std::string_view header = WithoutTrailingComment(line);
            if (header.size() < 2 || header.back() != ']') {
                ini.problems_.push_back(
                    Located(fileName, lineNumber, "section header without a closing ']'"));
                current = nullptr;
                continue;
            }
            std::string_view name = Trim(header.substr(1, header.size() - 2));
            if (name.empty()) {
                ini.problems_.push_back(Located(fileName, lineNumber, "empty section name"));
                current = nullptr;
                continue;
            }
            currentName = std::string(name);
            current = &ini.sections_[currentName];
            continue;
        }
        std::size_t equals = line.find('=');
        if (equals == std::string_view::npos) {
            ini.problems_.push_back(Located(
                fileName, lineNumber, "line is neither a [section], key=value nor a comment"));
            continue;
        }
        std::string_view key = Trim(line.substr(0, equals));
        if (key.empty()) {
            ini.problems_.push_back(Located(fileName, lineNumber, "key=value line without a key"));
            continue;
        }
        if (current == nullptr) {
            ini.problems_.push_back(
                Located(fileName, lineNumber,
                        "key '" + std::string(key) + "' stands outside of any [section]"));
            continue;
        }
        (*current)[std::string(key)] = std::string(WithoutTrailingComment(line.substr(equals + 1)));
        ini.lines_[currentName][std::string(key)] = lineNumber;
    }
    return ini;
}

const IniFile::Section* IniFile::FindSection(std::string_view name) const {
    auto found = sections_.find(name);
    return found == sections_.end() ? nullptr : &found->second;
}

std::optional<std::string> IniFile::Value(std::string_view sectionName,
                                          std::string_view key) const {
    const Section* s = FindSection(sectionName);
    if (s == nullptr) {
        return std::nullopt;
    }
    auto found = s->find(key);
    if (found == s->end()) {
        return std::nullopt;
    }
    return found->second;
}

int IniFile::Line(std::string_view sectionName, std::string_view key) const {
    auto section = lines_.find(sectionName);
    if (section == lines_.end()) {
        return 0;
    }
    auto found = section->second.find(key);
    return found == section->second.end() ? 0 : found->second;
}

bool KeepFirstLine(ldap::SecretBuffer& bytes, std::size_t read) {
    const std::string_view text(bytes.Data(), std::min(read, bytes.Capacity()));
    std::size_t end = text.find('\n');
    if (end == std::string_view::npos) {
        end = text.size();
    }
    if (end > 0 && text[end - 1] == '\r') {
        --end;
    }
    bytes.SetSize(end);
    return end > 0;
}

std::filesystem::path ConfiguredPath(std::string_view text, const std::filesystem::path& base) {
    std::string written(text);
#ifndef _WIN32
    for (char& c : written) {
        if (c == '\\') {
            c = '/';
        }
    }
    if (written.size() >= 2 && written[1] == ':' &&
        std::isalpha(static_cast<unsigned char>(written[0]))) {
        written.erase(0, 2);
        if (written.empty() || written.front() != '/') {
            written.insert(written.begin(), '/');
        }
    }
#endif
    std::filesystem::path path(written);
    if (path.is_relative()) {
        path = base / path;
    }
    return path.lexically_normal();
}

ClientConfig ParseClientConfig(std::string_view text, const std::filesystem::path& iniPath) {
    ClientConfig config;
    config.iniFile = iniPath;
    std::string fileName = iniPath.string();
    IniFile ini = IniFile::Parse(text, fileName);
    config.problems = ini.Problems();
    std::filesystem::path base = iniPath.parent_path();

    ReadStoreSection(ini, fileName, base, config);
    config.loginUser = ini.Value("Login", "User").value_or("");
    config.loginContext = ini.Value("Login", "Context").value_or("");
    auto checkName = [&](const char* key, const std::string& name) {
        std::string problem = TypelessNameProblem(name);
        if (!name.empty() && !problem.empty()) {
            config.problems.push_back(Located(fileName, ini.Line("Login", key),
                                              "[Login] " + std::string(key) + " " + problem));
        }
    };
    checkName("User", config.loginUser);
    if (!store::EqualsIgnoreCase(config.loginContext, "[Root]")) {
        checkName("Context", config.loginContext);
    }
    config.defaultServer = ini.Value("Connections", "Default").value_or("");
    config.servers = SplitList(ini.Value("Connections", "Servers").value_or(""));
    if (const IniFile::Section* volumes = ini.FindSection("Volumes")) {
        for (const auto& [server, path] : *volumes) {
            if (!path.empty()) {
                config.volumes[server] = ConfiguredPath(path, base);
            }
        }
    }
    return config;
}

ClientConfig LoadClientConfig(const std::filesystem::path& iniPath) {
    std::ifstream in(iniPath, std::ios::binary);
    if (!in) {
        ClientConfig config;
        config.iniFile = iniPath;
        config.problems.push_back(iniPath.string() + ": cannot be read");
        return config;
    }
    std::ostringstream text;
    text << in.rdbuf();
    return ParseClientConfig(text.str(), iniPath);
}

std::filesystem::path DefaultConfigPath() {
    const char* fromEnvironment = std::getenv("TALLYNET_INI");
    if (fromEnvironment != nullptr && *fromEnvironment != '\0') {
        return std::filesystem::path(fromEnvironment);
    }
    return RunningProgramFolder() / "tallynet.ini";
}

}  // namespace tally::directory
