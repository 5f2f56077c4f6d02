#include "model/FilePaths.h"

#include "platform/Platform.h"

#include <algorithm>

namespace model::paths {
namespace {

constexpr bool IsSeparator(char c) { return c == '\\' || c == '/'; }

constexpr bool IsDriveLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

bool HasDrivePrefix(std::string_view text) {
    return text.size() >= 2 && IsDriveLetter(text[0]) && text[1] == ':';
}

bool MatchesPlain(std::string_view name, std::string_view pattern) {
    // Greedy match with backtracking to the last "*": linear in practice.
    std::size_t n = 0;
    std::size_t p = 0;
    std::size_t starPattern = std::string_view::npos;
    std::size_t starName = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            starPattern = p++;
            starName = n;
        } else if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == '>' ||
                                          FoldCase(static_cast<unsigned char>(pattern[p])) ==
                                              FoldCase(static_cast<unsigned char>(name[n])))) {
            ++p;
            ++n;
        } else if (starPattern != std::string_view::npos) {
            p = starPattern + 1;
            n = ++starName;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') {
        ++p;
    }
    return p == pattern.size();
}

std::string_view TrimTrailing(std::string_view component, std::string_view characters) {
    const std::size_t end = component.find_last_not_of(characters);
    return end == std::string_view::npos ? std::string_view{} : component.substr(0, end + 1);
}

} // namespace

unsigned char FoldCase(unsigned char c) {
    if (c >= 'a' && c <= 'z') {
        return static_cast<unsigned char>(c - 'a' + 'A');
    }
    if (c >= 0xE0) { // Cyrillic а..я
        return static_cast<unsigned char>(c - 0x20);
    }
    switch (c) { // the other lower-case Cyrillic letters of Windows-1251
    case 0x83:
        return 0x81; // ѓ
    case 0x90:
        return 0x80; // ђ
    case 0x9A:
        return 0x8A; // љ
    case 0x9C:
        return 0x8C; // њ
    case 0x9D:
        return 0x8D; // ќ
    case 0x9E:
        return 0x8E; // ћ
    case 0x9F:
        return 0x8F; // џ
    case 0xA2:
        return 0xA1; // ў
    case 0xB3:
        return 0xB2; // і
    case 0xB4:
        return 0xA5; // ґ
    case 0xB8:
        return 0xA8; // ё
    case 0xBA:
        return 0xAA; // є
    case 0xBC:
        return 0xA3; // ј
    case 0xBE:
        return 0xBD; // ѕ
    case 0xBF:
        return 0xAF; // ї
    default:
        return c;
    }
}

bool SameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return FoldCase(static_cast<unsigned char>(x)) == FoldCase(static_cast<unsigned char>(y));
           });
}

bool ListedBefore(std::string_view a, std::string_view b) {
    const auto rank = [](std::string_view name) { return name == "." ? 0 : name == ".." ? 1 : 2; };
    if (rank(a) != rank(b)) {
        return rank(a) < rank(b);
    }
    return std::ranges::lexicographical_compare(a, b, [](char x, char y) {
        return FoldCase(static_cast<unsigned char>(x)) < FoldCase(static_cast<unsigned char>(y));
    });
}

bool HasWildcards(std::string_view component) {
    return component.find_first_of("*?<>\"") != std::string_view::npos;
}

bool MatchesPattern(std::string_view name, std::string_view pattern) {
    if (MatchesPlain(name, pattern)) {
        return true;
    }
    return pattern.size() >= 2 && pattern.substr(pattern.size() - 2) == ".*" &&
           MatchesPlain(name, pattern.substr(0, pattern.size() - 2));
}

bool IsValidName(std::string_view name) {
    if (name.empty() || name == "." || name == "..") {
        return false;
    }
    return std::ranges::none_of(name, [](char c) {
        return static_cast<unsigned char>(c) < 0x20 ||
               std::string_view("<>:\"/\\|?*").find(c) != std::string_view::npos;
    });
}

std::optional<ParsedPath> ParsePath(std::string_view text, char currentDrive,
                                    const std::vector<std::string>& currentDirectory) {
    if (text.empty() || text.size() > platform::MAX_PATH) {
        return std::nullopt;
    }
    if (text.size() >= 2 && IsSeparator(text[0]) && IsSeparator(text[1])) {
        // "\\?\C:\..." and "\\.\C:\..." name a drive path; anything else
        // that starts with two separators is a network share.
        if (text.size() >= 4 && (text[2] == '?' || text[2] == '.') && IsSeparator(text[3]) &&
            HasDrivePrefix(text.substr(4)) && text.size() > 6 && IsSeparator(text[6])) {
            text.remove_prefix(4);
        } else {
            return std::nullopt;
        }
    }

    ParsedPath parsed;
    parsed.drive = currentDrive;
    std::string_view rest = text;
    bool fromCurrentDirectory = true;
    if (HasDrivePrefix(text)) {
        parsed.drive = static_cast<char>(FoldCase(static_cast<unsigned char>(text[0])));
        rest = text.substr(2);
        fromCurrentDirectory = parsed.drive == currentDrive;
    }
    if (!rest.empty() && IsSeparator(rest.front())) {
        fromCurrentDirectory = false;
    }
    if (fromCurrentDirectory) {
        parsed.components = currentDirectory;
    }
    parsed.endsWithSeparator = rest.empty() || IsSeparator(rest.back());

    std::size_t start = 0;
    while (start < rest.size()) {
        std::size_t end = start;
        while (end < rest.size() && !IsSeparator(rest[end])) {
            ++end;
        }
        std::string_view component = rest.substr(start, end - start);
        const bool last = end == rest.size();
        start = end + 1;
        if (component.empty()) {
            continue; // doubled separator
        }
        if (component != "." && component != "..") {
            if (last) {
                component = TrimTrailing(component, ". ");
                if (component.empty()) {
                    parsed.endsWithSeparator = true;
                    continue;
                }
            } else if (component.back() == '.' && component[component.size() - 2] != '.') {
                component.remove_suffix(1);
            }
        }
        if (component == ".") {
            continue;
        }
        if (component == "..") {
            if (!parsed.components.empty()) {
                parsed.components.pop_back();
            }
            continue;
        }
        parsed.components.emplace_back(component);
    }
    return parsed;
}

} // namespace model::paths
