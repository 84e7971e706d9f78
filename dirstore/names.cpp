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

// The characters a DN value escapes wherever they stand (RFC 4514).
bool IsDnSpecial(char c) {
    return c == ',' || c == '+' || c == '"' || c == '\\' || c == '<' || c == '>' || c == ';' ||
           c == '=';
}

// Attribute types are ASCII: letters, digits, "-" and "." (an OID).
bool IsTypeCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.';
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
    if (raw.find('\\') == std::string_view::npos) {
        out.assign(raw);
        return true;
    }
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
    rdn.type.assign(TrimSpaces(text.substr(0, equals)));
    for (char c : rdn.type) {
        if (!IsTypeCharacter(c)) {
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
    rdns.reserve(static_cast<std::size_t>(std::count(dn.begin(), dn.end(), ',')) + 1);
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

bool IsPlainDn(std::string_view dn) {
    if (dn.empty()) {
        return false;
    }
    std::size_t start = 0;
    while (start <= dn.size()) {
        std::size_t end = dn.find(',', start);
        if (end == std::string_view::npos) {
            end = dn.size();
        }
        const std::string_view part = dn.substr(start, end - start);
        const std::size_t equals = part.find('=');
        if (equals == std::string_view::npos || equals == 0 || equals + 1 == part.size() ||
            part[equals + 1] == ' ' || part.back() == ' ') {
            return false;
        }
        for (std::size_t i = 0; i < equals; ++i) {
            if (!IsTypeCharacter(part[i])) {
                return false;
            }
        }
        for (std::size_t i = equals + 1; i < part.size(); ++i) {
            // "#" is escaped only at a value's start; a plain DN holds none at all, which keeps
            // this check simple.
            if (IsDnSpecial(part[i]) || part[i] == '#') {
                return false;
            }
        }
        start = end + 1;
    }
    return true;
}

namespace {

void AppendRdn(std::string& out, const Rdn& rdn) {
    out += rdn.type;
    out += '=';
    const std::size_t last = rdn.value.size() - 1;
    std::size_t plainFrom = 0;
    for (std::size_t i = 0; i < rdn.value.size(); ++i) {
        const char c = rdn.value[i];
        const bool special = IsDnSpecial(c);
        const bool edge = (i == 0 && (c == ' ' || c == '#')) || (i == last && c == ' ');
        if (special || edge) {
            out.append(rdn.value, plainFrom, i - plainFrom);
            out += '\\';
            plainFrom = i;
        }
    }
    out.append(rdn.value, plainFrom, std::string::npos);
}

}  // namespace

std::string FormatRdn(const Rdn& rdn) {
    std::string out;
    AppendRdn(out, rdn);
    return out;
}

std::string FormatDn(const std::vector<Rdn>& rdns) {
    std::string out;
    std::size_t size = 0;
    for (const Rdn& rdn : rdns) {
        size += rdn.type.size() + rdn.value.size() + 2;
    }
    out.reserve(size);
    for (const Rdn& rdn : rdns) {
        if (!out.empty()) {
            out += ',';
        }
        AppendRdn(out, rdn);
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

namespace {

void AppendTypelessPart(std::string& out, std::string_view part) {
    std::size_t plainFrom = 0;
    for (std::size_t i = 0; i < part.size(); ++i) {
        if (part[i] == '.' || part[i] == '\\') {
            out.append(part.substr(plainFrom, i - plainFrom));
            out += '\\';
            plainFrom = i;
        }
    }
    out.append(part.substr(plainFrom));
}

}  // namespace

std::string JoinTypeless(const std::vector<std::string>& parts) {
    std::string out;
    for (const std::string& part : parts) {
        if (!out.empty()) {
            out += '.';
        }
        AppendTypelessPart(out, part);
    }
    return out;
}

std::string TypelessFromRdns(const std::vector<Rdn>& rdns) {
    std::string out;
    std::size_t size = 0;
    for (const Rdn& rdn : rdns) {
        size += rdn.value.size() + 1;
    }
    out.reserve(size);
    for (const Rdn& rdn : rdns) {
        if (!out.empty()) {
            out += '.';
        }
        AppendTypelessPart(out, rdn.value);
    }
    return out;
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
    // Read as SplitTypeless() reads it, keeping the first part alone: a name with an empty part
    // has no leaf.
    std::string leaf;
    bool inLeaf = true;
    std::size_t partLength = 0;
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (name[i] == '.') {
            if (partLength == 0) {
                return {};
            }
            inLeaf = false;
            partLength = 0;
            continue;
        }
        if (name[i] == '\\' && i + 1 < name.size()) {
            ++i;
        }
        if (inLeaf) {
            leaf += name[i];
        }
        ++partLength;
    }
    return partLength == 0 ? std::string() : leaf;
}

}  // namespace tally::store
