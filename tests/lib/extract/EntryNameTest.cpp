// The one check of an entry's name, on the bytes the file system gets: what
// leaves the output folder, what the file system would read otherwise (on
// Windows: device names, streams, forbidden characters, trailing dots), the
// limits, and the place of each component in the stored name.
#include <gtest/gtest.h>

#include "extract/EntryName.h"
#include "extract/Road.h"
#include "platform/FileSystem.h"

namespace qk::extract {
namespace {

using platform::TextMode;

constexpr bool kWindows = platform::kSeparator == '\\';
constexpr char kSeparator = platform::kSeparator;

// `name` with '/' as written here, read with the platform's separator as the
// table reader leaves it.
Refusal Check(std::string name, TextMode mode = TextMode::kPassThrough,
              NameLimits limits = NameLimits()) {
    for (std::size_t i = 0; i < name.size(); ++i) {
        const auto b = static_cast<unsigned char>(name[i]);
        if ((b >= 0x80 && b <= 0x9F) || (b >= 0xE0 && b <= 0xEF)) {
            ++i;
        } else if (name[i] == '/') {
            name[i] = kSeparator;
        }
    }
    EntryName entry;
    return entry.Parse(name, kSeparator, mode, limits);
}

TEST(EntryNameTest, NamesThatLeaveTheFolder) {
    for (const char* name : {"../x", "a/../../x", "a/..", "..", "sub/.."}) {
        EXPECT_EQ(Check(name), Refusal::kParentFolder) << name;
    }
    for (const char* name : {"/abs", "/etc/x", "\\\\server\\share\\x", "//server/share/x", "\\x"}) {
        EXPECT_EQ(Check(name), Refusal::kAbsolute) << name;
    }
    for (const char* name : {"C:", "c:x", "Z:/x", "c:/x"}) {
        EXPECT_EQ(Check(name), Refusal::kDriveLetter) << name;
    }
    for (const char* name : {"a/b.txt", "..a", "a..", "a/.../b", "./x", "\x95\x5C..", "1:x"}) {
        EXPECT_FALSE(LeadsOutside(Check(name))) << name;
    }
    // Leaving the folder wins over every other fault.
    EXPECT_EQ(Check(std::string(300, 'n') + "/../x"), Refusal::kParentFolder);
}

TEST(EntryNameTest, ABytePairTheFileSystemReadsAsTwoCharacters) {
    if (kWindows) {
        // 0x80 0x5C is one character to the program and none to CP932: the
        // file system gets %80%5C, never a separator, so no ".." and no
        // device name comes of it; the trailing dots are still no name
        // Windows keeps as it is.
        EXPECT_EQ(Check("\x80\\..\\x"), Refusal::kWindowsName);
        EXPECT_EQ(Check("\x80\\CON"), Refusal::kNone);
    } else {
        // Unchanged bytes: the '/' after a lead byte would be a separator to
        // the file system but not to the program.
        EXPECT_EQ(Check("\x81/../x"), Refusal::kParentFolder);
        EXPECT_EQ(Check("\x81/x"), Refusal::kSplitCharacter);
        // Converted to UTF-8 the pair is escaped whole: one name.
        EXPECT_EQ(Check("\x81/x", TextMode::kUtf8), Refusal::kNone);
        EXPECT_EQ(Check("\x81/../x", TextMode::kUtf8), Refusal::kNone);
    }
    // 表 (0x95 0x5C) is one character everywhere.
    EXPECT_EQ(Check("\x95\x5C/\x95\x5C.txt"), Refusal::kNone);
    EXPECT_EQ(Check("\x95\x5C"
                    "CON"),
              Refusal::kNone);
}

TEST(EntryNameTest, NamesThatNameNoFile) {
    for (const char* name : {"", "dir/", "a/.", "./", "."}) {
        EXPECT_EQ(Check(name), Refusal::kNoFileName) << name;
    }
    EXPECT_EQ(Check(".//a"), Refusal::kNone);
}

TEST(EntryNameTest, NamesWindowsCannotHold) {
    const char* const unfit[] = {"CON",
                                 "con.txt",
                                 "dir/Nul",
                                 "Aux.tar.gz/x",
                                 "PRN ",
                                 "COM1",
                                 "lpt9.log",
                                 "CONOUT$",
                                 "COM0",
                                 "x/a:b",
                                 "dir/file.txt:stream",
                                 "a.",
                                 "dir./x",
                                 "a ",
                                 "x/y ",
                                 "a<b",
                                 "a|b",
                                 "a?b",
                                 "a*b",
                                 "a\"b",
                                 "a\x01z",
                                 "a\x1B[2J",
                                 "..."};
    for (const char* name : unfit) {
        EXPECT_EQ(Check(name), kWindows ? Refusal::kWindowsName : Refusal::kNone) << name;
    }
    for (const char* name : {"CONFIG.SYS", "console", "COM10", "LPT", "nul_x", "a.b", ".profile",
                             "..a", "a b", "./x", "\x83\x7C"}) {
        EXPECT_EQ(Check(name), Refusal::kNone) << name;
    }
}

TEST(EntryNameTest, LimitsOfTheFileSystem) {
    NameLimits limits;
    limits.nameMax = 255;
    limits.pathMax = 4095;
    limits.rootLength = 4;  // "out/"
    EXPECT_EQ(Check(std::string(255, 'n'), TextMode::kPassThrough, limits), Refusal::kNone);
    EntryName entry;
    EXPECT_EQ(entry.Parse(std::string("d") + kSeparator + std::string(256, 'n'), kSeparator,
                          TextMode::kPassThrough, limits),
              Refusal::kNameTooLong);
    EXPECT_EQ(entry.failedComponent(), 1u);
    // 4 + 2,044 x 2 = 4,092 with the separators, then "abcd": beyond 4,095.
    std::string deep;
    for (int i = 0; i < 2044; ++i) (deep += 'a') += kSeparator;
    EXPECT_EQ(entry.Parse(deep + "ab", kSeparator, TextMode::kPassThrough, limits), Refusal::kNone);
    EXPECT_EQ(entry.Parse(deep + "abcd", kSeparator, TextMode::kPassThrough, limits),
              Refusal::kPathTooLong);
    EXPECT_EQ(entry.failedComponent(), 2044u);
    // Names are measured as converted: 表 is three bytes of UTF-8, one UTF-16 unit.
    limits.nameMax = 5;
    EXPECT_EQ(Check("\x95\x5C\x95\x5C", TextMode::kPassThrough, limits), Refusal::kNone);
    EXPECT_EQ(Check("\x95\x5C\x95\x5C", TextMode::kUtf8, limits),
              kWindows ? Refusal::kNone : Refusal::kNameTooLong);
}

TEST(EntryNameTest, ComponentsKeepTheirPlaceInTheStoredName) {
    EntryName entry;
    std::string name = "./a//\x95\x5C/b.txt";
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (name[i] == '/') name[i] = kSeparator;
    }
    ASSERT_EQ(entry.Parse(name, kSeparator, TextMode::kUtf8, NameLimits()), Refusal::kNone);
    ASSERT_EQ(entry.count(), 3u);
    EXPECT_EQ(entry.native(0), "a");
    EXPECT_EQ(entry.native(1), "\xE8\xA1\xA8");
    EXPECT_EQ(entry.native(2), "b.txt");
    EXPECT_EQ(entry.end(0), 3u);
    EXPECT_EQ(entry.end(1), 7u);
    // The file system's view of the name: on Windows every letter in one case.
    EXPECT_EQ(entry.SameFileKey(), kWindows ? "A/\xE8\xA1\xA8/B.TXT" : "a/\xE8\xA1\xA8/b.txt");
}

TEST(EntryNameTest, AHundredThousandComponentsInOnePass) {
    std::string name;
    for (int i = 0; i < 100000; ++i) (name += 'a') += kSeparator;
    EntryName entry;
    EXPECT_EQ(entry.Parse(name + "f", kSeparator, TextMode::kUtf8, NameLimits()),
              Refusal::kPathTooLong);
    EXPECT_EQ(entry.count(), 100001u);
    EXPECT_EQ(entry.Parse(name + "../f", kSeparator, TextMode::kUtf8, NameLimits()),
              Refusal::kParentFolder);
}

// Entries that land on one file, judged as the file system judges names: on
// POSIX systems by the converted bytes, on Windows also in any case of any
// script. Found before anything is written, without the file system.
TEST(EntryNameTest, EntriesOfOneFileAsTheFileSystemComparesNames) {
    RoadSettings settings;
    settings.textMode = TextMode::kUtf8;
    Road road(settings);
    const std::string s(1, kSeparator);
    const std::vector<std::pair<std::string, std::string>> pairs = {
        {"a.txt", "." + s + "a.txt"},
        {"d" + s + "f.txt", "d" + s + s + "f.txt"},
        {"%80", "\x80"},                   // one file under UTF-8, where 0x80 is escaped
        {"\x82\x81.txt", "\x82\x60.txt"},  // ａ Ａ
        {"\x83\xBF", "\x83\x9F"},          // α Α
        {"\x84\x74", "\x84\x44"},          // д Д
        {"a.txt", "A.TXT"},
    };
    for (const auto& [first, second] : pairs) {
        NameList names;
        names.Add(first);
        names.Add("other");
        names.Add(second);
        ASSERT_TRUE(road.Plan(names, nullptr, 1).empty()) << first;
        EXPECT_FALSE(road.IsDuplicate(0)) << first;
        EXPECT_FALSE(road.IsDuplicate(1)) << first;
        // The byte 0x80 is no character: it lands as %80 on every system.
        const bool escaped = first == "%80";
        const bool caseOnly = first == "a.txt" && second == "A.TXT";
        const bool sameOnPosix =
            !caseOnly && (first == "a.txt" || first.find(s) != std::string::npos);
        EXPECT_EQ(road.IsDuplicate(2), kWindows || sameOnPosix || escaped) << first;
    }
}

}  // namespace
}  // namespace qk::extract
