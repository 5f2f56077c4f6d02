// Fuzzes the MS-DOS date and time packing against a reference computed here
// in a different way: whole years and months are counted off one by one from
// fixed starting points, instead of the closed-form day arithmetic of the
// code under test. Checked for every input:
//  - a file time packs exactly when it lies in 1980-01-01 00:00:00 ..
//    2107-12-31 23:59:59, and then to the reference's fields, with the
//    seconds halved (rounded down);
//  - unpacking the words and converting back gives the input time rounded
//    down to its even second;
//  - a calendar moment converts to a file time exactly when its fields are
//    valid and it is not before 1601, and converts back unchanged;
//  - the model's FileTimeToDosDateTime agrees with the packing and leaves
//    its words alone when it fails.

#include "DosDateTime.h"
#include "FuzzCheck.h"
#include "model/ModelControl.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <optional>

namespace {

constexpr std::uint64_t kTicksPerSecond = 10'000'000;
constexpr std::uint64_t kTicksPerDay = 86'400 * kTicksPerSecond;

bool IsLeap(std::int64_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysIn(std::int64_t year, int month) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeap(year) ? 29 : kDays[month - 1];
}

std::uint64_t DaysInYear(std::int64_t year) { return IsLeap(year) ? 366 : 365; }

// Days from 1601-01-01 to January 1st of `year`, counted year by year.
std::uint64_t DaysBeforeYear(std::int64_t year) {
    std::uint64_t days = 0;
    for (std::int64_t y = 1601; y < year; ++y) {
        days += DaysInYear(y);
    }
    return days;
}

const std::uint64_t kFirstDosTick = DaysBeforeYear(1980) * kTicksPerDay; // 1980-01-01 00:00:00
const std::uint64_t kEndDosTick = DaysBeforeYear(2108) * kTicksPerDay;   // 2108-01-01 00:00:00

struct Fields {
    std::int64_t year;
    int month, day, hour, minute, second;
};

// The calendar fields of a file time inside the MS-DOS range.
Fields ReferenceFields(std::uint64_t ticks) {
    std::uint64_t days = (ticks - kFirstDosTick) / kTicksPerDay;
    const std::uint64_t secondOfDay = (ticks - kFirstDosTick) % kTicksPerDay / kTicksPerSecond;
    Fields f{1980, 1, 1, 0, 0, 0};
    while (days >= DaysInYear(f.year)) {
        days -= DaysInYear(f.year);
        ++f.year;
    }
    while (days >= static_cast<std::uint64_t>(DaysIn(f.year, f.month))) {
        days -= static_cast<std::uint64_t>(DaysIn(f.year, f.month));
        ++f.month;
    }
    f.day = static_cast<int>(days) + 1;
    f.hour = static_cast<int>(secondOfDay / 3600);
    f.minute = static_cast<int>(secondOfDay / 60 % 60);
    f.second = static_cast<int>(secondOfDay % 60);
    return f;
}

void CheckPacking(std::uint64_t ticks) {
    const std::optional<calendar::DosDateTime> packed = calendar::PackDosDateTime(ticks);
    const bool inRange = ticks >= kFirstDosTick && ticks < kEndDosTick;
    FUZZ_CHECK(packed.has_value() == inRange);

    // The model's conversion call gives the same answer, and a failure
    // leaves the caller's words untouched.
    const platform::FILETIME time = model::FileTimeFromTicks(ticks);
    platform::WORD date = 0xBDBD;
    platform::WORD clock = 0xBDBD;
    const platform::BOOL converted = platform::FileTimeToDosDateTime(&time, &date, &clock);
    FUZZ_CHECK((converted != 0) == inRange);
    if (!inRange) {
        FUZZ_CHECK(date == 0xBDBD && clock == 0xBDBD);
        return;
    }
    FUZZ_CHECK(date == packed->date && clock == packed->time);

    const Fields want = ReferenceFields(ticks);
    const unsigned d = packed->date;
    const unsigned t = packed->time;
    FUZZ_CHECK(static_cast<std::int64_t>(d >> 9) + 1980 == want.year);
    FUZZ_CHECK(static_cast<int>(d >> 5 & 0x0F) == want.month);
    FUZZ_CHECK(static_cast<int>(d & 0x1F) == want.day);
    FUZZ_CHECK(static_cast<int>(t >> 11) == want.hour);
    FUZZ_CHECK(static_cast<int>(t >> 5 & 0x3F) == want.minute);
    FUZZ_CHECK(static_cast<int>(t & 0x1F) == want.second / 2);

    // A packed stamp is never the "no stamp" value -1 (that needs month 15).
    FUZZ_CHECK((static_cast<std::uint32_t>(d) << 16 | t) != 0xFFFFFFFFu);

    // Back from the words: the input time, rounded down to an even second.
    const std::optional<std::uint64_t> back = calendar::TicksFromCivil(
        {static_cast<int>(d >> 9) + 1980, static_cast<int>(d >> 5 & 0x0F), static_cast<int>(d & 0x1F),
         static_cast<int>(t >> 11), static_cast<int>(t >> 5 & 0x3F), static_cast<int>(t & 0x1F) * 2});
    FUZZ_CHECK(back.has_value());
    FUZZ_CHECK(*back == ticks - ticks % (2 * kTicksPerSecond));
}

void CheckCivil(const calendar::CivilTime& c) {
    const bool valid = c.year >= 1601 && c.year <= 30'000 && c.month >= 1 && c.month <= 12 && c.day >= 1 &&
                       c.day <= DaysIn(c.year, c.month) && c.hour >= 0 && c.hour <= 23 && c.minute >= 0 &&
                       c.minute <= 59 && c.second >= 0 && c.second <= 59;
    const std::optional<std::uint64_t> ticks = calendar::TicksFromCivil(c);
    FUZZ_CHECK(ticks.has_value() == valid);
    if (!valid) {
        return;
    }
    FUZZ_CHECK(*ticks % kTicksPerSecond == 0);
    const calendar::CivilTime back = calendar::CivilFromTicks(*ticks);
    FUZZ_CHECK(back.year == c.year && back.month == c.month && back.day == c.day && back.hour == c.hour &&
               back.minute == c.minute && back.second == c.second);
    CheckPacking(*ticks);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    model::Reset();
    switch (in.ConsumeIntegralInRange<int>(0, 3)) {
    case 0: // any file time at all
        CheckPacking(in.ConsumeIntegral<std::uint64_t>());
        break;
    case 1: { // close to either end of the MS-DOS range, and within two seconds of it
        const std::uint64_t edge = in.ConsumeBool() ? kFirstDosTick : kEndDosTick;
        constexpr auto kReach = static_cast<std::int64_t>(4 * kTicksPerDay);
        const auto delta = in.ConsumeIntegralInRange<std::int64_t>(-kReach, kReach);
        CheckPacking(edge + static_cast<std::uint64_t>(delta));
        CheckPacking(edge +
                     static_cast<std::uint64_t>(delta % static_cast<std::int64_t>(2 * kTicksPerSecond)));
        break;
    }
    case 2: { // calendar fields, valid or not
        calendar::CivilTime c{};
        c.year = in.ConsumeIntegralInRange<int>(1500, 31'000);
        c.month = in.ConsumeIntegralInRange<int>(-1, 14);
        c.day = in.ConsumeIntegralInRange<int>(-1, 33);
        c.hour = in.ConsumeIntegralInRange<int>(-1, 25);
        c.minute = in.ConsumeIntegralInRange<int>(-1, 61);
        c.second = in.ConsumeIntegralInRange<int>(-1, 61);
        CheckCivil(c);
        break;
    }
    default: // anywhere in the MS-DOS range
        CheckPacking(kFirstDosTick +
                     in.ConsumeIntegralInRange<std::uint64_t>(0, kEndDosTick - kFirstDosTick - 1));
        break;
    }
    return 0;
}
