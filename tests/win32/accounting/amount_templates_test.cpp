// The three amount dialogs as the program loads them: caption, font, size, every control's id,
// class, style, text and place, and the tab order that gives the amount field the first focus.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "resources/resource.h"
#include "tests/win32/support/template_check.h"

namespace {

using tally::win32test::ClassOf;
using tally::win32test::ExpectedControl;
using tally::win32test::kStatic;
using tally::win32test::StyleOf;
using tally::win32test::TextOf;

constexpr DWORD kEdit = ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP;
constexpr DWORD kPush = BS_PUSHBUTTON | WS_TABSTOP;

// Every control visible, labels never focused, the amount fields plain single-line edits.
void ExpectAmountControl(HWND child, const ExpectedControl& expected) {
    const DWORD style = StyleOf(child);
    EXPECT_EQ(style & (WS_CHILD | WS_VISIBLE | expected.style),
              WS_CHILD | WS_VISIBLE | expected.style)
        << std::hex << style << " wants " << expected.style;
    if (ClassOf(child) == "Static") {
        EXPECT_EQ(style & SS_TYPEMASK, expected.style & SS_TYPEMASK) << "alignment";
        EXPECT_EQ(style & WS_TABSTOP, 0u) << "a label takes no focus";
    } else if (ClassOf(child) == "Button") {
        // The dialog manager may mark OK as the default while the amount field has the
        // focus; the template itself asks for plain push buttons and one check box.
        const DWORD type = style & BS_TYPEMASK;
        const DWORD want = expected.style & BS_TYPEMASK;
        if (expected.id == IDOK && want == BS_PUSHBUTTON) {
            EXPECT_TRUE(type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON) << type;
        } else {
            EXPECT_EQ(type, want);
        }
    } else if (ClassOf(child) == "Edit") {
        EXPECT_EQ(style & (ES_MULTILINE | ES_PASSWORD | ES_READONLY), 0u);
    }
    EXPECT_EQ(TextOf(child), expected.text);
}

class AmountTemplates : public tally::win32test::TemplateTest {
  protected:
    AmountTemplates() : TemplateTest(640, 480) {}

    void ExpectFrame(const char* caption, int cx, int cy) {
        EXPECT_EQ(TextOf(dialog_), caption);
        const DWORD style = static_cast<DWORD>(GetWindowLongA(dialog_, GWL_STYLE));
        EXPECT_EQ(style & (WS_POPUP | WS_CAPTION | WS_SYSMENU), WS_POPUP | WS_CAPTION | WS_SYSMENU)
            << std::hex << style;
        EXPECT_EQ(style & (WS_THICKFRAME | WS_MAXIMIZEBOX | WS_MINIMIZEBOX), 0u)
            << std::hex << style;
        EXPECT_TRUE(GetWindowLongA(dialog_, GWL_EXSTYLE) & WS_EX_DLGMODALFRAME) << "modal frame";
        ExpectClientSize(cx, cy);
    }

    void expectFont(const char* face) {
        TemplateTest::ExpectFont(face);
        const HFONT font = reinterpret_cast<HFONT>(SendMessageA(dialog_, WM_GETFONT, 0, 0));
        if (font == nullptr) {
            return;
        }
        // Every control speaks the dialog's font, so their places agree with the template's.
        for (HWND child = GetWindow(dialog_, GW_CHILD); child != nullptr;
             child = GetWindow(child, GW_HWNDNEXT)) {
            EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageA(child, WM_GETFONT, 0, 0)), font)
                << "control " << GetDlgCtrlID(child);
        }
    }

    void expectControls(const std::vector<ExpectedControl>& specs) {
        TemplateTest::ExpectControls(specs, ExpectAmountControl);
    }
};

TEST_F(AmountTemplates, DepositDialog) {
    Open("DepositDialog");
    ExpectFrame("Deposit", 150, 55);
    expectFont("Helv");
    expectControls({
        {IDC_AMOUNT_PROMPT, "Static", SS_CENTER, "Deposit", 0, 6, 150, 8},
        {IDC_AMOUNT_LABEL, "Static", SS_RIGHT, "Enter deposit amount:", 2, 20, 74, 8},
        {IDC_AMOUNT, "Edit", kEdit, "", 79, 18, 61, 12},
        {IDOK, "Button", kPush, "OK", 32, 36, 40, 14},
        {IDCANCEL, "Button", kPush, "Cancel", 82, 36, 40, 14},
    });
    EXPECT_EQ(TabOrder(), (std::vector<int>{IDC_AMOUNT, IDOK, IDCANCEL}));
}

TEST_F(AmountTemplates, ChargeDialog) {
    Open("ChargeDialog");
    ExpectFrame("Charge", 150, 72);
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
    EXPECT_EQ(TabOrder(), (std::vector<int>{IDC_AMOUNT, IDOK, IDCANCEL, IDC_CHARGE_REASON}));
}

TEST_F(AmountTemplates, LimitDialog) {
    Open("LimitDialog");
    ExpectFrame("Limit", 150, 72);
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
    EXPECT_EQ(IsDlgButtonChecked(dialog_, IDC_ALLOW_UNLIMITED), static_cast<UINT>(BST_UNCHECKED));
    EXPECT_EQ(TabOrder(), (std::vector<int>{IDC_AMOUNT, IDOK, IDCANCEL, IDC_ALLOW_UNLIMITED}));
}

}  // namespace
