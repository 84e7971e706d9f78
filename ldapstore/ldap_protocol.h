// The LDAP messages of a search and of a modify as they go over the wire (RFC 4511, BER): the
// requests made and the answers read by the program itself, without an LDAP library. The Windows
// wire reads its search results this way over the connection it relays for wldap32 (tls_tunnel.h):
// Wine's wldap32 pays dozens of calls into wineserver for every entry it hands over, which made a
// list of ten thousand users take seconds; here the same answers cost one socket read per few
// hundred entries.
//
// Plain C++, so that it is tested natively against the server and under the sanitizers.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ldapstore/ldap_wire.h"

namespace tally::ldap {

// One BER element taken off the front of `data`: its tag and its contents. False (and `data`
// as it was) when the element has not all arrived or its length cannot be read.
bool ReadElement(std::string_view& data, unsigned char& tag, std::string_view& contents);

// The length of the first whole BER element of `data`, or 0 while it has not all arrived.
std::size_t WholeElement(std::string_view data);

// A search filter in its string form (RFC 4515) as BER; nullopt with the reason in `problem`
// (naming the place in the filter) when it cannot be read.
std::optional<std::string> EncodeFilter(std::string_view filter, std::string* problem);

struct SearchRequest {
    std::string base;
    LdapScope scope = LdapScope::Subtree;
    std::string filter;
    std::vector<std::string> attributes;
    int timeLimitSeconds = 0;
    std::uint32_t pageSize = 0;  // > 0: the Paged Results control, with `cookie`
    std::string cookie;
};

// The whole LDAPMessage of a search request; nullopt when the filter cannot be read.
std::optional<std::string> EncodeSearchRequest(std::int32_t messageId, const SearchRequest& request,
                                               std::string* problem);

// The whole LDAPMessage of a modify request, with the Post-Read control (critical) for
// `readBack` when it names any attribute. The Windows wire sends a batch's changes so, several
// ahead of their answers, on the connection it relays.
std::string EncodeModifyRequest(std::int32_t messageId, const std::string& dn,
                                const std::vector<LdapMod>& mods,
                                const std::vector<std::string>& readBack);

// One answer to a search (or to a modify), read from a whole LDAPMessage.
struct SearchAnswer {
    enum class Kind { Entry, Reference, Done, Modified, Other };
    std::int32_t messageId = 0;
    Kind kind = Kind::Other;
    LdapEntry entry;         // Kind::Entry; Kind::Modified: the Post-Read control's entry
    int resultCode = 0;      // Kind::Done, Kind::Modified
    std::string diagnostic;  // Kind::Done, Kind::Modified: the server's words
    std::string referral;    // ... with a referral: its first URL
    std::optional<std::string> pageCookie;  // Kind::Done with the Paged Results control
};

// One attribute of an entry as it comes over the wire (a PartialAttribute's contents): its
// type and its values. False when it cannot be read.
bool ReadAttribute(std::string_view attribute,
                   std::pair<std::string, std::vector<std::string>>& read);

// The entry that a Post-Read control's value (a whole SearchResultEntry) holds; false when it
// cannot be read.
bool ReadPostReadValue(std::string_view value, LdapEntry& entry);

// The message ID of a whole LDAPMessage; nullopt when it cannot be read.
std::optional<std::int32_t> MessageIdOf(std::string_view message);

// False when `message` is no LDAPMessage that can be read.
bool ParseSearchAnswer(std::string_view message, SearchAnswer& answer);

}  // namespace tally::ldap
