// What a directory server sends, as the Windows wire's relay reads it: messages taken off the
// stream one by one (a refused header ends it), each read whole or refused. An answer that is
// refused leaves nothing behind and says why; one that is read means the same once it is
// written out again in the shortest encoding, so that no encoding of a length or an integer is
// read as another value; and its message ID is the one the relay routes it by.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "ldapstore/ldap_protocol.h"

namespace {

using tally::ldap::LdapEntry;
using tally::ldap::SearchAnswer;
namespace ber = tally::ldap::ber;

void Check(bool condition) {
    if (!condition) {
        __builtin_trap();
    }
}

std::string Tlv(unsigned char tag, std::string_view contents) {
    std::string element(1, static_cast<char>(tag));
    if (contents.size() < 0x80) {
        element += static_cast<char>(contents.size());
    } else {
        std::string octets;
        for (std::size_t left = contents.size(); left != 0; left >>= 8) {
            octets.insert(octets.begin(), static_cast<char>(left & 0xff));
        }
        element += static_cast<char>(0x80 | octets.size());
        element += octets;
    }
    element += contents;
    return element;
}

std::string Count(unsigned char tag, std::int32_t value) {
    std::string octets;
    do {
        octets.insert(octets.begin(), static_cast<char>(value & 0xff));
        value >>= 8;
    } while (value != 0);
    if ((static_cast<unsigned char>(octets.front()) & 0x80) != 0) {
        octets.insert(octets.begin(), '\0');
    }
    return Tlv(tag, octets);
}

std::string Entry(const LdapEntry& entry) {
    std::string attributes;
    for (const auto& [type, values] : entry.attributes) {
        std::string set;
        for (const std::string& value : values) {
            set += Tlv(ber::kOctetString, value);
        }
        attributes += Tlv(ber::kSequence, Tlv(ber::kOctetString, type) + Tlv(ber::kSet, set));
    }
    return Tlv(ber::kSearchResultEntry,
               Tlv(ber::kOctetString, entry.dn) + Tlv(ber::kSequence, attributes));
}

// The answer as the shortest encoding writes it.
std::string Canonical(const SearchAnswer& answer, unsigned char tag) {
    std::string operation;
    std::string controls;
    switch (answer.kind) {
        case SearchAnswer::Kind::Entry:
            operation = Entry(answer.entry);
            break;
        case SearchAnswer::Kind::Done:
        case SearchAnswer::Kind::Modified: {
            std::string result = Count(ber::kEnumerated, answer.resultCode) +
                                 Tlv(ber::kOctetString, "") +
                                 Tlv(ber::kOctetString, answer.diagnostic);
            if (!answer.referral.empty()) {
                result += Tlv(ber::kReferral, Tlv(ber::kOctetString, answer.referral));
            }
            operation = Tlv(tag, result);
            if (answer.kind == SearchAnswer::Kind::Done && answer.pageCookie) {
                const std::string value =
                    Tlv(ber::kSequence,
                        Count(ber::kInteger, 0) + Tlv(ber::kOctetString, *answer.pageCookie));
                controls =
                    Tlv(ber::kSequence, Tlv(ber::kOctetString, tally::ldap::kPagedResultsControl) +
                                            Tlv(ber::kOctetString, value));
            } else if (answer.kind == SearchAnswer::Kind::Modified &&
                       (!answer.entry.dn.empty() || !answer.entry.attributes.empty())) {
                controls =
                    Tlv(ber::kSequence, Tlv(ber::kOctetString, tally::ldap::kPostReadControl) +
                                            Tlv(ber::kOctetString, Entry(answer.entry)));
            }
            break;
        }
        default:
            return {};
    }
    std::string message = Count(ber::kInteger, answer.messageId) + operation;
    if (!controls.empty()) {
        message += Tlv(ber::kControls, controls);
    }
    return Tlv(ber::kSequence, message);
}

bool Same(const SearchAnswer& a, const SearchAnswer& b) {
    return a.messageId == b.messageId && a.kind == b.kind && a.entry.dn == b.entry.dn &&
           a.entry.attributes == b.entry.attributes && a.resultCode == b.resultCode &&
           a.diagnostic == b.diagnostic && a.referral == b.referral && a.pageCookie == b.pageCookie;
}

bool Empty(const SearchAnswer& answer) {
    return Same(answer, SearchAnswer{});
}

void ReadOne(std::string_view message) {
    SearchAnswer answer;
    std::string why;
    if (!tally::ldap::ParseSearchAnswer(message, answer, &why)) {
        Check(!why.empty());
        Check(Empty(answer));
        return;
    }
    Check(tally::ldap::MessageIdOf(message) == answer.messageId);
    const unsigned char tag =
        answer.kind == SearchAnswer::Kind::Done ? ber::kSearchResultDone : ber::kModifyResponse;
    const std::string again = Canonical(answer, tag);
    if (again.empty()) {
        return;
    }
    SearchAnswer reread;
    Check(tally::ldap::ParseSearchAnswer(again, reread, &why));
    Check(Same(answer, reread));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view stream(reinterpret_cast<const char*>(data), size);
    while (!stream.empty()) {
        std::size_t length = 0;
        std::string why;
        const tally::ldap::Arrival arrival = tally::ldap::FirstMessage(stream, length, &why);
        if (arrival != tally::ldap::Arrival::Whole) {
            Check(arrival == tally::ldap::Arrival::Partial || !why.empty());
            Check(tally::ldap::WholeElement(stream) == 0);
            return 0;
        }
        Check(length <= stream.size() && tally::ldap::WholeElement(stream) == length);
        ReadOne(stream.substr(0, length));
        stream.remove_prefix(length);
    }
    return 0;
}
