#pragma once

// File times for the tests, written as calendar moments in UTC.

#include "DosDateTime.h"
#include "platform/Platform.h"

#include <cstdint>

namespace contract {

// The file time of a valid moment from 1601 on.
inline platform::FILETIME UtcFileTime(const calendar::CivilTime& utc) {
    const std::uint64_t ticks = calendar::TicksOfMoment(utc);
    return {static_cast<platform::DWORD>(ticks), static_cast<platform::DWORD>(ticks >> 32)};
}

} // namespace contract
