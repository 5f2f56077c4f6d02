#pragma once

// The boundary's find record, copied field by field from the one Windows
// fills. It is a function of its own so that a test can hand it a native
// record whose every field holds a value of its own, and see each land in
// its place: no run over real files can tell the last-write time from the
// creation time under Wine, which reports the one as the other.

#include "platform/Platform.h"
// <windows.h> after the boundary header: it turns the Windows names into macros.
#include <windows.h>

namespace platform {

WIN32_FIND_DATAA FromNativeFindData(const ::WIN32_FIND_DATAA& native);

} // namespace platform
