#include "DosDateTime.h"

#include <stdexcept>

namespace calendar {
namespace {

constexpr std::int64_t kSecondsPerDay = 86'400;

// Days between 1601-01-01 and 1970-01-01; the day arithmetic below counts
// from 1970 (proleptic Gregorian calendar, H. Hinnant's algorithms).
constexpr std::int64_t kDaysFrom1601To1970 = 134'774;

constexpr bool IsLeap(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

constexpr int DaysInMonth(int year, int month) {
    constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeap(year) ? 29 : kDays[month - 1];
}

constexpr std::int64_t DaysFromCivil(std::int64_t year, int month, int day) {
    year -= month <= 2 ? 1 : 0;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const std::int64_t yearOfEra = year - era * 400;
    const std::int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146'097 + dayOfEra - 719'468;
}

struct Date {
    int year;
    int month;
    int day;
};

constexpr Date CivilFromDays(std::int64_t days) {
    days += 719'468;
    const std::int64_t era = (days >= 0 ? days : days - 146'096) / 146'097;
    const std::int64_t dayOfEra = days - era * 146'097;
    const std::int64_t yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36'524 - dayOfEra / 146'096) / 365;
    const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const std::int64_t monthIndex = (5 * dayOfYear + 2) / 153;
    const int day = static_cast<int>(dayOfYear - (153 * monthIndex + 2) / 5 + 1);
    const int month = static_cast<int>(monthIndex < 10 ? monthIndex + 3 : monthIndex - 9);
    const int year = static_cast<int>(yearOfEra + era * 400 + (month <= 2 ? 1 : 0));
    return {year, month, day};
}

} // namespace

std::uint64_t TicksOfMoment(const CivilTime& civil) {
    const auto ticks = TicksFromCivil(civil);
    if (!ticks) {
        throw std::invalid_argument("not a calendar moment from 1601 on");
    }
    return *ticks;
}

std::optional<std::uint64_t> TicksFromCivil(const CivilTime& civil) {
    if (civil.year < 1601 || civil.year > 30'000 || civil.month < 1 || civil.month > 12 || civil.day < 1 ||
        civil.day > DaysInMonth(civil.year, civil.month) || civil.hour < 0 || civil.hour > 23 ||
        civil.minute < 0 || civil.minute > 59 || civil.second < 0 || civil.second > 59) {
        return std::nullopt;
    }
    const std::int64_t days = DaysFromCivil(civil.year, civil.month, civil.day) + kDaysFrom1601To1970;
    const std::int64_t secondOfDay =
        std::int64_t{civil.hour} * 3600 + std::int64_t{civil.minute} * 60 + civil.second;
    const std::int64_t seconds = days * kSecondsPerDay + secondOfDay;
    return static_cast<std::uint64_t>(seconds) * kTicksPerSecond;
}

CivilTime CivilFromTicks(std::uint64_t ticks) {
    const std::uint64_t seconds = ticks / kTicksPerSecond;
    const auto days = static_cast<std::int64_t>(seconds / kSecondsPerDay);
    const auto secondOfDay = static_cast<int>(seconds % kSecondsPerDay);
    const Date date = CivilFromDays(days - kDaysFrom1601To1970);
    return {date.year, date.month, date.day, secondOfDay / 3600, secondOfDay / 60 % 60, secondOfDay % 60};
}

std::optional<DosDateTime> PackDosDateTime(std::uint64_t ticks) {
    const CivilTime civil = CivilFromTicks(ticks);
    if (civil.year < 1980 || civil.year > 2107) {
        return std::nullopt;
    }
    const auto date = static_cast<std::uint16_t>((civil.year - 1980) << 9 | civil.month << 5 | civil.day);
    const auto time = static_cast<std::uint16_t>(civil.hour << 11 | civil.minute << 5 | civil.second / 2);
    return DosDateTime{date, time};
}

} // namespace calendar
