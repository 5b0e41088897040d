// The command line's own rules: a later option overrides an earlier one, a
// lone -d asks, and a folder gets its separator by whole characters.
#include <gtest/gtest.h>

#include "qkdec/CommandLine.h"

namespace qk {
namespace {

std::optional<std::string> NoAnswer() {
    return std::nullopt;
}

TEST(CommandLine, LaterOptionsWinAndALoneDirectoryOptionAsks) {
    const CommandLine line = ReadCommandLine(
        {"a.qk1", "-yes", "-pone", "b.qk1", "-ptwo", "-dfirst", "-dsecond/"}, NoAnswer);
    EXPECT_EQ(line.plainWords, (std::vector<std::string>{"a.qk1", "b.qk1"}));
    EXPECT_EQ(line.settings.commandLinePassword, "two");
    EXPECT_EQ(line.outputDir, "second/");
    // Nothing read: the earlier folder stays. An empty answer is the current folder.
    EXPECT_EQ(ReadCommandLine({"-dkeep", "-d"}, NoAnswer).outputDir, "keep/");
    EXPECT_EQ(ReadCommandLine({"-d"}, [] { return std::optional<std::string>(""); }).outputDir, "");
    // Nothing after an illegal option is read.
    int asked = 0;
    const auto ask = [&] { return ++asked, std::optional<std::string>("f"); };
    EXPECT_EQ(ReadCommandLine({"-y", "-x", "-d"}, ask).illegalOption, "-x");
    EXPECT_EQ(asked, 0);
}

TEST(CommandLine, SeparatorAppendedByWholeCharacters) {
    const std::tuple<std::string, char, std::string> rows[] = {
        {"out", '\\', "out\\"},
        {"out\\", '\\', "out\\"},
        {"", '\\', ""},
        {"x\\\x95\x5C", '\\', "x\\\x95\x5C\\"},  // 表 ends in 0x5C
        {"\x83\x5C", '\\', "\x83\x5C\\"},        // ソ alone
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
