#include "program/win32/main_windows.h"

HINSTANCE ProgramInstance = nullptr;
HWND MainWindow = nullptr;
HWND MainDialog = nullptr;
HWND MainList = nullptr;
OSVERSIONINFOA OsVersion{};
TIME_ZONE_INFORMATION TimeZoneInfo{};
int ScreenWidth = 0;
int ScreenHeight = 0;
int ShowCommand = SW_SHOWNORMAL;
