// The report dialogs as the program loads them: the progress dialog both log-reading reports run
// in, and the Printing Statistics dialog, control by control, with neither offering a system
// menu.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include "resources/resource.h"
#include "tests/win32/support/template_check.h"

namespace {

using tally::win32test::ExpectedControl;
using tally::win32test::StyleOf;
using tally::win32test::TextOf;

class ReportTemplates : public tally::win32test::TemplateTest {
  protected:
    ReportTemplates() : TemplateTest(800, 700) {}

    // A button's or a static's kind is a number in its low bits, not a set of flags: a push
    // button is 0 and an owner-draw button holds the radio button's bits. So the kind is compared
    // whole, and for other controls (the progress bar) all of the control's own style bits are.
    static DWORD KindBits(const std::string& className, DWORD style) {
        if (className == "Button") {
            return style & BS_TYPEMASK;
        }
        if (className == "Static") {
            return style & SS_TYPEMASK;
        }
        return style & 0xFFFF;
    }
    void ExpectReportControls(const std::vector<ExpectedControl>& controls) {
        ExpectControls(controls, [](HWND child, const ExpectedControl& expected) {
            const DWORD style = StyleOf(child);
            EXPECT_EQ(KindBits(expected.className, style),
                      KindBits(expected.className, expected.style))
                << expected.text;
            EXPECT_EQ(style & expected.style & WS_GROUP, expected.style & WS_GROUP)
                << expected.text;
            EXPECT_EQ(TextOf(child), expected.text);
        });
    }
    void ExpectNoSystemMenu() { EXPECT_EQ(GetWindowLongA(dialog_, GWL_STYLE) & WS_SYSMENU, 0); }
};

TEST_F(ReportTemplates, HistoryDialog) {
    Open("HistoryDialog");
    ExpectClientSize(160, 58);
    ExpectFont("MS Sans Serif");
    ExpectNoSystemMenu();
    ExpectReportControls({
        {IDC_REPORT_STATUS, "Static", SS_CENTER, "Text", 1, 9, 158, 8},
        {IDC_REPORT_PROGRESS, "msctls_progress32", 0, "", 15, 21, 130, 12},
        {IDCANCEL, "Button", BS_PUSHBUTTON, "Cancel", 60, 40, 40, 14},
    });
    HWND bar = GetDlgItem(dialog_, IDC_REPORT_PROGRESS);
    EXPECT_EQ(SendMessageA(bar, PBM_GETRANGE, TRUE, 0), 0);
    EXPECT_EQ(SendMessageA(bar, PBM_GETRANGE, FALSE, 0), 100);
}

TEST_F(ReportTemplates, Stats) {
    Open("Stats");
    EXPECT_EQ(TextOf(dialog_), "Printing Statistics");
    ExpectClientSize(146, 137);
    ExpectFont("MS Sans Serif");
    ExpectNoSystemMenu();
    const DWORD radio = BS_AUTORADIOBUTTON;
    const DWORD first = BS_AUTORADIOBUTTON | WS_GROUP;
    ExpectReportControls({
        {tally::win32test::kStatic, "Static", SS_CENTER,
         "Warning: Mixing numerical formats Pages and Currency will result in unreliable cost "
         "totals!",
         2, 3, 142, 24},
        {tally::win32test::kStatic, "Button", BS_GROUPBOX, "Generate totals from:", 2, 27, 142, 62},
        {IDC_STATS_USERS, "Button", first, "Users", 11, 38, 40, 10},
        {IDC_STATS_PRINT_SERVERS, "Button", radio, "Print Servers", 11, 51, 51, 10},
        {IDC_STATS_PRINTERS, "Button", radio, "Printers", 11, 64, 44, 10},
        {IDC_STATS_QUEUES, "Button", radio, "Queues", 80, 38, 40, 10},
        {IDC_STATS_CLIENT_CODES, "Button", radio, "Client codes", 80, 51, 54, 10},
        {IDC_STATS_GROUPS, "Button", radio, "Groups", 80, 64, 54, 10},
        {IDC_STATS_BALANCES, "Button", radio, "View all balances", 39, 76, 68, 10},
        {tally::win32test::kStatic, "Button", BS_GROUPBOX, "Read from: (ASCII delimited required)",
         2, 91, 142, 24},
        {IDC_STATS_OTHER_LOG, "Button", first, "Other log file", 11, 101, 58, 10},
        {IDC_STATS_JOBTALLY_LOG, "Button", radio, "JOBTALLY.LOG", 72, 101, 64, 10},
        {IDOK, "Button", BS_PUSHBUTTON, "Create report", 16, 120, 60, 14},
        {IDCANCEL, "Button", BS_PUSHBUTTON, "Close", 86, 120, 40, 14},
    });
}

}  // namespace
