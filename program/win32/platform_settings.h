// The settings' view of the platform: private-profile files, the system default locale and the
// temporary folder.
#pragma once

#include "program/settings.h"

class PrivateProfiles final : public ProfileStore {
  public:
    std::string ReadString(const std::string& file, const char* section, const char* key,
                           const char* fallback, std::size_t maxChars) override;
    int ReadInt(const std::string& file, const char* section, const char* key,
                int fallback) override;
    bool WriteString(const std::string& file, const char* section, const char* key,
                     const std::string& value) override;
};

class WindowsPlatformFacts final : public PlatformFacts {
  public:
    std::string LocaleCurrencyDigits(std::size_t maxChars) override;
    std::string LocaleShortDateOrder(std::size_t maxChars) override;
    std::string TempPath(std::size_t maxChars) override;
    // The Windows folder, where the private-profile functions keep tallydsk.ini.
    std::string LocalSettingsFolder() override;
};
