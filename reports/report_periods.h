// Periods of the reports: the dates of the log's lines read in the log's own order, a period
// from one day to another, and the days, weeks and months a trend is totalled by.
//
// The log's dates are written by the locale's short-date order (DateOrder: 0 month/day/year,
// 1 day/month/year, 2 year/month/day, anything else month/day/year), month and day as two
// digits and the year in full. A date is read by the same order; one digit for month or day is
// taken too (other writers of the log may not pad), and a day the calendar does not have is no
// date.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tally::reports {

struct CalendarDay {
    int year = 0;
    int month = 0;
    int day = 0;

    // year * 10000 + month * 100 + day: orders as the calendar does.
    std::int32_t Key() const { return year * 10000 + month * 100 + day; }
    friend bool operator==(const CalendarDay&, const CalendarDay&) = default;
};

// The date `text` written by `dateOrder`; nullopt when it is none.
std::optional<CalendarDay> ReadLogDate(std::string_view text, int dateOrder);
// YYYY-MM-DD, as the command line takes it.
std::optional<CalendarDay> ReadIsoDate(std::string_view text);
std::string IsoDateText(const CalendarDay& day);

// Days since 1970-01-01 (negative before), and back.
std::int64_t DayNumber(const CalendarDay& day);
CalendarDay DayOfNumber(std::int64_t number);

// The Monday that begins the week of `day`, and the first of its month.
CalendarDay WeekStart(const CalendarDay& day);
CalendarDay MonthStart(const CalendarDay& day);

// From `since` to `until`, both included; an end not given is open.
struct DatePeriod {
    std::optional<CalendarDay> since;
    std::optional<CalendarDay> until;

    bool Contains(const CalendarDay& day) const {
        return (!since || since->Key() <= day.Key()) && (!until || day.Key() <= until->Key());
    }
};

// "this-month", "last-month", "this-year" or "last-year" around `today`; nullopt for any other
// word.
std::optional<DatePeriod> NamedPeriod(std::string_view name, const CalendarDay& today);

// Which lines a report counts: those whose date, read by `dateOrder`, lies in `period`. Lines
// whose date cannot be read lie in no period and are counted apart.
struct PeriodCut {
    DatePeriod period;
    int dateOrder = 0;
};

// Where the date of a Readable line stands: from column 33 up to the next blank.
std::string_view ReadableDate(std::string_view line);

}  // namespace tally::reports
