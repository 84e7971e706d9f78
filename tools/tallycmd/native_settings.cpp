#include "tools/tallycmd/native_settings.h"

#include <fstream>
#include <sstream>

namespace tally::tallycmd {
namespace {

bool IsSlash(char c) {
    return c == '\\' || c == '/';
}

}  // namespace

bool IsServerPath(std::string_view path) {
    return path.size() > 2 && IsSlash(path[0]) && IsSlash(path[1]) && !IsSlash(path[2]);
}

std::optional<std::string> MapServerPath(std::string_view path, const VolumeMap& volumes) {
    if (!IsServerPath(path)) {
        return std::string(path);
    }
    std::string_view rest = path.substr(2);
    std::size_t cut = 0;
    while (cut < rest.size() && !IsSlash(rest[cut])) {
        ++cut;
    }
    const auto volume = volumes.find(rest.substr(0, cut));
    if (volume == volumes.end()) {
        return std::nullopt;
    }
    std::string mapped = volume->second.string();
    for (char c : rest.substr(cut)) {
        mapped += IsSlash(c) ? '/' : c;
    }
    return mapped;
}

IniProfiles::IniProfiles(std::string localFile, VolumeMap volumes, Warn warn)
    : localFile_(std::move(localFile)), volumes_(std::move(volumes)), warn_(std::move(warn)) {}

const directory::IniFile* IniProfiles::Load(const std::string& file) {
    const auto known = files_.find(file);
    if (known != files_.end()) {
        return known->second ? &*known->second : nullptr;
    }
    std::optional<directory::IniFile>& slot = files_[file];
    std::optional<std::string> path = file == kLocalSettingsFile
                                          ? std::optional<std::string>(localFile_)
                                          : MapServerPath(file, volumes_);
    if (!path || path->empty()) {
        return nullptr;
    }
    std::ifstream in(*path, std::ios::binary);
    if (!in) {
        return nullptr;
    }
    std::ostringstream text;
    text << in.rdbuf();
    slot = directory::IniFile::Parse(text.str(), *path);
    for (const std::string& problem : slot->Problems()) {
        if (warn_) {
            warn_(problem + " (line not read)");
        }
    }
    return &*slot;
}

std::optional<std::string> IniProfiles::Value(const std::string& file, const char* section,
                                              const char* key) {
    const directory::IniFile* ini = Load(file);
    if (ini == nullptr) {
        return std::nullopt;
    }
    std::optional<std::string> value = ini->Value(section, key);
    if (value && value->size() >= 2 && value->front() == '"' && value->back() == '"') {
        *value = value->substr(1, value->size() - 2);
    }
    return value;
}

std::string IniProfiles::ReadString(const std::string& file, const char* section, const char* key,
                                    const char* fallback, std::size_t maxChars) {
    const std::optional<std::string> value = Value(file, section, key);
    return Truncated(value ? *value : std::string(fallback != nullptr ? fallback : ""), maxChars);
}

int IniProfiles::ReadInt(const std::string& file, const char* section, const char* key,
                         int fallback) {
    const std::optional<std::string> value = Value(file, section, key);
    return value ? ParseDecimal(*value) : fallback;
}

bool IniProfiles::WriteString(const std::string&, const char*, const char*, const std::string&) {
    return false;
}

}  // namespace tally::tallycmd
