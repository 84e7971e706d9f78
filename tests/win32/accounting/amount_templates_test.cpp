// The three amount dialogs as the program loads them: caption, font, size, every control's id,
// class, style, text and place, and the tab order that gives the amount field the first focus.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "resources/resource.h"

namespace {

constexpr int kStatic = -1;
constexpr DWORD kTemplateFrame = DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU;
constexpr DWORD kEdit = ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP;
constexpr DWORD kPush = BS_PUSHBUTTON | WS_TABSTOP;

struct ControlSpec {
    int id;
    const char* className;
    DWORD style;  // bits that must be set, beyond WS_CHILD
    const char* text;
    int x, y, cx, cy;
};

INT_PTR CALLBACK PassiveProc(HWND, UINT message, WPARAM, LPARAM) {
    return message == WM_INITDIALOG ? TRUE : FALSE;
}

std::string ClassOf(HWND window) {
    char name[64] = {};
    GetClassNameA(window, name, sizeof name);
    return name;
}

std::string TextOf(HWND window) {
    char text[256] = {};
    GetWindowTextA(window, text, sizeof text);
    return text;
}

DWORD StyleOf(HWND window) {
    DWORD style = static_cast<DWORD>(GetWindowLongA(window, GWL_STYLE));
    // A 3-D dialog turns a control's border into a client edge.
    if (GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_CLIENTEDGE)
        style |= WS_BORDER;
    return style;
}

// Origin and size are converted each on its own, so the far edge is the sum of two rounded
// values, not the rounded sum.
RECT DialogUnits(HWND dialog, int x, int y, int cx, int cy) {
    RECT r{x, y, cx, cy};
    MapDialogRect(dialog, &r);
    return {r.left, r.top, r.left + r.right, r.top + r.bottom};
}

class AmountTemplates : public ::testing::Test {
  protected:
    HWND owner = nullptr;
    HWND dialog = nullptr;

    void SetUp() override {
        owner = CreateWindowA("STATIC", "owner", WS_OVERLAPPEDWINDOW, 0, 0, 640, 480, nullptr,
                              nullptr, GetModuleHandleA(nullptr), nullptr);
        ASSERT_NE(owner, nullptr);
    }
    void TearDown() override {
        if (dialog != nullptr)
            DestroyWindow(dialog);
        DestroyWindow(owner);
    }

    void open(const char* name) {
        dialog = CreateDialogParamA(GetModuleHandleA(nullptr), name, owner, PassiveProc, 0);
        ASSERT_NE(dialog, nullptr) << name;
    }

    void expectFrame(const char* caption, int cx, int cy) {
        EXPECT_EQ(TextOf(dialog), caption);
        const DWORD style = static_cast<DWORD>(GetWindowLongA(dialog, GWL_STYLE));
        EXPECT_EQ(style & (WS_POPUP | WS_CAPTION | WS_SYSMENU), WS_POPUP | WS_CAPTION | WS_SYSMENU)
            << std::hex << style;
        EXPECT_EQ(style & (WS_THICKFRAME | WS_MAXIMIZEBOX | WS_MINIMIZEBOX), 0u)
            << std::hex << style;
        EXPECT_TRUE(GetWindowLongA(dialog, GWL_EXSTYLE) & WS_EX_DLGMODALFRAME) << "modal frame";
        RECT client{};
        GetClientRect(dialog, &client);
        const RECT want = DialogUnits(dialog, 0, 0, cx, cy);
        EXPECT_EQ(client.right, want.right);
        EXPECT_EQ(client.bottom, want.bottom);
    }

    void expectFont(const char* face) {
        const HFONT font = reinterpret_cast<HFONT>(SendMessageA(dialog, WM_GETFONT, 0, 0));
        ASSERT_NE(font, nullptr) << "the template's font was not created";
        LOGFONTA logFont{};
        GetObjectA(font, sizeof logFont, &logFont);
        EXPECT_STREQ(logFont.lfFaceName, face);
        const HDC screen = GetDC(nullptr);
        EXPECT_EQ(logFont.lfHeight, -MulDiv(8, GetDeviceCaps(screen, LOGPIXELSY), 72));
        ReleaseDC(nullptr, screen);
        // Every control speaks the dialog's font, so their places agree with the template's.
        for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr;
             child = GetWindow(child, GW_HWNDNEXT)) {
            EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageA(child, WM_GETFONT, 0, 0)), font)
                << "control " << GetDlgCtrlID(child);
        }
    }

    // The controls in template order, each against its row.
    void expectControls(const std::vector<ControlSpec>& specs) {
        HWND child = GetWindow(dialog, GW_CHILD);
        for (const ControlSpec& spec : specs) {
            ASSERT_NE(child, nullptr) << "missing control " << spec.id << " " << spec.text;
            SCOPED_TRACE(std::string("control ") + std::to_string(spec.id) + " " + spec.text);
            EXPECT_EQ(static_cast<int>(static_cast<short>(GetDlgCtrlID(child))), spec.id);
            EXPECT_EQ(ClassOf(child), spec.className);
            const DWORD style = StyleOf(child);
            EXPECT_EQ(style & (WS_CHILD | WS_VISIBLE | spec.style),
                      WS_CHILD | WS_VISIBLE | spec.style)
                << std::hex << style << " wants " << spec.style;
            if (ClassOf(child) == "Static") {
                EXPECT_EQ(style & SS_TYPEMASK, spec.style & SS_TYPEMASK) << "alignment";
                EXPECT_EQ(style & WS_TABSTOP, 0u) << "a label takes no focus";
            } else if (ClassOf(child) == "Button") {
                // The dialog manager may mark OK as the default while the amount field has the
                // focus; the template itself asks for plain push buttons and one check box.
                const DWORD type = style & BS_TYPEMASK;
                const DWORD want = spec.style & BS_TYPEMASK;
                if (spec.id == IDOK && want == BS_PUSHBUTTON)
                    EXPECT_TRUE(type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON) << type;
                else
                    EXPECT_EQ(type, want);
            } else if (ClassOf(child) == "Edit") {
                EXPECT_EQ(style & (ES_MULTILINE | ES_PASSWORD | ES_READONLY), 0u);
            }
            EXPECT_EQ(TextOf(child), spec.text);
            RECT got{};
            GetWindowRect(child, &got);
            MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&got), 2);
            const RECT want = DialogUnits(dialog, spec.x, spec.y, spec.cx, spec.cy);
            EXPECT_EQ(got.left, want.left);
            EXPECT_EQ(got.top, want.top);
            EXPECT_EQ(got.right, want.right);
            EXPECT_EQ(got.bottom, want.bottom);
            child = GetWindow(child, GW_HWNDNEXT);
        }
        EXPECT_EQ(child, nullptr) << "more controls than the table lists";
    }

    // The ids that Tab visits, starting where the dialog manager puts the first focus.
    std::vector<int> tabOrder() {
        std::vector<int> ids;
        const HWND first = GetNextDlgTabItem(dialog, nullptr, FALSE);
        for (HWND at = first; at != nullptr && ids.size() < 16;) {
            ids.push_back(GetDlgCtrlID(at));
            at = GetNextDlgTabItem(dialog, at, FALSE);
            if (at == first)
                break;
        }
        return ids;
    }
};

TEST_F(AmountTemplates, DepositDialog) {
    open("DepositDialog");
    expectFrame("Deposit", 150, 55);
    expectFont("Helv");
    expectControls({
        {IDC_AMOUNT_PROMPT, "Static", SS_CENTER, "Deposit", 0, 6, 150, 8},
        {IDC_AMOUNT_LABEL, "Static", SS_RIGHT, "Enter deposit amount:", 2, 20, 74, 8},
        {IDC_AMOUNT, "Edit", kEdit, "", 79, 18, 61, 12},
        {IDOK, "Button", kPush, "OK", 32, 36, 40, 14},
        {IDCANCEL, "Button", kPush, "Cancel", 82, 36, 40, 14},
    });
    EXPECT_EQ(tabOrder(), (std::vector<int>{IDC_AMOUNT, IDOK, IDCANCEL}));
}

TEST_F(AmountTemplates, ChargeDialog) {
    open("ChargeDialog");
    expectFrame("Charge", 150, 72);
    expectFont("Helv");
    expectControls({
        {IDC_AMOUNT_PROMPT, "Static", SS_CENTER, "Charge", 0, 6, 150, 8},
        {kStatic, "Static", SS_RIGHT, "Enter charge amount:", 2, 20, 74, 8},
        {IDC_AMOUNT, "Edit", kEdit, "", 79, 18, 61, 12},
        {IDOK, "Button", kPush, "OK", 30, 53, 40, 14},
        {IDCANCEL, "Button", kPush, "Cancel", 80, 53, 40, 14},
        {kStatic, "Static", SS_RIGHT, "Enter charge reason:", 2, 36, 74, 8},
        {IDC_CHARGE_REASON, "Edit", kEdit, "", 79, 35, 61, 12},
    });
    // The reason comes after the buttons: Tab from the amount reaches OK first.
    EXPECT_EQ(tabOrder(), (std::vector<int>{IDC_AMOUNT, IDOK, IDCANCEL, IDC_CHARGE_REASON}));
}

TEST_F(AmountTemplates, LimitDialog) {
    open("LimitDialog");
    expectFrame("Limit", 150, 72);
    expectFont("MS Sans Serif");
    expectControls({
        {IDC_AMOUNT_PROMPT, "Static", SS_CENTER, "Limit", 0, 6, 150, 8},
        {kStatic, "Static", SS_RIGHT, "Enter credit limit:", 2, 21, 74, 8},
        {IDC_AMOUNT, "Edit", kEdit, "", 79, 19, 61, 12},
        {IDOK, "Button", kPush, "OK", 30, 53, 40, 14},
        {IDCANCEL, "Button", kPush, "Cancel", 80, 53, 40, 14},
        {IDC_ALLOW_UNLIMITED, "Button", BS_AUTOCHECKBOX | WS_TABSTOP, "Allow unlimited credit", 41,
         36, 77, 10},
    });
    EXPECT_EQ(IsDlgButtonChecked(dialog, IDC_ALLOW_UNLIMITED), static_cast<UINT>(BST_UNCHECKED));
    EXPECT_EQ(tabOrder(), (std::vector<int>{IDC_AMOUNT, IDOK, IDCANCEL, IDC_ALLOW_UNLIMITED}));
}

}  // namespace
