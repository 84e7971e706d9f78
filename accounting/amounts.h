// Amounts as the operator types them, read into stored units in the number format's mode
// (program/number_format.h shows them).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "program/number_format.h"

enum class AmountStatus {
    Read,        // Units holds the amount (0 when the text holds no number)
    OutOfRange,  // the amount, as typed or once scaled, does not fit a signed 32-bit integer
};

struct AmountReading {
    AmountStatus status = AmountStatus::Read;
    std::int32_t units = 0;

    bool operator==(const AmountReading&) const = default;
};

// Converts the text of an amount field to stored units.
//
// Integer mode: leading white space, an optional sign, then digits up to the first other
// character ("12.75" reads 12, "abc" reads 0).
// Decimal mode: a decimal number with optional fraction and exponent, "." as its separator
// whatever the C locale says (so a comma ends it), multiplied by the scale; the product is
// rounded to two decimals and then truncated toward zero. The two-decimal step is what makes
// 0.29 read as 29 units rather than 28 and 1.99999 as 200, as operators have always seen it.
AmountReading ReadAmount(std::string_view text, const AmountMode& mode);
