// Text at the edges under a UTF-8 locale: names and paths converted both
// ways, and escaped names that never gain a separator or a "..".
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "platform/Text.h"

namespace qk::platform {
namespace {

class Utf8Mode : public testing::Test {
  protected:
    void SetUp() override { SetTextMode(TextMode::kUtf8); }
    void TearDown() override { SetTextMode(TextMode::kPassThrough); }
};

TEST_F(Utf8Mode, ShiftJisNamesBecomeUtf8AndBack) {
    const std::string sjis = "\x95\x5C/\x83\x74\x83\x40\x83\x43\x83\x8B.txt";  // 表/ファイル.txt
    EXPECT_EQ(ToNativePath(sjis), "表/ファイル.txt");
    EXPECT_EQ(FromNative("表/ファイル.txt"), sjis);
    EXPECT_EQ(ToNativePath("a\\b"), "a\\b");  // 0x5C is a backslash, not a yen sign
}

// A folder name with characters CP932 lacks reaches the file system intact.
TEST_F(Utf8Mode, CharactersOutsideCp932SurviveTheRoundTrip) {
    for (const std::string native :
         {"/home/josé/a.qk1", "/tmp/\xF0\x9F\x98\x80/x", "bad\xFF\x80/y", "ファイル/é"}) {
        EXPECT_EQ(ToNativePath(FromNative(native)), native) << native;
        EXPECT_EQ(ToConsole(FromNative(native)), native);
        const std::string program = FromNative(native);
        EXPECT_EQ(std::count(program.begin(), program.end(), '/'),
                  std::count(native.begin(), native.end(), '/'));
    }
}

TEST_F(Utf8Mode, InvalidBytesAreEscapedWithoutNewSeparators) {
    EXPECT_EQ(ToNativePath("a\x85\x40z"), "a%85%40z");  // an unassigned pair
    EXPECT_EQ(ToNativePath("\xA0/w"), "%A0/w");         // a lone invalid byte
    EXPECT_EQ(ToNativePath("\xFD/w"), "%FD/w");         // not a lead: '/' still splits
    // After one of the format's lead bytes the next byte is not a separator.
    EXPECT_EQ(ToNativePath("\x80/w"), "%80%2Fw");
    EXPECT_EQ(ToNativePath("\x80."), "%80%2E");

    std::mt19937 rng(21);
    for (int round = 0; round < 2000; ++round) {
        std::string name;
        const int length = 1 + static_cast<int>(rng() % 8);
        for (int i = 0; i < length; ++i) {
            const unsigned pick = rng() % 4;
            name += static_cast<char>(pick == 0   ? '.'
                                      : pick == 1 ? 0x80 + rng() % 128
                                                  : 0x40 + rng() % 0xC0);
        }
        // Bytes that the format reads as a separator or dot stay the only ones.
        const std::string out = ToNativePath(name);
        EXPECT_EQ(out.find('/'), std::string::npos) << name;
        if (out.find("..") != std::string::npos) {
            EXPECT_NE(name.find(".."), std::string::npos) << name;
        }
    }
}

TEST(PassThrough, BytesAreUnchanged) {
    SetTextMode(TextMode::kPassThrough);
    const std::string raw = "\x95\x5C\xFF\x80/x";
    EXPECT_EQ(ToNativePath(raw), raw);
    EXPECT_EQ(FromNative(raw), raw);
    EXPECT_EQ(ToConsole(raw), raw);
}

}  // namespace
}  // namespace qk::platform
