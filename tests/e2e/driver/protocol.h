// The driver's line protocol: how a command line is split into words and how results are
// written back. Plain C++ so that the rules are the same on both sides of the pipe (the python
// harness mirrors them in tests/e2e/harness/tallye2e.py).
//
// A command is words separated by blanks. A word in double quotes may hold blanks; inside the
// quotes \" stands for a quote and \\ for a backslash, every other backslash is kept as it is
// (so "\\ACCT1\SYS" needs no doubling beyond its leading pair). Unquoted words are taken
// literally.
//
// A reply is "OK n" followed by n value lines, or "ERR message". In a value line a backslash is
// written \\, a newline \n, a carriage return \r and a tab \t, so that every value stays on one
// line.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace e2e {

struct SplitResult {
    std::vector<std::string> words;
    std::string error;  // empty when the line was well formed
};

inline SplitResult splitCommandLine(const std::string& line) {
    SplitResult result;
    std::size_t i = 0;
    const std::size_t n = line.size();
    while (i < n) {
        while (i < n && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r' || line[i] == '\n')) {
            ++i;
        }
        if (i >= n) {
            break;
        }
        std::string word;
        if (line[i] == '"') {
            ++i;
            bool closed = false;
            while (i < n) {
                char c = line[i];
                if (c == '"') {
                    closed = true;
                    ++i;
                    break;
                }
                if (c == '\\' && i + 1 < n && (line[i + 1] == '"' || line[i + 1] == '\\')) {
                    word += line[i + 1];
                    i += 2;
                    continue;
                }
                word += c;
                ++i;
            }
            if (!closed) {
                result.error = "unterminated quote in command line";
                return result;
            }
        } else {
            while (i < n && line[i] != ' ' && line[i] != '\t' && line[i] != '\r' &&
                   line[i] != '\n') {
                word += line[i++];
            }
        }
        result.words.push_back(word);
    }
    return result;
}

inline std::string escapeValue(const std::string& value) {
    std::string out;
    out.reserve(value.size());
    for (char c : value) {
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                out += c;
        }
    }
    return out;
}

// Whole-string integer parse (decimal, or hexadecimal with 0x); nothing on junk or overflow.
inline std::optional<long long> parseInteger(const std::string& text) {
    if (text.empty()) {
        return std::nullopt;
    }
    std::size_t used = 0;
    long long value = 0;
    try {
        value = std::stoll(text, &used, 0);
    } catch (...) {
        return std::nullopt;
    }
    if (used != text.size()) {
        return std::nullopt;
    }
    return value;
}

}  // namespace e2e
