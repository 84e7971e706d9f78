// The Win32 program's program-wide values: the program instance, the two windows that live for
// the whole run with the list they hold, and what start-up learned about the platform.
#pragma once

#include <windows.h>

extern HINSTANCE ProgramInstance;
extern HWND MainWindow;
extern HWND MainDialog;
extern HWND MainList;  // MainDialog's IDC_MAIN_LIST
extern OSVERSIONINFOA OsVersion;
extern TIME_ZONE_INFORMATION TimeZoneInfo;
extern int ScreenWidth;
extern int ScreenHeight;
extern int ShowCommand;  // the show state the program was started with

inline constexpr const char* kMainWindowClass = "Tallydsk";
inline constexpr const char* kMainWindowTitle = "TallyDesk";
inline constexpr DWORD kMainWindowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
