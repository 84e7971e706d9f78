#include "dirstore/journal.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

#include "platform/crc32.h"

namespace tally::store {
namespace {

struct RecordHeader {
    std::size_t length = 0;
    std::uint32_t crc = 0;
};

// "# record length=L crc32=C"
bool ParseRecordHeader(std::string_view line, RecordHeader& header) {
    line.remove_prefix(kRecordHeader.size());
    const char* end = line.data() + line.size();
    auto [afterLength, lengthError] = std::from_chars(line.data(), end, header.length);
    if (lengthError != std::errc()) {
        return false;
    }
    std::string_view rest(afterLength, static_cast<std::size_t>(end - afterLength));
    constexpr std::string_view kCrc = " crc32=";
    if (rest.substr(0, kCrc.size()) != kCrc) {
        return false;
    }
    rest.remove_prefix(kCrc.size());
    if (rest.size() != 8) {
        return false;
    }
    auto [afterCrc, crcError] = std::from_chars(rest.data(), rest.data() + 8, header.crc, 16);
    return crcError == std::errc() && afterCrc == rest.data() + 8;
}

int CountLines(std::string_view text) {
    return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

}  // namespace

std::string GenerationLine(std::string_view prefix, std::uint64_t generation) {
    return std::string(prefix) + std::to_string(generation) + "\n";
}

std::optional<std::uint64_t> ReadGeneration(std::string_view text, std::string_view prefix) {
    if (!StartsWith(text, prefix)) {
        return std::nullopt;
    }
    text.remove_prefix(prefix.size());
    std::uint64_t generation = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), generation);
    if (error != std::errc() || end == text.data()) {
        return std::nullopt;
    }
    if (end != text.data() + text.size() && *end != '\n' && *end != '\r') {
        return std::nullopt;
    }
    return generation;
}

std::string FrameRecord(std::string_view body) {
    char crc[16];
    std::snprintf(crc, sizeof crc, "%08x", static_cast<unsigned>(platform::Crc32(body)));
    std::string out(kRecordHeader);
    out += std::to_string(body.size());
    out += " crc32=";
    out += crc;
    out += '\n';
    out += body;
    out += '\n';
    return out;
}

JournalScan ScanJournal(std::string_view text, int firstLine, bool tailIsFinal) {
    JournalScan scan;
    std::size_t pos = 0;
    int line = firstLine;
    auto advanceTo = [&](std::size_t to) {
        line += CountLines(text.substr(pos, to - pos));
        pos = to;
    };
    auto tornTail = [&](int at) {
        if (tailIsFinal) {
            scan.tornLines.push_back(at);
            advanceTo(text.size());
            scan.endsClean = false;
        } else {
            scan.pendingTail = true;
            scan.pendingLine = at;
        }
    };
    // The body of the whole record whose header begins at `at`: header line, exactly `length`
    // bytes of LDIF lines matching the CRC, and the blank line that ends it.
    auto wholeRecordAt = [&](std::size_t at, std::string_view& body) {
        std::size_t headerEnd = text.find('\n', at);
        if (!StartsWith(text.substr(at), kRecordHeader) || headerEnd == std::string_view::npos) {
            return false;
        }
        RecordHeader header;
        std::size_t bodyStart = headerEnd + 1;
        if (!ParseRecordHeader(text.substr(at, headerEnd - at), header) || header.length == 0 ||
            header.length >= text.size() - bodyStart || text[bodyStart + header.length] != '\n' ||
            text[bodyStart + header.length - 1] != '\n') {
            return false;
        }
        body = text.substr(bodyStart, header.length);
        return platform::Crc32(body) == header.crc;
    };
    // Where the first whole record begins whose header starts after `from` and before `limit`:
    // torn bytes without a line end of their own may run into the next record's header, which
    // then begins in the middle of a line; a record that is whole is read wherever it begins.
    auto wholeRecordInside = [&](std::size_t from, std::size_t limit) {
        std::string_view body;
        std::string_view window = text.substr(0, limit);  // so that no search runs past it
        for (std::size_t at = window.find(kRecordHeader, from); at != std::string_view::npos;
             at = window.find(kRecordHeader, at + 1)) {
            if (wholeRecordAt(at, body)) {
                return at;
            }
        }
        return std::string_view::npos;
    };
    while (pos < text.size()) {
        std::size_t lineEnd = text.find('\n', pos);
        std::size_t limit = lineEnd == std::string_view::npos ? text.size() : lineEnd;
        if (!StartsWith(text.substr(pos), kRecordHeader)) {
            std::size_t inside = wholeRecordInside(pos + 1, limit);
            if (inside != std::string_view::npos) {
                scan.tornLines.push_back(line);
                pos = inside;  // on the same line
                continue;
            }
        }
        if (lineEnd == std::string_view::npos) {
            tornTail(line);
            break;
        }
        std::string_view current = text.substr(pos, lineEnd - pos);
        if (current.empty() || current == "\r") {
            advanceTo(lineEnd + 1);
            continue;
        }
        if (StartsWith(current, kRecordHeader)) {
            std::string_view body;
            if (wholeRecordAt(pos, body)) {
                scan.records.push_back({body, line + 1});
                advanceTo(static_cast<std::size_t>(body.data() - text.data()) + body.size() + 1);
                continue;
            }
            // Torn: the next record, if any, begins at the next record header that starts a line,
            // or at a whole record wherever it begins.
            std::size_t next = std::string_view::npos;
            for (std::size_t at = text.find(kRecordHeader, pos + 1); at != std::string_view::npos;
                 at = text.find(kRecordHeader, at + 1)) {
                std::string_view ignored;
                if (text[at - 1] == '\n' || wholeRecordAt(at, ignored)) {
                    next = at;
                    break;
                }
            }
            if (next == std::string_view::npos) {
                tornTail(line);
                break;
            }
            scan.tornLines.push_back(line);
            advanceTo(next);
            continue;
        }
        if (current.front() == '#') {
            advanceTo(lineEnd + 1);
            continue;
        }
        // A record written by hand, without a header: it ends at a blank line, or where the
        // line holding a whole framed record begins.
        std::size_t blank = text.find("\n\n", pos);
        // (the search for a CR LF blank line stops where the LF one is: no hand-written journal
        // is read to its end once a record)
        std::size_t end =
            text.substr(0, blank == std::string_view::npos ? blank : blank + 2).find("\n\r\n", pos);
        end = std::min(blank, end);
        std::size_t framed =
            wholeRecordInside(lineEnd + 1, end == std::string_view::npos ? text.size() : end + 1);
        if (framed != std::string_view::npos) {
            std::size_t lineStart = text.rfind('\n', framed - 1) + 1;
            scan.records.push_back({text.substr(pos, lineStart - pos), line});
            advanceTo(lineStart);
            continue;
        }
        if (end == std::string_view::npos) {
            if (text.back() != '\n') {
                tornTail(line);
                break;
            }
            end = text.size() - 1;
        }
        scan.records.push_back({text.substr(pos, end + 1 - pos), line});
        advanceTo(end + 1);
    }
    scan.consumed = pos;
    scan.consumedLines = line - firstLine;
    return scan;
}

}  // namespace tally::store
