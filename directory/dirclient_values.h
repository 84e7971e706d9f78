// Values between the caller's forms (by syntax number) and the store's text forms.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "directory/buffer_bytes.h"

namespace tally::directory {

// How a value of a syntax is exchanged with the caller.
enum class ValueForm : std::uint8_t { Text, Int32, Byte, Octets, NetAddress };
ValueForm FormOf(std::uint32_t syntax);

// The caller's value at `value` as the bytes a request carries; nullopt for a null pointer or
// octets that are missing.
std::optional<Bytes> EncodeCallerValue(std::uint32_t syntax, const void* value);

// A request value as the store's text for an attribute of `syntax` (the same form is required;
// distinguished names are already complete). Nullopt when the forms differ.
std::optional<std::string> StoreTextOf(std::uint32_t syntax, std::uint32_t putSyntax,
                                       const Bytes& value);

// The store's text as the bytes a result carries for `syntax`; nullopt when the text cannot be
// a value of that syntax (a number that is not one, a Boolean other than TRUE/FALSE).
std::optional<Bytes> ResultValueOf(std::uint32_t syntax, std::string_view text);

}  // namespace tally::directory
