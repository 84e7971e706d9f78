#include "reports/report_periods.h"

#include <array>
#include <cstdio>

namespace tally::reports {
namespace {

constexpr std::size_t kReadableDateColumn = 33;

bool IsLeapYear(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month) {
    static constexpr std::array<int, 12> kDays = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return kDays[static_cast<std::size_t>(month - 1)] + (month == 2 && IsLeapYear(year) ? 1 : 0);
}

// A run of `least` to `most` digits at `at`, moving `at` past it.
std::optional<int> Digits(std::string_view text, std::size_t& at, std::size_t least,
                          std::size_t most) {
    std::size_t count = 0;
    int value = 0;
    while (at < text.size() && count < most && text[at] >= '0' && text[at] <= '9') {
        value = value * 10 + (text[at] - '0');
        ++at;
        ++count;
    }
    if (count < least || (at < text.size() && text[at] >= '0' && text[at] <= '9')) {
        return std::nullopt;
    }
    return value;
}

bool Separator(std::string_view text, std::size_t& at, char separator) {
    if (at < text.size() && text[at] == separator) {
        ++at;
        return true;
    }
    return false;
}

std::optional<CalendarDay> Checked(int year, int month, int day) {
    if (year < 1 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month)) {
        return std::nullopt;
    }
    return CalendarDay{year, month, day};
}

// Three numbers separated by `separator` and nothing else; the year of four digits at `yearAt`
// (0 first, 2 last), month and day of one or two.
std::optional<std::array<int, 3>> ThreeNumbers(std::string_view text, char separator, int yearAt) {
    std::array<int, 3> parts{};
    std::size_t at = 0;
    for (int i = 0; i < 3; ++i) {
        if (i > 0 && !Separator(text, at, separator)) {
            return std::nullopt;
        }
        const bool year = i == yearAt;
        const std::optional<int> value = Digits(text, at, year ? 4 : 1, year ? 4 : 2);
        if (!value) {
            return std::nullopt;
        }
        parts[static_cast<std::size_t>(i)] = *value;
    }
    if (at != text.size()) {
        return std::nullopt;
    }
    return parts;
}

}  // namespace

std::optional<CalendarDay> ReadLogDate(std::string_view text, int dateOrder) {
    const bool yearFirst = dateOrder == 2;
    const std::optional<std::array<int, 3>> parts = ThreeNumbers(text, '/', yearFirst ? 0 : 2);
    if (!parts) {
        return std::nullopt;
    }
    const auto [a, b, c] = *parts;
    if (yearFirst) {
        return Checked(a, b, c);
    }
    return dateOrder == 1 ? Checked(c, b, a) : Checked(c, a, b);
}

std::optional<CalendarDay> ReadIsoDate(std::string_view text) {
    const std::optional<std::array<int, 3>> parts = ThreeNumbers(text, '-', 0);
    if (!parts || text.size() != 10) {
        return std::nullopt;
    }
    return Checked((*parts)[0], (*parts)[1], (*parts)[2]);
}

std::string IsoDateText(const CalendarDay& day) {
    std::array<char, 32> text{};
    std::snprintf(text.data(), text.size(), "%04d-%02d-%02d", day.year, day.month, day.day);
    return text.data();
}

// The proleptic Gregorian calendar's day count, after H. Hinnant's days_from_civil.
std::int64_t DayNumber(const CalendarDay& day) {
    const std::int64_t y = day.year - (day.month <= 2 ? 1 : 0);
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const std::int64_t yearOfEra = y - era * 400;
    const std::int64_t dayOfYear =
        (153 * (day.month + (day.month > 2 ? -3 : 9)) + 2) / 5 + day.day - 1;
    const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

CalendarDay DayOfNumber(std::int64_t number) {
    number += 719468;
    const std::int64_t era = (number >= 0 ? number : number - 146096) / 146097;
    const std::int64_t dayOfEra = number - era * 146097;
    const std::int64_t yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const std::int64_t mp = (5 * dayOfYear + 2) / 153;
    const auto day = static_cast<int>(dayOfYear - (153 * mp + 2) / 5 + 1);
    const auto month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    const auto year = static_cast<int>(yearOfEra + era * 400 + (month <= 2 ? 1 : 0));
    return {year, month, day};
}

CalendarDay WeekStart(const CalendarDay& day) {
    const std::int64_t number = DayNumber(day);
    // 1970-01-01 was a Thursday: (number + 3) mod 7 counts the days since Monday.
    const std::int64_t sinceMonday = ((number + 3) % 7 + 7) % 7;
    return DayOfNumber(number - sinceMonday);
}

CalendarDay MonthStart(const CalendarDay& day) {
    return {day.year, day.month, 1};
}

std::optional<DatePeriod> NamedPeriod(std::string_view name, const CalendarDay& today) {
    auto month = [](int year, int m) {
        return DatePeriod{CalendarDay{year, m, 1}, CalendarDay{year, m, DaysInMonth(year, m)}};
    };
    auto year = [](int y) { return DatePeriod{CalendarDay{y, 1, 1}, CalendarDay{y, 12, 31}}; };
    if (name == "this-month") {
        return month(today.year, today.month);
    }
    if (name == "last-month") {
        return today.month == 1 ? month(today.year - 1, 12) : month(today.year, today.month - 1);
    }
    if (name == "this-year") {
        return year(today.year);
    }
    if (name == "last-year") {
        return year(today.year - 1);
    }
    return std::nullopt;
}

std::string_view ReadableDate(std::string_view line) {
    if (line.size() <= kReadableDateColumn) {
        return {};
    }
    const std::string_view rest = line.substr(kReadableDateColumn);
    return rest.substr(0, rest.find_first_of(" \r\n"));
}

}  // namespace tally::reports
