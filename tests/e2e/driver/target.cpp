// A small stand-in program with the kinds of windows TallyDesk has (a main window with a menu, a
// modeless child dialog with a list box, a drop-down list, a check box, buttons and static texts,
// message boxes), so that the driver's own scenario can check every driver command against known
// answers without depending on the application.
#include <windows.h>

#include "dialog_template.h"

namespace {

constexpr int kHello = 318;
constexpr int kGreyed = 319;
constexpr int kExit = 317;
constexpr int kShowBox = 310;
constexpr int kList = 101;
constexpr int kServers = 409;
constexpr int kChosen = 414;
constexpr int kContext = 480;
constexpr int kRecord = 413;
constexpr int kName = 200;

HWND mainWindow = nullptr;
HWND childDialog = nullptr;

INT_PTR CALLBACK childProc(HWND dlg, UINT msg, WPARAM wp, LPARAM) {
    switch (msg) {
        case WM_INITDIALOG: {
            SetDlgItemTextA(dlg, kContext, "Context: TEST.CORP");
            for (const char* item : {"BETA", "ALPHA", "GAMMA (Group)"}) {
                SendDlgItemMessageA(dlg, kList, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item));
            }
            for (const char* item : {"FS2", "ACCT1"}) {
                SendDlgItemMessageA(dlg, kServers, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item));
            }
            SendDlgItemMessageA(dlg, kServers, CB_SETCURSEL, 0, 0);
            SetWindowPos(dlg, nullptr, 10, 10, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
            return TRUE;
        }
        case WM_COMMAND:
            if (LOWORD(wp) == kServers && HIWORD(wp) == CBN_SELCHANGE) {
                char name[64] = {};
                GetDlgItemTextA(dlg, kServers, name, sizeof name);
                char text[128];
                wsprintfA(text, "Chosen: %s", name);
                SetDlgItemTextA(dlg, kChosen, text);
                return TRUE;
            }
            if (LOWORD(wp) == kList && HIWORD(wp) == LBN_SELCHANGE) {
                int count = static_cast<int>(SendDlgItemMessageA(dlg, kList, LB_GETSELCOUNT, 0, 0));
                char text[64];
                wsprintfA(text, "Selected: %d", count);
                SetDlgItemTextA(dlg, kName, text);
                return TRUE;
            }
            if (LOWORD(wp) == kShowBox || LOWORD(wp) == kExit) {
                PostMessageA(mainWindow, WM_COMMAND, LOWORD(wp), 0);
                return TRUE;
            }
            return FALSE;
        default:
            return FALSE;
    }
}

HWND makeChildDialog(HWND parent) {
    e2e::DialogTemplate t(WS_CHILD | WS_VISIBLE | DS_MODALFRAME, 0, 0, 219, 120, "",
                          "MS Sans Serif", 8);
    t.add(kList, 0x83, LBS_SORT | LBS_EXTENDEDSEL | LBS_NOTIFY | WS_VSCROLL | WS_BORDER, 6, 8, 147,
          60, "");
    t.add(kExit, 0x80, BS_PUSHBUTTON, 155, 6, 60, 17, "E&xit");
    t.add(kShowBox, 0x80, BS_PUSHBUTTON, 155, 24, 60, 17, "&Deposit");
    t.add(kServers, 0x85, CBS_DROPDOWNLIST | CBS_SORT | WS_VSCROLL, 44, 74, 157, 83, "");
    t.add(kRecord, 0x80, BS_AUTOCHECKBOX, 6, 90, 126, 10, "Record");
    t.add(kChosen, 0x82, SS_CENTER, 5, 101, 200, 8, "Loglocation");
    t.add(kContext, 0x82, SS_LEFT, 2, 110, 215, 8, "");
    t.add(kName, 0x81, ES_AUTOHSCROLL | WS_BORDER, 155, 42, 60, 12, "");
    return CreateDialogIndirectParamA(GetModuleHandleA(nullptr), t.get(), parent, childProc, 0);
}

HMENU makeMenu() {
    HMENU bar = CreateMenu();
    HMENU file = CreatePopupMenu();
    AppendMenuA(file, MF_STRING, kHello, "&Hello");
    AppendMenuA(file, MF_STRING | MF_GRAYED, kGreyed, "&Greyed");
    AppendMenuA(file, MF_SEPARATOR, 0, nullptr);
    AppendMenuA(file, MF_STRING, kExit, "E&xit");
    AppendMenuA(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(file), "&File");
    return bar;
}

LRESULT CALLBACK mainProc(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
        case WM_COMMAND:
            switch (LOWORD(wp)) {
                case kHello:
                    MessageBoxA(w, "Hello from the target\nSecond line", "Target", MB_OK);
                    return 0;
                case kShowBox:
                    MessageBoxA(nullptr, "Deposit pressed", "Tallydsk", MB_OKCANCEL);
                    return 0;
                case kExit:
                    PostMessageA(w, WM_CLOSE, 0, 0);
                    return 0;
                default:
                    break;
            }
            break;
        case WM_SYSCOMMAND:
            if (wp == SC_MINIMIZE) {
                SetWindowTextA(w, "E2E Target: TEST.CORP");
            }
            if (wp == SC_RESTORE) {
                SetWindowTextA(w, "E2E Target");
            }
            break;
        case WM_CLOSE:
            DestroyWindow(childDialog);
            DestroyWindow(w);
            return 0;
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        default:
            break;
    }
    return DefWindowProcA(w, msg, wp, lp);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int show) {
    WNDCLASSA cls{};
    cls.lpfnWndProc = mainProc;
    cls.hInstance = instance;
    cls.hCursor = LoadCursor(nullptr, IDC_ARROW);
    cls.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_APPWORKSPACE + 1);
    cls.lpszClassName = "E2eTarget";
    RegisterClassA(&cls);
    mainWindow = CreateWindowA("E2eTarget", "E2E Target",
                               WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, 100, 100,
                               500, 320, nullptr, makeMenu(), instance, nullptr);
    childDialog = makeChildDialog(mainWindow);
    if (commandLine && *commandLine) {
        SetDlgItemTextA(childDialog, kContext, commandLine);
    }
    ShowWindow(mainWindow, show);
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return static_cast<int>(msg.wParam);
}
