#include "directory/dirclient_names.h"

#include <cctype>
#include <cstring>

#include "directory/dirclient.h"

namespace tally::directory {
namespace {

char Folded(char c) {
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

bool HasEmptyPart(std::string_view name) {
    return name.empty() || name.front() == '.' || name.back() == '.' ||
           name.find("..") != std::string_view::npos;
}

}  // namespace

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (Folded(a[i]) != Folded(b[i])) {
            return false;
        }
    }
    return true;
}

bool IsRootName(std::string_view name) {
    return SameName(name, DIR_ROOT_NAME);
}

namespace {

// The point that ends a name's leaf: the first one not written "\." (a point inside the leaf).
std::size_t LeafEnd(std::string_view fullName) {
    for (std::size_t i = 0; i < fullName.size(); ++i) {
        if (fullName[i] == '\\') {
            ++i;
        } else if (fullName[i] == '.') {
            return i;
        }
    }
    return std::string_view::npos;
}

}  // namespace

std::string_view LeafOf(std::string_view fullName) {
    return fullName.substr(0, LeafEnd(fullName));
}

std::string_view ContainerOf(std::string_view fullName) {
    std::size_t point = LeafEnd(fullName);
    return point == std::string_view::npos ? std::string_view() : fullName.substr(point + 1);
}

std::optional<std::string> AsWrittenName(std::string_view name) {
    if (!name.empty() && name.front() == '.') {
        name.remove_prefix(1);
    }
    if (HasEmptyPart(name)) {
        return std::nullopt;
    }
    return std::string(name);
}

std::optional<std::string> CompleteName(std::string_view name, std::string_view context) {
    if (!name.empty() && name.front() == '.') {
        return AsWrittenName(name);
    }
    std::string_view base = IsRootName(context) ? std::string_view() : context;
    while (!name.empty() && name.back() == '.') {
        if (base.empty()) {
            return std::nullopt;
        }
        name.remove_suffix(1);
        base = ContainerOf(base);
    }
    if (HasEmptyPart(name)) {
        return std::nullopt;
    }
    std::string complete;
    complete.reserve(name.size() + 1 + base.size());
    complete += name;
    if (!base.empty()) {
        complete += '.';
        complete += base;
    }
    return complete;
}

bool MatchesPattern(std::string_view name, std::string_view pattern) {
    // Greedy match with one backtracking point: the position after the last "*".
    std::size_t n = 0, p = 0;
    std::size_t starAt = std::string_view::npos, resumeAt = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == '?' || Folded(pattern[p]) == Folded(name[n]))) {
            ++n;
            ++p;
        } else if (p < pattern.size() && pattern[p] == '*') {
            starAt = p++;
            resumeAt = n;
        } else if (starAt != std::string_view::npos) {
            p = starAt + 1;
            n = ++resumeAt;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') {
        ++p;
    }
    return p == pattern.size();
}

void CopyName(std::string_view name, char* out) {
    std::size_t length =
        name.size() < DIR_MAX_NAME_BYTES - 1 ? name.size() : DIR_MAX_NAME_BYTES - 1;
    std::memcpy(out, name.data(), length);
    out[length] = '\0';
}

}  // namespace tally::directory
