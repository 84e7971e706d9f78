#include "program/settings.h"

#include <array>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>

Settings gSettings;

namespace {

std::string Formatted(const char* format, std::string_view value) {
    // Every format used here has one %s; a server name longer than the path allows is cut so
    // that the whole path stays within kPathChars.
    std::array<char, kPathChars + 1> text{};
    std::snprintf(text.data(), text.size(), format, std::string(value).c_str());
    return text.data();
}

std::string FormatWithDigits(const char* format, int digits) {
    std::array<char, 16> text{};
    std::snprintf(text.data(), text.size(), format, digits);
    return text.data();
}

void ReadLocalFile(Settings& settings, ProfileStore& profiles) {
    const std::string file = kLocalSettingsFile;
    // Stored inversely: 0 means "record", so a missing key leaves recording on.
    settings.RecordingEnabled =
        profiles.ReadInt(file, kPreferencesSection, "RecordTransactions", 0) == 0;
    settings.DblClickUser = profiles.ReadInt(file, kPreferencesSection, "DblClickUser", 0);
    settings.DblClickGroup = profiles.ReadInt(file, kPreferencesSection, "DblClickGroup", 1);
    settings.ChargeReason = profiles.ReadString(file, kPreferencesSection, "ChargeReason",
                                                kDefaultChargeReason, kChargeReasonReadChars);
    settings.LogServer =
        profiles.ReadString(file, kPreferencesSection, "LogServer", "", kLogServerReadChars);
}

// An empty or unconnected log server falls back to the server of the default connection. The
// replacement is kept in memory only: the local file changes only through Save.
void ResolveLogServer(Settings& settings, NetworkServices& network) {
    NetConnectionHandle connection = 0;
    if (network.FindConnection(settings.LogServer, &connection) == 0) {
        settings.LogServerConnection = connection;
        return;
    }
    connection = 0;
    network.DefaultConnection(&connection);
    settings.LogServerConnection = connection;
    std::string name;
    if (network.ServerName(connection, &name) == 0) {
        settings.LogServer = Truncated(name, kLogServerHeldChars);
    }
}

void ReadSharedFormats(Settings& settings, ProfileStore& profiles) {
    settings.SharedSettingsPath = SharedSettingsPathFor(settings.LogServer);
    settings.NumericalFormat = profiles.ReadInt(settings.SharedSettingsPath, kPreferencesSection,
                                                "NumericalFormat", kDefaultNumericalFormat);
    settings.LogFormat = profiles.ReadInt(settings.SharedSettingsPath, kPreferencesSection,
                                          "LogFormat", kDefaultLogFormat);
    const int lockWait = profiles.ReadInt(settings.SharedSettingsPath, kPreferencesSection,
                                          "LogLockWait", kDefaultLogLockWaitSeconds);
    settings.LogLockWaitSeconds = lockWait >= 1 ? lockWait : kDefaultLogLockWaitSeconds;
}

void ReadSchemaKeyword(Settings& settings, ProfileStore& profiles) {
    settings.SchemaKeyword = profiles.ReadString(kLocalSettingsFile, kPreferencesSection,
                                                 "SchemaKeyword", "", kSchemaKeywordChars);
    if (settings.SchemaKeyword.empty()) {
        settings.SchemaKeyword =
            profiles.ReadString(settings.SharedSettingsPath, kPreferencesSection, "SchemaKeyword",
                                kStandardSchemaKeyword, kSchemaKeywordChars);
    }
}

}  // namespace

std::string Truncated(std::string_view text, std::size_t maxChars) {
    return std::string(text.substr(0, maxChars));
}

int ParseDecimal(std::string_view text) {
    const std::string copy(text);
    errno = 0;
    const long value = std::strtol(copy.c_str(), nullptr, 10);
    if (errno == ERANGE || value > INT_MAX) {
        return INT_MAX;
    }
    if (value < INT_MIN) {
        return INT_MIN;
    }
    return static_cast<int>(value);
}

void DeriveNumberFormat(Settings& settings, std::string_view currencyDigitsText,
                        std::string_view dateOrderText) {
    int digits = ParseDecimal(currencyDigitsText);
    if (digits < 0) {
        digits = 0;
    } else if (digits > kMaxCurrencyDigits) {
        digits = kMaxCurrencyDigits;
    }
    settings.CurrencyDigits = digits;
    settings.DateOrder = ParseDecimal(dateOrderText);
    settings.AmountScale = 1;
    for (int i = 0; i < digits; ++i) {
        settings.AmountScale *= 10;
    }
    settings.AmountFormat = FormatWithDigits("%%.%df", digits);
    settings.AmountColumnFormat = FormatWithDigits("%%8.%df", digits);
}

AccountSchema SelectAccountSchema(std::string_view keyword) {
    if (keyword == kStandardSchemaKeyword) {
        return {"Account Balance", "Minimum Account Balance", "Allow Unlimited Credit"};
    }
    const std::string prefix = "JOBTALLY:" + std::string(keyword);
    return {prefix + " Balance", prefix + " Limit", prefix + " Nolimit"};
}

std::string SharedSettingsPathFor(std::string_view server) {
    return Formatted(kSharedSettingsPathFormat, server);
}

std::string LogFilePathFor(std::string_view server) {
    return Formatted(kLogFilePathFormat, server);
}

void LoadSettings(Settings& settings, ProfileStore& profiles, PlatformFacts& platform,
                  NetworkServices& network) {
    DeriveNumberFormat(settings, platform.LocaleCurrencyDigits(kLocaleItemChars),
                       platform.LocaleShortDateOrder(kLocaleItemChars));
    ReadLocalFile(settings, profiles);
    ResolveLogServer(settings, network);
    settings.OperatorName.clear();
    network.LoginName(&settings.OperatorName);
    ReadSharedFormats(settings, profiles);
    ReadSchemaKeyword(settings, profiles);
    settings.Schema = SelectAccountSchema(settings.SchemaKeyword);
    settings.TempDirectory = platform.TempPath(kPathChars);
    settings.OutboxFolder = platform.LocalSettingsFolder();
    if (settings.OutboxFolder.empty()) {
        settings.OutboxFolder = settings.TempDirectory;
    }
    settings.LogFilePath = LogFilePathFor(settings.LogServer);
}

bool SaveChargeReason(const Settings& settings, ProfileStore& profiles) {
    return profiles.WriteString(kLocalSettingsFile, kPreferencesSection, "ChargeReason",
                                settings.ChargeReason);
}

bool WriteLocalPreferences(const Settings& settings, ProfileStore& profiles) {
    const std::string file = kLocalSettingsFile;
    bool stored = true;
    auto write = [&](const char* key, const std::string& value) {
        stored = profiles.WriteString(file, kPreferencesSection, key, value) && stored;
    };
    // Inverse on purpose: the stored form that the other Jobtally programs share.
    write("RecordTransactions", settings.RecordingEnabled ? "0" : "1");
    write("DblClickUser", std::to_string(settings.DblClickUser));
    write("DblClickGroup", std::to_string(settings.DblClickGroup));
    write("LogServer", settings.LogServer);
    write("ChargeReason", settings.ChargeReason);
    write("SchemaKeyword", settings.SchemaKeyword);
    return stored;
}
