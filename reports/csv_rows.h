// Rows of comma-separated files as spreadsheets read them (RFC 4180): the reports' CSV layout.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tally::reports {

// One field as written: in quotes when it holds a comma, a quote, a line break or blanks at
// either end, with quotes doubled; as it is otherwise.
std::string CsvField(std::string_view text);

// The fields joined by commas, ended by CR LF.
std::string CsvRow(const std::vector<std::string>& fields);

}  // namespace tally::reports
