#include "reports/report_words.h"

namespace tally::reports {

std::string CountOf(std::uint64_t count, std::string_view one, std::string_view many) {
    return std::to_string(count) + " " + std::string(count == 1 ? one : many);
}

std::string PeriodWords(const DatePeriod& period) {
    if (period.since && period.until) {
        return "from " + IsoDateText(*period.since) + " to " + IsoDateText(*period.until);
    }
    if (period.since) {
        return "since " + IsoDateText(*period.since);
    }
    if (period.until) {
        return "until " + IsoDateText(*period.until);
    }
    return "in the log";
}

}  // namespace tally::reports
