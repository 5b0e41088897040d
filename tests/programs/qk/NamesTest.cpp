// The name handling of the qk tool: patterns, and names between the
// archive's CP932 and the user's side.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "qk/Charset.h"
#include "qk/Glob.h"
#include "qk/InputTree.h"
#include "support/TestSupport.h"

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

#ifndef _WIN32
// Names as stored: relative, '\' between folders, CP932.
TEST(ToolNames, InputsStoredRelativeWithBackslashes) {
    const test::TempDir dir;
    std::filesystem::create_directories(dir.path() + "/in/sub");
    for (const char* file : {"/in/sub/\xE8\xA1\xA8.txt", "/in/b", "/top.txt"})
        test::WriteFileBytes(dir.path() + file, {});
    std::vector<InputFile> files;
    int skipped = 0;
    ASSERT_TRUE(CollectInputs({"./in/../in", dir.path() + "/top.txt"}, dir.path(),
                              NameCodec(Charset::kUtf8, true), {true, false}, files, skipped));
    std::vector<std::string> names;
    for (const InputFile& file : files) names.push_back(file.name);
    std::string top = dir.path().substr(1) + "/top.txt";  // the root dropped
    std::replace(top.begin(), top.end(), '/', '\\');
    EXPECT_EQ(names, (std::vector<std::string>{"in\\b", "in\\sub\\\x95\x5C.txt", top}));
}
#endif

}  // namespace
}  // namespace qk::tool
