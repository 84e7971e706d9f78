// A context of 10,000 users in the real MainDialog: every user, group and the all-users entry is
// listed, and the last user in the list can be selected and shown like any other.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "accounting/account_attributes.h"
#include "app/win32/about_dialog.h"
#include "app/win32/main_dialog.h"
#include "app/win32/main_window.h"
#include "app/win32/preferences_dialog.h"
#include "app/win32/tips_dialog.h"
#include "bench/browse/generated_network.h"
#include "browse/win32/list_box.h"
#include "browse/win32/schema_keyword_list.h"
#include "program/settings.h"
#include "program/win32/dialog_support.h"
#include "program/win32/main_windows.h"
#include "resources/resource.h"

namespace {

constexpr std::uint32_t kUsers = 10000;

std::string ItemText(int id) {
    char text[256] = {};
    GetDlgItemTextA(MainDialog, id, text, sizeof text);
    return text;
}

TEST(MainListScale, TenThousandUsersListCompletelyAndTheLastCanBeShown) {
    GeneratedNetwork network(kUsers, TALLY_SCHEMA_FILE);
    ASSERT_TRUE(network.Ok()) << network.Problem();
    gSettings.Schema = SelectAccountSchema("Standard Netware");
    gSettings.NumericalFormat = 1;
    ProgramInstance = GetModuleHandleA(nullptr);
    RegisterMainWindowClass(ProgramInstance, static_cast<HBRUSH>(GetStockObject(LTGRAY_BRUSH)));
    MainWindow = CreateMainWindow(ProgramInstance);
    ASSERT_NE(MainWindow, nullptr);
    ASSERT_NE(CreateDialogParamA(ProgramInstance, "MainDialog", MainWindow, MainDialogProc, 0),
              nullptr);

    const int count = static_cast<int>(SendMessageA(MainList, LB_GETCOUNT, 0, 0));
    EXPECT_EQ(count, static_cast<int>(kUsers + kUsers / 100 + 1));
    EXPECT_EQ(ListBoxText(MainList, 0), "* (All users in this context)");
    EXPECT_EQ(ListBoxText(MainList, count - 1), "U10000");

    SendMessageA(MainList, LB_SETSEL, TRUE, count - 1);
    SendMessageA(MainList, LB_SETCARETINDEX, static_cast<WPARAM>(count - 1), FALSE);
    SendMessageA(MainDialog, WM_COMMAND, MAKEWPARAM(IDC_MAIN_LIST, LBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(MainList));
    std::int32_t balance = 0;
    ReadAccountAttribute("U10000", "Account Balance", &balance);
    EXPECT_EQ(ItemText(IDC_BALANCE), std::to_string(balance));
    EXPECT_FALSE(ItemText(IDC_CREDIT_LIMIT).empty());

    DestroyWindow(MainDialog);
    DestroyWindow(MainWindow);
    MSG message{};
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    }
    MainWindow = MainDialog = MainList = nullptr;
}

}  // namespace
