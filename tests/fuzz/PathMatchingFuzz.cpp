// Fuzzes the model's Windows path matching and the file presence test on
// top of it. Each input builds a small random tree of plain files and
// directories (on C: and D:, with a random current directory), then searches
// it with random paths: drive-absolute, drive-relative, rooted, relative,
// with "/" or "\" separators, "." and "..", wildcards, odd bytes. Checked:
//  - nothing crashes, and every search that is opened is closed again, by
//    the search itself and by the file stamp query;
//  - a returned entry name is zero-terminated within its field;
//  - changing the case of the path's ASCII letters finds the same entry;
//  - doubling a separator inside the path finds the same entry;
//  - the file stamp agrees with what the search found: -1 for nothing, a
//    directory or a time outside the MS-DOS range, else the packed time.

#include "DosDateTime.h"
#include "FuzzCheck.h"
#include "fs/FileStamp.h"
#include "model/ModelControl.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <string>

namespace {

using platform::DWORD;

struct Result {
    bool found = false;
    DWORD attributes = 0;
    std::uint64_t lastWrite = 0;
    std::string name;

    bool operator==(const Result&) const = default;
};

Result Search(const std::string& path) {
    platform::WIN32_FIND_DATAA record{};
    std::memset(&record, 0xBD, sizeof record);
    const platform::HANDLE search = platform::FindFirstFileA(path.c_str(), &record);
    Result result;
    if (search != platform::INVALID_HANDLE_VALUE) {
        FUZZ_CHECK(model::OpenSearchHandles() == 1);
        FUZZ_CHECK(platform::FindClose(search) != 0);
        FUZZ_CHECK(std::memchr(record.cFileName, '\0', sizeof record.cFileName) != nullptr);
        result.found = true;
        result.attributes = record.dwFileAttributes;
        result.lastWrite = model::TicksOf(record.ftLastWriteTime);
        result.name = record.cFileName;
    }
    FUZZ_CHECK(model::OpenSearchHandles() == 0);
    return result;
}

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

std::string FlipAsciiCase(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        } else if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return text;
}

// Names the tree and the paths are made of: ordinary names, names that
// differ only in case, dots and spaces at the end, Windows-1251 letters,
// the game's executable, and an odd one made from the input.
std::string Component(FuzzedDataProvider& in) {
    static constexpr std::array<const char*, 16> kNames = {
        "a",  "B",   "vrk.exe",          "VRK.EXE",          "Game Dir", "file.txt", "x.y.z",
        "a.", "b  ", "\xC8\xE3\xF0\xE0", "\xE8\xE3\xF0\xE0", "~1",       "dir",      "long name.doc",
        "Z",  "e"};
    if (in.ConsumeIntegralInRange<int>(0, 7) == 0) {
        return in.ConsumeRandomLengthString(10);
    }
    return kNames[in.ConsumeIntegralInRange<std::size_t>(0, kNames.size() - 1)];
}

std::string Separator(FuzzedDataProvider& in) {
    switch (in.ConsumeIntegralInRange<int>(0, 5)) {
    case 0:
        return "/";
    case 1:
        return "\\\\";
    default:
        return "\\";
    }
}

std::string RandomPath(FuzzedDataProvider& in, bool forQuery) {
    static constexpr std::array<const char*, 9> kStarts = {"C:\\", "C:\\", "D:\\",        "C:", "\\",
                                                           "",     "",     "\\\\?\\C:\\", "c:/"};
    static constexpr std::array<const char*, 9> kPatterns = {"*",  "?", "*.*", "*.exe", "v?k.*",
                                                             "*.", ".", "..",  "<"};
    std::string path = kStarts[in.ConsumeIntegralInRange<std::size_t>(0, kStarts.size() - 1)];
    const int depth = in.ConsumeIntegralInRange<int>(1, 4);
    for (int i = 0; i < depth; ++i) {
        if (i > 0) {
            path += Separator(in);
        }
        if (forQuery && in.ConsumeIntegralInRange<int>(0, 5) == 0) {
            path += kPatterns[in.ConsumeIntegralInRange<std::size_t>(0, kPatterns.size() - 1)];
        } else {
            path += Component(in);
        }
    }
    if (forQuery && in.ConsumeIntegralInRange<int>(0, 9) == 0) {
        path += Separator(in);
    }
    return path;
}

void BuildTree(FuzzedDataProvider& in) {
    const int entries = in.ConsumeIntegralInRange<int>(0, 12);
    for (int i = 0; i < entries; ++i) {
        const std::string path = RandomPath(in, false);
        const auto time = model::FileTimeFromTicks(in.ConsumeIntegral<std::uint64_t>());
        const auto attributes = in.ConsumeIntegral<DWORD>();
        try {
            if (in.ConsumeBool()) {
                model::AddFile(path, time, attributes & ~platform::FILE_ATTRIBUTE_DIRECTORY);
            } else {
                model::AddDirectory(path, time, attributes);
            }
        } catch (const std::invalid_argument&) {
            // not a usable name for an entry: the tree just lacks it
        }
    }
    if (in.ConsumeBool()) {
        try {
            model::SetCurrentDirectory(RandomPath(in, false));
        } catch (const std::invalid_argument&) {
            // not a usable folder: the current one stays
        }
    }
}

void CheckStamp(const std::string& path, const Result& found) {
    std::int32_t expected = -1;
    constexpr auto kLargestTime = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    if (path.find('\0') == std::string::npos && found.found &&
        (found.attributes & platform::FILE_ATTRIBUTE_DIRECTORY) == 0 && found.lastWrite <= kLargestTime) {
        // The clock is at UTC, so the local time is the file time itself.
        if (const auto packed = calendar::PackDosDateTime(found.lastWrite)) {
            expected =
                static_cast<std::int32_t>(static_cast<std::uint32_t>(packed->date) << 16 | packed->time);
        }
    }
    FUZZ_CHECK(QueryFileStamp(path) == expected);
    FUZZ_CHECK(model::OpenSearchHandles() == 0);
    FUZZ_CHECK(FileIsPresent(path) == (expected != -1));
}

void CheckQuery(const std::string& query) {
    // What the platform receives is the text up to its first NUL.
    const std::string path = query.substr(0, query.find('\0'));
    const Result result = Search(path);

    FUZZ_CHECK(Search(FlipAsciiCase(path)) == result);

    // Runs of separators count as one, except two at the very start (a
    // network or device path), so double only a later one.
    const bool startsDoubled = path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1]);
    if (!startsDoubled && path.size() < 200) {
        for (std::size_t i = 1; i < path.size(); ++i) {
            if (IsSeparator(path[i])) {
                std::string doubled = path;
                doubled.insert(i, 1, path[i]);
                FUZZ_CHECK(Search(doubled) == result);
                break;
            }
        }
    }

    CheckStamp(query, result);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    model::Reset();
    BuildTree(in);
    const int queries = in.ConsumeIntegralInRange<int>(1, 8);
    for (int i = 0; i < queries && in.remaining_bytes() > 0; ++i) {
        if (in.ConsumeIntegralInRange<int>(0, 5) == 0) {
            CheckQuery(in.ConsumeRandomLengthString(300));
        } else {
            CheckQuery(RandomPath(in, true));
        }
    }
    return 0;
}
