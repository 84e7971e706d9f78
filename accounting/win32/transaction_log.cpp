#include "accounting/win32/transaction_log.h"

#include "program/settings.h"
#include "program/win32/main_windows.h"

namespace {

constexpr int kTimeTextChars = 16;

SYSTEMTIME LocalNow() {
    SYSTEMTIME utc{};
    GetSystemTime(&utc);
    SYSTEMTIME local = utc;
    if (OsVersion.dwPlatformId == VER_PLATFORM_WIN32_NT) {
        SystemTimeToTzSpecificLocalTime(&TimeZoneInfo, &utc, &local);
        return local;
    }
    FILETIME universal{};
    FILETIME localFile{};
    if (SystemTimeToFileTime(&utc, &universal) && FileTimeToLocalFileTime(&universal, &localFile)) {
        FileTimeToSystemTime(&localFile, &local);
    }
    return local;
}

std::string LocaleTimeText() {
    char text[kTimeTextChars] = {};
    GetTimeFormatA(
        LOCALE_SYSTEM_DEFAULT,
        LOCALE_NOUSEROVERRIDE | TIME_FORCE24HOURFORMAT | TIME_NOTIMEMARKER | TIME_NOSECONDS,
        nullptr, nullptr, text, kTimeTextChars);
    return text;
}

}  // namespace

RecordMoment CurrentRecordMoment() {
    const SYSTEMTIME local = LocalNow();
    return {{local.wYear, local.wMonth, local.wDay}, LocaleTimeText()};
}

void ShowLogFailure(HWND owner, const LogAppendResult& result, bool nothingChanged) {
    std::string text = LogAppendFailureMessage(result, gSettings.LogFilePath);
    if (nothingChanged) {
        text += "\n\nNothing was changed.";
    }
    MessageBoxA(owner, text.c_str(), "Error", MB_OK | MB_ICONWARNING);
}
