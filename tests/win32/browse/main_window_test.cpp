// The main window and its dialog as the operator drives them, on real windows over an in-memory
// directory: the selection lines and Print History's two states, the popup menu's hit test and
// items, the commands MainDialog hands on, the title while minimised, the Select Context and
// Select Group dialogs, and the How to order failure.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "../../core/browse/browse_fixture.h"
#include "app/win32/about_dialog.h"
#include "app/win32/commands.h"
#include "app/win32/main_dialog.h"
#include "app/win32/main_list_actions.h"
#include "app/win32/main_window.h"
#include "app/win32/preferences_dialog.h"
#include "app/win32/tips_dialog.h"
#include "browse/context_navigation.h"
#include "browse/selection.h"
#include "browse/win32/context_dialog.h"
#include "browse/win32/group_dialog.h"
#include "browse/win32/list_box.h"
#include "browse/win32/schema_keyword_list.h"
#include "browse/win32/selection_view.h"
#include "program/session.h"
#include "program/settings.h"
#include "program/win32/dialog_support.h"
#include "program/win32/main_windows.h"
#include "resources/resource.h"

namespace tally::testing {
namespace {

// The static control that holds a message box's text.
constexpr int kMessageBoxText = 0xFFFF;

std::string TextOf(HWND window) {
    char text[512] = {};
    GetWindowTextA(window, text, sizeof text);
    return text;
}

std::string ItemText(HWND dialog, int id) {
    return TextOf(GetDlgItem(dialog, id));
}

std::vector<std::string> Entries(HWND list) {
    std::vector<std::string> entries;
    const int count = static_cast<int>(SendMessageA(list, LB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        entries.push_back(ListBoxText(list, i));
    }
    return entries;
}

int IndexOf(HWND list, const char* entry) {
    return static_cast<int>(SendMessageA(list, LB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                         reinterpret_cast<LPARAM>(entry)));
}

// Runs `action` once inside the message loop of the modal dialog or message box that the code
// under test opens next: a thread timer is dispatched by that loop.
class OnceModalIsUp {
  public:
    explicit OnceModalIsUp(std::function<void()> action) {
        Pending() = std::move(action);
        timer_ = SetTimer(nullptr, 0, 10, &Fire);
    }
    ~OnceModalIsUp() {
        KillTimer(nullptr, timer_);
        Pending() = nullptr;
    }
    OnceModalIsUp(const OnceModalIsUp&) = delete;
    OnceModalIsUp& operator=(const OnceModalIsUp&) = delete;

  private:
    static std::function<void()>& Pending() {
        static std::function<void()> action;
        return action;
    }
    static void CALLBACK Fire(HWND, UINT, UINT_PTR timer, DWORD) {
        KillTimer(nullptr, timer);
        std::function<void()> action = std::move(Pending());
        Pending() = nullptr;
        if (action) {
            action();
        }
    }
    UINT_PTR timer_ = 0;
};

HWND FindDialog(const char* title) {
    return FindWindowA("#32770", title);
}

void Command(HWND dialog, int id, int code = 0) {
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, code),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

class MainWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ProgramInstance = GetModuleHandleA(nullptr);
        auto tree = BrowseTree();
        store_ = tree.get();
        DirClientUseStore(BrowseConfig(), std::move(tree));
        DirectoryContext = DirCreateContext();
        CurrentContextName = "SALES.CORP";
        gSettings.Schema = SelectAccountSchema("Standard Netware");
        gSettings.NumericalFormat = 1;  // pages
        ContextChanged = false;
        SelectionText.clear();
        SelectedCount = 0;
        GroupSelected = false;
        ScreenWidth = GetSystemMetrics(SM_CXSCREEN);
        ScreenHeight = GetSystemMetrics(SM_CYSCREEN);
        RegisterMainWindowClass(ProgramInstance, static_cast<HBRUSH>(GetStockObject(LTGRAY_BRUSH)));
        MainWindow = CreateMainWindow(ProgramInstance);
        ASSERT_NE(MainWindow, nullptr);
        ASSERT_NE(CreateDialogParamA(ProgramInstance, "MainDialog", MainWindow, MainDialogProc, 0),
                  nullptr);
        ASSERT_NE(MainList, nullptr);
        DispatchDialogMessages();
    }

    void TearDown() override {
        DestroyWindow(MainDialog);
        DestroyWindow(MainWindow);  // frees the context and posts the quit message
        MSG message{};
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        }
        MainWindow = MainDialog = MainList = nullptr;
        DirClientReset();
        gSettings = Settings{};
        CurrentContextName.clear();
    }

    // Runs what MainDialog posted to itself (the refresh); what it posted to MainWindow stays.
    static void DispatchDialogMessages() {
        MSG message{};
        while (PeekMessageA(&message, MainDialog, 0, 0, PM_REMOVE)) {
            DispatchMessageA(&message);
        }
    }

    // Takes the commands and close requests posted to MainWindow off its queue without running
    // them (a paint message would never leave the queue, so only these two are looked for).
    static std::vector<MSG> PostedToMainWindow() {
        std::vector<MSG> posted;
        for (UINT kind : {static_cast<UINT>(WM_COMMAND), static_cast<UINT>(WM_CLOSE)}) {
            MSG message{};
            while (PeekMessageA(&message, MainWindow, kind, kind, PM_REMOVE)) {
                if (message.hwnd == MainWindow) {
                    posted.push_back(message);
                }
            }
        }
        return posted;
    }

    // Selects the named entries as a click and Ctrl+clicks would, the last one current.
    static void Select(std::initializer_list<const char*> entries) {
        SendMessageA(MainList, LB_SETSEL, FALSE, -1);
        for (const char* entry : entries) {
            const int index = IndexOf(MainList, entry);
            ASSERT_GE(index, 0) << entry;
            SendMessageA(MainList, LB_SETSEL, TRUE, index);
            SendMessageA(MainList, LB_SETCARETINDEX, static_cast<WPARAM>(index), FALSE);
        }
        SendMessageA(MainDialog, WM_COMMAND, MAKEWPARAM(IDC_MAIN_LIST, LBN_SELCHANGE),
                     reinterpret_cast<LPARAM>(MainList));
    }

    static std::vector<std::string> Lines() {
        return {ItemText(MainDialog, IDC_FULL_NAME), ItemText(MainDialog, IDC_BALANCE),
                ItemText(MainDialog, IDC_CREDIT_LIMIT)};
    }

    static bool PrintHistoryButtonEnabled() {
        return IsWindowEnabled(GetDlgItem(MainDialog, CMD_PRINT_HISTORY)) != FALSE;
    }
    static bool PrintHistoryMenuGreyed() {
        const UINT state = GetMenuState(GetMenu(MainWindow), CMD_PRINT_HISTORY, MF_BYCOMMAND);
        return (state & MF_GRAYED) != 0;
    }

    // The screen position of a point of MainList's client area, packed as the message packs it.
    static LPARAM ScreenPointer(POINT inList) {
        ClientToScreen(MainList, &inList);
        return MAKELPARAM(inList.x, inList.y);
    }

    FakeStore* store_ = nullptr;
};

TEST_F(MainWindowTest, StartShowsTheContextItsEntriesAndTheAllUsersLine) {
    EXPECT_EQ(ItemText(MainDialog, IDC_CONTEXT), "Context: SALES.CORP");
    EXPECT_EQ(Entries(MainList),
              (std::vector<std::string>{"* (All users in this context)", "BARE (Group)", "JSMITH",
                                        "MJONES", "NOACCOUNT", "STAFF (Group)"}));
    EXPECT_EQ(Lines(), (std::vector<std::string>{"All users in this context", "", ""}));
    EXPECT_FALSE(PrintHistoryButtonEnabled());
    EXPECT_TRUE(PrintHistoryMenuGreyed());
}

TEST_F(MainWindowTest, PrintHistoryFollowsTheSelectionInMenuAndButton) {
    Select({"JSMITH"});
    EXPECT_EQ(Lines(), (std::vector<std::string>{"John Smith", "1500", "-200"}));
    EXPECT_TRUE(PrintHistoryButtonEnabled());
    EXPECT_FALSE(PrintHistoryMenuGreyed());

    Select({"JSMITH", "MJONES", "STAFF (Group)"});
    EXPECT_EQ(Lines(), (std::vector<std::string>{"3 users selelcted", "", ""}));
    EXPECT_FALSE(PrintHistoryButtonEnabled());
    EXPECT_TRUE(PrintHistoryMenuGreyed());

    Select({"STAFF (Group)"});
    EXPECT_EQ(Lines(), (std::vector<std::string>{"Sales Staff", "", ""}));
    EXPECT_TRUE(PrintHistoryButtonEnabled());
    EXPECT_FALSE(PrintHistoryMenuGreyed());

    Select({"* (All users in this context)"});
    EXPECT_FALSE(PrintHistoryButtonEnabled());
    EXPECT_TRUE(PrintHistoryMenuGreyed());
}

TEST_F(MainWindowTest, RightClickSelectsTheEntryUnderThePointerOrEveryEntryBelowTheLast) {
    Select({"JSMITH", "MJONES"});
    RECT item{};
    const int noAccount = IndexOf(MainList, "NOACCOUNT");
    SendMessageA(MainList, LB_GETITEMRECT, static_cast<WPARAM>(noAccount),
                 reinterpret_cast<LPARAM>(&item));
    SelectEntryUnderPointer(MainList, ScreenPointer({item.left + 5, item.top + 2}));
    EXPECT_EQ(ListBoxSelection(MainList).CountSelected(), 1);
    EXPECT_GT(SendMessageA(MainList, LB_GETSEL, static_cast<WPARAM>(noAccount), 0), 0);

    RECT client{};
    GetClientRect(MainList, &client);
    const int count = static_cast<int>(SendMessageA(MainList, LB_GETCOUNT, 0, 0));
    SendMessageA(MainList, LB_GETITEMRECT, static_cast<WPARAM>(count - 1),
                 reinterpret_cast<LPARAM>(&item));
    ASSERT_LT(item.bottom + 4, client.bottom) << "the list must have room below its last entry";
    SelectEntryUnderPointer(MainList, ScreenPointer({5, client.bottom - 3}));
    EXPECT_EQ(ListBoxSelection(MainList).CountSelected(), count);
}

TEST_F(MainWindowTest, PopupMenuOffersTheFiveCommandsInOrder) {
    const UniqueMenu menu = MainListPopupMenu();
    ASSERT_NE(menu.Get(), nullptr);
    const std::vector<std::pair<int, std::string>> expected = {
        {CMD_DEPOSIT, "Deposit"},
        {CMD_SET_BALANCE, "Set Balance"},
        {CMD_CHARGE, "Charge"},
        {CMD_SET_CREDIT_LIMIT, "Set Credit Limit"},
        {CMD_PRINT_HISTORY, "Print History"}};
    ASSERT_EQ(GetMenuItemCount(menu.Get()), static_cast<int>(expected.size()));
    for (int i = 0; i < GetMenuItemCount(menu.Get()); ++i) {
        char text[64] = {};
        GetMenuStringA(menu.Get(), static_cast<UINT>(i), text, sizeof text, MF_BYPOSITION);
        EXPECT_EQ(static_cast<int>(GetMenuItemID(menu.Get(), i)), expected[i].first);
        EXPECT_EQ(text, expected[i].second);
    }
}

TEST_F(MainWindowTest, MainDialogHandsItsCommandsToTheMainWindowUnchanged) {
    PostedToMainWindow();
    for (int command : {CMD_DEPOSIT, CMD_SET_BALANCE, CMD_CHARGE, CMD_SET_CREDIT_LIMIT,
                        CMD_PRINT_HISTORY, CMD_CHANGE_CONTEXT, CMD_STATISTICS}) {
        SendMessageA(MainDialog, WM_COMMAND, MAKEWPARAM(command, BN_CLICKED), 1234);
        const std::vector<MSG> posted = PostedToMainWindow();
        ASSERT_EQ(posted.size(), 1u) << command;
        EXPECT_EQ(posted[0].message, static_cast<UINT>(WM_COMMAND));
        EXPECT_EQ(posted[0].wParam, MAKEWPARAM(command, BN_CLICKED));
        EXPECT_EQ(posted[0].lParam, 1234);
    }
    SendMessageA(MainDialog, WM_COMMAND, CMD_EXIT, 0);
    const std::vector<MSG> exit = PostedToMainWindow();
    ASSERT_EQ(exit.size(), 1u);
    EXPECT_EQ(exit[0].message, static_cast<UINT>(WM_CLOSE));
    SendMessageA(MainDialog, WM_COMMAND, CMD_PREFERENCES, 0);
    EXPECT_TRUE(PostedToMainWindow().empty());
}

TEST_F(MainWindowTest, DoubleClickPostsDepositForAUserAndSetBalanceForAGroup) {
    PostedToMainWindow();
    Select({"MJONES"});
    Command(MainDialog, IDC_MAIN_LIST, LBN_DBLCLK);
    Select({"STAFF (Group)"});
    Command(MainDialog, IDC_MAIN_LIST, LBN_DBLCLK);
    Select({"JSMITH", "MJONES"});
    Command(MainDialog, IDC_MAIN_LIST, LBN_DBLCLK);
    std::vector<int> commands;
    for (const MSG& message : PostedToMainWindow()) {
        commands.push_back(LOWORD(message.wParam));
    }
    EXPECT_EQ(commands, (std::vector<int>{CMD_DEPOSIT, CMD_SET_BALANCE, CMD_SET_BALANCE}));
}

TEST_F(MainWindowTest, TheTitleNamesTheContextOnlyWhileMinimised) {
    SendMessageA(MainWindow, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    EXPECT_EQ(TextOf(MainWindow), "TallyDesk: SALES.CORP");
    SendMessageA(MainWindow, WM_SYSCOMMAND, SC_RESTORE, 0);
    EXPECT_EQ(TextOf(MainWindow), "TallyDesk");
    // The platform keeps its own bits in the low four; only the exact code renames the window.
    SendMessageA(MainWindow, WM_SYSCOMMAND, SC_MINIMIZE | 2, 0);
    EXPECT_EQ(TextOf(MainWindow), "TallyDesk");
    SendMessageA(MainWindow, WM_SYSCOMMAND, SC_RESTORE, 0);
}

TEST_F(MainWindowTest, AccountCommandsAndPrintHistoryOpenNothingWithoutASelection) {
    ASSERT_EQ(SelectedCount, 0);
    std::string opened;
    for (int command :
         {CMD_DEPOSIT, CMD_SET_BALANCE, CMD_CHARGE, CMD_SET_CREDIT_LIMIT, CMD_PRINT_HISTORY}) {
        OnceModalIsUp closeIt([&opened] {
            HWND dialog = GetActiveWindow();
            opened += TextOf(dialog) + ";";
            EndDialog(dialog, 0);
        });
        SendMessageA(MainWindow, WM_COMMAND, command, 0);
    }
    EXPECT_EQ(opened, "");
}

TEST_F(MainWindowTest, HowToOrderNamesTheShellsResultWhenTheDocumentWillNotOpen) {
    const std::filesystem::path before = std::filesystem::current_path();
    const std::filesystem::path empty =
        std::filesystem::temp_directory_path() / "tally-how2buy-missing";
    std::filesystem::create_directories(empty);
    std::filesystem::current_path(empty);
    std::string caption;
    std::string text;
    {
        OnceModalIsUp readIt([&] {
            HWND box = FindDialog("Error");
            caption = TextOf(box);
            text = ItemText(box, kMessageBoxText);
            SendMessageA(box, WM_COMMAND, IDOK, 0);
        });
        SendMessageA(MainWindow, WM_COMMAND, CMD_HOW_TO_ORDER, 0);
    }
    std::filesystem::current_path(before);
    std::filesystem::remove_all(empty);
    EXPECT_EQ(caption, "Error");
    EXPECT_EQ(text.rfind("Error ", 0), 0u) << text;
    EXPECT_NE(text.find(" running HOW2BUY.WRI"), std::string::npos) << text;
    const int result = std::atoi(text.c_str() + 6);
    EXPECT_GE(result, 0);
    EXPECT_LE(result, 31);
}

// Down, up to the root and into an organization; a single click does nothing, a refused name
// leaves the context read back, and the result is the flag that nothing clears.
TEST_F(MainWindowTest, SelectContextMovesByDoubleClickAndReadsTheContextBack) {
    std::vector<std::string> seen;
    INT_PTR result = -1;
    {
        OnceModalIsUp drive([&seen] {
            HWND dialog = FindDialog("Select Context");
            HWND list = GetDlgItem(dialog, IDC_CONTEXT_LIST);
            const auto show = [&] {
                seen.push_back(ItemText(dialog, IDC_CONTEXT) + " |" + ItemText(MainDialog, 480));
                for (const std::string& entry : Entries(list)) {
                    seen.back() += " " + entry;
                }
            };
            const auto pick = [&](const char* entry, int notification) {
                SendMessageA(list, LB_SETCURSEL, static_cast<WPARAM>(IndexOf(list, entry)), 0);
                Command(dialog, IDC_CONTEXT_LIST, notification);
                show();
            };
            show();
            pick("EAST", LBN_SELCHANGE);
            pick("EAST", LBN_DBLCLK);
            pick(".. (Parent)", LBN_DBLCLK);
            pick(".. (Parent)", LBN_DBLCLK);
            pick(".. (Parent)", LBN_DBLCLK);
            pick("CORP", LBN_DBLCLK);
            Command(dialog, IDCANCEL);
        });
        result = ChangeContext(MainWindow);
    }
    EXPECT_EQ(seen, (std::vector<std::string>{
                        "SALES.CORP |Context: SALES.CORP .. (Parent) EAST",
                        "SALES.CORP |Context: SALES.CORP .. (Parent) EAST",
                        "EAST.SALES.CORP |Context: EAST.SALES.CORP .. (Parent)",
                        "SALES.CORP |Context: SALES.CORP .. (Parent) EAST",
                        "CORP |Context: CORP .. (Parent) ACCOUNTS EMPTY SALES",
                        "[Root] |Context: [Root] CORP WIDGETS",
                        "CORP |Context: CORP .. (Parent) ACCOUNTS EMPTY SALES",
                    }));
    EXPECT_EQ(result, 1);
    EXPECT_EQ(CurrentContextName, "CORP");
}

TEST_F(MainWindowTest, ChangeContextRefillsMainListOnEveryCloseAfterTheFirstMove) {
    const auto closeWith = [](const char* entry) {
        return [entry] {
            HWND dialog = FindDialog("Select Context");
            HWND list = GetDlgItem(dialog, IDC_CONTEXT_LIST);
            if (entry != nullptr) {
                SendMessageA(list, LB_SETCURSEL, static_cast<WPARAM>(IndexOf(list, entry)), 0);
                Command(dialog, IDC_CONTEXT_LIST, LBN_DBLCLK);
            }
            SendMessageA(dialog, WM_CLOSE, 0, 0);
        };
    };
    {
        OnceModalIsUp close(closeWith(nullptr));
        SendMessageA(MainWindow, WM_COMMAND, CMD_CHANGE_CONTEXT, 0);
    }
    EXPECT_EQ(Entries(MainList).size(), 6u);  // nothing moved: the list stays as it was
    {
        OnceModalIsUp close(closeWith("EAST"));
        SendMessageA(MainWindow, WM_COMMAND, CMD_CHANGE_CONTEXT, 0);
    }
    EXPECT_EQ(Entries(MainList), (std::vector<std::string>{"* (All users in this context)"}));
    EXPECT_EQ(Lines(), (std::vector<std::string>{"All users in this context", "", ""}));
    EXPECT_TRUE(IsWindowVisible(MainDialog));

    // Behind the program's back the directory gains a user; closing without a move refills.
    store_->Add("NEWBIE.EAST.SALES.CORP", "User");
    {
        OnceModalIsUp close(closeWith(nullptr));
        SendMessageA(MainWindow, WM_COMMAND, CMD_CHANGE_CONTEXT, 0);
    }
    EXPECT_EQ(Entries(MainList),
              (std::vector<std::string>{"* (All users in this context)", "NEWBIE"}));
}

TEST_F(MainWindowTest, SelectGroupHandsBackTheChosenEntryWithItsMarker) {
    SelectionText = "before";
    INT_PTR result = -1;
    std::vector<std::string> groups;
    std::string keptWithoutAChoice;
    {
        OnceModalIsUp choose([&] {
            HWND dialog = FindDialog("Select Group");
            HWND list = GetDlgItem(dialog, IDC_GROUP_LIST);
            groups = Entries(list);
            Command(dialog, IDOK);
            keptWithoutAChoice = SelectionText;
            SendMessageA(list, LB_SETCURSEL, static_cast<WPARAM>(IndexOf(list, "STAFF (Group)")),
                         0);
            Command(dialog, IDC_GROUP_LIST, LBN_DBLCLK);
        });
        result = SelectGroup(MainWindow);
    }
    EXPECT_EQ(groups, (std::vector<std::string>{"BARE (Group)", "STAFF (Group)"}));
    EXPECT_EQ(keptWithoutAChoice, "before");
    EXPECT_EQ(result, 1);
    EXPECT_EQ(SelectionText, "STAFF (Group)");

    {
        OnceModalIsUp close([] {
            HWND dialog = FindDialog("Select Group");
            HWND list = GetDlgItem(dialog, IDC_GROUP_LIST);
            SendMessageA(list, LB_SETCURSEL, 0, 0);
            Command(dialog, IDCANCEL);
        });
        result = SelectGroup(MainWindow);
    }
    EXPECT_EQ(result, 0);
    EXPECT_EQ(SelectionText, "STAFF (Group)");
}

}  // namespace
}  // namespace tally::testing
