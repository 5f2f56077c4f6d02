// Model of the file system and the clock: drives holding trees of plain
// files and directories, a current drive and directory, and an offset of
// local time from UTC. Path reading and name matching are in FilePaths.cpp.

#include "DosDateTime.h"
#include "model/FilePaths.h"
#include "model/ModelControl.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <set>
#include <stdexcept>

namespace model {
namespace {

struct Entry {
    std::string name;
    DWORD attributes = 0;
    std::uint64_t lastWrite = 0;                  // UTC file time
    std::vector<std::unique_ptr<Entry>> children; // in directory order

    [[nodiscard]] bool IsDirectory() const { return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }

    [[nodiscard]] Entry* Child(std::string_view childName) const {
        const auto found = std::ranges::find_if(
            children, [&](const auto& child) { return paths::SameName(child->name, childName); });
        return found == children.end() ? nullptr : found->get();
    }

    Entry& Adopt(std::unique_ptr<Entry> child) {
        const auto at = std::ranges::upper_bound(
            children, child->name, paths::ListedBefore,
            [](const auto& existing) -> const std::string& { return existing->name; });
        return **children.insert(at, std::move(child));
    }
};

// The last-write time of entries made without one.
std::uint64_t DefaultTime() {
    static const std::uint64_t ticks = calendar::TicksOfMoment({2020, 6, 15, 12, 0, 0});
    return ticks;
}
constexpr HANDLE kFirstSearchHandle = 0x00001000u;

struct FilesState {
    std::map<char, std::unique_ptr<Entry>> drives;
    char currentDrive = 'C';
    std::vector<std::string> currentDirectory; // components below the drive's root
    int utcOffsetMinutes = 0;
    bool failLocalTime = false;
    std::set<HANDLE> openSearches;
    HANDLE nextSearch = kFirstSearchHandle;
};

FilesState& State() {
    static FilesState state;
    return state;
}

std::unique_ptr<Entry> MakeDirectoryEntry(std::string name, std::uint64_t lastWrite, DWORD attributes) {
    auto entry = std::make_unique<Entry>();
    entry->name = std::move(name);
    entry->attributes = attributes | FILE_ATTRIBUTE_DIRECTORY;
    entry->lastWrite = lastWrite;
    return entry;
}

Entry& Drive(char letter) {
    auto& drive = State().drives[letter];
    if (!drive) {
        drive = MakeDirectoryEntry(std::string(1, letter) + ":", DefaultTime(), 0);
    }
    return *drive;
}

std::string FileTimeText(const FILETIME* time) {
    if (time == nullptr) {
        return "null";
    }
    char buffer[20];
    std::snprintf(buffer, sizeof buffer, "%08X%08X", static_cast<unsigned>(time->dwHighDateTime),
                  static_cast<unsigned>(time->dwLowDateTime));
    return buffer;
}

// Reads a path given to a control, or throws: controls only take paths that
// name an entry below a drive's root, made of valid names.
paths::ParsedPath ControlPath(const std::string& path, bool mayBeRoot) {
    auto parsed = paths::ParsePath(path, State().currentDrive, State().currentDirectory);
    if (!parsed || (!mayBeRoot && parsed->components.empty()) ||
        !std::all_of(parsed->components.begin(), parsed->components.end(), paths::IsValidName)) {
        throw std::invalid_argument("model: not a usable path for a test entry: " + path);
    }
    return *parsed;
}

// Walks to the directory that the first `count` components name, making
// missing ones. Returns it with the exact names of the walked directories.
Entry& MakeDirectories(const paths::ParsedPath& path, std::size_t count,
                       std::vector<std::string>* names = nullptr) {
    Entry* directory = &Drive(path.drive);
    for (std::size_t i = 0; i < count; ++i) {
        Entry* child = directory->Child(path.components[i]);
        if (child == nullptr) {
            child = &directory->Adopt(MakeDirectoryEntry(path.components[i], DefaultTime(), 0));
        } else if (!child->IsDirectory()) {
            throw std::invalid_argument("model: a plain file stands where a directory is wanted: " +
                                        path.components[i]);
        }
        if (names != nullptr) {
            names->push_back(child->name);
        }
        directory = child;
    }
    return *directory;
}

// The first entry that a search for `path` yields, as a directory listing
// shows it (for "." and ".." under their own names), or nullopt.
struct Found {
    // cppcheck-suppress unusedStructMember ; read by FindFirstFileA below
    std::string name;
    DWORD attributes;
    std::uint64_t lastWrite;
};

std::optional<Found> FirstMatch(const char* path) {
    const FilesState& state = State();
    const auto parsed = paths::ParsePath(path, state.currentDrive, state.currentDirectory);
    // The root of a drive is no entry of any directory, so a search cannot
    // name it; nor can a path that ends in a separator.
    if (!parsed || parsed->endsWithSeparator || parsed->components.empty()) {
        return std::nullopt;
    }
    const auto drive = state.drives.find(parsed->drive);
    if (drive == state.drives.end()) {
        return std::nullopt;
    }
    std::vector<const Entry*> chain{drive->second.get()};
    for (std::size_t i = 0; i + 1 < parsed->components.size(); ++i) {
        const std::string& component = parsed->components[i];
        if (paths::HasWildcards(component)) {
            return std::nullopt; // wildcards only count in the last component
        }
        const Entry* child = chain.back()->Child(component);
        if (child == nullptr || !child->IsDirectory()) {
            return std::nullopt;
        }
        chain.push_back(child);
    }

    const Entry& directory = *chain.back();
    const std::string& last = parsed->components.back();
    if (!paths::HasWildcards(last)) {
        const Entry* entry = directory.Child(last);
        if (entry == nullptr) {
            return std::nullopt;
        }
        return Found{entry->name, entry->attributes, entry->lastWrite};
    }
    // A listing of a directory other than a root starts with "." (itself)
    // and ".." (its parent), as on NTFS; a root lists neither.
    if (chain.size() > 1) {
        if (paths::MatchesPattern(".", last)) {
            return Found{".", directory.attributes, directory.lastWrite};
        }
        if (paths::MatchesPattern("..", last)) {
            const Entry& parent = *chain[chain.size() - 2];
            return Found{"..", parent.attributes, parent.lastWrite};
        }
    }
    const auto match = std::ranges::find_if(
        directory.children, [&](const auto& child) { return paths::MatchesPattern(child->name, last); });
    if (match == directory.children.end()) {
        return std::nullopt;
    }
    return Found{(*match)->name, (*match)->attributes, (*match)->lastWrite};
}

} // namespace

FILETIME FileTimeFromTicks(std::uint64_t ticks) {
    return {static_cast<DWORD>(ticks & 0xFFFFFFFFu), static_cast<DWORD>(ticks >> 32)};
}

std::uint64_t TicksOf(FILETIME time) {
    return static_cast<std::uint64_t>(time.dwHighDateTime) << 32 | time.dwLowDateTime;
}

FILETIME FileTimeFromUtc(int year, int month, int day, int hour, int minute, int second) {
    return FileTimeFromTicks(calendar::TicksOfMoment({year, month, day, hour, minute, second}));
}

void AddDirectory(const std::string& path) {
    const auto parsed = ControlPath(path, true);
    MakeDirectories(parsed, parsed.components.size());
}

void AddDirectory(const std::string& path, FILETIME lastWriteUtc, DWORD attributes) {
    const auto parsed = ControlPath(path, false);
    Entry& directory = MakeDirectories(parsed, parsed.components.size());
    directory.attributes = attributes | FILE_ATTRIBUTE_DIRECTORY;
    directory.lastWrite = TicksOf(lastWriteUtc);
}

void AddFile(const std::string& path, FILETIME lastWriteUtc, DWORD attributes) {
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        throw std::invalid_argument("model: a plain file cannot carry the directory attribute: " + path);
    }
    const auto parsed = ControlPath(path, false);
    Entry& directory = MakeDirectories(parsed, parsed.components.size() - 1);
    const std::string& name = parsed.components.back();
    Entry* file = directory.Child(name);
    if (file == nullptr) {
        auto entry = std::make_unique<Entry>();
        entry->name = name;
        file = &directory.Adopt(std::move(entry));
    } else if (file->IsDirectory()) {
        throw std::invalid_argument("model: a directory stands where a plain file is wanted: " + path);
    }
    file->attributes = attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes;
    file->lastWrite = TicksOf(lastWriteUtc);
}

void AddFile(const std::string& path) { AddFile(path, FileTimeFromTicks(DefaultTime())); }

void SetCurrentDirectory(const std::string& path) {
    const auto parsed = ControlPath(path, true);
    std::vector<std::string> names;
    MakeDirectories(parsed, parsed.components.size(), &names);
    State().currentDrive = parsed.drive;
    State().currentDirectory = std::move(names);
}

void SetUtcOffsetMinutes(int minutes) { State().utcOffsetMinutes = minutes; }

void FailLocalTimeConversion(bool fail) { State().failLocalTime = fail; }

int OpenSearchHandles() { return static_cast<int>(State().openSearches.size()); }

namespace detail {
void ResetFiles() {
    State() = FilesState{};
    Drive('C');
}
} // namespace detail
} // namespace model

namespace platform {

HANDLE FindFirstFileA(const char* fileName, WIN32_FIND_DATAA* findData) {
    model::detail::Log("FindFirstFileA", {model::detail::Quote(fileName)});
    if (fileName == nullptr || findData == nullptr) {
        return INVALID_HANDLE_VALUE;
    }
    const auto found = model::FirstMatch(fileName);
    if (!found) {
        return INVALID_HANDLE_VALUE; // the record is left as it was
    }
    const FILETIME time = model::FileTimeFromTicks(found->lastWrite);
    WIN32_FIND_DATAA record{};
    record.dwFileAttributes = found->attributes;
    record.ftCreationTime = time;
    record.ftLastAccessTime = time;
    record.ftLastWriteTime = time;
    const std::size_t length = std::min(found->name.size(), sizeof record.cFileName - 1);
    std::memcpy(record.cFileName, found->name.data(), length);
    *findData = record;

    auto& state = model::State();
    const HANDLE search = state.nextSearch;
    state.nextSearch += 4;
    state.openSearches.insert(search);
    return search;
}

BOOL FindClose(HANDLE findFile) {
    model::detail::Log("FindClose", {model::detail::Hex(findFile)});
    return model::State().openSearches.erase(findFile) == 1 ? 1 : 0;
}

BOOL FileTimeToLocalFileTime(const FILETIME* fileTime, FILETIME* localFileTime) {
    model::detail::Log("FileTimeToLocalFileTime", {model::FileTimeText(fileTime)});
    const auto& state = model::State();
    if (fileTime == nullptr || localFileTime == nullptr || state.failLocalTime) {
        return 0;
    }
    // File times are signed 64-bit quantities to Windows: the top bit set,
    // or a result below 1601 or past the top, is no time at all.
    constexpr auto kMax = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    const std::uint64_t utc = model::TicksOf(*fileTime);
    const std::int64_t shift =
        std::int64_t{state.utcOffsetMinutes} * 60 * static_cast<std::int64_t>(calendar::kTicksPerSecond);
    if (utc > kMax || (shift < 0 && utc < static_cast<std::uint64_t>(-shift)) ||
        (shift > 0 && utc > kMax - static_cast<std::uint64_t>(shift))) {
        return 0;
    }
    *localFileTime = model::FileTimeFromTicks(utc + static_cast<std::uint64_t>(shift));
    return 1;
}

BOOL FileTimeToDosDateTime(const FILETIME* fileTime, WORD* fatDate, WORD* fatTime) {
    model::detail::Log("FileTimeToDosDateTime", {model::FileTimeText(fileTime)});
    if (fileTime == nullptr || fatDate == nullptr || fatTime == nullptr) {
        return 0;
    }
    const auto packed = calendar::PackDosDateTime(model::TicksOf(*fileTime));
    if (!packed) {
        return 0; // both words are left as they were
    }
    *fatDate = packed->date;
    *fatTime = packed->time;
    return 1;
}

} // namespace platform
