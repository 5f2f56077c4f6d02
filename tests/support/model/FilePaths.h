#pragma once

// How the model reads a Windows path and compares names: every rule of path
// matching lives here, one function each, so that a rule found to differ
// from Windows is corrected in one place.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace model::paths {

// Folds one byte for case-insensitive comparison. The model's ANSI code page
// is Windows-1251: ASCII letters and Cyrillic letters fold to upper case.
unsigned char FoldCase(unsigned char c);

// Case-insensitive equality of two names.
bool SameName(std::string_view a, std::string_view b);

// Directory order: entries are listed sorted by their case-folded names, as
// NTFS (and Wine) list them; "." and ".." come before every other entry.
bool ListedBefore(std::string_view a, std::string_view b);

// Whether a path component holds wildcard characters. Besides "*" and "?",
// Windows treats "<", ">" and '"' as wildcards in a search pattern.
bool HasWildcards(std::string_view component);

// Whether a name matches a search pattern: "*" matches any run of
// characters, "?" and ">" exactly one; other characters match themselves,
// case-insensitively. A pattern ending in ".*" also matches names without
// that extension, so "*.*" matches every name.
bool MatchesPattern(std::string_view name, std::string_view pattern);

// Whether a text may be the name of a file or directory: not empty, not "."
// or "..", no control characters and none of < > : " / \ | ? *.
bool IsValidName(std::string_view name);

// A path read against a current drive and directory.
struct ParsedPath {
    char drive = 'C';                    // upper-case drive letter
    std::vector<std::string> components; // below the drive's root; no "." or ".." left
    bool endsWithSeparator = false;      // nothing names a last entry ("C:\dir\", "C:\")
};

// Reads a path the way Windows does before any lookup, purely on the text:
//  - "/" is a separator like "\"; runs of separators count as one;
//  - "X:\..." is absolute on drive X; "X:name" is relative to the current
//    directory when X is the current drive, else to the root of X;
//  - a leading "\" means the root of the current drive; any other path is
//    relative to the current directory;
//  - "\\?\" and "\\.\" followed by a drive path name that path; any other
//    path that starts with two separators is a network (UNC) path, and the
//    model has no network, so it cannot be read;
//  - "." components are dropped and ".." removes the component before it
//    (never going above the root), without looking at the file system;
//  - trailing dots and spaces of the last component are removed, and one
//    trailing dot of any other component;
//  - an empty text, or one longer than MAX_PATH characters, cannot be read.
// Returns nullopt for a path that cannot be read.
std::optional<ParsedPath> ParsePath(std::string_view text, char currentDrive,
                                    const std::vector<std::string>& currentDirectory);

} // namespace model::paths
