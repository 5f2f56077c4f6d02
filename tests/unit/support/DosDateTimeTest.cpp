// The MS-DOS packing over its whole range. Whole seconds at and beside both
// ends, odd seconds and the 2044 top bit are held to Windows by the folder
// stamp and time contract tests; any file time at all is fuzzed.

#include "DosDateTime.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

using calendar::kTicksPerSecond;
using calendar::PackDosDateTime;

constexpr std::uint64_t k1980 = 119'600'064'000'000'000ull;     // 1980-01-01 00:00:00
constexpr std::uint64_t kLast2107 = 159'992'927'990'000'000ull; // 2107-12-31 23:59:59

TEST(DosDateTimeRange, FractionsOfASecondAreCutNotRounded) {
    EXPECT_FALSE(PackDosDateTime(k1980 - 1)) << "100 ns before 1980 is still 1979";
    const auto lastTick = PackDosDateTime(kLast2107 + kTicksPerSecond - 1);
    ASSERT_TRUE(lastTick) << "the last 100 ns of 2107 still count";
    const auto [date, time] = lastTick.value_or(calendar::DosDateTime{});
    EXPECT_EQ(date, 0xFF9F);
    EXPECT_EQ(time, 0xBF7D);
}

TEST(DosDateTimeFields, EveryDayFrom1980To2107PacksItsOwnDate) {
    // Walks the whole range a day at a time (at a time of day that changes
    // with the day), so that a slip on any single day shows: the day
    // arithmetic has corrections that touch one day in a century.
    int year = 1980;
    int month = 1;
    int day = 1;
    int checked = 0;
    for (std::uint64_t ticks = k1980; ticks <= kLast2107; ticks += 86'400 * kTicksPerSecond) {
        const int secondOfDay = (checked * 7919) % 86'400;
        const auto packed =
            PackDosDateTime(ticks + static_cast<std::uint64_t>(secondOfDay) * kTicksPerSecond);
        ASSERT_TRUE(packed) << year << '-' << month << '-' << day;
        const auto [date, time] = packed.value_or(calendar::DosDateTime{});
        ASSERT_EQ(date, (year - 1980) << 9 | month << 5 | day) << year << '-' << month << '-' << day;
        ASSERT_EQ(time, (secondOfDay / 3600) << 11 | (secondOfDay / 60 % 60) << 5 | (secondOfDay % 60) / 2);
        ++checked;
        const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
        const int monthDays[] = {31, leap ? 29 : 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
        if (++day > monthDays[month - 1]) {
            day = 1;
            if (++month > 12) {
                month = 1;
                ++year;
            }
        }
    }
    EXPECT_EQ(year, 2108);
}

} // namespace
