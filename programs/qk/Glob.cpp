#include "qk/Glob.h"

#include <algorithm>
#include <cstdint>
#include <vector>

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

namespace {

// A pattern read once: one token per character or wildcard.
struct Token {
    enum Kind { kLiteral, kAnyOne, kAnyRun, kSet } kind;
    std::string_view text;  // kLiteral: the character
    std::size_t at = 0;     // kSet: where its '[' stands in the pattern
};

std::vector<Token> Tokens(std::string_view pattern, CharacterSet set) {
    std::vector<Token> tokens;
    std::size_t p = 0;
    while (p < pattern.size()) {
        if (pattern[p] == '*') {
            tokens.push_back({Token::kAnyRun, {}, p});
            ++p;
        } else if (pattern[p] == '?') {
            tokens.push_back({Token::kAnyOne, {}, p});
            ++p;
        } else if (pattern[p] == '[') {
            std::size_t end = 0;
            bool valid = false;
            MatchSet(pattern, p, "", set, end, valid);
            if (valid) {
                tokens.push_back({Token::kSet, {}, p});
                p = end;
            } else {  // an unclosed '[' is itself
                tokens.push_back({Token::kLiteral, pattern.substr(p, 1), p});
                ++p;
            }
        } else {
            const std::size_t n = CharLength(pattern, p, set);
            tokens.push_back({Token::kLiteral, pattern.substr(p, n), p});
            p += n;
        }
    }
    return tokens;
}

// Adds the states that a run of '*' lets the match reach without a character.
void Close(const std::vector<Token>& tokens, std::vector<char>& states) {
    for (std::size_t t = 0; t < tokens.size(); ++t) {
        if (states[t] && tokens[t].kind == Token::kAnyRun) states[t + 1] = 1;
    }
}

}  // namespace

// The pattern as a set of states (token positions) carried along the name
// once: time proportional to the name's length times the pattern's, however
// many folders the name has, where matching every leading folder on its own
// would take the square of the name's length.
bool SelectsEntry(std::string_view pattern, std::string_view name, CharacterSet set) {
    while (pattern.size() > 1 && pattern.back() == '/') pattern.remove_suffix(1);
    const std::vector<Token> tokens = Tokens(pattern, set);
    const std::size_t accept = tokens.size();
    std::vector<char> states(tokens.size() + 1, 0), next(tokens.size() + 1, 0);
    states[0] = 1;
    Close(tokens, states);
    bool alive = true;
    for (std::size_t i = 0; i < name.size() && alive;) {
        // A leading folder: the name up to a separator.
        if (name[i] == '/' && states[accept]) return true;
        const std::size_t len = CharLength(name, i, set);
        const std::string_view ch = name.substr(i, len);
        std::fill(next.begin(), next.end(), 0);
        alive = false;
        for (std::size_t t = 0; t < tokens.size(); ++t) {
            if (!states[t]) continue;
            bool step = false;
            switch (tokens[t].kind) {
                case Token::kAnyRun:
                    next[t] = 1;
                    alive = true;
                    break;
                case Token::kAnyOne:
                    step = true;
                    break;
                case Token::kLiteral:
                    step = tokens[t].text == ch;
                    break;
                case Token::kSet: {
                    std::size_t end = 0;
                    bool valid = false;
                    step = MatchSet(pattern, tokens[t].at, ch, set, end, valid);
                    break;
                }
            }
            if (step) {
                next[t + 1] = 1;
                alive = true;
            }
        }
        Close(tokens, next);
        states.swap(next);
        i += len;
    }
    return alive && states[accept];
}

}  // namespace qk::tool
