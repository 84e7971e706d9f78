#include "dirstore/names.h"

#include <algorithm>
#include <cctype>

#include "dirstore/store.h"

namespace tally::store {
namespace {

// Names compare without regard to ASCII case, whatever locale the program set: inline, as every
// lookup of an entry or a definition compares names with it.
int Lower(char c) {
    return (c >= 'A' && c <= 'Z') ? c - 'A' + 'a' : static_cast<unsigned char>(c);
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    c = static_cast<char>(Lower(c));
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

std::string_view TrimSpaces(std::string_view text) {
    while (!text.empty() && text.front() == ' ') {
        text.remove_prefix(1);
    }
    while (!text.empty() && text.back() == ' ' &&
           !(text.size() >= 2 && text[text.size() - 2] == '\\')) {
        text.remove_suffix(1);
    }
    return text;
}

bool UnescapeDnValue(std::string_view raw, std::string& out) {
    out.clear();
    for (std::size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] != '\\') {
            out += raw[i];
            continue;
        }
        if (i + 1 >= raw.size()) {
            return false;
        }
        int high = HexDigit(raw[i + 1]);
        int low = (i + 2 < raw.size()) ? HexDigit(raw[i + 2]) : -1;
        if (high >= 0 && low >= 0) {
            out += static_cast<char>(high * 16 + low);
            i += 2;
        } else {
            out += raw[i + 1];
            ++i;
        }
    }
    return true;
}

bool ParseRdn(std::string_view text, Rdn& rdn, std::string* error) {
    text = TrimSpaces(text);
    std::size_t equals = text.find('=');
    if (equals == std::string_view::npos || equals == 0) {
        if (error) {
            *error = "\"" + std::string(text) + "\" is not of the form type=value";
        }
        return false;
    }
    rdn.type = std::string(TrimSpaces(text.substr(0, equals)));
    for (char c : rdn.type) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '.') {
            if (error) {
                *error = "bad attribute type \"" + rdn.type + "\" in a DN";
            }
            return false;
        }
    }
    std::string_view raw = TrimSpaces(text.substr(equals + 1));
    if (!UnescapeDnValue(raw, rdn.value) || rdn.value.empty()) {
        if (error) {
            *error = "bad or empty value in \"" + std::string(text) + "\"";
        }
        return false;
    }
    return true;
}

}  // namespace

std::string Problem::Describe() const {
    return file.string() + ":" + std::to_string(line) + ": " + message;
}

bool ParseDn(std::string_view dn, std::vector<Rdn>& rdns, std::string* error) {
    rdns.clear();
    std::size_t start = 0;
    for (std::size_t i = 0; i <= dn.size(); ++i) {
        if (i < dn.size() && dn[i] == '\\') {
            if (i + 1 == dn.size()) {
                if (error) {
                    *error = "\"" + std::string(dn) + "\" ends in a backslash that escapes nothing";
                }
                return false;
            }
            ++i;
            continue;
        }
        if (i < dn.size() && dn[i] == '+') {
            if (error) {
                *error =
                    "multi-valued names (\"+\") are not supported: \"" + std::string(dn) + "\"";
            }
            return false;
        }
        if (i == dn.size() || dn[i] == ',' || dn[i] == ';') {
            Rdn rdn;
            if (!ParseRdn(dn.substr(start, i - start), rdn, error)) {
                return false;
            }
            rdns.push_back(std::move(rdn));
            start = i + 1;
        }
    }
    if (rdns.empty()) {
        if (error) {
            *error = "empty DN";
        }
        return false;
    }
    return true;
}

std::string FormatRdn(const Rdn& rdn) {
    std::string out = rdn.type + "=";
    for (std::size_t i = 0; i < rdn.value.size(); ++i) {
        char c = rdn.value[i];
        bool special = c == ',' || c == '+' || c == '"' || c == '\\' || c == '<' || c == '>' ||
                       c == ';' || c == '=';
        bool edge = (i == 0 && (c == ' ' || c == '#')) || (i + 1 == rdn.value.size() && c == ' ');
        if (special || edge) {
            out += '\\';
        }
        out += c;
    }
    return out;
}

std::string FormatDn(const std::vector<Rdn>& rdns) {
    std::string out;
    for (const Rdn& rdn : rdns) {
        if (!out.empty()) {
            out += ',';
        }
        out += FormatRdn(rdn);
    }
    return out;
}

bool SplitTypeless(std::string_view name, std::vector<std::string>& parts) {
    parts.clear();
    std::string current;
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (name[i] == '\\' && i + 1 < name.size()) {
            current += name[++i];
        } else if (name[i] == '.') {
            if (current.empty()) {
                return false;
            }
            parts.push_back(std::move(current));
            current.clear();
        } else {
            current += name[i];
        }
    }
    if (current.empty()) {
        return false;
    }
    parts.push_back(std::move(current));
    return true;
}

std::string JoinTypeless(const std::vector<std::string>& parts) {
    std::string out;
    for (const std::string& part : parts) {
        if (!out.empty()) {
            out += '.';
        }
        for (char c : part) {
            if (c == '.' || c == '\\') {
                out += '\\';
            }
            out += c;
        }
    }
    return out;
}

std::string TypelessFromRdns(const std::vector<Rdn>& rdns) {
    std::vector<std::string> parts;
    parts.reserve(rdns.size());
    for (const Rdn& rdn : rdns) {
        parts.push_back(rdn.value);
    }
    return JoinTypeless(parts);
}

std::string ParentName(std::string_view name) {
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (name[i] == '\\') {
            ++i;
        } else if (name[i] == '.') {
            return std::string(name.substr(i + 1));
        }
    }
    return {};
}

std::string LeafName(std::string_view name) {
    std::vector<std::string> parts;
    if (!SplitTypeless(name, parts)) {
        return {};
    }
    return parts.front();
}

}  // namespace tally::store
