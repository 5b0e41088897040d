#include "qk/Glob.h"

#include <cstdint>

namespace qk::tool {

namespace {

std::size_t CharLength(std::string_view s, std::size_t i, CharacterSet set) {
    const unsigned char b = static_cast<unsigned char>(s[i]);
    std::size_t n = 1;
    if (set == CharacterSet::kUtf8) {
        n = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 1;
    } else if (set == CharacterSet::kCp932) {
        n = ((b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC)) ? 2 : 1;
    }
    return n <= s.size() - i ? n : s.size() - i;
}

// A character as a number for range comparisons: its bytes, big-endian.
std::uint32_t CharValue(std::string_view ch) {
    std::uint32_t v = 0;
    for (unsigned char b : ch) v = (v << 8) | b;
    return v;
}

// Matches the set starting at pattern[p] ('[') against `ch`. Sets `end` past
// the closing ']'; false in `valid` when the set is not closed.
bool MatchSet(std::string_view pattern, std::size_t p, std::string_view ch, CharacterSet set,
              std::size_t& end, bool& valid) {
    std::size_t i = p + 1;
    bool negate = false;
    if (i < pattern.size() && (pattern[i] == '!' || pattern[i] == '^')) {
        negate = true;
        ++i;
    }
    bool matched = false;
    bool first = true;
    const std::uint32_t value = CharValue(ch);
    while (i < pattern.size() && (first || pattern[i] != ']')) {
        first = false;
        const std::size_t n = CharLength(pattern, i, set);
        const std::string_view low = pattern.substr(i, n);
        i += n;
        if (i + 1 < pattern.size() && pattern[i] == '-' && pattern[i + 1] != ']') {
            const std::size_t m = CharLength(pattern, i + 1, set);
            const std::string_view high = pattern.substr(i + 1, m);
            i += 1 + m;
            if (CharValue(low) <= value && value <= CharValue(high)) matched = true;
        } else if (low == ch) {
            matched = true;
        }
    }
    valid = i < pattern.size();
    end = i + 1;
    return matched != negate;
}

}  // namespace

bool GlobMatch(std::string_view pattern, std::string_view name, CharacterSet set) {
    // Iterative matching with one backtrack point: the last '*' seen.
    std::size_t p = 0, n = 0;
    std::size_t starP = std::string_view::npos, starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            starP = ++p;
            starN = n;
            continue;
        }
        const std::size_t len = CharLength(name, n, set);
        const std::string_view ch = name.substr(n, len);
        if (p < pattern.size()) {
            if (pattern[p] == '?') {
                ++p;
                n += len;
                continue;
            }
            if (pattern[p] == '[') {
                std::size_t end = 0;
                bool valid = false;
                const bool inSet = MatchSet(pattern, p, ch, set, end, valid);
                if (valid) {
                    if (inSet) {
                        p = end;
                        n += len;
                        continue;
                    }
                } else if (name[n] == '[') {  // an unclosed '[' is itself
                    ++p;
                    ++n;
                    continue;
                }
            } else {
                const std::size_t plen = CharLength(pattern, p, set);
                if (pattern.substr(p, plen) == ch) {
                    p += plen;
                    n += len;
                    continue;
                }
            }
        }
        if (starP == std::string_view::npos) return false;
        // Let the last '*' take one more character and try again.
        starN += CharLength(name, starN, set);
        n = starN;
        p = starP;
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

bool SelectsEntry(std::string_view pattern, std::string_view name, CharacterSet set) {
    while (pattern.size() > 1 && pattern.back() == '/') pattern.remove_suffix(1);
    if (GlobMatch(pattern, name, set)) return true;
    // A leading folder: every prefix that ends before a separator.
    for (std::size_t i = 0; i < name.size(); i += CharLength(name, i, set)) {
        if (name[i] == '/' && GlobMatch(pattern, name.substr(0, i), set)) return true;
    }
    return false;
}

}  // namespace qk::tool
