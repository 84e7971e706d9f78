// The program's settings: what the local file "tallydsk.ini", the log server's shared file and
// the platform give, and the values derived from them that the rest of the program reads.
//
// The values live in one program-wide `Settings` record (`gSettings`). The functions below take
// the record and the outside world (profile files, locale, network) as arguments, so that they
// run the same against the Win32 platform and against the fakes of the native tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "directory/dirclient.h"

// ---------------------------------------------------------------------------------------------
// Files, sections and keys
// ---------------------------------------------------------------------------------------------

inline constexpr const char* kLocalSettingsFile = "tallydsk.ini";  // bare name: Windows folder
inline constexpr const char* kPreferencesSection = "Preferences";
inline constexpr const char* kSharedSettingsPathFormat = "\\\\%s\\SYS\\PUBLIC\\JOBTALLY.INI";
inline constexpr const char* kLogFilePathFormat = "\\\\%s\\SYS\\SYSTEM\\JOBTALLY\\JOBTALLY.LOG";
inline constexpr const char* kStandardSchemaKeyword = "Standard Netware";
inline constexpr const char* kDefaultChargeReason = "Charge";

// Character limits of the text values (characters, without the terminating NUL).
inline constexpr std::size_t kPathChars = 260;
inline constexpr std::size_t kLogServerReadChars = 47;
inline constexpr std::size_t kLogServerHeldChars = 63;
inline constexpr std::size_t kChargeReasonReadChars = 30;
inline constexpr std::size_t kChargeReasonHeldChars = 31;
inline constexpr std::size_t kSchemaKeywordChars = 16;
inline constexpr std::size_t kLocaleItemChars = 10;
// Locales give 0 to 3 currency digits; more than 9 would overflow the 32-bit AmountScale.
inline constexpr int kMaxCurrencyDigits = 9;

// Stored values of the shared file's two format keys.
inline constexpr int kNumericalFormatCurrency = 0;  // any other value: Pages
inline constexpr int kLogFormatReadable = 0;        // any other value: ASCII delimited
inline constexpr int kDefaultNumericalFormat = 0;
inline constexpr int kDefaultLogFormat = 1;
// How long every writer of the log waits for its lock before it gives up, in seconds: the shared
// file's LogLockWait, so that all writers of one log wait alike. Values below 1 mean the default.
inline constexpr int kDefaultLogLockWaitSeconds = 30;

// ---------------------------------------------------------------------------------------------
// Values
// ---------------------------------------------------------------------------------------------

// The three account attribute names. A keyword of the full 16 characters makes
// "JOBTALLY:<keyword> Balance" and "... Nolimit" 33 characters long, one more than the 32 the
// directory's attribute names used to be held in; std::string holds them whole, so such a
// schema addresses the attributes that really carry its name instead of a cut-off one.
struct AccountSchema {
    std::string BalanceAttribute;
    std::string LimitAttribute;
    std::string UnlimitedAttribute;
};

struct Settings {
    // Local file.
    bool RecordingEnabled = true;
    int DblClickUser = 0;
    int DblClickGroup = 1;
    std::string ChargeReason = kDefaultChargeReason;
    std::string LogServer;
    std::string SchemaKeyword;

    // Shared file of the log server.
    int NumericalFormat = kDefaultNumericalFormat;
    int LogFormat = kDefaultLogFormat;
    int LogLockWaitSeconds = kDefaultLogLockWaitSeconds;

    // Derived.
    NetConnectionHandle LogServerConnection = 0;
    std::string SharedSettingsPath;
    std::string LogFilePath;
    std::string TempDirectory;
    // Where this workstation keeps the records that could not reach the log yet (beside the
    // local settings file; the temporary folder when there is none).
    std::string OutboxFolder;
    std::string ReportFilePath;
    int CurrencyDigits = 0;
    std::int32_t AmountScale = 1;
    std::string AmountFormat = "%.0f";
    std::string AmountColumnFormat = "%8.0f";
    int DateOrder = 0;
    AccountSchema Schema;

    // The object the workstation is logged in as (typeless full name).
    std::string OperatorName;
};

extern Settings gSettings;

// ---------------------------------------------------------------------------------------------
// The outside world, as LoadSettings and the Preferences dialog see it
// ---------------------------------------------------------------------------------------------

// INI files read and written by name, with the platform's private-profile rules.
class ProfileStore {
  public:
    virtual ~ProfileStore() = default;
    // The value of `key`, or `fallback` when the key or file is missing; at most `maxChars`.
    virtual std::string ReadString(const std::string& file, const char* section, const char* key,
                                   const char* fallback, std::size_t maxChars) = 0;
    // The value of `key` converted as a decimal integer, or `fallback` when it is missing.
    virtual int ReadInt(const std::string& file, const char* section, const char* key,
                        int fallback) = 0;
    // Returns false when the value could not be stored.
    virtual bool WriteString(const std::string& file, const char* section, const char* key,
                             const std::string& value) = 0;
};

// What the platform tells about itself: the system default locale and the temporary folder.
class PlatformFacts {
  public:
    virtual ~PlatformFacts() = default;
    virtual std::string LocaleCurrencyDigits(std::size_t maxChars) = 0;
    virtual std::string LocaleShortDateOrder(std::size_t maxChars) = 0;
    virtual std::string TempPath(std::size_t maxChars) = 0;
    // The folder the local settings file lives in ("" when there is none).
    virtual std::string LocalSettingsFolder() { return {}; }
};

// The server connections of the workstation and the logged-in operator. The real one
// (`ClientNetwork`) calls the directory client and the NetWare calls library.
class NetworkServices {
  public:
    virtual ~NetworkServices() = default;
    virtual NetStatus FindConnection(const std::string& server,
                                     NetConnectionHandle* connection) = 0;
    virtual NetStatus DefaultConnection(NetConnectionHandle* connection) = 0;
    virtual NetStatus ServerName(NetConnectionHandle connection, std::string* name) = 0;
    // One step of the file-server scan: `objectId` starts at -1 and advances.
    virtual NetStatus ScanFileServers(NetConnectionHandle connection, std::int32_t* objectId,
                                      std::string* name) = 0;
    virtual DirStatus LoginName(std::string* name) = 0;
};

class ClientNetwork final : public NetworkServices {
  public:
    explicit ClientNetwork(DirContextHandle context) : context_(context) {}
    NetStatus FindConnection(const std::string& server, NetConnectionHandle* connection) override;
    NetStatus DefaultConnection(NetConnectionHandle* connection) override;
    NetStatus ServerName(NetConnectionHandle connection, std::string* name) override;
    NetStatus ScanFileServers(NetConnectionHandle connection, std::int32_t* objectId,
                              std::string* name) override;
    DirStatus LoginName(std::string* name) override;

  private:
    DirContextHandle context_;
};

// ---------------------------------------------------------------------------------------------
// Operations
// ---------------------------------------------------------------------------------------------

// Everything start-up needs from the settings, in the order the values depend on each other.
void LoadSettings(Settings& settings, ProfileStore& profiles, PlatformFacts& platform,
                  NetworkServices& network);

// Currency digits, AmountScale, both amount formats and DateOrder from the locale's texts.
void DeriveNumberFormat(Settings& settings, std::string_view currencyDigitsText,
                        std::string_view dateOrderText);

// "Standard Netware" (exactly, case counts) selects the directory's own accounting attributes;
// any other keyword selects the JOBTALLY attribute set named after it.
AccountSchema SelectAccountSchema(std::string_view keyword);

std::string SharedSettingsPathFor(std::string_view server);
std::string LogFilePathFor(std::string_view server);

// Writes ChargeReason to the local file (the main window does this when it closes).
bool SaveChargeReason(const Settings& settings, ProfileStore& profiles);

// Writes the six local keys in their fixed order. Returns false if any write failed.
bool WriteLocalPreferences(const Settings& settings, ProfileStore& profiles);

// The decimal integer at the start of `text` (blanks and a sign allowed), 0 when there is none.
int ParseDecimal(std::string_view text);

// `text` cut to at most `maxChars` characters.
std::string Truncated(std::string_view text, std::size_t maxChars);
