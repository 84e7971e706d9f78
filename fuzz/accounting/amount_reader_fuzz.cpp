// The amount reader takes whatever the operator types. Whatever that is, it must not crash,
// integer mode must agree with the C library's reading wherever that fits 32 bits, and every
// amount it accepts must show and read back as itself.
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>
#include <string_view>

#include "accounting/amounts.h"

namespace {

// The first byte picks the mode: integer mode or 1 to 4 currency digits.
AmountMode ModeFor(std::uint8_t selector) {
    const int digits = selector % 5;
    return digits == 0 ? IntegerAmountMode() : MakeAmountMode(true, digits);
}

void CheckAgainstStrtoll(const std::string& text, const AmountReading& reading) {
    errno = 0;
    const long long expected = std::strtoll(text.c_str(), nullptr, 10);
    const bool fits = errno == 0 && expected >= std::numeric_limits<std::int32_t>::min() &&
                      expected <= std::numeric_limits<std::int32_t>::max();
    if (fits != (reading.status == AmountStatus::Read)) {
        std::abort();
    }
    if (fits && reading.units != expected) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const AmountMode mode = ModeFor(data[0]);
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);

    const AmountReading reading = ReadAmount(text, mode);
    if (reading.status == AmountStatus::OutOfRange && reading.units != 0) {
        std::abort();
    }
    // strtoll stops at an embedded NUL, as the dialog's text would.
    if (!mode.decimal && text.find('\0') == std::string::npos) {
        CheckAgainstStrtoll(text, reading);
    }
    if (reading.status == AmountStatus::Read) {
        const AmountReading again = ReadAmount(AmountText(reading.units, mode), mode);
        if (!(again == reading)) {
            std::abort();
        }
    }
    return 0;
}
