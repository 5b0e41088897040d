#include <gtest/gtest.h>

#include "qkdec/MessageText.h"
#include "qkdec/NumberText.h"

namespace qk {
namespace {

TEST(NumberText, GroupsThousandsOfNonNegativeValues) {
    const std::pair<std::int64_t, const char*> cases[] = {
        {0, "0"},
        {999, "999"},
        {1000, "1,000"},
        {1005, "1,005"},
        {999999, "999,999"},
        {1234567, "1,234,567"},
        {1000000000, "1,000,000,000"},
        {2147483647, "2,147,483,647"},
        {4294967296, "4,294,967,296"},
        {-5000, "-5000"},
        {-2147483648LL, "-2147483648"},
    };
    for (const auto& [value, text] : cases) EXPECT_STREQ(NumberText(value).c_str(), text);
}

TEST(MessageText, FormatsTextsOfAnyLength) {
    EXPECT_EQ(
        MessageText("OutFile(%d/%d): %s (%s byte)", 2, 10, "a.txt", NumberText(1500).c_str()).str(),
        "OutFile(2/10): a.txt (1,500 byte)");
    const std::string longName(5000, 'n');
    EXPECT_EQ(MessageText("[%s]", longName.c_str()).str(), "[" + longName + "]");
}

}  // namespace
}  // namespace qk
