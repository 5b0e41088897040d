// The name handling of the qk tool: patterns, and names between the
// archive's CP932 and the user's side.
#include <gtest/gtest.h>

#include "qk/Charset.h"
#include "qk/Glob.h"
#include "qk/InputTree.h"

namespace qk::tool {
namespace {

constexpr CharacterSet kBytes = CharacterSet::kBytes, kUtf8 = CharacterSet::kUtf8,
                       kCp932 = CharacterSet::kCp932;

TEST(ToolNames, Patterns) {
    struct Case {
        const char* pattern;
        std::string name;
        CharacterSet set;
        bool matches;  // the whole name
        bool selects;  // the name or a folder of it
    };
    const Case cases[] = {
        {"*.txt", "dir/a.txt", kBytes, true, true},  // '*' crosses '/'
        {"*.txt", "a.txt.bak", kBytes, false, false},
        {"f[0-9]", "f0", kBytes, true, true},
        {"f[0-9]", "f9", kBytes, true, true},
        {"[!a-c]", "c", kBytes, false, false},
        {"[]x]", "]", kBytes, true, true},
        {"a[b", "a[b", kBytes, true, true},  // an unclosed set is literal
        {"dir", "dir/sub/a.txt", kBytes, false, true},
        {"dir/", "dir/a.txt", kBytes, false, true},
        {"dir", "dirt.txt", kBytes, false, false},
        {"???.txt", "\xE8\xA1\xA8.txt", kUtf8, false, false},  // a character, not a byte
        {"[\xE3\x81\x82-\xE3\x81\x86]", "\xE3\x81\x86", kUtf8, true, true},  // [あ-う] う
        {"?.txt", "\x95\x5C.txt", kCp932, true, true},  // its trail byte 0x5C included
    };
    for (const Case& c : cases) {
        EXPECT_EQ(GlobMatch(c.pattern, c.name, c.set), c.matches) << c.pattern << " " << c.name;
        EXPECT_EQ(SelectsEntry(c.pattern, c.name, c.set), c.selects) << c.pattern << " " << c.name;
    }
}

// The selection runs the pattern once along the name; the plain definition
// matches the whole name and every leading folder on its own.
TEST(ToolNames, SelectionAgreesWithItsDefinition) {
    const auto byDefinition = [](std::string_view pattern, std::string_view name,
                                 CharacterSet set) {
        while (pattern.size() > 1 && pattern.back() == '/') pattern.remove_suffix(1);
        for (std::size_t i = 0; i <= name.size(); ++i)
            if ((i == name.size() || name[i] == '/') && GlobMatch(pattern, name.substr(0, i), set))
                return true;
        return false;
    };
    const char* patterns[] = {"",      "*",    "**",      "a",    "a/",    "a/b",  "a*",
                              "*b",    "a?c",  "?",       "[ab]", "[!a]*", "a[b",  "*/c",
                              "a/*/c", "d*/x", "[a-c]/*", "a**b", "*a*b*", "[]x]", "\x95\x5C*"};
    const char* names[] = {"",       "a",       "b",     "abc",       "a/b", "a/b/c",
                           "a/bb/c", "dir/x",   "d/x/y", "a[b",       "]",   "a/x.txt/b",
                           "ab/b",   "a/b/a/b", "c/d",   "\x95\x5C/a"};
    for (const CharacterSet set : {kBytes, kCp932, kUtf8})
        for (const char* pattern : patterns)
            for (const char* name : names)
                EXPECT_EQ(SelectsEntry(pattern, name, set), byDefinition(pattern, name, set))
                    << "'" << pattern << "' '" << name << "' " << static_cast<int>(set);
    // 100,000 folders: in time proportional to the name, not its square.
    std::string deep;
    for (int i = 0; i < 100000; ++i) deep += "a/";
    EXPECT_TRUE(SelectsEntry("a/a/*/f", deep + "f", kUtf8));
    EXPECT_FALSE(SelectsEntry("*/g", deep + "f", kCp932));
}

TEST(ToolNames, BetweenTheArchiveAndTheUser) {
    const NameCodec utf8(Charset::kUtf8, true), raw(Charset::kRaw, false);
    EXPECT_EQ(raw.ToFileName("\x81/x"), "\x81%2Fx");  // a component never gains a '/'
    using V = std::vector<std::string>;
    EXPECT_EQ(OperandComponents("../a//./b/../c/"), (V{"a", "c"}));
    // U+7E8A is 0xFA 0x5C: the format does not skip the byte after 0xFA, so
    // it would read a separator there.
    std::string cp932, reason;
    EXPECT_FALSE(ArchiveComponent(utf8, "\xE7\xBA\x8A", cp932, reason));
    EXPECT_TRUE(ArchiveComponent(utf8, "\xE8\xA1\xA8", cp932, reason));  // 表: 0x95 0x5C
    EXPECT_EQ(cp932, "\x95\x5C");
}

}  // namespace
}  // namespace qk::tool
