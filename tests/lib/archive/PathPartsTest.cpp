#include <gtest/gtest.h>

#include "archive/PathParts.h"

namespace qk {
namespace {

void ExpectParts(const PathParts& parts, const char* directory, const char* name, const char* base,
                 const char* extension) {
    EXPECT_EQ(parts.directory, directory) << parts.full;
    EXPECT_EQ(parts.name, name) << parts.full;
    EXPECT_EQ(parts.base, base) << parts.full;
    EXPECT_EQ(parts.extension, extension) << parts.full;
    EXPECT_EQ(parts.directory + parts.name, parts.full);
}

TEST(PathParts, SplitsAtTheLastSeparatorAndDot) {
    ExpectParts(PathParts("C:\\dir\\file.txt", '\\'), "C:\\dir\\", "file.txt", "file", ".txt");
    ExpectParts(PathParts("file.txt", '\\'), "", "file.txt", "file", ".txt");
    ExpectParts(PathParts("dir\\", '\\'), "dir\\", "", "", "");
    ExpectParts(PathParts(".profile", '\\'), "", ".profile", "", ".profile");
    ExpectParts(PathParts("a.b.c", '\\'), "", "a.b.c", "a.b", ".c");
    ExpectParts(PathParts("dir.x\\file", '\\'), "dir.x\\", "file", "file", "");
    ExpectParts(PathParts("a/b\\c", '\\'), "a/b\\", "c", "c",
                "");  // '/' is a plain character there
    ExpectParts(PathParts("/home/u/a.qk1", '/'), "/home/u/", "a.qk1", "a", ".qk1");
}

TEST(PathParts, SecondByteOfADoubleByteCharacterIsNeverASeparatorOrDot) {
    // 0x95 0x5C is one character; 0x82 0x2E likewise (its second byte is a '.').
    ExpectParts(PathParts("d\\\x95\x5C", '\\'), "d\\", "\x95\x5C", "\x95\x5C", "");
    ExpectParts(PathParts("x\x82\x2E"
                          "a",
                          '\\'),
                "",
                "x\x82\x2E"
                "a",
                "x\x82\x2E"
                "a",
                "");
    ExpectParts(PathParts("\xE0\x2F/a", '/'), "\xE0\x2F/", "a", "a", "");
    // A lead byte at the very end ends the scan without reading past it.
    ExpectParts(PathParts("a/b\x81", '/'), "a/", "b\x81", "b\x81", "");
    // 0xF0-0xFF stand alone.
    ExpectParts(PathParts("\xF0\\x", '\\'), "\xF0\\", "x", "x", "");
}

TEST(PathParts, JoinsWithoutAddingASeparator) {
    const PathParts joined("C:\\out\\", "sub\\a.txt", '\\');
    EXPECT_EQ(joined.full, "C:\\out\\sub\\a.txt");
    EXPECT_EQ(joined.directory, "C:\\out\\sub\\");
    EXPECT_EQ(PathParts("", "a.txt").full, "a.txt");
}

TEST(PathParts, ShownNamesCarryNoControlBytes) {
    EXPECT_EQ(ShownName("plain/name.txt"), "plain/name.txt");
    EXPECT_EQ(ShownName("a\nb\rc\td\x7F"), "a%0Ab%0Dc%09d%7F");
    EXPECT_EQ(ShownName("\x1B]0;title\x07"), "%1B]0;title%07");
    // Shift-JIS characters pass whole, their second bytes included.
    EXPECT_EQ(ShownName("\x95\x5C\x83\x7C.txt"), "\x95\x5C\x83\x7C.txt");
    // A lead byte before a control byte forms no character: both are escaped.
    EXPECT_EQ(ShownName("x\x81\x1B[1m"), "x%81%1B[1m");
    EXPECT_EQ(ShownName("\x83\x7F"), "%83%7F");
    EXPECT_EQ(ShownName("end\x81"), "end\x81");
    for (int b = 0; b < 256; ++b) {
        const std::string shown = ShownName(std::string(1, static_cast<char>(b)));
        for (char c : shown) EXPECT_FALSE(static_cast<unsigned char>(c) < 0x20 || c == 0x7F) << b;
    }
}

}  // namespace
}  // namespace qk
