// The answers of the protocol read from their BER (ldap_protocol.h): every element the program
// uses is read by the rules, or the whole answer is refused naming the element.
#include <cstdio>
#include <limits>
#include <utility>

#include "ldapstore/ldap_protocol.h"

namespace tally::ldap {
namespace {

using namespace ber;

// The length of the element `data` begins with, in the short or the long form; the long form's
// octets may lead with zeros, however many, as long as the length fits.
bool ReadLength(std::string_view data, std::size_t& header, std::size_t& length) {
    const auto first = static_cast<unsigned char>(data[1]);
    if ((first & 0x80) == 0) {
        header = 2;
        length = first;
        return true;
    }
    const std::size_t octets = first & 0x7f;
    // 0x80 is the indefinite form, which LDAP does not allow (RFC 4511, 5.1); 0xff is reserved.
    if (octets == 0 || octets == 0x7f || data.size() < 2 + octets) {
        return false;
    }
    length = 0;
    for (std::size_t i = 0; i < octets; ++i) {
        if (length > (std::numeric_limits<std::size_t>::max() >> 8)) {
            return false;
        }
        length = (length << 8) | static_cast<unsigned char>(data[2 + i]);
    }
    header = 2 + octets;
    return true;
}

std::string Hex(unsigned char byte) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02x", byte);
    return text;
}

// A reading that stops at the first element that cannot be read, with the reason. The element's
// name (`what`, a callable giving the text) is made only when it is needed: a listing reads tens
// of thousands of elements.
class Reader {
  public:
    explicit Reader(std::string& why) : why_(why) {}

    bool Fail(const std::string& reason) {
        if (why_.empty()) {
            why_ = reason;
        }
        return false;
    }

    // The next element of `data`, which must have the tag `expected`.
    template <typename What>
    bool Take(std::string_view& data, unsigned char expected, std::string_view& contents,
              const What& what) {
        unsigned char tag = 0;
        std::string_view rest = data;
        if (!data.empty() && ReadElement(rest, tag, contents) && tag == expected) {
            data = rest;
            return true;
        }
        if (data.empty()) {
            return Fail(what() + " is missing");
        }
        if (rest.size() == data.size()) {
            return Fail(what() + " is not a whole BER element");
        }
        return Fail(what() + " has the tag " + Hex(tag) + " where " + Hex(expected) + " belongs");
    }

    // Whether the next element of `data` has the tag `tag` (an optional element's).
    static bool Next(std::string_view data, unsigned char tag) {
        return !data.empty() && static_cast<unsigned char>(data.front()) == tag;
    }

    // What follows the elements the program reads: more elements, which it passes over, and
    // nothing that is not one.
    template <typename What>
    bool Rest(std::string_view data, const What& what) {
        while (!data.empty()) {
            unsigned char tag = 0;
            std::string_view contents;
            if (!ReadElement(data, tag, contents)) {
                return Fail(what() + " ends in bytes that are no BER element");
            }
        }
        return true;
    }

    // An INTEGER or ENUMERATED from 0 to 2^31-1, in any of its encodings (leading zero octets
    // too): the message IDs and result codes of RFC 4511.
    template <typename What>
    bool Count(std::string_view& data, unsigned char tag, std::int32_t& value, const What& what) {
        std::string_view contents;
        if (!Take(data, tag, contents, what)) {
            return false;
        }
        if (contents.empty()) {
            return Fail(what() + " is an integer without octets");
        }
        if ((static_cast<unsigned char>(contents.front()) & 0x80) != 0) {
            return Fail(what() + " is negative");
        }
        std::uint64_t read = 0;
        for (const char octet : contents) {
            read = (read << 8) | static_cast<unsigned char>(octet);
            if (read > static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max())) {
                return Fail(what() + " is larger than 2^31-1");
            }
        }
        value = static_cast<std::int32_t>(read);
        return true;
    }

    bool Entry(std::string_view body, LdapEntry& entry) {
        std::string_view dn, attributes;
        auto named = [&] { return "entry \"" + std::string(dn) + "\""; };
        if (!Take(body, kOctetString, dn, [] { return std::string("the entry's name"); }) ||
            !Take(body, kSequence, attributes, [&] { return "the attributes of " + named(); }) ||
            !Rest(body, named)) {
            return false;
        }
        LdapEntry read;
        read.dn.assign(dn);
        for (std::size_t number = 1; !attributes.empty(); ++number) {
            std::string_view attribute;
            if (!Take(attributes, kSequence, attribute,
                      [&] { return "attribute " + std::to_string(number) + " of " + named(); }) ||
                !Attribute(attribute, number, read)) {
                return false;
            }
        }
        entry = std::move(read);
        return true;
    }

    // One PartialAttribute: its type and its values, each an OCTET STRING. A type named twice
    // would leave open which values are the entry's.
    bool Attribute(std::string_view attribute, std::size_t number, LdapEntry& entry) {
        std::string_view type, values;
        if (!Take(attribute, kOctetString, type, [&] {
                return "the type of attribute " + std::to_string(number) + " of entry \"" +
                       entry.dn + "\"";
            })) {
            return false;
        }
        auto named = [&] {
            return "attribute " + std::string(type) + " of entry \"" + entry.dn + "\"";
        };
        if (!Take(attribute, kSet, values, [&] { return "the values of " + named(); }) ||
            !Rest(attribute, named)) {
            return false;
        }
        for (const auto& held : entry.attributes) {
            if (SameType(held.first, type)) {
                return Fail(named() + " is sent twice");
            }
        }
        auto& read = entry.attributes.emplace_back();
        read.first.assign(type);
        for (std::size_t value = 1; !values.empty(); ++value) {
            std::string_view text;
            if (!Take(values, kOctetString, text,
                      [&] { return "value " + std::to_string(value) + " of " + named(); })) {
                return false;
            }
            read.second.emplace_back(text);
        }
        return true;
    }

    // LDAPResult: the result code, the matched DN, the server's words and a referral's first
    // URL.
    template <typename What>
    bool Result(std::string_view body, SearchAnswer& answer, const What& what) {
        std::string_view matched, words;
        std::int32_t code = 0;
        if (!Count(body, kEnumerated, code, [&] { return "the result code of " + what(); }) ||
            !Take(body, kOctetString, matched, [&] { return "the matched name of " + what(); }) ||
            !Take(body, kOctetString, words,
                  [&] { return "the diagnostic message of " + what(); })) {
            return false;
        }
        answer.resultCode = code;
        answer.diagnostic.assign(words);
        if (Next(body, kReferral)) {
            std::string_view referrals, url;
            auto referral = [&] { return "the referral of " + what(); };
            if (!Take(body, kReferral, referrals, referral) ||
                !Take(referrals, kOctetString, url,
                      [&] { return "the first URL of " + referral(); }) ||
                !Rest(referrals, referral)) {
                return false;
            }
            answer.referral.assign(url);
        }
        return Rest(body, what);
    }

    // The controls of an answer: each must be a Control (RFC 4511, 4.1.11); of those the program
    // asks for, the value is read whole, and the same control twice is refused.
    template <typename What>
    bool Controls(std::string_view controls, SearchAnswer& answer, const What& what) {
        bool postRead = false;
        bool paged = false;
        for (std::size_t number = 1; !controls.empty(); ++number) {
            auto where = [&] { return "control " + std::to_string(number) + " of " + what(); };
            std::string_view control, type, value, critical;
            if (!Take(controls, kSequence, control, where) ||
                !Take(control, kOctetString, type, [&] { return "the type of " + where(); })) {
                return false;
            }
            if (Next(control, kBoolean) && (!Take(control, kBoolean, critical, [&] {
                    return "the criticality of " + where();
                }) || critical.size() != 1)) {
                return Fail("the criticality of " + where() + " is not a boolean");
            }
            if (Next(control, kOctetString) &&
                !Take(control, kOctetString, value, [&] { return "the value of " + where(); })) {
                return false;
            }
            if (!Rest(control, where)) {
                return false;
            }
            if (type == kPostReadControl && answer.kind == SearchAnswer::Kind::Modified) {
                if (postRead) {
                    return Fail(what() + " carries two Post-Read controls");
                }
                postRead = true;
                if (!PostRead(value, answer.entry, what)) {
                    return false;
                }
            } else if (type == kPagedResultsControl && answer.kind == SearchAnswer::Kind::Done) {
                if (paged) {
                    return Fail(what() + " carries two Paged Results controls");
                }
                paged = true;
                if (!PageCookie(value, answer, what)) {
                    return false;
                }
            }
        }
        return true;
    }

    // The Post-Read control's value: one whole SearchResultEntry (RFC 4527).
    template <typename What>
    bool PostRead(std::string_view value, LdapEntry& entry, const What& what) {
        auto where = [&] { return "the entry of the Post-Read control of " + what(); };
        std::string_view body;
        if (!Take(value, kSearchResultEntry, body, where) || !Entry(body, entry)) {
            return false;
        }
        if (!value.empty()) {
            entry = LdapEntry{};
            return Fail(where() + " is followed by other bytes");
        }
        return true;
    }

    // The Paged Results control's value: the size estimate and the cookie (RFC 2696).
    template <typename What>
    bool PageCookie(std::string_view value, SearchAnswer& answer, const What& what) {
        auto where = [&] { return "the Paged Results control of " + what(); };
        std::string_view paged, cookie;
        std::int32_t size = 0;
        if (!Take(value, kSequence, paged, where) ||
            !Count(paged, kInteger, size, [&] { return "the size in " + where(); }) ||
            !Take(paged, kOctetString, cookie, [&] { return "the cookie in " + where(); }) ||
            !Rest(paged, where) || !Rest(value, where)) {
            return false;
        }
        answer.pageCookie = std::string(cookie);
        return true;
    }

    template <typename What>
    bool References(std::string_view body, const What& what) {
        for (std::size_t number = 1; !body.empty(); ++number) {
            std::string_view url;
            if (!Take(body, kOctetString, url,
                      [&] { return "URL " + std::to_string(number) + " of " + what(); })) {
                return false;
            }
        }
        return true;
    }

    bool Answer(std::int32_t messageId, unsigned char tag, std::string_view operation,
                const std::string_view* controls, SearchAnswer& answer) {
        answer.messageId = messageId;
        auto what = [messageId] { return "the answer to request " + std::to_string(messageId); };
        switch (tag) {
            case kSearchResultEntry:
                answer.kind = SearchAnswer::Kind::Entry;
                return Entry(operation, answer.entry);
            case kSearchResultReference:
                answer.kind = SearchAnswer::Kind::Reference;
                return References(operation, what);
            case kExtendedResponse:
                // Its name and value follow the result, passed over.
                answer.kind = SearchAnswer::Kind::Extended;
                return Result(operation, answer, what);
            case kSearchResultDone:
            case kModifyResponse:
                answer.kind = tag == kModifyResponse ? SearchAnswer::Kind::Modified
                                                     : SearchAnswer::Kind::Done;
                return Result(operation, answer, what) &&
                       (controls == nullptr || Controls(*controls, answer, what));
            default:
                answer.kind = SearchAnswer::Kind::Other;
                return true;
        }
    }

  private:
    static bool SameType(std::string_view a, std::string_view b) {
        if (a.size() != b.size()) {
            return false;
        }
        for (std::size_t i = 0; i < a.size(); ++i) {
            const auto x = static_cast<unsigned char>(a[i]);
            const auto y = static_cast<unsigned char>(b[i]);
            if ((x >= 'A' && x <= 'Z' ? x + 32 : x) != (y >= 'A' && y <= 'Z' ? y + 32 : y)) {
                return false;
            }
        }
        return true;
    }

    std::string& why_;
};

// The envelope of an LDAPMessage: its ID, and after it the protocolOp and the controls.
bool ReadEnvelope(Reader& reader, std::string_view message, std::int32_t& messageId,
                  std::string_view& body) {
    auto named = [] { return std::string("the message"); };
    return reader.Take(message, kSequence, body, named) && reader.Rest(message, named) &&
           reader.Count(body, kInteger, messageId, [] { return std::string("the message ID"); });
}

}  // namespace

bool ReadElement(std::string_view& data, unsigned char& tag, std::string_view& contents) {
    if (data.size() < 2 || (static_cast<unsigned char>(data[0]) & 0x1f) == 0x1f) {
        return false;
    }
    std::size_t header = 0;
    std::size_t length = 0;
    if (!ReadLength(data, header, length) || data.size() - header < length) {
        return false;
    }
    tag = static_cast<unsigned char>(data[0]);
    contents = data.substr(header, length);
    data.remove_prefix(header + length);
    return true;
}

Arrival FirstMessage(std::string_view data, std::size_t& size, std::string* why) {
    auto refuse = [why](const std::string& reason) {
        if (why != nullptr) {
            *why = reason;
        }
        return Arrival::Refused;
    };
    if (data.size() < 2) {
        return Arrival::Partial;
    }
    if (static_cast<unsigned char>(data[0]) != kSequence) {
        return refuse("a message begins with " + Hex(static_cast<unsigned char>(data[0])) +
                      ", not 0x30");
    }
    const auto first = static_cast<unsigned char>(data[1]);
    if (first == 0x80 || first == 0xff) {
        return refuse("a message's length is of the indefinite or a reserved form");
    }
    if ((first & 0x80) != 0 && data.size() < 2 + static_cast<std::size_t>(first & 0x7f)) {
        return Arrival::Partial;
    }
    std::size_t header = 0;
    std::size_t length = 0;
    if (!ReadLength(data, header, length)) {
        return refuse("a message's length cannot be read");
    }
    if (length > kMostMessageBytes - header) {
        return refuse("a message announces " + std::to_string(length) + " bytes, more than the " +
                      std::to_string(kMostMessageBytes >> 20) + " MB one may hold");
    }
    if (data.size() < header + length) {
        return Arrival::Partial;
    }
    size = header + length;
    return Arrival::Whole;
}

std::size_t WholeElement(std::string_view data) {
    std::size_t size = 0;
    return FirstMessage(data, size) == Arrival::Whole ? size : 0;
}

std::optional<std::int32_t> MessageIdOf(std::string_view message) {
    std::string why;
    Reader reader(why);
    std::int32_t messageId = 0;
    std::string_view body;
    if (!ReadEnvelope(reader, message, messageId, body)) {
        return std::nullopt;
    }
    return messageId;
}

bool ParseAnswer(std::int32_t messageId, unsigned char tag, std::string_view operation,
                 const std::string_view* controls, SearchAnswer& answer, std::string* why) {
    answer = SearchAnswer{};
    std::string reason;
    Reader reader(reason);
    if (reader.Answer(messageId, tag, operation, controls, answer)) {
        return true;
    }
    answer = SearchAnswer{};
    if (why != nullptr) {
        *why = std::move(reason);
    }
    return false;
}

bool ParseSearchAnswer(std::string_view message, SearchAnswer& answer, std::string* why) {
    answer = SearchAnswer{};
    std::string reason;
    Reader reader(reason);
    std::int32_t messageId = 0;
    std::string_view body, operation, controls;
    unsigned char tag = 0;
    bool read = ReadEnvelope(reader, message, messageId, body);
    if (read && !ReadElement(body, tag, operation)) {
        read = reader.Fail("the operation of the answer to request " + std::to_string(messageId) +
                           " is not a whole BER element");
    }
    auto what = [messageId] { return "the answer to request " + std::to_string(messageId); };
    const bool controlled = read && Reader::Next(body, kControls);
    read = read &&
           (!controlled ||
            reader.Take(body, kControls, controls, [&] { return "the controls of " + what(); })) &&
           reader.Rest(body, what);
    if (read) {
        return ParseAnswer(messageId, tag, operation, controlled ? &controls : nullptr, answer,
                           why);
    }
    if (why != nullptr) {
        *why = std::move(reason);
    }
    return false;
}

std::string UnreadableAnswer(const std::string& why) {
    return "the server's answer cannot be read (" + why + ")";
}

}  // namespace tally::ldap
