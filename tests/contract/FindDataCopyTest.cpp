// The copy of Windows' own find record into the boundary's: every field
// lands in its place. Each field of the native record holds a value of its
// own, so a field copied from the wrong place shows.

#include "platform/win32/FindData.h"

#include <gtest/gtest.h>

#include <cstring>

TEST(FindDataCopy, EveryFieldLandsInItsPlace) {
    ::WIN32_FIND_DATAA native{};
    native.dwFileAttributes = 0x11111111;
    native.ftCreationTime = {0x21212121, 0x22222222};
    native.ftLastAccessTime = {0x31313131, 0x32323232};
    native.ftLastWriteTime = {0x41414141, 0x42424242};
    native.nFileSizeHigh = 0x51515151;
    native.nFileSizeLow = 0x52525252;
    native.dwReserved0 = 0x61616161;
    native.dwReserved1 = 0x62626262;
    std::memset(native.cFileName, 'N', sizeof native.cFileName);
    std::memset(native.cAlternateFileName, 'A', sizeof native.cAlternateFileName);

    const platform::WIN32_FIND_DATAA record = platform::FromNativeFindData(native);
    EXPECT_EQ(0x11111111u, record.dwFileAttributes);
    EXPECT_EQ(0x21212121u, record.ftCreationTime.dwLowDateTime);
    EXPECT_EQ(0x22222222u, record.ftCreationTime.dwHighDateTime);
    EXPECT_EQ(0x31313131u, record.ftLastAccessTime.dwLowDateTime);
    EXPECT_EQ(0x32323232u, record.ftLastAccessTime.dwHighDateTime);
    EXPECT_EQ(0x41414141u, record.ftLastWriteTime.dwLowDateTime);
    EXPECT_EQ(0x42424242u, record.ftLastWriteTime.dwHighDateTime);
    EXPECT_EQ(0x51515151u, record.nFileSizeHigh);
    EXPECT_EQ(0x52525252u, record.nFileSizeLow);
    EXPECT_EQ(0x61616161u, record.dwReserved0);
    EXPECT_EQ(0x62626262u, record.dwReserved1);
    EXPECT_EQ(0, std::memcmp(record.cFileName, native.cFileName, sizeof record.cFileName));
    EXPECT_EQ(0, std::memcmp(record.cAlternateFileName, native.cAlternateFileName,
                             sizeof record.cAlternateFileName));
}
