#include "ldapstore/ldap_bind.h"

#include <cstring>

#include "ldapstore/ldap_protocol.h"

namespace tally::ldap {
namespace {

constexpr unsigned char kSequence = 0x30;
constexpr unsigned char kInteger = 0x02;
constexpr unsigned char kOctetString = 0x04;
constexpr unsigned char kEnumerated = 0x0A;
constexpr unsigned char kBindRequest = 0x60;   // [APPLICATION 0], constructed
constexpr unsigned char kBindResponse = 0x61;  // [APPLICATION 1], constructed
constexpr unsigned char kSimple = 0x80;        // [0], primitive
constexpr int kLdapVersion = 3;

// The bytes of a definite length: one below 128, else 0x80 + the count of big-endian bytes.
std::size_t LengthBytes(std::size_t length) {
    std::size_t bytes = 1;
    for (std::size_t left = length; length >= 0x80 && left > 0; left >>= 8) {
        ++bytes;
    }
    return bytes;
}

std::size_t ElementBytes(std::size_t contents) {
    return 1 + LengthBytes(contents) + contents;
}

// The fewest big-endian bytes that hold `value` as a signed integer.
std::size_t IntegerBytes(std::int32_t value) {
    std::size_t bytes = 4;
    while (bytes > 1) {
        const std::int32_t top = value >> ((bytes - 1) * 8 - 1);  // the bit under the byte cut
        if (top != 0 && top != -1) {
            break;
        }
        --bytes;
    }
    return bytes;
}

class Writer {
  public:
    explicit Writer(std::vector<char>& out) : out_(out) {}
    void Header(unsigned char tag, std::size_t length) {
        Byte(tag);
        if (length < 0x80) {
            Byte(static_cast<unsigned char>(length));
            return;
        }
        const std::size_t count = LengthBytes(length) - 1;
        Byte(static_cast<unsigned char>(0x80 | count));
        for (std::size_t i = count; i > 0; --i) {
            Byte(static_cast<unsigned char>(length >> ((i - 1) * 8)));
        }
    }
    void Integer(unsigned char tag, std::int32_t value) {
        const std::size_t bytes = IntegerBytes(value);
        Header(tag, bytes);
        for (std::size_t i = bytes; i > 0; --i) {
            Byte(static_cast<unsigned char>(static_cast<std::uint32_t>(value) >> ((i - 1) * 8)));
        }
    }
    void Octets(unsigned char tag, std::string_view bytes) {
        Header(tag, bytes.size());
        if (!bytes.empty()) {
            std::memcpy(out_.data() + at_, bytes.data(), bytes.size());
        }
        at_ += bytes.size();
    }

  private:
    void Byte(unsigned char byte) { out_[at_++] = static_cast<char>(byte); }
    std::vector<char>& out_;
    std::size_t at_ = 0;
};

// An INTEGER's or ENUMERATED's contents as a signed value; false when it has no byte or more
// than fit.
bool SignedValue(std::string_view contents, std::int64_t& value) {
    if (contents.empty() || contents.size() > 8) {
        return false;
    }
    value = static_cast<signed char>(contents.front());
    for (std::size_t i = 1; i < contents.size(); ++i) {
        value = value * 256 + static_cast<unsigned char>(contents[i]);
    }
    return true;
}

}  // namespace

void EncodeSimpleBind(std::int32_t messageId, std::string_view dn, std::string_view password,
                      std::vector<char>& out) {
    const std::size_t bind = ElementBytes(IntegerBytes(kLdapVersion)) + ElementBytes(dn.size()) +
                             ElementBytes(password.size());
    const std::size_t message = ElementBytes(IntegerBytes(messageId)) + ElementBytes(bind);
    out.assign(ElementBytes(message), '\0');
    Writer writer(out);
    writer.Header(kSequence, message);
    writer.Integer(kInteger, messageId);
    writer.Header(kBindRequest, bind);
    writer.Integer(kInteger, kLdapVersion);
    writer.Octets(kOctetString, dn);
    writer.Octets(kSimple, password);
}

bool ParseBindResponse(std::string_view message, BindAnswer& answer) {
    unsigned char tag = 0;
    std::string_view contents;
    if (!ReadElement(message, tag, contents) || tag != kSequence) {
        return false;
    }
    std::string_view id;
    std::string_view response;
    std::int64_t value = 0;
    if (!ReadElement(contents, tag, id) || tag != kInteger || !SignedValue(id, value)) {
        return false;
    }
    answer.messageId = static_cast<std::int32_t>(value);
    if (!ReadElement(contents, tag, response) || tag != kBindResponse) {
        return false;
    }
    std::string_view code;
    std::string_view matched;
    std::string_view words;
    if (!ReadElement(response, tag, code) || tag != kEnumerated || !SignedValue(code, value) ||
        !ReadElement(response, tag, matched) || tag != kOctetString ||
        !ReadElement(response, tag, words) || tag != kOctetString) {
        return false;
    }
    answer.resultCode = static_cast<int>(value);
    answer.diagnostic.assign(words);
    return true;
}

}  // namespace tally::ldap
