// The log's dates in each date order, the calendar's steps a trend is totalled by, and the HTML
// page's charts: top rows with the rest as "Other", names escaped.
#include "reports/report_periods.h"

#include <gtest/gtest.h>

#include "reports/report_html.h"

namespace tally::reports {
namespace {

TEST(LogDates, EachOrderReadsItsOwnFormAndNothingElse) {
    struct Case {
        const char* text;
        int order;
        std::optional<CalendarDay> day;
    };
    const Case cases[] = {
        {"07/04/1999", 0, CalendarDay{1999, 7, 4}},
        {"07/04/1999", 1, CalendarDay{1999, 4, 7}},
        {"1999/07/04", 2, CalendarDay{1999, 7, 4}},
        {"07/04/1999", 7, CalendarDay{1999, 7, 4}},  // any other order: month/day/year
        {"7/4/1999", 0, CalendarDay{1999, 7, 4}},    // a writer that does not pad
        {"02/29/2000", 0, CalendarDay{2000, 2, 29}},
        {"02/29/1900", 0, std::nullopt},  // not a leap year
        {"13/01/1999", 0, std::nullopt},
        {"31/12/1999", 0, std::nullopt},
        {"31/12/1999", 1, CalendarDay{1999, 12, 31}},
        {"1999/07/04", 0, std::nullopt},
        {"07/04/99", 0, std::nullopt},  // the year is written in full
        {"07/04/1999 ", 0, std::nullopt},
        {"07-04-1999", 0, std::nullopt},
        {"00/00/0000", 2, std::nullopt},
        {"", 0, std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ReadLogDate(c.text, c.order), c.day) << c.text << " order " << c.order;
    }
    EXPECT_EQ(ReadIsoDate("2000-02-29"), (CalendarDay{2000, 2, 29}));
    EXPECT_EQ(ReadIsoDate("2000-2-29"), std::nullopt);
    EXPECT_EQ(ReadIsoDate("2001-02-29"), std::nullopt);
}

TEST(LogDates, WeeksBeginOnMondayAcrossMonthsAndYears) {
    struct Case {
        CalendarDay day;
        CalendarDay monday;
    };
    const Case cases[] = {
        {{2000, 1, 1}, {1999, 12, 27}},                                    // a Saturday
        {{1999, 12, 27}, {1999, 12, 27}}, {{2000, 1, 2}, {1999, 12, 27}},  // a Sunday ends the week
        {{2000, 1, 3}, {2000, 1, 3}},     {{2000, 3, 1}, {2000, 2, 28}},   // over a leap day
        {{1969, 12, 31}, {1969, 12, 29}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(WeekStart(c.day), c.monday) << IsoDateText(c.day);
        EXPECT_EQ(DayOfNumber(DayNumber(c.day)), c.day);
    }
    EXPECT_EQ(DayNumber({1970, 1, 1}), 0);
    const DatePeriod lastMonth = *NamedPeriod("last-month", {2000, 1, 15});
    EXPECT_EQ(*lastMonth.since, (CalendarDay{1999, 12, 1}));
    EXPECT_EQ(*lastMonth.until, (CalendarDay{1999, 12, 31}));
    EXPECT_EQ(*NamedPeriod("this-month", {2000, 2, 3})->until, (CalendarDay{2000, 2, 29}));
    EXPECT_EQ(NamedPeriod("next-month", {2000, 2, 3}), std::nullopt);
}

TEST(HtmlPage, TopRowsSumTheRestAsOtherAndNamesAreEscaped) {
    std::vector<HtmlRow> rows;
    for (int i = 0; i < 25; ++i) {
        rows.push_back({"K" + std::to_string(i), i, std::to_string(i), 100.0 - i});
    }
    const std::vector<HtmlRow> byPages = TopRows(rows, 20, false, "");
    ASSERT_EQ(byPages.size(), 21u);
    EXPECT_EQ(byPages.front().label, "K24");
    EXPECT_EQ(byPages.back().label, "Other");
    EXPECT_EQ(byPages.back().pages, 0 + 1 + 2 + 3 + 4);
    const std::vector<HtmlRow> byCost = TopRows(rows, 20, true, "");
    EXPECT_EQ(byCost.front().label, "K0");
    EXPECT_DOUBLE_EQ(byCost.back().cost, 80.0 + 79 + 78 + 77 + 76);
    EXPECT_EQ(TopRows(std::vector<HtmlRow>(rows.begin(), rows.begin() + 20), 20, false, "").size(),
              20u);

    HtmlPage page;
    page.title = "Printer <\"Laser\" & 'Co'>";
    page.keyName = "Printer";
    page.rows = {{"<script>alert(1)</script>", 3, "0.30", 0.3}};
    page.charts = {{"Most pages", false, page.rows}};
    const std::string html = HtmlReport(page);
    EXPECT_EQ(html.find("<script"), std::string::npos);
    EXPECT_NE(html.find("&lt;script&gt;alert(1)&lt;/script&gt;"), std::string::npos);
    EXPECT_NE(html.find("Printer &lt;&quot;Laser&quot; &amp; &#39;Co&#39;&gt;"), std::string::npos);
}

}  // namespace
}  // namespace tally::reports
