// The browsing shell on real windows: the Select Context and Select Group templates, MainList's
// entries and selection as the display reads them, and the double-click rule's posted commands.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "app/win32/commands.h"
#include "app/win32/main_list_actions.h"
#include "browse/selection.h"
#include "browse/win32/list_box.h"
#include "browse/win32/selection_view.h"
#include "program/settings.h"
#include "program/win32/main_windows.h"
#include "resources/resource.h"

namespace {

INT_PTR CALLBACK PassiveProc(HWND, UINT message, WPARAM, LPARAM) {
    return message == WM_INITDIALOG ? TRUE : FALSE;
}

std::string ClassOf(HWND window) {
    char name[64] = {};
    GetClassNameA(window, name, sizeof name);
    return name;
}

struct Placed {
    int x, y, cx, cy;
};

// A control's place in dialog units, by mapping the expected units to pixels.
RECT Pixels(HWND dialog, Placed at) {
    RECT r{at.x, at.y, at.cx, at.cy};
    MapDialogRect(dialog, &r);
    return {r.left, r.top, r.left + r.right, r.top + r.bottom};
}

RECT PlaceInDialog(HWND dialog, HWND control) {
    RECT r{};
    GetWindowRect(control, &r);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

class BrowseShell : public ::testing::Test {
  protected:
    void SetUp() override {
        ProgramInstance = GetModuleHandleA(nullptr);
        owner_ = CreateWindowA("STATIC", "owner", WS_OVERLAPPEDWINDOW, 0, 0, 600, 500, nullptr,
                               nullptr, ProgramInstance, nullptr);
        ASSERT_NE(owner_, nullptr);
    }
    void TearDown() override {
        if (dialog_ != nullptr) {
            DestroyWindow(dialog_);
        }
        DestroyWindow(owner_);
        MainWindow = nullptr;
        gSettings = Settings{};
        SelectedCount = 0;
        GroupSelected = false;
    }

    HWND Open(const char* templateName) {
        dialog_ = CreateDialogParamA(ProgramInstance, templateName, owner_, PassiveProc, 0);
        return dialog_;
    }

    void ExpectListAt(int id, Placed at) {
        HWND list = GetDlgItem(dialog_, id);
        ASSERT_NE(list, nullptr);
        EXPECT_EQ(ClassOf(list), "ListBox");
        const LONG style = GetWindowLongA(list, GWL_STYLE);
        EXPECT_TRUE(style & LBS_SORT);
        EXPECT_TRUE(style & LBS_NOTIFY);
        EXPECT_FALSE(IsMultipleSelectionList(list));
        const RECT expected = Pixels(dialog_, at);
        const RECT actual = PlaceInDialog(dialog_, list);
        EXPECT_EQ(actual.left, expected.left);
        EXPECT_EQ(actual.top, expected.top);
        EXPECT_EQ(actual.right, expected.right);  // integral height rounds the bottom
    }

    std::vector<int> PostedCommands() {
        std::vector<int> commands;
        MSG message{};
        while (PeekMessageA(&message, MainWindow, WM_COMMAND, WM_COMMAND, PM_REMOVE)) {
            commands.push_back(LOWORD(message.wParam));
        }
        return commands;
    }

    HWND owner_ = nullptr;
    HWND dialog_ = nullptr;
};

TEST_F(BrowseShell, SelectContextTemplate) {
    ASSERT_NE(Open("ContextList"), nullptr);
    ExpectListAt(IDC_CONTEXT_LIST, {6, 26, 148, 108});
    ASSERT_NE(GetDlgItem(dialog_, IDC_CONTEXT), nullptr);
    EXPECT_EQ(ClassOf(GetDlgItem(dialog_, IDC_CONTEXT)), "Static");
    ASSERT_NE(GetDlgItem(dialog_, IDCANCEL), nullptr);
    EXPECT_EQ(GetDlgItem(dialog_, IDOK), nullptr);
    char caption[64] = {};
    GetWindowTextA(dialog_, caption, sizeof caption);
    EXPECT_STREQ(caption, "Select Context");
}

TEST_F(BrowseShell, SelectGroupTemplate) {
    ASSERT_NE(Open("GroupList"), nullptr);
    ExpectListAt(IDC_GROUP_LIST, {6, 6, 148, 118});
    EXPECT_NE(GetDlgItem(dialog_, IDOK), nullptr);
    EXPECT_NE(GetDlgItem(dialog_, IDCANCEL), nullptr);
}

// MainList's own template: several entries, a caret entry current without being selected.
TEST_F(BrowseShell, MainListEntriesAndSelection) {
    ASSERT_NE(Open("MainDialog"), nullptr);
    HWND list = GetDlgItem(dialog_, IDC_MAIN_LIST);
    ASSERT_TRUE(IsMultipleSelectionList(list));
    {
        ListBoxEntries entries(list);
        entries.Add("leftover");
        entries.Clear();
        for (const char* entry :
             {"mjones", "JSMITH", "STAFF (Group)", "* (All users in this context)"}) {
            entries.Add(entry);
        }
        entries.SelectFirst();
    }
    ListBoxSelection selection(list);
    EXPECT_EQ(selection.CountSelected(), 0);
    EXPECT_EQ(selection.CurrentText(), "* (All users in this context)");
    EXPECT_EQ(ListBoxText(list, 2), "mjones");  // the list's own case-insensitive order
    EXPECT_EQ(ListBoxText(list, 9), "");

    SendMessageA(list, LB_SETSEL, TRUE, -1);  // what the popup menu does below the last entry
    EXPECT_EQ(selection.CountSelected(), 4);
    SendMessageA(list, LB_SETSEL, FALSE, -1);
    SendMessageA(list, LB_SETSEL, TRUE, 1);
    SendMessageA(list, LB_SETCARETINDEX, 1, FALSE);
    EXPECT_EQ(selection.CountSelected(), 1);
    EXPECT_EQ(selection.CurrentText(), "JSMITH");
}

TEST_F(BrowseShell, DoubleClickPostsTheConfiguredAccountCommand) {
    MainWindow = owner_;
    gSettings.DblClickUser = 2;
    gSettings.DblClickGroup = 3;
    SelectedCount = 1;
    GroupSelected = false;
    OnMainListDoubleClick();
    GroupSelected = true;
    OnMainListDoubleClick();
    SelectedCount = 2;
    GroupSelected = false;
    OnMainListDoubleClick();
    EXPECT_EQ(PostedCommands(),
              (std::vector<int>{CMD_CHARGE, CMD_SET_CREDIT_LIMIT, CMD_SET_CREDIT_LIMIT}));
}

// CMD_DEPOSIT + 7 would be Exit and + 8 Preferences: a stored index outside the four posts nothing.
TEST_F(BrowseShell, DoubleClickIgnoresAnIndexOutsideTheFourActions) {
    MainWindow = owner_;
    SelectedCount = 1;
    gSettings.DblClickUser = 7;
    OnMainListDoubleClick();
    gSettings.DblClickUser = -1;
    OnMainListDoubleClick();
    GroupSelected = true;
    gSettings.DblClickGroup = 8;
    OnMainListDoubleClick();
    EXPECT_TRUE(PostedCommands().empty());
}

}  // namespace
