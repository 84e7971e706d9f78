// The LDAP messages of a search and of a modify as they go over the wire (RFC 4511, BER): the
// requests made (ldap_protocol.cpp) and the answers read (ldap_answers.cpp) by the program
// itself, without an LDAP library's reading. The Windows wire reads its search results this way
// over the connection it relays for wldap32 (tls_tunnel.h): Wine's wldap32 pays dozens of calls
// into wineserver for every entry it hands over, which made a list of ten thousand users take
// seconds; here the same answers cost one socket read per few hundred entries. The native wire
// reads the messages libldap has taken off the connection by the same rules, so that an answer
// is read alike whichever build reads it.
//
// Plain C++, so that it is tested natively against the server, under the sanitizers and by a
// fuzzer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ldapstore/ldap_wire.h"

namespace tally::ldap {

// Tags of RFC 4511: universal, then the protocol's own.
namespace ber {
inline constexpr unsigned char kBoolean = 0x01;
inline constexpr unsigned char kInteger = 0x02;
inline constexpr unsigned char kOctetString = 0x04;
inline constexpr unsigned char kEnumerated = 0x0a;
inline constexpr unsigned char kSequence = 0x30;
inline constexpr unsigned char kSet = 0x31;
inline constexpr unsigned char kSearchRequest = 0x63;
inline constexpr unsigned char kSearchResultEntry = 0x64;
inline constexpr unsigned char kSearchResultDone = 0x65;
inline constexpr unsigned char kModifyRequest = 0x66;
inline constexpr unsigned char kModifyResponse = 0x67;
inline constexpr unsigned char kSearchResultReference = 0x73;
inline constexpr unsigned char kExtendedResponse = 0x78;
inline constexpr unsigned char kControls = 0xa0;
inline constexpr unsigned char kReferral = 0xa3;
}  // namespace ber

inline constexpr const char* kPagedResultsControl = "1.2.840.113556.1.4.319";  // RFC 2696

// The most one message of an answer may hold. A server that announces more is refused at once
// rather than waited for: an entry is a few hundred bytes, the schema's some hundred kilobytes,
// a group of a hundred thousand members a few megabytes.
inline constexpr std::size_t kMostMessageBytes = std::size_t{64} << 20;

// One BER element taken off the front of `data`: its tag and its contents. False (and `data`
// as it was) when the element has not all arrived or cannot be read: a length of the definite
// form is read in any of its encodings, short or long (leading zero octets too); the indefinite
// form and tags of the high-number form, which no LDAP element has, are not.
bool ReadElement(std::string_view& data, unsigned char& tag, std::string_view& contents);

// How much of the first message of what a server sent has arrived.
enum class Arrival { Whole, Partial, Refused };
// The first BER element of `data` (a whole LDAPMessage): Whole with its size in `size`, Partial
// while it has not all arrived, Refused with the reason in `why` (when given) when its header
// cannot be read or it announces more than kMostMessageBytes.
Arrival FirstMessage(std::string_view data, std::size_t& size, std::string* why = nullptr);

// The length of the first whole BER element of `data`, or 0 while it has not all arrived (or
// is refused).
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
    // Extended: an extended operation's answer (StartTLS's), of which the result is read.
    enum class Kind { Entry, Reference, Done, Modified, Extended, Other };
    std::int32_t messageId = 0;
    Kind kind = Kind::Other;
    LdapEntry entry;         // Kind::Entry; Kind::Modified: the Post-Read control's entry
    int resultCode = 0;      // Kind::Done, Kind::Modified, Kind::Extended
    std::string diagnostic;  // ... the server's words
    std::string referral;    // ... with a referral: its first URL
    std::optional<std::string> pageCookie;  // Kind::Done with the Paged Results control
};

// The message ID of a whole LDAPMessage; nullopt when it cannot be read.
std::optional<std::int32_t> MessageIdOf(std::string_view message);

// Reads a whole LDAPMessage. Every element the program uses is read by the rules (a length or
// an integer in any of its encodings) or the whole answer is refused: false, with the reason in
// `why` (when given), naming the element. Nothing of an answer that is refused is kept in
// `answer`: an entry is never read in part, a control's value that cannot be read is never left
// out or taken for another. Elements the program does not know are passed over where the
// protocol lets them follow (RFC 4511, 4), but they too must be whole elements.
bool ParseSearchAnswer(std::string_view message, SearchAnswer& answer, std::string* why = nullptr);

// The same for a message whose envelope the LDAP library has read already (the native wire):
// its ID, its protocolOp's tag and contents, and the contents of its controls when it has any.
bool ParseAnswer(std::int32_t messageId, unsigned char tag, std::string_view operation,
                 const std::string_view* controls, SearchAnswer& answer, std::string* why);

// The words an answer that cannot be read is refused in: "the server's answer cannot be read
// (WHY)".
std::string UnreadableAnswer(const std::string& why);

}  // namespace tally::ldap
