#include "directory/dirclient_values.h"

#include <charconv>
#include <cstring>

#include "directory/dirclient.h"
#include "directory/dirclient_names.h"

namespace tally::directory {
namespace {

std::optional<std::int32_t> ParseInt32(std::string_view text) {
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
    }
    std::int32_t number = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return number;
}

std::uint32_t ReadU32At(const std::uint8_t* at) {
    return static_cast<std::uint32_t>(at[0]) | static_cast<std::uint32_t>(at[1]) << 8 |
           static_cast<std::uint32_t>(at[2]) << 16 | static_cast<std::uint32_t>(at[3]) << 24;
}

}  // namespace

ValueForm FormOf(std::uint32_t syntax) {
    switch (syntax) {
        case SYN_INTEGER:
        case SYN_COUNTER:
            return ValueForm::Int32;
        case SYN_BOOLEAN:
            return ValueForm::Byte;
        case SYN_OCTET_STRING:
            return ValueForm::Octets;
        case SYN_NET_ADDRESS:
            return ValueForm::NetAddress;
        default:
            return ValueForm::Text;
    }
}

std::optional<Bytes> EncodeCallerValue(std::uint32_t syntax, const void* value) {
    if (value == nullptr) {
        return std::nullopt;
    }
    Bytes bytes;
    switch (FormOf(syntax)) {
        case ValueForm::Int32: {
            std::int32_t number = 0;
            std::memcpy(&number, value, sizeof number);
            AppendU32(bytes, static_cast<std::uint32_t>(number));
            return bytes;
        }
        case ValueForm::Byte:
            bytes.push_back(*static_cast<const std::uint8_t*>(value));
            return bytes;
        case ValueForm::Octets: {
            const auto* octets = static_cast<const DirOctetString*>(value);
            if (octets->length > 0 && octets->data == nullptr) {
                return std::nullopt;
            }
            bytes.assign(octets->data, octets->data + octets->length);
            return bytes;
        }
        case ValueForm::NetAddress: {
            const auto* address = static_cast<const DirNetAddress*>(value);
            if (address->length > 0 && address->data == nullptr) {
                return std::nullopt;
            }
            AppendU32(bytes, address->addressType);
            bytes.insert(bytes.end(), address->data, address->data + address->length);
            return bytes;
        }
        case ValueForm::Text: {
            const char* text = static_cast<const char*>(value);
            bytes.assign(text, text + std::strlen(text));
            return bytes;
        }
    }
    return std::nullopt;
}

std::optional<std::string> StoreTextOf(std::uint32_t syntax, std::uint32_t putSyntax,
                                       const Bytes& value) {
    if (FormOf(syntax) != FormOf(putSyntax)) {
        return std::nullopt;
    }
    switch (FormOf(syntax)) {
        case ValueForm::Int32:
            if (value.size() != 4) {
                return std::nullopt;
            }
            return std::to_string(static_cast<std::int32_t>(ReadU32At(value.data())));
        case ValueForm::Byte:
            if (value.size() != 1) {
                return std::nullopt;
            }
            return value[0] != 0 ? "TRUE" : "FALSE";
        case ValueForm::NetAddress: {
            // The store keeps the type big-endian in front of the address octets.
            if (value.size() < 4) {
                return std::nullopt;
            }
            std::uint32_t type = ReadU32At(value.data());
            std::string text;
            for (int shift = 24; shift >= 0; shift -= 8) {
                text.push_back(static_cast<char>(type >> shift));
            }
            text.append(value.begin() + 4, value.end());
            return text;
        }
        case ValueForm::Octets:
        case ValueForm::Text:
            return std::string(value.begin(), value.end());
    }
    return std::nullopt;
}

std::optional<Bytes> ResultValueOf(std::uint32_t syntax, std::string_view text) {
    Bytes bytes;
    switch (FormOf(syntax)) {
        case ValueForm::Int32: {
            std::optional<std::int32_t> number = ParseInt32(text);
            if (!number) {
                return std::nullopt;
            }
            AppendU32(bytes, static_cast<std::uint32_t>(*number));
            return bytes;
        }
        case ValueForm::Byte:
            if (SameName(text, "TRUE") || text == "1") {
                bytes.push_back(1);
            } else if (SameName(text, "FALSE") || text == "0") {
                bytes.push_back(0);
            } else {
                return std::nullopt;
            }
            return bytes;
        case ValueForm::NetAddress: {
            if (text.size() < 4) {
                return std::nullopt;
            }
            std::uint32_t type = 0;
            for (int i = 0; i < 4; ++i) {
                type = type << 8 | static_cast<std::uint8_t>(text[i]);
            }
            AppendU32(bytes, type);
            bytes.insert(bytes.end(), text.begin() + 4, text.end());
            return bytes;
        }
        case ValueForm::Octets:
        case ValueForm::Text:
            bytes.assign(text.begin(), text.end());
            return bytes;
    }
    return std::nullopt;
}

}  // namespace tally::directory
