// The window's settings without the Windows profile and locale services: INI files read with the
// directory client's INI reader, server paths (\\SERVER\SYS\...) found through tallynet.ini's
// [Volumes], and the locale's two values given on the command line or in the environment.
#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "directory/client_config.h"
#include "program/settings.h"

namespace tally::tallycmd {

using VolumeMap = std::map<std::string, std::filesystem::path, directory::IniFile::NoCaseLess>;

// Whether `path` names a file on a server: "\\SERVER\..." (or with forward slashes).
bool IsServerPath(std::string_view path);

// A server path as a file of this machine: the server's folder from [Volumes] with the rest of
// the path below it ("\\ACCT1\SYS\PUBLIC\JOBTALLY.INI" -> "<ACCT1's folder>/SYS/PUBLIC/
// JOBTALLY.INI"). Other paths come back as given. nullopt for a server [Volumes] does not name.
std::optional<std::string> MapServerPath(std::string_view path, const VolumeMap& volumes);

// Profile files as the private-profile functions read them: the bare local settings file name
// stands for `localFile` (none when empty: every key then has its default), a server path is
// mapped through `volumes`, a value in matching double quotes loses them. A missing or unreadable
// file gives the defaults. Lines the INI reader cannot read are passed to `warn` once per file,
// with the file and line. Nothing is written: a script does not change the operator's settings.
class IniProfiles final : public ProfileStore {
  public:
    using Warn = std::function<void(const std::string&)>;
    IniProfiles(std::string localFile, VolumeMap volumes, Warn warn);

    std::string ReadString(const std::string& file, const char* section, const char* key,
                           const char* fallback, std::size_t maxChars) override;
    int ReadInt(const std::string& file, const char* section, const char* key,
                int fallback) override;
    bool WriteString(const std::string& file, const char* section, const char* key,
                     const std::string& value) override;

  private:
    std::optional<std::string> Value(const std::string& file, const char* section, const char* key);
    const directory::IniFile* Load(const std::string& file);

    std::string localFile_;
    VolumeMap volumes_;
    Warn warn_;
    std::map<std::string, std::optional<directory::IniFile>> files_;
};

// The locale's currency digits and short date order as given, and the temporary folder.
class FixedPlatformFacts final : public PlatformFacts {
  public:
    FixedPlatformFacts(std::string currencyDigits, std::string dateOrder, std::string tempPath,
                       std::string settingsFolder = {})
        : currencyDigits_(std::move(currencyDigits)),
          dateOrder_(std::move(dateOrder)),
          tempPath_(std::move(tempPath)),
          settingsFolder_(std::move(settingsFolder)) {}
    std::string LocaleCurrencyDigits(std::size_t maxChars) override {
        return Truncated(currencyDigits_, maxChars);
    }
    std::string LocaleShortDateOrder(std::size_t maxChars) override {
        return Truncated(dateOrder_, maxChars);
    }
    std::string TempPath(std::size_t maxChars) override { return Truncated(tempPath_, maxChars); }
    std::string LocalSettingsFolder() override { return settingsFolder_; }

  private:
    std::string currencyDigits_;
    std::string dateOrder_;
    std::string tempPath_;
    std::string settingsFolder_;
};

}  // namespace tally::tallycmd
