// The log's dates in each date order, the calendar's steps a trend is totalled by (its rows
// following the lines, never the span of the dates), and the HTML page's charts: top rows with
// the rest as "Other", names escaped.
#include "reports/report_periods.h"

#include <gtest/gtest.h>

#include "reports/print_trend.h"
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

std::string JobOn(const std::string& date) {
    return "\"JSMITH\",\"Doc\",\"LASER1\",\"PS1\",\"Q1\",\"ACCT1\",\"C1\",\"" + date +
           "\",\"t\",1,2,2\r\n";
}

// Quiet steps are rows up to a month of days (31 weeks, 31 months); a longer quiet run is one
// row, so that a log of two lines dated in the years 1 and 9999 is a trend of three rows, not of
// three million.
TEST(Trend, RowsFollowTheLinesNotTheSpanOfTheirDates) {
    struct Case {
        TrendStep step;
        std::vector<std::string> dates;  // month/day/year
        std::size_t rows;
        std::string quiet;  // the label of the second row
    };
    const Case cases[] = {
        {TrendStep::Day, {"01/01/0001", "12/31/9999"}, 3, "0001-01-02 to 9999-12-30"},
        {TrendStep::Week, {"01/01/0001", "12/31/9999"}, 3, "0001-01-08 to 9999-12-20"},
        {TrendStep::Month, {"01/01/0001", "12/31/9999"}, 3, "0001-02 to 9999-11"},
        {TrendStep::Day, {"01/01/2026", "02/02/2026"}, 33, "2026-01-02"},  // 31 quiet days
        {TrendStep::Day, {"01/01/2026", "02/03/2026"}, 3, "2026-01-02 to 2026-02-02"},
        {TrendStep::Week, {"12/29/1969", "01/06/1970"}, 2, "1970-01-05"},
        {TrendStep::Month, {"12/15/1999", "02/01/2000"}, 3, "2000-01"},
    };
    for (const Case& c : cases) {
        PrintTrend trend(c.step, PeriodCut{}, IntegerAmountMode());
        for (const std::string& date : c.dates) {
            trend.Take(JobOn(date));
        }
        const std::vector<PrintTrend::Row> rows = trend.Rows();
        ASSERT_EQ(rows.size(), c.rows) << c.dates.front() << " " << trend.StepName();
        EXPECT_EQ(rows[1].label, c.quiet) << trend.StepName();
        EXPECT_EQ(trend.TotalPages(), 2 * static_cast<std::int64_t>(c.dates.size()));
        EXPECT_LT(trend.Report().size(), 2000u) << trend.StepName();
    }
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
