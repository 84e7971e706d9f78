// CRC-32 (the polynomial of zip and PNG), to tell a whole record from a torn one.
#pragma once

#include <cstdint>
#include <string_view>

namespace tally::platform {

std::uint32_t Crc32(std::string_view bytes);

}  // namespace tally::platform
