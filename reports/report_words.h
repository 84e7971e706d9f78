// The words the reports put around their numbers and periods, so that every report says "1 line"
// and "2 lines", and names a period the same way.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "reports/report_periods.h"

namespace tally::reports {

// "1 line", "0 lines", "12 lines": the count and the word that fits it.
std::string CountOf(std::uint64_t count, std::string_view one, std::string_view many);

// "from 2026-01-01 to 2026-01-31", "since 2026-01-01", "until 2026-01-31"; "in the log" for a
// period without ends.
std::string PeriodWords(const DatePeriod& period);

}  // namespace tally::reports
