// The shell's resources as the program loads them: every dialog template's controls (id,
// class, style, text, position), the menu and the accelerator table.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "app/win32/about_dialog.h"
#include "app/win32/main_dialog.h"
#include "app/win32/main_window.h"
#include "app/win32/preferences_dialog.h"
#include "app/win32/tips_dialog.h"
#include "browse/win32/schema_keyword_list.h"
#include "program/win32/dialog_support.h"
#include "program/win32/main_windows.h"
#include "resources/resource.h"
#include "tests/win32/support/template_check.h"

namespace {

using tally::win32test::ClassOf;
using tally::win32test::DialogUnits;
using tally::win32test::ExpectedControl;
using tally::win32test::kNoHeight;
using tally::win32test::kOnlyOrigin;
using tally::win32test::kStatic;
using tally::win32test::StyleOf;
using tally::win32test::TextOf;

constexpr DWORD kPush = BS_PUSHBUTTON;

void ExpectShellControl(HWND child, const ExpectedControl& expected) {
    DWORD style = StyleOf(child);
    // A list box shows its scroll bar only while it has more lines than fit.
    if (ClassOf(child) == "ListBox") {
        for (int line = 0; line < 100; ++line) {
            SendMessageA(child, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>("line"));
        }
        style |= static_cast<DWORD>(GetWindowLongA(child, GWL_STYLE));
    }
    EXPECT_EQ(style & (WS_CHILD | expected.style), WS_CHILD | expected.style)
        << std::hex << style << " wants " << expected.style;
    if (expected.style == kPush) {
        EXPECT_EQ(style & 0x0F, static_cast<DWORD>(BS_PUSHBUTTON));
    }
    const bool icon = ClassOf(child) == "Static" && (style & SS_TYPEMASK) == SS_ICON;
    if (icon) {
        EXPECT_NE(SendMessageA(child, STM_GETICON, 0, 0), 0) << "icon not loaded";
    }
    if (std::string(expected.className) != "ComboBox" &&
        std::string(expected.className) != "ListBox" && !icon) {
        EXPECT_EQ(TextOf(child), expected.text);
    }
}

class Templates : public tally::win32test::TemplateTest {
  protected:
    Templates() : TemplateTest(800, 700) {}

    void expectFont() { TemplateTest::ExpectFont("MS Sans Serif"); }

    void expectControls(const std::vector<ExpectedControl>& controls) {
        TemplateTest::ExpectControls(controls, ExpectShellControl);
    }
};

TEST_F(Templates, MainDialog) {
    Open("MainDialog");
    const DWORD style = static_cast<DWORD>(GetWindowLongA(dialog_, GWL_STYLE));
    EXPECT_EQ(style & (WS_CHILD | WS_VISIBLE | WS_DLGFRAME), WS_CHILD | WS_VISIBLE | WS_DLGFRAME);
    EXPECT_EQ(style & WS_CAPTION, static_cast<DWORD>(WS_DLGFRAME)) << "no caption";
    ExpectClientSize(219, 196);
    expectFont();
    const DWORD list = LBS_SORT | LBS_EXTENDEDSEL | LBS_NOTIFY | WS_VSCROLL | WS_BORDER;
    expectControls({
        {IDC_MAIN_LIST, "ListBox", list, "", 6, 8, 147, 139, kNoHeight},
        {CMD_EXIT, "Button", kPush, "E&xit", 155, 6, 60, 17},
        {CMD_CHANGE_CONTEXT, "Button", kPush, "Change C&ontext", 155, 24, 60, 17},
        {CMD_STATISTICS, "Button", kPush, "&Statistics", 155, 42, 60, 17},
        {CMD_PRINT_HISTORY, "Button", kPush, "Print Hist&ory", 155, 60, 60, 16},
        {CMD_SET_CREDIT_LIMIT, "Button", kPush, "Set Credit &Limit", 155, 77, 60, 17},
        {CMD_CHARGE, "Button", kPush, "&Charge", 155, 95, 60, 16},
        {CMD_SET_BALANCE, "Button", kPush, "Set &Balance", 155, 112, 60, 17},
        {CMD_DEPOSIT, "Button", kPush, "&Deposit", 155, 130, 60, 17},
        {kStatic, "Button", BS_GROUPBOX, "", 2, 0, 215, 149},
        {IDC_CONTEXT, "Static", SS_LEFT, "", 2, 151, 215, 8},
        {kStatic, "Button", BS_GROUPBOX, "", 2, 157, 215, 36},
        {kStatic, "Static", SS_RIGHT, "Fullname:", 3, 163, 38, 8},
        {IDC_FULL_NAME, "Static", SS_LEFT, "", 44, 163, 172, 8},
        {kStatic, "Static", SS_RIGHT, "Balance:", 3, 173, 38, 8},
        {IDC_BALANCE, "Static", SS_LEFT, "", 44, 173, 172, 8},
        {kStatic, "Static", SS_RIGHT, "Credit Limit:", 3, 183, 38, 8},
        {IDC_CREDIT_LIMIT, "Static", SS_LEFT, "", 44, 183, 172, 8},
    });
}

TEST_F(Templates, Preferences) {
    Open("Preferences");
    EXPECT_EQ(TextOf(dialog_), "Preferences");
    ExpectClientSize(243, 167);
    expectFont();
    const DWORD dropDown = CBS_DROPDOWNLIST;
    const DWORD sorted = CBS_DROPDOWNLIST | CBS_SORT;
    expectControls({
        {kStatic, "Button", BS_GROUPBOX, "Double Click : User", 11, 3, 94, 26},
        {IDC_DBLCLICK_USER, "ComboBox", dropDown, "", 15, 13, 86, 46, kNoHeight},
        {kStatic, "Button", BS_GROUPBOX, "Double Click : Group/Multiple Users", 111, 3, 121, 26},
        {IDC_DBLCLICK_GROUP, "ComboBox", dropDown, "", 116, 13, 111, 46, kNoHeight},
        {kStatic, "Button", BS_GROUPBOX, "Accounting Type/Schema Keyword", 63, 34, 118, 26},
        {IDC_SCHEMA_KEYWORD, "ComboBox", sorted, "", 76, 44, 92, 85, kNoHeight},
        {kStatic, "Button", BS_GROUPBOX, "Read global preferences from server:", 40, 64, 165, 26},
        {IDC_LOG_SERVER, "ComboBox", sorted, "", 44, 74, 157, 83, kNoHeight},
        {kStatic, "Button", BS_GROUPBOX, "", 2, 92, 239, 31},
        {IDC_RECORD_TRANSACTIONS, "Button", BS_AUTOCHECKBOX, "Record transactions in log file:", 6,
         100, 126, 10},
        {IDC_LOG_LOCATION, "Static", SS_CENTER, "Loglocation", 5, 111, 233, 8},
        {IDC_NUMERICAL_FORMAT, "Static", SS_CENTER, "Numerical Format", 1, 127, 241, 8},
        {IDC_LOG_FORMAT, "Static", SS_CENTER, "Log Format", 1, 137, 241, 8},
        {IDOK, "Button", kPush, "Save", 67, 149, 40, 14},
        {IDCANCEL, "Button", kPush, "Cancel", 135, 149, 40, 14},
    });
    // The two unsorted lists must keep the action order: index i is command CMD_DEPOSIT + i.
    EXPECT_EQ(GetWindowLongA(GetDlgItem(dialog_, IDC_DBLCLICK_USER), GWL_STYLE) & CBS_SORT, 0);
    EXPECT_EQ(GetWindowLongA(GetDlgItem(dialog_, IDC_DBLCLICK_GROUP), GWL_STYLE) & CBS_SORT, 0);
}

TEST_F(Templates, About) {
    Open("About");
    EXPECT_EQ(TextOf(dialog_), "About TallyDesk");
    ExpectClientSize(145, 96);
    expectFont();
    expectControls({
        {IDC_VERSION, "Static", SS_CENTER, "", 1, 5, 143, 8},
        {kStatic, "Static", SS_CENTER, "Jobtally 4.x", 1, 15, 143, 8},
        {kStatic, "Static", SS_CENTER, "Printer accounting and control for Netware", 1, 24, 143, 8},
        {kStatic, "Static", SS_ICON, "", 66, 36, 20, 18, kOnlyOrigin},
        {IDOK, "Button", kPush, "OK", 54, 78, 40, 14},
    });
}

TEST_F(Templates, TipsStandAtTheirTemplatePosition) {
    Open("Tips", TipsDialogProc);
    EXPECT_EQ(TextOf(dialog_), "Tips!");
    ExpectClientSize(196, 96);
    expectFont();
    expectControls({
        {kStatic, "Static", SS_CENTER, "You may select multiple users from the list.", 1, 7, 194,
         8},
        {kStatic, "Static", SS_CENTER, "Groups are ignored in multiple selections.", 1, 20, 194, 8},
        {kStatic, "Static", SS_ICON, "", 88, 33, 20, 18, kOnlyOrigin},  // centred in the 194 units
        {kStatic, "Static", SS_CENTER, "Right click in the User/Group list for a quick popup menu.",
         1, 52, 194, 8},
        {kStatic, "Static", SS_CENTER, "Run multiple instances of Tallydsk for multiple contexts!",
         1, 65, 194, 8},
        {IDOK, "Button", kPush, "OK", 78, 78, 40, 14},
    });
    // The template places the dialog's client area, from the owner's client area.
    POINT client{0, 0};
    ClientToScreen(dialog_, &client);
    POINT origin{0, 0};
    ClientToScreen(owner_, &origin);
    const RECT want = DialogUnits(dialog_, 20, 51, 0, 0);
    EXPECT_EQ(client.x - origin.x, want.left);
    EXPECT_EQ(client.y - origin.y, want.top);
}

TEST_F(Templates, AboutIsCentredOverTheMainWindowAndNamesTheVersion) {
    MainWindow = owner_;
    SetWindowPos(owner_, nullptr, 40, 30, 700, 600, SWP_NOZORDER);
    Open("About", AboutDialogProc);
    char text[64] = {};
    GetDlgItemTextA(dialog_, IDC_VERSION, text, sizeof text);
    EXPECT_STREQ(text, "TallyDesk 4.25f (32 bit)");

    RECT client{}, window{}, box{};
    GetClientRect(owner_, &client);
    GetWindowRect(owner_, &window);
    GetWindowRect(dialog_, &box);
    const int border = ((window.right - window.left) - client.right) / 2;
    const int left = window.left + border;
    const int bottom = window.bottom - border;
    const int top = bottom - client.bottom;
    EXPECT_EQ(box.left, left + (client.right - (box.right - box.left)) / 2);
    EXPECT_EQ(box.top, top + (client.bottom - (box.bottom - box.top)) / 2);
    MainWindow = nullptr;
}

struct MenuSpec {
    std::string text;
    UINT id;  // 0 for a separator
};

std::vector<MenuSpec> ItemsOf(HMENU menu) {
    std::vector<MenuSpec> items;
    for (int i = 0; i < GetMenuItemCount(menu); ++i) {
        char text[64] = {};
        GetMenuStringA(menu, static_cast<UINT>(i), text, sizeof text, MF_BYPOSITION);
        const UINT state = GetMenuState(menu, static_cast<UINT>(i), MF_BYPOSITION);
        items.push_back({text, (state & MF_SEPARATOR) ? 0u : GetMenuItemID(menu, i)});
    }
    return items;
}

void ExpectItems(HMENU menu, const std::vector<MenuSpec>& want) {
    const std::vector<MenuSpec> got = ItemsOf(menu);
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t i = 0; i < want.size(); ++i) {
        EXPECT_EQ(got[i].text, want[i].text) << "item " << i;
        EXPECT_EQ(got[i].id, want[i].id) << want[i].text;
    }
}

TEST(Resources, MenuHasEveryItemWithItsCommand) {
    const HMENU menu = LoadMenuA(GetModuleHandleA(nullptr), "Tallydsk");
    ASSERT_NE(menu, nullptr);
    ASSERT_EQ(GetMenuItemCount(menu), 3);
    char title[32] = {};
    const char* titles[] = {"&Utility", "&Accounting", "&Help"};
    for (int i = 0; i < 3; ++i) {
        GetMenuStringA(menu, static_cast<UINT>(i), title, sizeof title, MF_BYPOSITION);
        EXPECT_STREQ(title, titles[i]);
    }
    ExpectItems(GetSubMenu(menu, 0),
                {{"Change &Context", 316}, {"&Preferences", 318}, {"", 0}, {"E&xit", 317}});
    ExpectItems(GetSubMenu(menu, 1), {{"&Deposit", 310},
                                      {"Set &Balance", 311},
                                      {"&Charge", 312},
                                      {"Set Credit &Limit", 313},
                                      {"Print Hist&ory", 314},
                                      {"&Statistics", 319}});
    ExpectItems(GetSubMenu(menu, 2), {{"&Tips", 2}, {"&How to order Jobtally", 3}, {"A&bout", 1}});
    DestroyMenu(menu);
}

TEST(Resources, AcceleratorsAreAltKeysInTableOrder) {
    const HACCEL table = LoadAcceleratorsA(GetModuleHandleA(nullptr), "Tallydsk");
    ASSERT_NE(table, nullptr);
    ACCEL entries[16] = {};
    ASSERT_EQ(CopyAcceleratorTableA(table, entries, 16), 8);
    const struct {
        char key;
        WORD command;
    } want[] = {{'X', 317}, {'O', 316}, {'S', 319}, {'O', 314},
                {'L', 313}, {'C', 312}, {'B', 311}, {'D', 310}};
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(entries[i].key, want[i].key) << i;
        EXPECT_EQ(entries[i].cmd, want[i].command) << i;
        EXPECT_EQ(entries[i].fVirt & (FVIRTKEY | FALT | FSHIFT | FCONTROL), FVIRTKEY | FALT) << i;
    }
}

TEST(Resources, AltOReachesChangeContextNotPrintHistory) {
    const HACCEL table = LoadAcceleratorsA(GetModuleHandleA(nullptr), "Tallydsk");
    static UINT received = 0;
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = [](HWND w, UINT m, WPARAM wp, LPARAM lp) -> LRESULT {
        if (m == WM_COMMAND) {
            received = LOWORD(wp);
        }
        return DefWindowProcA(w, m, wp, lp);
    };
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "AccelProbe";
    RegisterClassA(&windowClass);
    const HWND window = CreateWindowA("AccelProbe", "", WS_OVERLAPPED, 0, 0, 10, 10, nullptr,
                                      nullptr, GetModuleHandleA(nullptr), nullptr);
    BYTE keys[256] = {};
    GetKeyboardState(keys);
    keys[VK_MENU] = 0x80;
    SetKeyboardState(keys);
    MSG key{};
    key.hwnd = window;
    key.message = WM_SYSKEYDOWN;
    key.wParam = 'O';
    key.lParam = 0x20000001;  // context code: Alt held
    EXPECT_NE(TranslateAcceleratorA(window, table, &key), 0);
    EXPECT_EQ(received, 316u);
    keys[VK_MENU] = 0;
    SetKeyboardState(keys);
    DestroyWindow(window);
}

}  // namespace
