#pragma once

#include <string>

// An 8-bit text with value semantics. std::string keeps a NUL after the last
// character, so c_str() hands the platform a zero-terminated text, and the
// empty text as "" rather than a null pointer. The program's fixed texts are
// Windows-1251 bytes.
using AnsiString = std::string;
