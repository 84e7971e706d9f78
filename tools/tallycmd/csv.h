// Comma-separated files as spreadsheets write and read them (RFC 4180): fields separated by
// commas, a field in double quotes may hold commas, line breaks and doubled quotes, records end
// in CR LF or LF. A spreadsheet whose locale writes numbers with a decimal comma separates its
// fields with semicolons instead ("JSMITH;5,00"): such a file is recognised by its first record.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "reports/csv_rows.h"

namespace tally::tallycmd {

struct CsvRecord {
    int line = 0;  // the line the record starts on, counted from 1
    std::vector<std::string> fields;
};

struct CsvProblem {
    int line = 0;
    std::string what;
};

// Splits `text` into records. Blank lines are passed over. A record whose quotes are not closed
// where they should be ("a"b, or a quote still open at the end of the file) is not returned:
// it is a problem at its line, and reading goes on with the next line. A UTF-8 byte-order mark
// at the start is dropped. The fields are separated by semicolons when the first record plainly
// is: read with commas its first field holds a semicolon, read with semicolons it has two or
// three fields.
struct CsvContents {
    std::vector<CsvRecord> records;
    std::vector<CsvProblem> problems;
    char separator = ',';
};
CsvContents ReadCsv(std::string_view text);

// Reads the whole file at `path` for ReadCsv. False with `problem` when it is a folder, a pipe or a
// device (never waited on), cannot be read, or ends its lines with CR alone (it would read as one
// line).
bool ReadCsvFile(const std::string& path, std::string& text, std::string& problem);

// Writing rows: reports/csv_rows.h.
using reports::CsvField;
using reports::CsvRow;

}  // namespace tally::tallycmd
