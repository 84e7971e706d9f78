#include "program/win32/platform_settings.h"

#include <windows.h>

#include <vector>

namespace {

std::string LocaleItem(LCTYPE item, std::size_t maxChars) {
    std::vector<char> text(maxChars + 1, '\0');
    if (GetLocaleInfoA(LOCALE_SYSTEM_DEFAULT, item, text.data(), static_cast<int>(text.size())) ==
        0) {
        return {};
    }
    text.back() = '\0';
    return text.data();
}

}  // namespace

std::string PrivateProfiles::ReadString(const std::string& file, const char* section,
                                        const char* key, const char* fallback,
                                        std::size_t maxChars) {
    std::vector<char> text(maxChars + 1, '\0');
    GetPrivateProfileStringA(section, key, fallback, text.data(), static_cast<DWORD>(text.size()),
                             file.c_str());
    text.back() = '\0';
    return text.data();
}

int PrivateProfiles::ReadInt(const std::string& file, const char* section, const char* key,
                             int fallback) {
    // The profile function hands negative values back in an unsigned result.
    return static_cast<int>(GetPrivateProfileIntA(section, key, fallback, file.c_str()));
}

bool PrivateProfiles::WriteString(const std::string& file, const char* section, const char* key,
                                  const std::string& value) {
    return WritePrivateProfileStringA(section, key, value.c_str(), file.c_str()) != 0;
}

std::string WindowsPlatformFacts::LocaleCurrencyDigits(std::size_t maxChars) {
    return LocaleItem(LOCALE_ICURRDIGITS, maxChars);
}

std::string WindowsPlatformFacts::LocaleShortDateOrder(std::size_t maxChars) {
    return LocaleItem(LOCALE_IDATE, maxChars);
}

std::string WindowsPlatformFacts::LocalSettingsFolder() {
    char folder[MAX_PATH + 1] = {};
    const UINT length = GetWindowsDirectoryA(folder, sizeof folder);
    return length == 0 || length >= sizeof folder ? std::string() : std::string(folder, length);
}

std::string WindowsPlatformFacts::TempPath(std::size_t maxChars) {
    std::vector<char> text(maxChars + 1, '\0');
    const DWORD length = GetTempPathA(static_cast<DWORD>(text.size()), text.data());
    if (length == 0 || length >= text.size()) {
        return {};  // no temporary folder, or one whose path does not fit
    }
    return text.data();
}
