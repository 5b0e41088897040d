#include <gtest/gtest.h>

#include "qkdec/CommandLine.h"

namespace qk {
namespace {

std::optional<std::string> NoAnswer() {
    return std::nullopt;
}

TEST(CommandLine, OptionsAndPlainWords) {
    const CommandLine line = ReadCommandLine(
        {"a.qk1", "-yes", "-pone", "b.qk1", "-ptwo", "-dfirst", "-dsecond/"}, NoAnswer);
    EXPECT_EQ(line.plainWords, (std::vector<std::string>{"a.qk1", "b.qk1"}));
    EXPECT_TRUE(line.settings.answerAllYes);
    EXPECT_EQ(line.settings.commandLinePassword, "two");  // the later option wins
    EXPECT_EQ(line.outputDir, "second/");                 // no second separator
    EXPECT_FALSE(line.illegalOption);
}

TEST(CommandLine, LoneDirectoryOptionAsksForTheFolder) {
    int asked = 0;
    const CommandLine answered = ReadCommandLine({"-d", "x"}, [&] {
        ++asked;
        return std::optional<std::string>("typed");
    });
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(answered.outputDir, "typed/");
    EXPECT_EQ(answered.plainWords, (std::vector<std::string>{"x"}));

    // Nothing read: the earlier folder stays. An empty answer is the current folder.
    EXPECT_EQ(ReadCommandLine({"-dkeep", "-d"}, NoAnswer).outputDir, "keep/");
    EXPECT_EQ(ReadCommandLine({"-d"}, [] { return std::optional<std::string>(""); }).outputDir, "");
    EXPECT_FALSE(ReadCommandLine({"-d"}, NoAnswer).outputDir);
}

TEST(CommandLine, SeparatorAppendedByWholeCharacters) {
    struct Case {
        std::string folder;
        char separator;
        std::string expected;
    };
    const Case cases[] = {
        {"out", '\\', "out\\"},
        {"out\\", '\\', "out\\"},
        {"", '\\', ""},
        {"x\\\x95\x5C", '\\', "x\\\x95\x5C\\"},  // 表 ends in 0x5C
        {"\x83\x5C", '\\', "\x83\x5C\\"},        // ソ alone
        {"\x83\x5C\\", '\\', "\x83\x5C\\"},      // ソ then a separator
        {"a\x95\x5C/", '/', "a\x95\x5C/"},
        {"a\x95\x5C", '/', "a\x95\x5C/"},
        {"a\x95", '\\', "a\x95\\"},  // a lead byte cut short
        {"\xA0\\", '\\', "\xA0\\"},  // a single-byte kana
    };
    for (const Case& c : cases) {
        std::string folder = c.folder;
        AppendSeparator(folder, c.separator);
        EXPECT_EQ(folder, c.expected) << c.folder;
    }
}

TEST(CommandLine, FirstIllegalOptionEndsTheWalk) {
    for (const std::string option : {"-x", "-Y", "-P", "-D", "-p", "-"}) {
        int asked = 0;
        const CommandLine line = ReadCommandLine({"-y", option, "-d", "-q"}, [&] {
            ++asked;
            return std::optional<std::string>("f");
        });
        EXPECT_EQ(line.illegalOption, option);
        EXPECT_EQ(asked, 0) << "arguments after the illegal option are not read";
    }
}

}  // namespace
}  // namespace qk
