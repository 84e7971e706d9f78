#include "reports/report_html.h"

#include <algorithm>
#include <cstdio>
#include <string_view>

namespace tally::reports {
namespace {

constexpr int kBarRoom = 300;
constexpr int kValueWidth = 80;
constexpr double kLabelCharWidth = 8.2;
constexpr int kBarHeight = 18;
constexpr int kBarGap = 6;
constexpr std::size_t kLabelChars = 26;

constexpr const char* kStyle = R"css(
:root { color-scheme: light; }
body { font: 15px/1.4 system-ui, sans-serif; margin: 1rem auto; max-width: 60rem; padding: 0 .75rem;
       color: #111; background: #fff; }
h1 { font-size: 1.3rem; margin: 0 0 .25rem; }
p.heading { margin: 0 0 1rem; color: #333; }
figure { margin: 1rem 0; }
figcaption { font-weight: 600; margin-bottom: .25rem; }
svg.chart { width: 100%; height: auto; display: block; }
svg.chart text { font: 13px system-ui, sans-serif; fill: #111; }
p.empty { margin: .25rem 0 0; color: #333; font-style: italic; }
.wide { overflow-x: auto; }
table { border-collapse: collapse; width: 100%; font-variant-numeric: tabular-nums; }
th, td { border-bottom: 1px solid #999; padding: .2rem .5rem; text-align: left;
         vertical-align: top; }
.num { text-align: right; white-space: nowrap; width: 1%; }
thead th { border-bottom: 2px solid #111; }
tfoot td { border-top: 2px solid #111; font-weight: 600; }
.record { font-family: ui-monospace, monospace; font-size: 12px; white-space: pre-wrap; }
@media (max-width: 30rem) { body { font-size: 14px; } th, td { padding: .15rem .25rem; }
                            .record { font-size: 11px; } }
@media print { body { max-width: none; margin: 0; } figure, tr { break-inside: avoid; } }
)css";

// Hatching for pages, dots for cost: they tell the two apart on a black-and-white printout.
constexpr const char* kPatterns =
    R"svg(<svg width="0" height="0" style="position:absolute" aria-hidden="true"><defs>
<pattern id="pagesFill" width="6" height="6" patternUnits="userSpaceOnUse" patternTransform="rotate(45)"><rect width="6" height="6" fill="#dbe6f5"/><line x1="0" y1="0" x2="0" y2="6" stroke="#1f4e8c" stroke-width="2.5"/></pattern>
<pattern id="costFill" width="6" height="6" patternUnits="userSpaceOnUse"><rect width="6" height="6" fill="#f5e3cf"/><circle cx="3" cy="3" r="1.6" fill="#8a4a0b"/></pattern>
</defs></svg>
)svg";

std::string Number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value);
    return text;
}

std::string ShortLabel(const std::string& label) {
    return label.size() <= kLabelChars ? label : label.substr(0, kLabelChars - 1) + "\u2026";
}

// The bars' scale: the largest row but "Other", which would dwarf the rest; a bar beyond it is
// drawn to the end of the room and broken there, its number beside it as on every bar.
double ScaleOf(const HtmlChart& chart) {
    double largest = 0.0;
    double other = 0.0;
    for (std::size_t i = 0; i < chart.rows.size(); ++i) {
        const HtmlRow& row = chart.rows[i];
        const double value = chart.byCost ? row.cost : static_cast<double>(row.pages);
        const bool isOther = i + 1 == chart.rows.size() && i > 0 && row.label == "Other";
        double& kept = isOther ? other : largest;
        kept = std::max(kept, value);
    }
    return largest > 0.0 ? largest : other;
}

std::string Chart(const HtmlChart& chart, const std::string& nothingToChart) {
    if (chart.rows.empty()) {
        return "<figure>\n<figcaption>" + HtmlEscaped(chart.caption) +
               "</figcaption>\n<p class=\"empty\">" + HtmlEscaped(nothingToChart) +
               "</p>\n</figure>\n";
    }
    const double scale = ScaleOf(chart);
    std::size_t longest = 4;
    for (const HtmlRow& row : chart.rows) {
        longest = std::max(longest, std::min(row.label.size(), kLabelChars));
    }
    const int labelWidth = static_cast<int>(static_cast<double>(longest) * kLabelCharWidth) + 12;
    const int width = labelWidth + kBarRoom + kValueWidth;
    const int height = static_cast<int>(chart.rows.size()) * (kBarHeight + kBarGap) + kBarGap;
    std::string out = "<figure>\n<figcaption>" + HtmlEscaped(chart.caption) + "</figcaption>\n";
    // At most a little larger than drawn: a chart of two short rows should not fill a screen.
    out += "<svg class=\"chart\" role=\"img\" viewBox=\"0 0 " + std::to_string(width) + " " +
           std::to_string(height) + "\" style=\"max-width:" + std::to_string(width * 3 / 2) +
           "px\" aria-label=\"" + HtmlEscaped(chart.caption) + "\">\n";
    int y = kBarGap;
    for (const HtmlRow& row : chart.rows) {
        const double value = chart.byCost ? row.cost : static_cast<double>(row.pages);
        const bool broken = scale > 0 && value > scale;
        const double length =
            scale > 0 && value > 0 ? kBarRoom * std::min(value, scale) / scale : 0.0;
        const std::string shown = chart.byCost ? row.costText : std::to_string(row.pages);
        const std::string middle = std::to_string(y + kBarHeight / 2 + 4);
        out += "<g class=\"bar-row\"><title>" + HtmlEscaped(row.label) + ": " + HtmlEscaped(shown) +
               "</title>";
        out += "<text x=\"" + std::to_string(labelWidth - 6) + "\" y=\"" + middle +
               "\" text-anchor=\"end\">" + HtmlEscaped(ShortLabel(row.label)) + "</text>";
        out += "<rect class=\"bar\" x=\"" + std::to_string(labelWidth) + "\" y=\"" +
               std::to_string(y) + "\" width=\"" + Number(length) + "\" height=\"" +
               std::to_string(kBarHeight) + "\" fill=\"url(#" +
               (chart.byCost ? "costFill" : "pagesFill") +
               ")\" stroke=\"#111\" stroke-width=\"1\"" + " data-label=\"" +
               HtmlEscaped(row.label) + "\" data-value=\"" + HtmlEscaped(shown) + "\"/>";
        if (broken) {
            const int x = labelWidth + kBarRoom - 14;
            out += "<path class=\"break\" d=\"M" + std::to_string(x) + " " +
                   std::to_string(y + kBarHeight + 2) + " l6 -" + std::to_string(kBarHeight + 4) +
                   " m4 0 l-6 " + std::to_string(kBarHeight + 4) +
                   "\" stroke=\"#fff\" stroke-width=\"3\" fill=\"none\"/>";
        }
        out += "<text x=\"" + Number(labelWidth + length + 4) + "\" y=\"" + middle + "\">" +
               HtmlEscaped(shown) + "</text></g>\n";
        y += kBarHeight + kBarGap;
    }
    out += "</svg>\n</figure>\n";
    return out;
}

struct Cell {
    std::string html;  // escaped already
    const char* kind;  // its class: "num", "record", or "" for a label
};

// A record of the log may break after each comma as well as at its blanks: on a phone it wraps
// inside its own column rather than squeezing the others. A copy of it keeps its bytes.
std::string Record(std::string_view record) {
    std::string out;
    std::size_t at = 0;
    while (at < record.size()) {
        const std::size_t comma = record.find(',', at);
        const std::size_t end = comma == std::string_view::npos ? record.size() : comma + 1;
        out += HtmlEscaped(record.substr(at, end - at));
        if (comma != std::string_view::npos && end < record.size()) {
            out += "<wbr>";
        }
        at = end;
    }
    return out;
}

std::string TableRow(const std::vector<Cell>& cells, const char* tag) {
    std::string out = "<tr>";
    for (const Cell& cell : cells) {
        out += std::string("<") + tag;
        if (*cell.kind != '\0') {
            out += std::string(" class=\"") + cell.kind + "\"";
        }
        out += ">" + cell.html + "</" + tag + ">";
    }
    return out + "</tr>\n";
}

// The row's cells in the CSV's order: the label when the table has a key column, pages, cost,
// and the record when it has one.
std::vector<Cell> RowCells(const HtmlPage& page, const HtmlRow& row, const std::string* record) {
    std::vector<Cell> cells;
    if (!page.keyName.empty()) {
        cells.push_back({HtmlEscaped(row.label), ""});
    }
    cells.push_back({std::to_string(row.pages), "num"});
    cells.push_back({HtmlEscaped(row.costText), "num"});
    if (page.recordColumn) {
        cells.push_back({record != nullptr ? Record(*record) : std::string(), "record"});
    }
    return cells;
}

}  // namespace

std::string HtmlEscaped(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&#39;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::vector<HtmlRow> TopRows(std::vector<HtmlRow> rows, std::size_t count, bool byCost,
                             const std::string& otherCostText) {
    std::stable_sort(rows.begin(), rows.end(), [byCost](const HtmlRow& a, const HtmlRow& b) {
        return byCost ? a.cost > b.cost : a.pages > b.pages;
    });
    if (rows.size() <= count) {
        return rows;
    }
    HtmlRow other{"Other", 0, otherCostText, 0.0};
    for (std::size_t i = count; i < rows.size(); ++i) {
        other.pages += rows[i].pages;
        other.cost += rows[i].cost;
    }
    rows.resize(count);
    rows.push_back(other);
    return rows;
}

std::string HtmlReport(const HtmlPage& page) {
    std::string out =
        "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
        "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
        "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; "
        "style-src 'unsafe-inline'; img-src data:\">\n<title>" +
        HtmlEscaped(page.title) + "</title>\n<style>" + kStyle + "</style>\n</head>\n<body>\n";
    out += kPatterns;
    out += "<h1>" + HtmlEscaped(page.title) + "</h1>\n<p class=\"heading\">" +
           HtmlEscaped(page.heading) + "</p>\n";
    for (const HtmlChart& chart : page.charts) {
        out += Chart(chart, page.nothingToChart);
    }
    out += "<div class=\"wide\"><table id=\"report\">\n<thead>";
    std::vector<Cell> head;
    if (!page.keyName.empty()) {
        head.push_back({HtmlEscaped(page.keyName), ""});
    }
    head.push_back({"Pages", "num"});
    head.push_back({"Cost", "num"});
    if (page.recordColumn) {
        head.push_back({"Record", ""});
    }
    out += TableRow(head, "th") + "</thead>\n<tbody>\n";
    for (std::size_t i = 0; i < page.rows.size(); ++i) {
        const std::string* record = i < page.records.size() ? &page.records[i] : nullptr;
        out += TableRow(RowCells(page, page.rows[i], record), "td");
    }
    out += "</tbody>\n<tfoot>";
    std::vector<Cell> totals = RowCells(page, page.totals, nullptr);
    if (page.recordColumn) {
        totals.back() = {HtmlEscaped(page.totals.label), ""};  // "Totals" where the records stand
    }
    out += TableRow(totals, "td") + "</tfoot>\n</table></div>\n</body>\n</html>\n";
    return out;
}

}  // namespace tally::reports
