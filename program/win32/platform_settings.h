// The settings' view of the platform: private-profile files, the system default locale and the
// temporary folder.
#pragma once

#include "program/settings.h"

class PrivateProfiles final : public ProfileStore {
  public:
    std::string readString(const std::string& file, const char* section, const char* key,
                           const char* fallback, std::size_t maxChars) override;
    int readInt(const std::string& file, const char* section, const char* key,
                int fallback) override;
    bool writeString(const std::string& file, const char* section, const char* key,
                     const std::string& value) override;
};

class WindowsPlatformFacts final : public PlatformFacts {
  public:
    std::string localeCurrencyDigits(std::size_t maxChars) override;
    std::string localeShortDateOrder(std::size_t maxChars) override;
    std::string tempPath(std::size_t maxChars) override;
};
