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
bool parseRecordHeader(std::string_view line, RecordHeader& header) {
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

int countLines(std::string_view text) {
    return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

bool startsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

}  // namespace

std::string generationLine(std::string_view prefix, std::uint64_t generation) {
    return std::string(prefix) + std::to_string(generation) + "\n";
}

std::optional<std::uint64_t> readGeneration(std::string_view text, std::string_view prefix) {
    if (!startsWith(text, prefix)) {
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

std::string frameRecord(std::string_view body) {
    char crc[16];
    std::snprintf(crc, sizeof crc, "%08x", static_cast<unsigned>(platform::crc32(body)));
    std::string out(kRecordHeader);
    out += std::to_string(body.size());
    out += " crc32=";
    out += crc;
    out += '\n';
    out += body;
    out += '\n';
    return out;
}

JournalScan scanJournal(std::string_view text, int firstLine, bool tailIsFinal) {
    JournalScan scan;
    std::size_t pos = 0;
    int line = firstLine;
    auto advanceTo = [&](std::size_t to) {
        line += countLines(text.substr(pos, to - pos));
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
    while (pos < text.size()) {
        std::size_t lineEnd = text.find('\n', pos);
        if (lineEnd == std::string_view::npos) {
            tornTail(line);
            break;
        }
        std::string_view current = text.substr(pos, lineEnd - pos);
        if (current.empty() || current == "\r") {
            advanceTo(lineEnd + 1);
            continue;
        }
        if (startsWith(current, kRecordHeader)) {
            RecordHeader header;
            std::size_t bodyStart = lineEnd + 1;
            bool whole = parseRecordHeader(current, header) && header.length > 0 &&
                         header.length < text.size() && bodyStart + header.length < text.size() &&
                         text[bodyStart + header.length] == '\n' &&
                         text[bodyStart + header.length - 1] == '\n' &&
                         platform::crc32(text.substr(bodyStart, header.length)) == header.crc;
            if (whole) {
                scan.records.push_back({text.substr(bodyStart, header.length), line + 1});
                advanceTo(bodyStart + header.length + 1);
                continue;
            }
            // Torn: the next record, if any, begins at the next record header.
            std::size_t next = text.find(std::string("\n") + std::string(kRecordHeader), pos);
            if (next == std::string_view::npos) {
                tornTail(line);
                break;
            }
            scan.tornLines.push_back(line);
            advanceTo(next + 1);
            continue;
        }
        if (current.front() == '#') {
            advanceTo(lineEnd + 1);
            continue;
        }
        // A record written by hand, without a header: it ends at a blank line.
        std::size_t blank = text.find("\n\n", pos);
        std::size_t blankCr = text.find("\n\r\n", pos);
        std::size_t end = std::min(blank, blankCr);
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
