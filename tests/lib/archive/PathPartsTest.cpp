#include <gtest/gtest.h>

#include "archive/PathParts.h"

namespace qk {
namespace {

// Split at the last separator and the last dot that are characters of their
// own: the second byte of a double-byte character is neither, and a lead byte
// at the end stands alone.
TEST(PathParts, SplitsAtTheLastSeparatorAndDot) {
    const struct {
        std::string path;
        char separator;
        const char *directory, *base, *extension;
    } rows[] = {
        {"C:\\dir\\file.txt", '\\', "C:\\dir\\", "file", ".txt"},
        {"dir.x\\file", '\\', "dir.x\\", "file", ""},
        {".profile", '/', "", "", ".profile"},
        {"a/b\\c.d.e", '\\', "a/b\\", "c.d", ".e"},
        {"d\\\x95\x5C", '\\', "d\\", "\x95\x5C", ""},
        {"x\x82\x2E"
         "a",
         '\\', "",
         "x\x82\x2E"
         "a",
         ""},
        {"\xE0\x2F/a", '/', "\xE0\x2F/", "a", ""},
        {"a/b\x81", '/', "a/", "b\x81", ""},
        {"\xF0\\x", '\\', "\xF0\\", "x", ""},
    };
    for (const auto& row : rows) {
        const PathParts parts(row.path, row.separator);
        EXPECT_EQ(parts.directory + parts.base + parts.extension, row.path);
        EXPECT_EQ(parts.name, parts.base + parts.extension);
        EXPECT_EQ(parts.directory, row.directory) << row.path;
        EXPECT_EQ(parts.extension, row.extension) << row.path;
    }
    EXPECT_EQ(PathParts("C:\\out\\", "sub\\a.txt", '\\').directory,
              "C:\\out\\sub\\");  // nothing added
}

}  // namespace
}  // namespace qk
