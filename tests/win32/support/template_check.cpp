#include "template_check.h"

namespace tally::win32test {

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
    if (GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_CLIENTEDGE) {
        style |= WS_BORDER;
    }
    return style;
}

RECT DialogUnits(HWND dialog, int x, int y, int cx, int cy) {
    RECT r{x, y, cx, cy};
    MapDialogRect(dialog, &r);
    return {r.left, r.top, r.left + r.right, r.top + r.bottom};
}

void TemplateTest::SetUp() {
    owner_ = CreateWindowA("STATIC", "owner", WS_OVERLAPPEDWINDOW, 0, 0, ownerWidth_, ownerHeight_,
                           nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(owner_, nullptr);
}

void TemplateTest::TearDown() {
    if (dialog_ != nullptr) {
        DestroyWindow(dialog_);
    }
    DestroyWindow(owner_);
}

void TemplateTest::Open(const char* name, DLGPROC procedure) {
    dialog_ = CreateDialogParamA(GetModuleHandleA(nullptr), name, owner_, procedure, 0);
    ASSERT_NE(dialog_, nullptr) << name;
}

void TemplateTest::ExpectClientSize(int cx, int cy) {
    RECT client{};
    GetClientRect(dialog_, &client);
    const RECT want = DialogUnits(dialog_, 0, 0, cx, cy);
    EXPECT_EQ(client.right, want.right);
    EXPECT_EQ(client.bottom, want.bottom);
}

void TemplateTest::ExpectFont(const char* face) {
    const HFONT font = reinterpret_cast<HFONT>(SendMessageA(dialog_, WM_GETFONT, 0, 0));
    ASSERT_NE(font, nullptr) << "the template's font was not created";
    LOGFONTA logFont{};
    GetObjectA(font, sizeof logFont, &logFont);
    EXPECT_STREQ(logFont.lfFaceName, face);
    const HDC screen = GetDC(nullptr);
    EXPECT_EQ(logFont.lfHeight, -MulDiv(8, GetDeviceCaps(screen, LOGPIXELSY), 72));
    ReleaseDC(nullptr, screen);
}

void TemplateTest::ExpectControls(const std::vector<ExpectedControl>& controls,
                                  const ControlDetails& details) {
    HWND child = GetWindow(dialog_, GW_CHILD);
    for (const ExpectedControl& expected : controls) {
        ASSERT_NE(child, nullptr) << "missing control " << expected.id << " " << expected.text;
        SCOPED_TRACE(std::string("control ") + std::to_string(expected.id) + " " + expected.text);
        EXPECT_EQ(static_cast<int>(static_cast<short>(GetDlgCtrlID(child))), expected.id);
        EXPECT_EQ(ClassOf(child), expected.className);
        details(child, expected);
        ExpectPlace(child, expected);
        child = GetWindow(child, GW_HWNDNEXT);
    }
    EXPECT_EQ(child, nullptr) << "more controls than the table lists";
}

void TemplateTest::ExpectPlace(HWND control, const ExpectedControl& expected) {
    RECT got{};
    GetWindowRect(control, &got);
    MapWindowPoints(nullptr, dialog_, reinterpret_cast<POINT*>(&got), 2);
    const RECT want = DialogUnits(dialog_, expected.x, expected.y, expected.cx, expected.cy);
    EXPECT_EQ(got.left, want.left);
    EXPECT_EQ(got.top, want.top);
    if (expected.check != kOnlyOrigin) {
        EXPECT_EQ(got.right, want.right);
    }
    if (expected.check == kWholeRect) {
        EXPECT_EQ(got.bottom, want.bottom);
    }
}

std::vector<int> TemplateTest::TabOrder() {
    std::vector<int> ids;
    const HWND first = GetNextDlgTabItem(dialog_, nullptr, FALSE);
    for (HWND at = first; at != nullptr && ids.size() < 16;) {
        ids.push_back(GetDlgCtrlID(at));
        at = GetNextDlgTabItem(dialog_, at, FALSE);
        if (at == first) {
            break;
        }
    }
    return ids;
}

}  // namespace tally::win32test
