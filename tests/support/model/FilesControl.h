#pragma once

// File-system and clock part of the model's test controls (see ModelControl.h).
//
// The model's machine starts with one empty drive C:, whose root is also the
// current directory, a clock at UTC and no open searches. Paths given to
// these controls are read as the search reads them (relative ones against
// the current directory); a path that cannot be read, or a name that no
// file may have, is a mistake in the test and throws std::invalid_argument.

#include "TestConstants.h"

#include <cstdint>
#include <string>

namespace model {

// The file time of a UTC calendar moment. Throws std::invalid_argument for
// fields out of range or a moment before 1601.
platform::FILETIME FileTimeFromUtc(int year, int month, int day, int hour, int minute, int second);

// The same moment as a plain count of 100-nanosecond intervals since 1601.
std::uint64_t TicksOf(platform::FILETIME time);
platform::FILETIME FileTimeFromTicks(std::uint64_t ticks);

// Makes a directory, and any missing parent; a new drive letter makes that
// drive. An existing directory is left as it is.
void AddDirectory(const std::string& path);
// The same with a given last-write time and attributes (the directory bit is
// added).
void AddDirectory(const std::string& path, platform::FILETIME lastWriteUtc, platform::DWORD attributes);

// Makes a plain file, and any missing parent directory; an existing file of
// that name is replaced. Attributes 0 are reported as FILE_ATTRIBUTE_NORMAL,
// as Windows does; attributes with the directory bit throw.
void AddFile(const std::string& path, platform::FILETIME lastWriteUtc,
             platform::DWORD attributes = platform::FILE_ATTRIBUTE_ARCHIVE);
// A plain file last written 2020-06-15 12:00:00 UTC.
void AddFile(const std::string& path);

// Makes the directory if it is missing and makes it the current directory;
// its drive becomes the current drive.
void SetCurrentDirectory(const std::string& path);

// The machine's offset from UTC in force now: local = UTC + minutes.
void SetUtcOffsetMinutes(int minutes);

// While set, FileTimeToLocalFileTime fails and leaves its output untouched.
void FailLocalTimeConversion(bool fail);

// Searches opened by FindFirstFileA and not yet closed by FindClose.
int OpenSearchHandles();

} // namespace model
