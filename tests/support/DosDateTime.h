#pragma once

// Calendar arithmetic on Windows file times (unsigned 64-bit counts of
// 100-nanosecond intervals since 1601-01-01 00:00:00) and their packing into
// the MS-DOS date and time words. Pure functions: no clock, no time zone.

#include <cstdint>
#include <optional>

namespace calendar {

inline constexpr std::uint64_t kTicksPerSecond = 10'000'000;

// A calendar date and time, Gregorian, without a time zone.
struct CivilTime {
    int year;
    int month;  // 1..12
    int day;    // 1..31
    int hour;   // 0..23
    int minute; // 0..59
    int second; // 0..59
};

// The file time of a calendar moment; nullopt for a moment before 1601-01-01
// or for fields out of their ranges (month 13, February 30, ...).
std::optional<std::uint64_t> TicksFromCivil(const CivilTime& civil);

// The same for a moment that a test names and knows to be valid; throws
// std::invalid_argument for any other.
std::uint64_t TicksOfMoment(const CivilTime& civil);

// The calendar moment of a file time, whole seconds (fractions dropped).
CivilTime CivilFromTicks(std::uint64_t ticks);

// The two MS-DOS words: date = (year - 1980) << 9 | month << 5 | day,
// time = hour << 11 | minute << 5 | second / 2.
struct DosDateTime {
    std::uint16_t date;
    std::uint16_t time;
};

// Packs a file time into MS-DOS form. Only 1980-01-01 00:00:00 up to
// 2107-12-31 23:59:59 can be held; anything outside gives nullopt. Odd
// seconds are rounded down to the even second below.
std::optional<DosDateTime> PackDosDateTime(std::uint64_t ticks);

} // namespace calendar
