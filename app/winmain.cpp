// TallyDesk's entry point: start-up, the message loop and what shutdown releases.
#include <windows.h>
#include <commctrl.h>

#include <string>

#include "accounting/account_changes.h"
#include "app/win32/main_dialog.h"
#include "app/win32/main_window.h"
#include "app/win32/password_dialog.h"
#include "directory/dirclient_setup.h"
#include "platform/files.h"
#include "program/session.h"
#include "program/settings.h"
#include "program/win32/handles.h"
#include "program/win32/main_windows.h"
#include "program/win32/platform_settings.h"

namespace {

constexpr DWORD kFirstVersionWith3dControls = 4;

void ReadOsVersion() {
    OsVersion = OSVERSIONINFOA{};
    OsVersion.dwOSVersionInfoSize = sizeof(OsVersion);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    GetVersionExA(&OsVersion);
#pragma GCC diagnostic pop
}

void LoadProgramSettings() {
    PrivateProfiles profiles;
    WindowsPlatformFacts platform;
    ClientNetwork network(DirectoryContext);
    LoadSettings(gSettings, profiles, platform, network);
}

// Records that an earlier run left waiting in an outbox reach the log before anything else
// happens; the operator hears what was appended, what still waits and what cannot be settled.
void TakeUpWaitingRecords() {
    const OutboxRecovery recovery = DeliverWaitingRecords();
    const std::string text = OutboxRecoveryMessage(recovery);
    if (!text.empty()) {
        const bool problem = recovery.waiting > 0 || !recovery.doubtful.empty();
        MessageBoxA(nullptr, text.c_str(), problem ? "Error" : "Tallydsk",
                    MB_OK | (problem ? MB_ICONWARNING : MB_ICONINFORMATION));
    }
}

// While a file lock of another program is waited for (a few seconds at most), the windows go on
// being painted; the operator's input waits until the wait is over.
void PaintWhileWaiting() {
    MSG message{};
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE | PM_QS_PAINT)) {
        DispatchMessageA(&message);
    }
}

int RunMessageLoop(HACCEL accelerators) {
    MSG message{};
    for (;;) {
        const BOOL got = GetMessageA(&message, nullptr, 0, 0);
        if (got == 0) {
            return static_cast<int>(message.wParam);
        }
        if (got < 0) {
            return 0;  // the queue is gone; nothing more will arrive
        }
        // Translated for MainWindow whatever window the key went to: the accelerators are the
        // main dialog's keyboard shortcuts too.
        if (TranslateAcceleratorA(MainWindow, accelerators, &message) == 0) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int showCommand) {
    ProgramInstance = instance;

    ReadOsVersion();
    Ctl3dLibrary ctl3d;
    if (OsVersion.dwMajorVersion < kFirstVersionWith3dControls) {
        ctl3d.Load(instance);
    }

    // Declared in this order so that the brush goes before the bitmap it was made from.
    UniqueBitmap pattern(LoadBitmapA(instance, "Tallydsk"));
    UniqueBrush background(CreatePatternBrush(pattern.Get()));
    RegisterMainWindowClass(instance, background.Get());

    ScreenWidth = GetSystemMetrics(SM_CXSCREEN);
    ScreenHeight = GetSystemMetrics(SM_CYSCREEN);
    MainWindow = CreateMainWindow(instance);

    tally::platform::SetLockWaitHook(PaintWhileWaiting);
    // A directory server's login without a PasswordFile asks for the password as it opens.
    DirClientSetPasswordPrompt(AskDirectoryPassword);
    NetInitLibrary(nullptr, nullptr);
    if (DirIsLoggedIn() == 0) {
        const std::string text = NotLoggedInMessage(DirClientLastProblem());
        MessageBoxA(nullptr, text.c_str(), "Tallydsk", MB_OK);
        return 0;
    }

    OpenDirectoryContext();
    GetTimeZoneInformation(&TimeZoneInfo);
    LoadProgramSettings();
    TakeUpWaitingRecords();
    if (commandLine != nullptr) {
        ClientNameContext client(DirectoryContext);
        ApplyStartContext(commandLine, client, CurrentContextName);
    }

    InitCommonControls();
    UniqueAccelerators accelerators(LoadAcceleratorsA(instance, "Tallydsk"));
    ShowCommand = showCommand;
    ShowWindow(MainWindow, SW_HIDE);
    UpdateWindow(MainWindow);
    CreateDialogParamA(instance, "MainDialog", MainWindow, MainDialogProc, 0);

    return RunMessageLoop(accelerators.Get());
}
