#include "fs/FileStamp.h"

#include "fs/TUniqueSearch.h"
#include "platform/Platform.h"

namespace {
constexpr std::int32_t kNoStamp = -1;
} // namespace

std::int32_t QueryFileStamp(const AnsiString& path) {
    // The search takes a zero-terminated text: a path with a NUL inside
    // would be cut short there and name some other entry, so it names none.
    if (path.find('\0') != AnsiString::npos) {
        return kNoStamp;
    }
    platform::WIN32_FIND_DATAA record{};
    TUniqueSearch search(platform::FindFirstFileA(path.c_str(), &record));
    if (!search.IsOpen()) {
        return kNoStamp;
    }
    // Only the first entry counts: the search is released before its record
    // is read, and no further entry is asked for.
    search.Reset();

    if ((record.dwFileAttributes & platform::FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return kNoStamp;
    }
    platform::FILETIME local{};
    if (!platform::FileTimeToLocalFileTime(&record.ftLastWriteTime, &local)) {
        return kNoStamp; // no local time to pack
    }
    platform::WORD date = 0;
    platform::WORD time = 0;
    if (!platform::FileTimeToDosDateTime(&local, &date, &time)) {
        return kNoStamp;
    }
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(date) << 16 | time);
}

bool FileIsPresent(const AnsiString& path) { return QueryFileStamp(path) != kNoStamp; }
