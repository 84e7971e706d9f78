// Directory names: LDAP distinguished names ("cn=JSMITH,ou=SALES,o=CORP") and the directory
// client's typeless names ("JSMITH.SALES.CORP"), both compared without regard to case.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tally::store {

// Inline, as names are compared everywhere: bytes that agree cost one comparison each.
inline bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        const char x = a[i];
        const char y = b[i];
        if (x != y) {
            const char folded = static_cast<char>(x | 0x20);
            if (folded != static_cast<char>(y | 0x20) || folded < 'a' || folded > 'z') {
                return false;
            }
        }
    }
    return true;
}

struct Rdn {
    std::string type;   // "cn"
    std::string value;  // "JSMITH", unescaped
};

// Splits a DN into its relative names, leaf first; on success there is at least one.
// Multi-valued relative names ("cn=a+sn=b"), empty parts and a backslash that escapes nothing
// (at the very end) are refused with a message in `error`.
bool ParseDn(std::string_view dn, std::vector<Rdn>& rdns, std::string* error);
std::string FormatDn(const std::vector<Rdn>& rdns);
// Whether `dn` is written as FormatDn() writes it, with nothing to escape or trim (one "=" a
// part, no spaces at its edges): such a DN is its own normal form, and two of them name the same
// entry exactly when they are equal without regard to case.
bool IsPlainDn(std::string_view dn);
std::string FormatRdn(const Rdn& rdn);

// A typeless name's parts, leaf first ("\." stands for a point inside a part). False for an
// empty name or an empty part.
bool SplitTypeless(std::string_view name, std::vector<std::string>& parts);
std::string JoinTypeless(const std::vector<std::string>& parts);
std::string TypelessFromRdns(const std::vector<Rdn>& rdns);

// The container of a typeless name: "SALES.CORP" for "JSMITH.SALES.CORP", "" at the top.
std::string ParentName(std::string_view name);
// The leaf part, unescaped: "JSMITH".
std::string LeafName(std::string_view name);

}  // namespace tally::store
