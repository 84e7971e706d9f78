// The requests of the protocol: a search (its filter read from the string form) and a modify,
// written as BER (ldap_protocol.h). The answers are read in ldap_answers.cpp.
#include "ldapstore/ldap_protocol.h"

#include <utility>

namespace tally::ldap {
namespace {

using namespace ber;

std::string Length(std::size_t length) {
    if (length < 0x80) {
        return std::string(1, static_cast<char>(length));
    }
    std::string bytes;
    for (std::size_t left = length; left != 0; left >>= 8) {
        bytes.insert(bytes.begin(), static_cast<char>(left & 0xff));
    }
    return static_cast<char>(0x80 | bytes.size()) + bytes;
}

std::string Tlv(unsigned char tag, std::string_view contents) {
    std::string element(1, static_cast<char>(tag));
    element += Length(contents.size());
    element += contents;
    return element;
}

std::string Integer(unsigned char tag, std::int64_t value) {
    std::string bytes;
    do {
        bytes.insert(bytes.begin(), static_cast<char>(value & 0xff));
        value >>= 8;  // arithmetic: a negative value keeps its sign
    } while (!((value == 0 && (bytes.front() & 0x80) == 0) ||
               (value == -1 && (bytes.front() & 0x80) != 0)));
    return Tlv(tag, bytes);
}

// ---------------------------------------------------------------------------- filters

class FilterReader {
  public:
    explicit FilterReader(std::string_view text) : text_(text) {}

    std::optional<std::string> Whole(std::string* problem) {
        std::optional<std::string> encoded = Filter();
        if (encoded && at_ != text_.size()) {
            encoded.reset();
            Fail("text after the end of the filter");
        }
        if (!encoded && problem != nullptr) {
            *problem = "the filter \"" + std::string(text_) + "\" cannot be read at character " +
                       std::to_string(failedAt_ + 1) + ": " + why_;
        }
        return encoded;
    }

  private:
    std::optional<std::string> Filter() {
        if (depth_ > 64) {
            return Fail("it nests too deep");
        }
        if (!Take('(')) {
            return Fail("a '(' is missing");
        }
        ++depth_;
        std::optional<std::string> inner;
        if (Take('&')) {
            inner = List(0xa0);
        } else if (Take('|')) {
            inner = List(0xa1);
        } else if (Take('!')) {
            if (std::optional<std::string> negated = Filter()) {
                inner = Tlv(0xa2, *negated);
            }
        } else {
            inner = Item();
        }
        --depth_;
        if (!inner) {
            return std::nullopt;
        }
        if (!Take(')')) {
            return Fail("a ')' is missing");
        }
        return inner;
    }

    std::optional<std::string> List(unsigned char tag) {
        std::string members;
        do {
            std::optional<std::string> member = Filter();
            if (!member) {
                return std::nullopt;
            }
            members += *member;
        } while (Peek() == '(');
        return Tlv(tag, members);
    }

    std::optional<std::string> Item() {
        const std::size_t start = at_;
        while (at_ < text_.size() && std::string_view("=~<>:()").find(text_[at_]) == text_.npos) {
            ++at_;
        }
        const std::string_view attribute = text_.substr(start, at_ - start);
        if (attribute.empty()) {
            return Fail("an attribute name is missing");
        }
        unsigned char tag = 0xa3;  // equalityMatch
        if (Take('~')) {
            tag = 0xa8;  // approxMatch
        } else if (Take('>')) {
            tag = 0xa5;  // greaterOrEqual
        } else if (Take('<')) {
            tag = 0xa6;  // lessOrEqual
        } else if (Peek() == ':') {
            return Fail("extensible matches are not supported");
        }
        if (!Take('=')) {
            return Fail("'=' is missing");
        }
        const std::size_t valueStart = at_;
        while (at_ < text_.size() && text_[at_] != ')' && text_[at_] != '(') {
            ++at_;
        }
        const std::string_view raw = text_.substr(valueStart, at_ - valueStart);
        if (tag == 0xa3 && raw == "*") {
            return Tlv(0x87, attribute);  // present
        }
        if (tag == 0xa3 && raw.find('*') != raw.npos) {
            return Substrings(attribute, raw, valueStart);
        }
        std::optional<std::string> value = Unescaped(raw, valueStart);
        if (!value) {
            return std::nullopt;
        }
        return Tlv(tag, Tlv(kOctetString, attribute) + Tlv(kOctetString, *value));
    }

    std::optional<std::string> Substrings(std::string_view attribute, std::string_view raw,
                                          std::size_t rawAt) {
        std::string parts;
        std::size_t from = 0;
        bool first = true;
        while (true) {
            const std::size_t star = raw.find('*', from);
            const std::string_view piece =
                raw.substr(from, star == raw.npos ? raw.npos : star - from);
            if (!piece.empty()) {
                std::optional<std::string> value = Unescaped(piece, rawAt + from);
                if (!value) {
                    return std::nullopt;
                }
                // initial [0], any [1], final [2]
                const unsigned char tag = first ? 0x80 : star == raw.npos ? 0x82 : 0x81;
                parts += Tlv(tag, *value);
            }
            if (star == raw.npos) {
                break;
            }
            first = false;
            from = star + 1;
        }
        return Tlv(0xa4, Tlv(kOctetString, attribute) + Tlv(kSequence, parts));
    }

    // A value with its \XX escapes undone.
    std::optional<std::string> Unescaped(std::string_view raw, std::size_t rawAt) {
        std::string value;
        for (std::size_t i = 0; i < raw.size(); ++i) {
            if (raw[i] != '\\') {
                value += raw[i];
                continue;
            }
            const int high = i + 1 < raw.size() ? Hex(raw[i + 1]) : -1;
            const int low = i + 2 < raw.size() ? Hex(raw[i + 2]) : -1;
            if (high < 0 || low < 0) {
                at_ = rawAt + i;
                return Fail("'\\' is not followed by two hexadecimal digits");
            }
            value += static_cast<char>(high * 16 + low);
            i += 2;
        }
        return value;
    }

    static int Hex(char c) {
        if (c >= '0' && c <= '9') {
            return c - '0';
        }
        if (c >= 'a' && c <= 'f') {
            return c - 'a' + 10;
        }
        if (c >= 'A' && c <= 'F') {
            return c - 'A' + 10;
        }
        return -1;
    }

    char Peek() const { return at_ < text_.size() ? text_[at_] : '\0'; }
    bool Take(char c) {
        if (Peek() != c) {
            return false;
        }
        ++at_;
        return true;
    }
    std::nullopt_t Fail(const char* why) {
        if (why_.empty()) {
            why_ = why;
            failedAt_ = at_;
        }
        return std::nullopt;
    }

    std::string_view text_;
    std::size_t at_ = 0;
    int depth_ = 0;
    std::string why_;
    std::size_t failedAt_ = 0;
};

}  // namespace

std::optional<std::string> EncodeFilter(std::string_view filter, std::string* problem) {
    if (!filter.empty() && filter.front() != '(') {
        // A bare item, as the libraries take it.
        const std::string wrapped = "(" + std::string(filter) + ")";
        return FilterReader(wrapped).Whole(problem);
    }
    return FilterReader(filter).Whole(problem);
}

std::optional<std::string> EncodeSearchRequest(std::int32_t messageId, const SearchRequest& request,
                                               std::string* problem) {
    std::optional<std::string> filter = EncodeFilter(request.filter, problem);
    if (!filter) {
        return std::nullopt;
    }
    const int scope = request.scope == LdapScope::Base       ? 0
                      : request.scope == LdapScope::OneLevel ? 1
                                                             : 2;
    std::string attributes;
    for (const std::string& attribute : request.attributes) {
        attributes += Tlv(kOctetString, attribute);
    }
    const std::string body = Tlv(kOctetString, request.base) + Integer(kEnumerated, scope) +
                             Integer(kEnumerated, 0) +  // never dereference aliases
                             Integer(kInteger, 0) +     // no size limit of the client's own
                             Integer(kInteger, request.timeLimitSeconds) +
                             Tlv(kBoolean, std::string(1, '\0')) + *filter +
                             Tlv(kSequence, attributes);
    std::string message = Integer(kInteger, messageId) + Tlv(kSearchRequest, body);
    if (request.pageSize > 0) {
        const std::string paged =
            Tlv(kSequence, Integer(kInteger, request.pageSize) + Tlv(kOctetString, request.cookie));
        const std::string control = Tlv(kOctetString, kPagedResultsControl) +
                                    Tlv(kBoolean, std::string(1, '\xff')) +
                                    Tlv(kOctetString, paged);
        message += Tlv(kControls, Tlv(kSequence, control));
    }
    return Tlv(kSequence, message);
}

std::string EncodeModifyRequest(std::int32_t messageId, const std::string& dn,
                                const std::vector<LdapMod>& mods,
                                const std::vector<std::string>& readBack) {
    std::string changes;
    for (const LdapMod& mod : mods) {
        const int operation = mod.op == LdapModOp::Add       ? 0
                              : mod.op == LdapModOp::Delete  ? 1
                              : mod.op == LdapModOp::Replace ? 2
                                                             : 3;  // increment (RFC 4525)
        std::string values;
        for (const std::string& value : mod.values) {
            values += Tlv(kOctetString, value);
        }
        changes += Tlv(kSequence,
                       Integer(kEnumerated, operation) +
                           Tlv(kSequence, Tlv(kOctetString, mod.attribute) + Tlv(kSet, values)));
    }
    std::string message = Integer(kInteger, messageId) +
                          Tlv(kModifyRequest, Tlv(kOctetString, dn) + Tlv(kSequence, changes));
    if (!readBack.empty()) {
        std::string selection;
        for (const std::string& attribute : readBack) {
            selection += Tlv(kOctetString, attribute);
        }
        const std::string control = Tlv(kOctetString, kPostReadControl) +
                                    Tlv(kBoolean, std::string(1, '\xff')) +
                                    Tlv(kOctetString, Tlv(kSequence, selection));
        message += Tlv(kControls, Tlv(kSequence, control));
    }
    return Tlv(kSequence, message);
}

}  // namespace tally::ldap
