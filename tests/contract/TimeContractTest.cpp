// The time conversions that the file presence test relies on, against
// whichever implementation the target has: the model on the host, the real
// calls under Windows or Wine.

#include "ContractTarget.h"
#include "FileTimes.h"
#include "platform/Platform.h"

#include <gtest/gtest.h>

using namespace platform;
using contract::UtcFileTime;

namespace {

struct Packed {
    BOOL ok;
    WORD date;
    WORD time;
};

Packed Pack(FILETIME when) {
    Packed packed{0, 0xBDBD, 0xBDBD};
    packed.ok = FileTimeToDosDateTime(&when, &packed.date, &packed.time);
    return packed;
}

TEST(DosDateTimeContract, TheRangeStartsAt1980) {
    const Packed first = Pack(UtcFileTime({1980, 1, 1, 0, 0, 0}));
    ASSERT_NE(first.ok, 0);
    EXPECT_EQ(first.date, 0x0021);
    EXPECT_EQ(first.time, 0x0000);
    EXPECT_EQ(Pack(UtcFileTime({1979, 12, 31, 23, 59, 59})).ok, 0);
    EXPECT_EQ(Pack(UtcFileTime({1601, 1, 1, 0, 0, 0})).ok, 0);
}

TEST(DosDateTimeContract, FieldsArePackedAndOddSecondsRoundDown) {
    const Packed packed = Pack(UtcFileTime({2020, 6, 15, 12, 34, 57}));
    ASSERT_NE(packed.ok, 0);
    EXPECT_EQ(packed.date, (40 << 9) | (6 << 5) | 15);
    EXPECT_EQ(packed.time, (12 << 11) | (34 << 5) | 28);
    // From 2044 on the date word has its top bit set.
    const Packed late = Pack(UtcFileTime({2044, 1, 1, 0, 0, 0}));
    ASSERT_NE(late.ok, 0);
    EXPECT_EQ(late.date, 0x8021);
}

TEST(DosDateTimeContract, TheRangeEndsWith2107) {
    const Packed last = Pack(UtcFileTime({2107, 12, 31, 23, 59, 59}));
    ASSERT_NE(last.ok, 0);
    EXPECT_EQ(last.date, 0xFF9F);
    EXPECT_EQ(last.time, 0xBF7D);

    const Packed after = Pack(UtcFileTime({2108, 1, 1, 0, 0, 0}));
    if (contract::RunningOnWine()) {
        // Known Wine difference: Wine packs years past 2107 by dropping the
        // bits that do not fit, where Windows refuses them. The presence test
        // therefore sees such a file under Wine but not under Windows.
        EXPECT_NE(after.ok, 0) << "Wine now refuses years after 2107 as Windows does: drop this difference";
    } else {
        EXPECT_EQ(after.ok, 0);
    }
}

TEST(LocalTimeContract, ConversionAppliesTheCurrentOffset) {
    // The contract runs with the machine at UTC (the model's default, and
    // TZ=UTC under Wine): local time is UTC time.
    const FILETIME utc = UtcFileTime({2020, 6, 15, 12, 0, 0});
    FILETIME local{0xBDBDBDBDu, 0xBDBDBDBDu};
    ASSERT_NE(FileTimeToLocalFileTime(&utc, &local), 0);
    EXPECT_EQ(local.dwLowDateTime, utc.dwLowDateTime);
    EXPECT_EQ(local.dwHighDateTime, utc.dwHighDateTime);
}

} // namespace
