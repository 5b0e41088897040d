// The name handling of the qk tool: patterns, entry names as places on disk,
// and the conversions between CP932 names and the user's charset.
#include <gtest/gtest.h>

#include "platform/FileSystem.h"
#include "qk/Charset.h"
#include "qk/EntryPath.h"
#include "qk/Glob.h"
#include "qk/InputTree.h"

namespace qk::tool {
namespace {

// "表" in CP932 is 0x95 0x5C: its second byte is a backslash.
const std::string kHyou = "\x95\x5C";
// "表示" (0x95 0x5C 0x8E 0xA6) in UTF-8.
const std::string kHyoujiUtf8 = "\xE8\xA1\xA8\xE7\xA4\xBA";

TEST(GlobTest, WildcardsSetsAndLiterals) {
    EXPECT_TRUE(GlobMatch("*.txt", "dir/a.txt", CharacterSet::kBytes));  // '*' crosses '/'
    EXPECT_FALSE(GlobMatch("*.txt", "a.txt.bak", CharacterSet::kBytes));
    EXPECT_TRUE(GlobMatch("a?c", "abc", CharacterSet::kBytes));
    EXPECT_FALSE(GlobMatch("a?c", "ac", CharacterSet::kBytes));
    EXPECT_TRUE(GlobMatch("f[0-9][!a]", "f1b", CharacterSet::kBytes));
    EXPECT_FALSE(GlobMatch("f[0-9][!a]", "f1a", CharacterSet::kBytes));
    EXPECT_TRUE(GlobMatch("[]x]", "]", CharacterSet::kBytes));
    EXPECT_TRUE(GlobMatch("a[b", "a[b", CharacterSet::kBytes));  // an unclosed set is literal
    EXPECT_TRUE(GlobMatch("*a*b*", "xxaxxbxx", CharacterSet::kBytes));
    EXPECT_FALSE(GlobMatch("*a*b", "xxaxxbxx", CharacterSet::kBytes));
    EXPECT_TRUE(GlobMatch("", "", CharacterSet::kBytes));
    EXPECT_TRUE(GlobMatch("**", "", CharacterSet::kBytes));
}

TEST(GlobTest, QuestionMarkTakesAWholeCharacter) {
    // Three bytes of UTF-8 are one character; three bytes are not three.
    EXPECT_TRUE(GlobMatch("?.txt", "\xE8\xA1\xA8.txt", CharacterSet::kUtf8));
    EXPECT_FALSE(GlobMatch("???.txt", "\xE8\xA1\xA8.txt", CharacterSet::kUtf8));
    // In CP932 the trail byte 0x5C belongs to its character.
    EXPECT_TRUE(GlobMatch("?.txt", kHyou + ".txt", CharacterSet::kCp932));
    EXPECT_TRUE(GlobMatch("[" + kHyou + "]", kHyou, CharacterSet::kCp932));
}

TEST(GlobTest, AWordSelectsItsFolder) {
    EXPECT_TRUE(SelectsEntry("dir", "dir/sub/a.txt", CharacterSet::kBytes));
    EXPECT_TRUE(SelectsEntry("dir/", "dir/a.txt", CharacterSet::kBytes));
    EXPECT_TRUE(SelectsEntry("dir/sub", "dir/sub/a.txt", CharacterSet::kBytes));
    EXPECT_FALSE(SelectsEntry("di", "dir/a.txt", CharacterSet::kBytes));
    EXPECT_FALSE(SelectsEntry("dir", "dirt.txt", CharacterSet::kBytes));
    EXPECT_TRUE(SelectsEntry("d*", "dir/a.txt", CharacterSet::kBytes));
}

// The plain definition: the whole name, or a leading folder of it.
bool SelectsByDefinition(std::string_view pattern, std::string_view name, CharacterSet set) {
    while (pattern.size() > 1 && pattern.back() == '/') pattern.remove_suffix(1);
    if (GlobMatch(pattern, name, set)) return true;
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (name[i] == '/' && GlobMatch(pattern, name.substr(0, i), set)) return true;
    }
    return false;
}

TEST(GlobTest, SelectionAgreesWithTheDefinition) {
    const std::vector<std::string> patterns = {
        "",     "*",       "**",   "a",     "a/",   "a/b",      "a*",    "*b",
        "a?c",  "?",       "[ab]", "[!a]*", "a[b",  "*/c",      "a/*/c", "*.txt",
        "d*/x", "[a-c]/*", "a**b", "*a*b*", "[]x]", "\x95\x5C*"};
    const std::vector<std::string> names = {
        "",          "a",   "b", "abc",   "a/b",       "a/b/c",      "a/bb/c", "dir/x",
        "d/x/y.txt", "a[b", "]", "x.txt", "a/x.txt/b", "\x95\x5C/a", "ab/b",   "a/b/a/b"};
    for (const CharacterSet set :
         {CharacterSet::kBytes, CharacterSet::kCp932, CharacterSet::kUtf8}) {
        for (const std::string& pattern : patterns) {
            for (const std::string& name : names) {
                EXPECT_EQ(SelectsEntry(pattern, name, set), SelectsByDefinition(pattern, name, set))
                    << "'" << pattern << "' '" << name << "' " << static_cast<int>(set);
            }
        }
    }
}

TEST(GlobTest, DeepNameInLinearTime) {
    // 100,000 components: every leading folder is a candidate; matching each
    // on its own would take the square of the name's length.
    std::string name;
    for (int i = 0; i < 100000; ++i) name += "a/";
    name += "f";
    EXPECT_TRUE(SelectsEntry("a/a/*/f", name, CharacterSet::kUtf8));
    EXPECT_TRUE(SelectsEntry("*a", name, CharacterSet::kUtf8));
    EXPECT_FALSE(SelectsEntry("*b*", name, CharacterSet::kUtf8));
    EXPECT_FALSE(SelectsEntry("*/g", name, CharacterSet::kCp932));
}

// qk reads names with '\\' between components and takes the library's road
// with them: the same check as qkdec.
extract::Refusal Check(std::string_view name, const NameCodec& codec, extract::EntryName& entry) {
    const extract::RoadSettings settings = RoadSettingsFor(codec);
    return entry.Parse(name, settings.separator, settings.textMode, extract::NameLimits());
}

TEST(EntryPathTest, RefusesNamesThatLeaveTheFolder) {
    const NameCodec utf8(Charset::kUtf8, true);
    extract::EntryName entry;
    for (const char* name :
         {"..\\evil", "a\\..\\..\\evil", "\\abs", "C:\\x", "c:x", "C:", "\\\\server\\share"}) {
        EXPECT_TRUE(extract::LeadsOutside(Check(name, utf8, entry))) << name;
    }
    for (const char* name : {"", ".\\", "dir\\"}) {
        EXPECT_EQ(Check(name, utf8, entry), extract::Refusal::kNoFileName) << name;
    }
    EXPECT_EQ(RefusalText(extract::Refusal::kDriveLetter), "drive letter");
}

TEST(EntryPathTest, SplitsAtSeparatorsButNotAtTrailBytes) {
    extract::EntryName entry;
    const NameCodec cp932(Charset::kCp932, false);
    ASSERT_EQ(Check("dir\\" + kHyou + "\\.\\\\" + kHyou + ".txt", cp932, entry),
              extract::Refusal::kNone);
    ASSERT_EQ(entry.count(), 3u);
    // The stored bytes, but on Windows, whose file system always takes UTF-16.
    const std::string hyou = platform::kSeparator == '\\' ? "\xE8\xA1\xA8" : kHyou;
    EXPECT_EQ(entry.native(0), "dir");
    EXPECT_EQ(entry.native(1), hyou);
    EXPECT_EQ(entry.native(2), hyou + ".txt");
    // Under --charset=utf-8 the file system gets UTF-8.
    const NameCodec utf8(Charset::kUtf8, true);
    ASSERT_EQ(Check(kHyou + "\\x", utf8, entry), extract::Refusal::kNone);
    EXPECT_EQ(entry.native(0), "\xE8\xA1\xA8");
    // A name such as "..x" or "x..y" is an ordinary name.
    ASSERT_EQ(Check("..x\\x..y", cp932, entry), extract::Refusal::kNone);
    EXPECT_EQ(entry.count(), 2u);
    EXPECT_EQ(WithSlashes("a\\" + kHyou + "\\b"), "a/" + kHyou + "/b");
    // A '/' after a lead byte stays inside its component, also when shown.
    EXPECT_EQ(ShownName("d\\\x81/x", utf8), "d/%81%2Fx");
    EXPECT_EQ(ShownName("d\\" + kHyou, utf8), "d/\xE8\xA1\xA8");
}

TEST(CharsetTest, AutoFollowsTheLocale) {
    EXPECT_EQ(NameCodec(Charset::kAuto, true).charset(), Charset::kUtf8);
    EXPECT_EQ(NameCodec(Charset::kAuto, false).charset(), Charset::kCp932);
    Charset c;
    EXPECT_TRUE(ParseCharset("utf-8", c));
    EXPECT_EQ(c, Charset::kUtf8);
    EXPECT_FALSE(ParseCharset("latin1", c));
}

TEST(CharsetTest, BadBytesAreEscapedOnlyWhereTheyAre) {
    const NameCodec utf8(Charset::kUtf8, true);
    const NameCodec cp932(Charset::kCp932, false);
    const NameCodec raw(Charset::kRaw, false);
    const std::string name = "\x95\x5C\x8E\xA6-\xEF\x5C-\x81";  // 表示, a bad pair, a lone lead
    EXPECT_EQ(utf8.ToDisplay(name), kHyoujiUtf8 + "-%EF%5C-%81");
    EXPECT_EQ(cp932.ToDisplay(name), "\x95\x5C\x8E\xA6-%EF%5C-%81");
    EXPECT_EQ(raw.ToDisplay(name), name);
    // Control characters are escaped on the console but kept on disk.
    EXPECT_EQ(utf8.ToDisplay("a\nb"), "a%0Ab");
    EXPECT_EQ(utf8.ToFileName("a\nb"), "a\nb");
    // Whatever the charset, a component never gains a '/'.
    EXPECT_EQ(raw.ToFileName("\x81/x"), "\x81%2Fx");
    EXPECT_EQ(utf8.ToFileName("\x81/x").find('/'), std::string::npos);
}

TEST(CharsetTest, NativeNamesToCp932) {
    const NameCodec utf8(Charset::kUtf8, true);
    std::string out;
    EXPECT_TRUE(utf8.FromNative(kHyoujiUtf8, out));
    EXPECT_EQ(out, "\x95\x5C\x8E\xA6");
    EXPECT_FALSE(utf8.FromNative("\xF0\x9F\x98\x80", out));  // an emoji has no CP932 form
    std::string reason;
    EXPECT_TRUE(ArchiveComponent(utf8, kHyoujiUtf8 + ".txt", out, reason));
    EXPECT_FALSE(ArchiveComponent(utf8, "a\\b", out, reason));
    EXPECT_FALSE(ArchiveComponent(utf8, "\xF0\x9F\x98\x80", out, reason));
    // U+7E8A is 0xFA 0x5C in CP932: the format does not skip the byte after
    // 0xFA, so it would read a separator there.
    EXPECT_FALSE(ArchiveComponent(utf8, "\xE7\xBA\x8A", out, reason));
    EXPECT_FALSE(reason.empty());
}

TEST(InputTreeTest, OperandNamesAreRelative) {
    using V = std::vector<std::string>;
    EXPECT_EQ(OperandComponents("/usr/include/linux"), (V{"usr", "include", "linux"}));
    EXPECT_EQ(OperandComponents("./a//b/"), (V{"a", "b"}));
    EXPECT_EQ(OperandComponents("../../x"), (V{"x"}));
    EXPECT_EQ(OperandComponents("a/../b/./c/.."), (V{"b"}));
    EXPECT_EQ(OperandComponents("."), V{});
}

}  // namespace
}  // namespace qk::tool
