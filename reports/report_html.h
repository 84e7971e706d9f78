// A report as one HTML page for a browser or a printer: the report's table and bar charts, with
// nothing fetched from anywhere (inline CSS and SVG, no script). The bars are hatched or dotted
// and carry their numbers, so a black-and-white printout reads as well as the screen; the page
// narrows to a phone's width, where a long record of the log wraps after its commas instead of
// squeezing the numbers beside it. The table has the columns of the same report's CSV. All text
// of the page goes through HtmlEscaped.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tally::reports {

struct HtmlRow {
    std::string label;
    std::int64_t pages = 0;
    std::string costText;  // as the text report writes it
    double cost = 0.0;     // for the bar's length
};

struct HtmlChart {
    std::string caption;
    bool byCost = false;  // bars of cost (dotted), else of pages (hatched)
    std::vector<HtmlRow> rows;
};

struct HtmlPage {
    std::string title;    // the page's title and first heading
    std::string heading;  // the report's heading line ("User print totals: ... to ...")
    // Heads the first column, which holds each row's label ("User", "Month"); empty for a table
    // without one (the history's: Pages, Cost, Record).
    std::string keyName;
    std::vector<HtmlRow> rows;
    HtmlRow totals;
    std::vector<HtmlChart> charts;
    // The history's last column, "Record": each row's line of the log as read.
    bool recordColumn = false;
    std::vector<std::string> records;
    // Said in a chart that has no bars ("No print jobs from 2026-01-01 to 2026-01-31.").
    std::string nothingToChart;
};

std::string HtmlReport(const HtmlPage& page);

// The `count` rows with the most pages (or cost), in that order, and the rest summed as one row
// "Other".
std::vector<HtmlRow> TopRows(std::vector<HtmlRow> rows, std::size_t count, bool byCost,
                             const std::string& otherCostText);

// `text` with &, <, >, " and ' written as entities: the one way the reports' text enters a page.
std::string HtmlEscaped(std::string_view text);

}  // namespace tally::reports
