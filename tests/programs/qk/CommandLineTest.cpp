// The qk command line: commands, option forms, and what counts as misuse.
#include <gtest/gtest.h>

#include "qk/CommandLine.h"

namespace qk::tool {
namespace {

bool Parse(std::vector<std::string> args, Options& o, std::string* error = nullptr) {
    std::string e;
    const bool ok = ParseCommandLine(args, o, e);
    if (error) *error = e;
    return ok;
}

TEST(ToolCommandLineTest, OptionsStandAnywhereAfterTheCommand) {
    Options o;
    ASSERT_TRUE(Parse({"x", "a.qk1", "-o", "out", "*.txt", "--existing=skip", "-q"}, o));
    EXPECT_EQ(o.command, Command::kExtract);
    EXPECT_EQ(o.operands, (std::vector<std::string>{"a.qk1", "*.txt"}));
    EXPECT_EQ(o.outputDir, "out");
    EXPECT_EQ(o.existing, ExistingPolicy::kSkip);
    EXPECT_TRUE(o.quiet);

    ASSERT_TRUE(Parse({"--charset=raw", "extract", "-qoout", "a.qk1", "--", "-f"}, o));
    EXPECT_EQ(o.charset, Charset::kRaw);
    EXPECT_EQ(o.outputDir, "out");
    EXPECT_EQ(o.operands, (std::vector<std::string>{"a.qk1", "-f"}));
    EXPECT_EQ(o.existing, ExistingPolicy::kAsk);
}

TEST(ToolCommandLineTest, AddOptions) {
    Options o;
    ASSERT_TRUE(Parse({"a", "-li", "--password", "pw", "--sfx-program=/x/qkdec", "-C", "src",
                       "--depth=8", "out.qk1", "linux"},
                      o));
    EXPECT_TRUE(o.largeModel && o.insertInner && o.passwordGiven && o.sfx);
    EXPECT_EQ(o.password, "pw");
    EXPECT_EQ(o.sfxProgram, "/x/qkdec");
    EXPECT_EQ(o.baseDir, "src");
    EXPECT_EQ(o.searchDepth, 8);
}

TEST(ToolCommandLineTest, Misuse) {
    Options o;
    std::string error;
    EXPECT_FALSE(Parse({}, o, &error));
    EXPECT_FALSE(Parse({"z", "a.qk1"}, o, &error));
    EXPECT_NE(error.find("'z'"), std::string::npos);
    EXPECT_FALSE(Parse({"x"}, o));                      // no archive
    EXPECT_FALSE(Parse({"p", "a.qk1"}, o));             // no name
    EXPECT_FALSE(Parse({"l", "-o", "d", "a.qk1"}, o));  // -o belongs to x
    EXPECT_FALSE(Parse({"x", "a.qk1", "-o"}, o));       // value missing
    EXPECT_FALSE(Parse({"x", "--existing=maybe", "a.qk1"}, o));
    EXPECT_FALSE(Parse({"l", "--json=1", "a.qk1"}, o));
    EXPECT_FALSE(Parse({"a", "--depth=-1", "o.qk1", "f"}, o));
    EXPECT_FALSE(Parse({"l", "--charset=ebcdic", "a.qk1"}, o));
    // Help and version need nothing else.
    EXPECT_TRUE(Parse({"--version"}, o));
    EXPECT_TRUE(Parse({"x", "--help"}, o));
    EXPECT_EQ(o.command, Command::kExtract);
}

}  // namespace
}  // namespace qk::tool
