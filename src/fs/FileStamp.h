#pragma once

#include "core/AnsiString.h"

#include <cstdint>

// The last-write time, in local time packed as MS-DOS date (upper 16 bits)
// and time (lower 16 bits), of the first entry that a search for `path`
// yields; -1 when nothing matches, the first match is a directory, or its
// local time cannot be held in MS-DOS form (before 1980 or after 2107).
// Stamps from 2044 on are negative and valid. The path is searched as given.
std::int32_t QueryFileStamp(const AnsiString& path);

// Whether `path` names a plain file with a usable stamp: exactly when
// QueryFileStamp(path) is not -1.
bool FileIsPresent(const AnsiString& path);
