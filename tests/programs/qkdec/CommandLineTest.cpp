// A folder given on the command line gets its separator by whole characters:
// the second byte of 表 or ソ is 0x5C, no separator.
#include <gtest/gtest.h>

#include "qkdec/CommandLine.h"

namespace qk {
namespace {

TEST(CommandLine, SeparatorAppendedByWholeCharacters) {
    const std::tuple<std::string, char, std::string> rows[] = {
        {"out", '\\', "out\\"},
        {"out\\", '\\', "out\\"},
        {"", '\\', ""},
        {"x\\\x95\x5C", '\\', "x\\\x95\x5C\\"},  // 表 ends in 0x5C
        {"\x83\x5C\\", '\\', "\x83\x5C\\"},      // ソ then a separator
        {"a\x95\x5C/", '/', "a\x95\x5C/"},
        {"a\x95", '\\', "a\x95\\"},  // a lead byte cut short
        {"\xA0\\", '\\', "\xA0\\"},  // a single-byte kana
    };
    for (const auto& [given, separator, expected] : rows) {
        std::string folder = given;
        AppendSeparator(folder, separator);
        EXPECT_EQ(folder, expected) << given;
    }
}

}  // namespace
}  // namespace qk
