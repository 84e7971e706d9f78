#include "dirstore/ldif.h"

#include <array>
#include <cctype>

namespace tally::store {
namespace {

constexpr std::string_view kBase64Alphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr std::size_t kFoldColumn = 76;

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

// One line after unfolding, with the number of its first physical line.
struct LogicalLine {
    std::string text;
    int line = 0;
};

// One record's lines; comments are dropped.
using RecordLines = std::vector<LogicalLine>;

bool Fail(Problem* problem, const std::filesystem::path& file, int line, std::string message) {
    if (problem) {
        problem->file = file;
        problem->line = line;
        problem->message = std::move(message);
    }
    return false;
}

// Splits the text into records of unfolded lines. Comments (with their continuation lines)
// are dropped; a blank line ends a record.
bool SplitRecords(std::string_view text, const std::filesystem::path& file, int firstLine,
                  std::vector<RecordLines>& records, Problem* problem) {
    RecordLines current;
    bool inComment = false;
    int lineNumber = firstLine;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        std::size_t next = (end == std::string_view::npos) ? text.size() : end + 1;
        std::string_view line =
            text.substr(pos, (end == std::string_view::npos ? text.size() : end) - pos);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (line.find('\0') != std::string_view::npos) {
            return Fail(problem, file, lineNumber, "NUL byte in line");
        }
        // A carriage return ends no line of LDIF: a file with CR-only line ends would read as one
        // comment line and so as nothing at all.
        if (line.find('\r') != std::string_view::npos) {
            return Fail(problem, file, lineNumber,
                        "carriage return inside a line (lines end with LF or CR LF)");
        }
        if (line.empty()) {
            if (!current.empty()) {
                records.push_back(std::move(current));
                current.clear();
            }
            inComment = false;
        } else if (line.front() == ' ') {
            if (inComment) {
                // A comment's continuation belongs to the comment.
            } else if (current.empty()) {
                return Fail(problem, file, lineNumber,
                            "continuation line (starting with a space) without a line to continue");
            } else {
                current.back().text.append(line.substr(1));
            }
        } else if (line.front() == '#') {
            inComment = true;
        } else {
            inComment = false;
            current.push_back({std::string(line), lineNumber});
        }
        ++lineNumber;
        pos = next;
    }
    if (!current.empty()) {
        records.push_back(std::move(current));
    }
    return true;
}

bool IsAttributeChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == ';' || c == '.';
}

// "attr: value", "attr:: base64". URLs ("attr:< ...") are refused: the store never reads files
// that a record names.
bool SplitAttributeLine(const LogicalLine& line, const std::filesystem::path& file, LdifValue& out,
                        Problem* problem) {
    std::size_t colon = line.text.find(':');
    if (colon == std::string::npos || colon == 0) {
        return Fail(problem, file, line.line,
                    "expected \"attribute: value\", found \"" + line.text.substr(0, 40) + "\"");
    }
    std::string_view name(line.text.data(), colon);
    for (char c : name) {
        if (!IsAttributeChar(c)) {
            return Fail(problem, file, line.line,
                        "bad attribute name \"" + std::string(name.substr(0, 40)) + "\"");
        }
    }
    out.attribute = std::string(name);
    out.line = line.line;
    std::string_view rest = std::string_view(line.text).substr(colon + 1);
    if (!rest.empty() && rest.front() == ':') {
        rest.remove_prefix(1);
        while (!rest.empty() && rest.front() == ' ') {
            rest.remove_prefix(1);
        }
        if (!DecodeBase64(rest, out.value)) {
            return Fail(problem, file, line.line, "bad base64 value of \"" + out.attribute + "\"");
        }
        return true;
    }
    if (!rest.empty() && rest.front() == '<') {
        return Fail(problem, file, line.line,
                    "URL values (\"" + out.attribute + ":<\") are not supported");
    }
    while (!rest.empty() && rest.front() == ' ') {
        rest.remove_prefix(1);
    }
    out.value = std::string(rest);
    return true;
}

bool ParseModify(const RecordLines& lines, std::size_t index, const std::filesystem::path& file,
                 LdifRecord& record, Problem* problem) {
    while (index < lines.size()) {
        LdifValue modLine;
        if (!SplitAttributeLine(lines[index], file, modLine, problem)) {
            return false;
        }
        LdifMod mod;
        mod.line = modLine.line;
        mod.attribute = modLine.value;
        if (EqualsIgnoreCase(modLine.attribute, "add")) {
            mod.op = ModOp::Add;
        } else if (EqualsIgnoreCase(modLine.attribute, "replace")) {
            mod.op = ModOp::Replace;
        } else if (EqualsIgnoreCase(modLine.attribute, "delete")) {
            mod.op = ModOp::Delete;
        } else if (EqualsIgnoreCase(modLine.attribute, "increment")) {
            mod.op = ModOp::Increment;
        } else {
            return Fail(problem, file, modLine.line,
                        "expected add:, replace:, delete: or increment:, found \"" +
                            modLine.attribute + ":\"");
        }
        if (mod.attribute.empty()) {
            return Fail(problem, file, modLine.line, "modification without an attribute name");
        }
        ++index;
        while (index < lines.size() && lines[index].text != "-") {
            LdifValue value;
            if (!SplitAttributeLine(lines[index], file, value, problem)) {
                return false;
            }
            if (!EqualsIgnoreCase(value.attribute, mod.attribute)) {
                return Fail(problem, file, value.line,
                            "value of \"" + value.attribute + "\" inside the modification of \"" +
                                mod.attribute + "\" (missing \"-\"?)");
            }
            mod.values.push_back(std::move(value.value));
            ++index;
        }
        if (index < lines.size()) {
            ++index;  // the "-"
        }
        if (mod.op == ModOp::Add && mod.values.empty()) {
            return Fail(problem, file, mod.line,
                        "add: of \"" + mod.attribute + "\" without a value");
        }
        if (mod.op == ModOp::Increment && mod.values.size() != 1) {
            return Fail(problem, file, mod.line,
                        "increment: of \"" + mod.attribute + "\" needs exactly one value");
        }
        record.mods.push_back(std::move(mod));
    }
    if (record.mods.empty()) {
        return Fail(problem, file, record.line, "modify record without modifications");
    }
    return true;
}

bool ParseRecord(const RecordLines& lines, const std::filesystem::path& file, LdifRecord& record,
                 Problem* problem) {
    LdifValue dn;
    if (!SplitAttributeLine(lines[0], file, dn, problem)) {
        return false;
    }
    if (!EqualsIgnoreCase(dn.attribute, "dn")) {
        return Fail(problem, file, dn.line,
                    "record must begin with \"dn:\", found \"" + dn.attribute + ":\"");
    }
    record.line = dn.line;
    record.dn = std::move(dn.value);
    std::size_t index = 1;
    record.kind = RecordKind::Content;
    if (index < lines.size()) {
        LdifValue first;
        if (!SplitAttributeLine(lines[index], file, first, problem)) {
            return false;
        }
        if (EqualsIgnoreCase(first.attribute, "control")) {
            return Fail(problem, file, first.line, "controls are not supported");
        }
        if (EqualsIgnoreCase(first.attribute, "changetype")) {
            ++index;
            if (EqualsIgnoreCase(first.value, "modify")) {
                record.kind = RecordKind::Modify;
                return ParseModify(lines, index, file, record, problem);
            }
            if (!EqualsIgnoreCase(first.value, "add")) {
                return Fail(problem, file, first.line,
                            "changetype \"" + first.value + "\" is not supported");
            }
            record.kind = RecordKind::Add;
        }
    }
    for (; index < lines.size(); ++index) {
        LdifValue value;
        if (!SplitAttributeLine(lines[index], file, value, problem)) {
            return false;
        }
        if (EqualsIgnoreCase(value.attribute, "changetype") ||
            EqualsIgnoreCase(value.attribute, "dn")) {
            return Fail(
                problem, file, value.line,
                "\"" + value.attribute + ":\" in the middle of a record (missing blank line?)");
        }
        record.values.push_back(std::move(value));
    }
    if (record.values.empty()) {
        return Fail(problem, file, record.line, "record without attributes");
    }
    return true;
}

bool IsSafeString(std::string_view value) {
    if (value.empty()) {
        return true;
    }
    unsigned char first = static_cast<unsigned char>(value.front());
    if (first == ' ' || first == ':' || first == '<' || value.back() == ' ') {
        return false;
    }
    for (unsigned char c : value) {
        if (c == 0 || c == '\n' || c == '\r' || c >= 0x80) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool ParseLdif(std::string_view text, const std::filesystem::path& file, int firstLine,
               std::vector<LdifRecord>& records, Problem* problem) {
    std::vector<RecordLines> split;
    if (!SplitRecords(text, file, firstLine, split, problem)) {
        return false;
    }
    bool first = true;
    for (RecordLines& lines : split) {
        if (first && lines[0].text.rfind("version:", 0) == 0) {
            LdifValue version;
            if (!SplitAttributeLine(lines[0], file, version, problem)) {
                return false;
            }
            if (version.value != "1") {
                return Fail(problem, file, version.line,
                            "unsupported LDIF version \"" + version.value + "\"");
            }
            lines.erase(lines.begin());
            if (lines.empty()) {
                first = false;
                continue;
            }
        }
        first = false;
        LdifRecord record;
        if (!ParseRecord(lines, file, record, problem)) {
            return false;
        }
        records.push_back(std::move(record));
    }
    return true;
}

void WriteLdifLine(std::string& out, std::string_view attribute, std::string_view value) {
    std::string line(attribute);
    if (IsSafeString(value)) {
        line += value.empty() ? ":" : ": ";
        line += value;
    } else {
        line += ":: ";
        line += EncodeBase64(value);
    }
    std::size_t pos = 0;
    std::size_t width = kFoldColumn;
    while (line.size() - pos > width) {
        out.append(line, pos, width);
        out += "\n ";
        pos += width;
        width = kFoldColumn - 1;
    }
    out.append(line, pos, std::string::npos);
    out += '\n';
}

std::string FormatLdifRecord(const LdifRecord& record) {
    std::string out;
    WriteLdifLine(out, "dn", record.dn);
    switch (record.kind) {
        case RecordKind::Content:
            break;
        case RecordKind::Add:
            out += "changetype: add\n";
            break;
        case RecordKind::Modify:
            out += "changetype: modify\n";
            break;
    }
    for (const LdifValue& value : record.values) {
        WriteLdifLine(out, value.attribute, value.value);
    }
    for (const LdifMod& mod : record.mods) {
        static constexpr std::array<std::string_view, 4> kOps = {"add", "replace", "delete",
                                                                 "increment"};
        WriteLdifLine(out, kOps[static_cast<std::size_t>(mod.op)], mod.attribute);
        for (const std::string& value : mod.values) {
            WriteLdifLine(out, mod.attribute, value);
        }
        out += "-\n";
    }
    return out;
}

std::string EncodeBase64(std::string_view bytes) {
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        std::uint32_t n = (static_cast<unsigned char>(bytes[i]) << 16) |
                          (static_cast<unsigned char>(bytes[i + 1]) << 8) |
                          static_cast<unsigned char>(bytes[i + 2]);
        out += kBase64Alphabet[(n >> 18) & 63];
        out += kBase64Alphabet[(n >> 12) & 63];
        out += kBase64Alphabet[(n >> 6) & 63];
        out += kBase64Alphabet[n & 63];
    }
    if (i < bytes.size()) {
        std::uint32_t n = static_cast<unsigned char>(bytes[i]) << 16;
        if (i + 1 < bytes.size()) {
            n |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        }
        out += kBase64Alphabet[(n >> 18) & 63];
        out += kBase64Alphabet[(n >> 12) & 63];
        out += (i + 1 < bytes.size()) ? kBase64Alphabet[(n >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

bool DecodeBase64(std::string_view text, std::string& bytes) {
    bytes.clear();
    while (!text.empty() && text.back() == ' ') {
        text.remove_suffix(1);
    }
    if (text.size() % 4 != 0) {
        return false;
    }
    std::uint32_t accumulator = 0;
    int bits = 0;
    std::size_t padding = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '=') {
            if (i + 2 < text.size()) {
                return false;
            }
            ++padding;
            continue;
        }
        if (padding > 0) {
            return false;
        }
        std::size_t index = kBase64Alphabet.find(c);
        if (index == std::string_view::npos) {
            return false;
        }
        accumulator = (accumulator << 6) | static_cast<std::uint32_t>(index);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            bytes += static_cast<char>((accumulator >> bits) & 0xFF);
        }
    }
    return true;
}

}  // namespace tally::store
