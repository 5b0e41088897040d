// The one check of an entry's name, on the bytes the file system gets: what
// leaves the output folder, what the file system would read otherwise (on
// Windows: devices, streams, forbidden characters, trailing dots), the limits,
// and which entries land on one file.
#include <gtest/gtest.h>

#include <tuple>

#include "extract/EntryName.h"
#include "extract/Road.h"
#include "format/EntryTable.h"
#include "platform/FileSystem.h"

namespace qk::extract {
namespace {

using platform::TextMode;

constexpr bool kWindows = platform::kSeparator == '\\';

// `name` as the table reader leaves it: both separators the platform's, the
// byte after a lead byte left alone.
std::string Stored(std::string name) {
    NormaliseSeparators(name, platform::kSeparator);
    return name;
}

Refusal Check(const std::string& name, TextMode mode = TextMode::kPassThrough,
              const NameLimits& limits = NameLimits()) {
    EntryName entry;
    return entry.Parse(Stored(name), platform::kSeparator, mode, limits);
}

constexpr Refusal kNone = Refusal::kNone, kParent = Refusal::kParentFolder,
                  kWindowsName = Refusal::kWindowsName;

struct NameRow {
    Refusal posix, windows;
    std::vector<std::string> names;
    TextMode mode = TextMode::kPassThrough;
};

TEST(EntryNameTest, EveryRefusalOnEachSystem) {
    const NameRow rows[] = {
        // Leaving the folder wins over every other fault.
        {kParent, kParent, {"../x", "a/../../x", "a/..", std::string(300, 'n') + "/../x"}},
        {Refusal::kAbsolute, Refusal::kAbsolute, {"/abs", "\\\\server\\share\\x", "//server/x"}},
        {Refusal::kDriveLetter, Refusal::kDriveLetter, {"C:", "c:x", "Z:/x"}},
        {Refusal::kNoFileName, Refusal::kNoFileName, {"", "dir/", "a/.", "."}},
        // 表 (0x95 0x5C) is one character everywhere; 0x80 0x5C is one to the
        // program and none to CP932: %80%5C, no separator.
        {kNone,
         kNone,
         {"..a", "./x", ".//a", "\x80\\CON", "\x95\x5C/\x95\x5C.txt", "\x95\\CON", "CONFIG.SYS",
          "COM10", "LPT", "\x83\x7C"}},
        // Names Windows cannot give a file of their own.
        {kNone,
         kWindowsName,
         {"1:x", "\x80\\..\\x", "CON", "dir/Nul", "Aux.tar.gz/x", "PRN ", "COM0", "lpt9.log",
          "CONOUT$", "f.txt:stream", "dir./x", "x/y ", "a<b", "a|b", "a?b", "a*b", "a\"b",
          "a\x1B[2J"}},
        // Unchanged bytes: the '/' after a lead byte is a separator to the
        // file system but not to the program. Converted, the pair becomes
        // %81%2F, one name; on Windows always, where "%2F.." ends in dots.
        {kParent, kWindowsName, {"\x81/../x"}},
        {Refusal::kSplitCharacter, kNone, {"\x81/x"}},
        {kNone, kNone, {"\x81/x"}, TextMode::kUtf8},
        {kNone, kWindowsName, {"\x81/../x"}, TextMode::kUtf8},
    };
    for (const NameRow& row : rows) {
        for (const std::string& name : row.names) {
            EXPECT_EQ(Check(name, row.mode), kWindows ? row.windows : row.posix)
                << testing::PrintToString(name);
        }
    }
}

TEST(EntryNameTest, LimitsOfTheFileSystem) {
    NameLimits limits;
    limits.rootLength = 4;  // "out/"
    EntryName entry;
    EXPECT_EQ(Check(std::string(255, 'n'), TextMode::kPassThrough, limits), kNone);
    EXPECT_EQ(entry.Parse(Stored("d/" + std::string(256, 'n')), platform::kSeparator,
                          TextMode::kPassThrough, limits),
              Refusal::kNameTooLong);
    EXPECT_EQ(entry.failedComponent(), 1u);
    // 4 + 2,044 x 2 = 4,092 with the separators; "abc" makes the most, 4,095.
    std::string deep;
    for (int i = 0; i < 2044; ++i) deep += "a/";
    EXPECT_EQ(Check(deep + "abc", TextMode::kPassThrough, limits), kNone);
    EXPECT_EQ(
        entry.Parse(Stored(deep + "abcd"), platform::kSeparator, TextMode::kPassThrough, limits),
        Refusal::kPathTooLong);
    EXPECT_EQ(entry.failedComponent(), 2044u);
    // Names are measured as converted: 表 is three bytes of UTF-8, one UTF-16 unit.
    limits.nameMax = 5;
    EXPECT_EQ(Check("\x95\x5C\x95\x5C", TextMode::kPassThrough, limits), kNone);
    EXPECT_EQ(Check("\x95\x5C\x95\x5C", TextMode::kUtf8, limits),
              kWindows ? kNone : Refusal::kNameTooLong);
}

// Entries that land on one file, judged as the file system judges names: on
// POSIX systems by the converted bytes, on Windows also in any case of any
// script. Found by the plan, before anything is written.
TEST(EntryNameTest, EntriesOfOneFileAsTheFileSystemComparesNames) {
    const std::tuple<std::string, std::string, bool, bool> rows[] = {
        {"a.txt", "./a.txt", true, true},
        {"d/f.txt", "d//f.txt", true, true},
        {"%80", "\x80", true, true},  // 0x80 is no character: it lands as %80
        {"a.txt", "A.TXT", false, true},
        {"\x82\x81.txt", "\x82\x60.txt", false, true},  // ａ Ａ
        {"\x83\xBF", "\x83\x9F", false, true},          // α Α
        {"\x84\x74", "\x84\x44", false, true},          // д Д
        {"a.txt", "b.txt", false, false},
    };
    RoadSettings settings;
    settings.textMode = TextMode::kUtf8;
    Road road(settings);
    for (const auto& [first, second, posix, windows] : rows) {
        NameList names;
        for (const std::string& name : {first, std::string("other"), second})
            names.Add(Stored(name));
        ASSERT_TRUE(road.Plan(names, nullptr, 1).empty()) << first;
        EXPECT_FALSE(road.IsDuplicate(0) || road.IsDuplicate(1)) << first;
        EXPECT_EQ(road.IsDuplicate(2), kWindows ? windows : posix) << first;
    }
}

}  // namespace
}  // namespace qk::extract
