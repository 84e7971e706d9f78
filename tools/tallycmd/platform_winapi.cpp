#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <cstdio>

#include "accounting/win32/transaction_log.h"
#include "program/win32/main_windows.h"
#include "program/win32/platform_settings.h"
#include "tools/tallycmd/platform_seams.h"

namespace tally::tallycmd {

void PrepareStandardStreams() {
    _setmode(_fileno(stdout), _O_BINARY);
}

bool StandardErrorIsTerminal() {
    return _isatty(_fileno(stderr)) != 0;
}

bool MakePlatformEnvironment(const CommandLine& line, const directory::ClientConfig&,
                             RunEnvironment& environment, std::string& error) {
    const char* nativeOnly = line.settingsFile     ? "--settings"
                             : line.currencyDigits ? "--currency-digits"
                             : line.dateOrder      ? "--date-order"
                                                   : nullptr;
    if (nativeOnly != nullptr) {
        error = std::string(nativeOnly) +
                " is for the native build: on Windows the settings are tallydsk.ini in the "
                "Windows folder and the locale's";
        return false;
    }
    // The window's clock: the local time by the time zone, the locale's 24-hour time. A console
    // program runs on Windows NT only.
    OsVersion.dwPlatformId = VER_PLATFORM_WIN32_NT;
    GetTimeZoneInformation(&TimeZoneInfo);
    environment.profiles = std::make_unique<PrivateProfiles>();
    environment.platform = std::make_unique<WindowsPlatformFacts>();
    environment.clock = CurrentRecordMoment;
    // Windows opens server paths itself.
    environment.localPath = nullptr;
    return true;
}

}  // namespace tally::tallycmd
