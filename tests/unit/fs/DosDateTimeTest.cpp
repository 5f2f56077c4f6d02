#include "fs/DosDateTime.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

using fs::CivilTime;
using fs::kTicksPerSecond;
using fs::PackDosDateTime;
using fs::TicksFromCivil;

constexpr std::uint64_t k1980 = 119'600'064'000'000'000ull;     // 1980-01-01 00:00:00
constexpr std::uint64_t kLast2107 = 159'992'927'990'000'000ull; // 2107-12-31 23:59:59

TEST(DosDateTimeRange, FirstRepresentableSecondIsPacked) {
    const auto packed = PackDosDateTime(k1980);
    ASSERT_TRUE(packed);
    EXPECT_EQ(packed->date, 0x0021); // 1980, January, 1st
    EXPECT_EQ(packed->time, 0x0000);
}

TEST(DosDateTimeRange, LastRepresentableSecondIsPacked) {
    const auto packed = PackDosDateTime(kLast2107);
    ASSERT_TRUE(packed);
    EXPECT_EQ(packed->date, 0xFF9F); // 2107, December, 31st
    EXPECT_EQ(packed->time, 0xBF7D); // 23:59:58 (seconds halved)
}

TEST(DosDateTimeRange, TimesJustOutsideTheRangeFail) {
    EXPECT_FALSE(PackDosDateTime(k1980 - kTicksPerSecond));
    EXPECT_FALSE(PackDosDateTime(k1980 - 1)); // 100 ns before 1980 is still 1979
    EXPECT_FALSE(PackDosDateTime(kLast2107 + kTicksPerSecond));
    EXPECT_FALSE(PackDosDateTime(0));
    EXPECT_FALSE(PackDosDateTime(UINT64_MAX));
}

TEST(DosDateTimeRange, FractionsOfTheLastSecondStillCount) {
    EXPECT_TRUE(PackDosDateTime(kLast2107 + kTicksPerSecond - 1));
}

TEST(DosDateTimeFields, OddSecondsRoundDown) {
    const auto odd = PackDosDateTime(*TicksFromCivil({2020, 6, 15, 12, 0, 1}));
    const auto even = PackDosDateTime(*TicksFromCivil({2020, 6, 15, 12, 0, 0}));
    ASSERT_TRUE(odd && even);
    EXPECT_EQ(odd->time, even->time);
    EXPECT_EQ(PackDosDateTime(*TicksFromCivil({2030, 1, 1, 0, 0, 59}))->time, 29);
}

TEST(DosDateTimeFields, YearsFrom2044SetTheTopBitOfTheDate) {
    const auto packed = PackDosDateTime(*TicksFromCivil({2044, 1, 1, 0, 0, 0}));
    ASSERT_TRUE(packed);
    EXPECT_EQ(packed->date, 0x8021);
    const auto before = PackDosDateTime(*TicksFromCivil({2043, 12, 31, 23, 59, 59}));
    ASSERT_TRUE(before);
    EXPECT_EQ(before->date & 0x8000, 0);
}

TEST(DosDateTimeFields, EveryDayFrom1980To2107PacksItsOwnDate) {
    // Walks the whole range a day at a time (at a time of day that changes
    // with the day), so a slip in leap years or month lengths shows.
    int year = 1980;
    int month = 1;
    int day = 1;
    int checked = 0;
    for (std::uint64_t ticks = k1980; ticks <= kLast2107; ticks += 86'400 * kTicksPerSecond) {
        const int secondOfDay = (checked * 7919) % 86'400;
        const auto packed =
            PackDosDateTime(ticks + static_cast<std::uint64_t>(secondOfDay) * kTicksPerSecond);
        ASSERT_TRUE(packed) << year << '-' << month << '-' << day;
        ASSERT_EQ(packed->date, (year - 1980) << 9 | month << 5 | day) << year << '-' << month << '-' << day;
        ASSERT_EQ(packed->time,
                  (secondOfDay / 3600) << 11 | (secondOfDay / 60 % 60) << 5 | (secondOfDay % 60) / 2);
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
    EXPECT_EQ(checked, 46'751);
}

TEST(CivilTimeConversion, KnownMomentsHaveTheirFileTimes) {
    EXPECT_EQ(TicksFromCivil({1601, 1, 1, 0, 0, 0}), 0u);
    EXPECT_EQ(TicksFromCivil({1980, 1, 1, 0, 0, 0}), k1980);
    EXPECT_EQ(TicksFromCivil({2107, 12, 31, 23, 59, 59}), kLast2107);
    EXPECT_EQ(TicksFromCivil({2000, 2, 29, 13, 37, 42}), 125'963'050'620'000'000ull);
    const CivilTime back = fs::CivilFromTicks(125'963'050'620'000'000ull + 9'999'999);
    EXPECT_EQ(back.year, 2000);
    EXPECT_EQ(back.month, 2);
    EXPECT_EQ(back.day, 29);
    EXPECT_EQ(back.hour, 13);
    EXPECT_EQ(back.minute, 37);
    EXPECT_EQ(back.second, 42);
}

TEST(CivilTimeConversion, ImpossibleMomentsAreRefused) {
    EXPECT_FALSE(TicksFromCivil({1600, 12, 31, 23, 59, 59}));
    EXPECT_FALSE(TicksFromCivil({2100, 2, 29, 0, 0, 0})); // 2100 is no leap year
    EXPECT_TRUE(TicksFromCivil({2000, 2, 29, 0, 0, 0}));
    EXPECT_FALSE(TicksFromCivil({2020, 13, 1, 0, 0, 0}));
    EXPECT_FALSE(TicksFromCivil({2020, 4, 31, 0, 0, 0}));
    EXPECT_FALSE(TicksFromCivil({2020, 1, 1, 24, 0, 0}));
    EXPECT_FALSE(TicksFromCivil({2020, 1, 1, 0, 60, 0}));
    EXPECT_FALSE(TicksFromCivil({2020, 1, 1, 0, 0, 60}));
    EXPECT_FALSE(TicksFromCivil({2020, 0, 1, 0, 0, 0}));
    EXPECT_FALSE(TicksFromCivil({2020, 1, 0, 0, 0, 0}));
}

} // namespace
