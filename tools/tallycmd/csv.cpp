#include "tools/tallycmd/csv.h"

#include <cstdio>

#include "platform/regular_file.h"

namespace tally::tallycmd {
namespace {

// Reads one record starting at `at`; `line` is advanced past every line end read. False with
// `problem` set when the record is malformed; `at` then stands after the line it ended on.
bool ReadRecord(std::string_view text, std::size_t& at, int& line, CsvRecord& record,
                std::string& problem, char separator) {
    record.fields.clear();
    std::string field;
    bool quoted = false;  // the field began with a quote
    bool inQuotes = false;
    bool closed = false;  // the quoted field's closing quote was read
    auto endField = [&] {
        record.fields.push_back(std::move(field));
        field.clear();
        quoted = inQuotes = closed = false;
    };
    auto skipRestOfLine = [&] {
        while (at < text.size() && text[at] != '\n') {
            ++at;
        }
        if (at < text.size()) {
            ++at;
            ++line;
        }
    };
    while (at < text.size()) {
        const char c = text[at];
        if (c == '\0') {
            // A name would end at the NUL, and the line would reach another user.
            problem = "field " + std::to_string(record.fields.size() + 1) + " holds a NUL byte";
            skipRestOfLine();
            return false;
        }
        if (inQuotes) {
            ++at;
            if (c == '"') {
                if (at < text.size() && text[at] == '"') {
                    field += '"';
                    ++at;
                } else {
                    inQuotes = false;
                    closed = true;
                }
            } else {
                if (c == '\n') {
                    ++line;
                }
                field += c;
            }
            continue;
        }
        if (c == separator) {
            ++at;
            endField();
            continue;
        }
        if (c == '\n' || (c == '\r' && (at + 1 == text.size() || text[at + 1] == '\n'))) {
            at += (c == '\r' && at + 1 < text.size()) ? 2 : 1;
            ++line;
            endField();
            return true;
        }
        if (c == '"' && field.empty() && !quoted) {
            quoted = inQuotes = true;
            ++at;
            continue;
        }
        if (closed) {
            problem =
                "text after the closing quote of field " + std::to_string(record.fields.size() + 1);
            skipRestOfLine();
            return false;
        }
        if (c == '"') {
            problem = "a quote inside field " + std::to_string(record.fields.size() + 1) +
                      " that does not begin with one (write the field in quotes, with the quote "
                      "doubled)";
            skipRestOfLine();
            return false;
        }
        field += c;
        ++at;
    }
    if (inQuotes) {
        problem = "the quote that opens field " + std::to_string(record.fields.size() + 1) +
                  " is never closed";
        return false;
    }
    endField();
    return true;
}

bool IsBlankRecord(const CsvRecord& record) {
    return record.fields.size() == 1 &&
           record.fields.front().find_first_not_of(" \t\r") == std::string::npos;
}

// ';' when the first record that is not blank is plainly separated by semicolons, else ','.
char SeparatorOf(std::string_view text) {
    std::size_t at = 0;
    int line = 1;
    while (at < text.size()) {
        const std::size_t start = at;
        CsvRecord byComma;
        std::string problem;
        if (!ReadRecord(text, at, line, byComma, problem, ',')) {
            return ',';
        }
        if (IsBlankRecord(byComma)) {
            continue;
        }
        if (byComma.fields.front().find(';') == std::string::npos) {
            return ',';
        }
        std::size_t again = start;
        CsvRecord bySemicolon;
        if (!ReadRecord(text, again, line, bySemicolon, problem, ';')) {
            return ',';
        }
        return bySemicolon.fields.size() == 2 || bySemicolon.fields.size() == 3 ? ';' : ',';
    }
    return ',';
}

}  // namespace

CsvContents ReadCsv(std::string_view text) {
    CsvContents contents;
    if (text.substr(0, 3) == "\xEF\xBB\xBF") {
        text.remove_prefix(3);
    }
    contents.separator = SeparatorOf(text);
    std::size_t at = 0;
    int line = 1;
    while (at < text.size()) {
        CsvRecord record;
        record.line = line;
        std::string problem;
        if (!ReadRecord(text, at, line, record, problem, contents.separator)) {
            contents.problems.push_back({record.line, problem});
            continue;
        }
        if (!IsBlankRecord(record)) {
            contents.records.push_back(std::move(record));
        }
    }
    return contents;
}

bool ReadCsvFile(const std::string& path, std::string& text, std::string& problem) {
    platform::FileKind kind = platform::FileKind::Missing;
    std::FILE* file = platform::OpenRegularFileForReading(path, kind);
    if (file == nullptr) {
        problem = platform::NotAFileMessage(path, kind, "a CSV file");
        if (problem.empty()) {
            problem = "cannot read " + path;
        }
        return false;
    }
    text.clear();
    char buffer[65536];
    std::size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
        text.append(buffer, got);
    }
    const bool readError = std::ferror(file) != 0;
    std::fclose(file);
    if (readError) {
        problem = "cannot read " + path;
        return false;
    }
    if (text.find('\r') != std::string::npos && text.find('\n') == std::string::npos) {
        problem = path + " ends its lines with CR alone; save it with CR LF or LF line ends";
        return false;
    }
    return true;
}

}  // namespace tally::tallycmd
