// The one text road, on every platform: names to UTF-8 and back per class of
// CP932 character, %XX for what is no character, names on the console, the
// carriers of the user's own text, and the key bytes of a password.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "archive/PathParts.h"
#include "platform/Text.h"

namespace qk::platform {
namespace {

// True when `text` is valid UTF-8 without C1 controls, and (unless
// `controlsAllowed`) without C0 controls and DEL.
bool IsPrintableUtf8(std::string_view text, bool controlsAllowed = false) {
    std::size_t i = 0;
    while (i < text.size()) {
        const unsigned char b = static_cast<unsigned char>(text[i]);
        if (b < 0x80) {
            if (!controlsAllowed && (b < 0x20 || b == 0x7F)) return false;
            ++i;
            continue;
        }
        const std::size_t n = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC2 ? 2 : 0;
        if (n == 0 || b > 0xF4 || i + n > text.size()) return false;
        for (std::size_t k = 1; k < n; ++k) {
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
        }
        // C1 controls are C2 80 to C2 9F.
        if (b == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0) return false;
        i += n;
    }
    return true;
}

struct CharacterRow {
    const char* what;
    const char* cp932;
    const char* utf8;
};

TEST(TextRoad, EveryClassOfCp932CharacterToUtf8AndBack) {
    const CharacterRow rows[] = {
        {"ASCII", "a-Z_0.txt", "a-Z_0.txt"},
        {"half-width katakana", "\xB1\xDF", "\xEF\xBD\xB1\xEF\xBE\x9F"},
        {"JIS X 0208, 0x5C second byte", "\x95\x5C\x8E\xA6", "\xE8\xA1\xA8\xE7\xA4\xBA"},
        {"JIS X 0208 kanji", "\x93\xFA\x96\x7B", "\xE6\x97\xA5\xE6\x9C\xAC"},
        {"NEC row 13", "\x87\x40\x87\x54", "\xE2\x91\xA0\xE2\x85\xA0"},
        {"IBM extension 0xFB", "\xFB\xFC\x8B\xB4", "\xE9\xAB\x99\xE6\xA9\x8B"},  // 髙橋
        {"IBM extension 0xFA", "\xFA\xB1", "\xEF\xA8\x91"},                      // 﨑
        {"user-defined area, first", "\xF0\x40", "\xEE\x80\x80"},
        {"user-defined area, last", "\xF9\xFC", "\xEE\x9D\x97"},
    };
    for (const CharacterRow& row : rows) {
        EXPECT_EQ(ToNativePathAs(row.cp932, TextMode::kUtf8), row.utf8) << row.what;
        EXPECT_EQ(ToConsoleAs(row.cp932, TextMode::kUtf8), row.utf8) << row.what;
        EXPECT_EQ(FromNativeAs(row.utf8, TextMode::kUtf8), row.cp932) << row.what;
        // CP932 kept as it is where the console or file system speaks it.
        EXPECT_EQ(ToNativePathAs(row.cp932, TextMode::kCp932), row.cp932) << row.what;
    }
}

struct BytesRow {
    const char* name;
    const char* expected;
};

TEST(TextRoad, BytesThatAreNoCharacterBecomePercentEscapes) {
    const BytesRow rows[] = {
        {"a\x85\x40z", "a%85%40z"},  // an unassigned pair
        {"\xA0/w", "%A0/w"},         // a lone byte of no character
        {"\xFD/w", "%FD/w"},
        {"\x80/w", "%80%2Fw"},          // the format reads 0x80 as a lead: '/' is its second byte
        {"a\x81.", "a%81%2E"},          // likewise the dot
        {"\xF0\\x.txt", "%F0\\x.txt"},  // a CP932 lead the format does not skip: 0x5C splits
        {"end\x81", "end%81"},          // a lead at the end stands alone
        {"\x81\x7F", "%81%7F"},         // the format takes both bytes: no character
    };
    for (const BytesRow& row : rows) {
        EXPECT_EQ(ToNativePathAs(row.name, TextMode::kUtf8), row.expected) << row.name;
        // The same escapes where CP932 is kept.
        EXPECT_EQ(ToNativePathAs(row.name, TextMode::kCp932), row.expected) << row.name;
    }
}

TEST(TextRoad, NamesOnTheConsole) {
    const BytesRow rows[] = {
        // The user-defined area never comes out as raw bytes (U+009B is CSI).
        {"\xF0\x83\xF0\x5B\x32\x4A",
         "\xEE\x81\x82\xEE\x80\x9B"
         "2J"},
        {"\xF0\x40.txt", "\xEE\x80\x80.txt"},
        {"a\x1B[2J", "a%1B[2J"},
        {"tab\there\r", "tab%09here%0D"},
        {"del\x7F", "del%7F"},
        {"\x7F"
         "9B",
         "%7F9B"},               // a DEL before hex digits is no carrier
        {"\x81\x0A", "%81%0A"},  // a lead before a control goes with it
        {"\x80\x9B", "%80%9B"},  // no character, and never U+0080 or U+009B
        {"\x95\x5C/x", "\xE8\xA1\xA8/x"},
    };
    for (const BytesRow& row : rows) {
        EXPECT_EQ(ToConsoleAs(ShownName(row.name), TextMode::kUtf8), row.expected) << row.name;
    }
}

// Whatever bytes an archive name holds, what it becomes is valid UTF-8, on
// the console without any control character.
TEST(TextRoad, NoArchiveNameComesOutAsInvalidUtf8OrAControl) {
    std::mt19937 random(12);
    // Lead bytes of every kind are frequent, so that pairs of every kind form.
    const unsigned char favoured[] = {0x5C, 0x2F, 0x2E, 0x80, 0x81, 0x9F, 0xA0, 0xE0,
                                      0xEF, 0xF0, 0xF9, 0xFA, 0xFC, 0xFD, 0xFF, 0x7F};
    for (int round = 0; round < 20000; ++round) {
        std::string name;
        const int length = 1 + static_cast<int>(random() % 12);
        for (int k = 0; k < length; ++k) {
            const unsigned r = random();
            name += static_cast<char>(r % 2 ? favoured[(r >> 1) % 16] : 1 + (r >> 1) % 255);
        }
        // On disk the name's own control bytes stay.
        ASSERT_TRUE(IsPrintableUtf8(ToNativePathAs(name, TextMode::kUtf8), true))
            << testing::PrintToString(name);
        const std::string shown = ToConsoleAs(ShownName(name), TextMode::kUtf8);
        ASSERT_TRUE(IsPrintableUtf8(shown)) << testing::PrintToString(name);
    }
}

// The user's own paths keep every byte, also the characters CP932 lacks, and
// reach the console as they were typed.
TEST(TextRoad, UserTextCarriesWhatCp932Lacks) {
    const char* const natives[] = {
        "caf\xC3\xA9/out",           // é
        "\xF0\x9F\x98\x80.qk1",      // an emoji
        "\xE7\xBA\x8A",              // U+7E8A, whose CP932 form ends in 0x5C
        "\xEE\x80\x80",              // U+E000, the first user-defined character
        "bad\xFF\xC3",               // no UTF-8 at all
        "\xE6\x97\xA5\xE6\x9C\xAC",  // 日本: CP932 itself
    };
    for (const char* native : natives) {
        const std::string text = FromNativeAs(native, TextMode::kUtf8);
        EXPECT_EQ(ToNativePathAs(text, TextMode::kUtf8), native);
        EXPECT_EQ(ToConsoleAs(text, TextMode::kUtf8), native);
        EXPECT_EQ(ToConsoleAs(ShownName(text), TextMode::kUtf8), native);
        // Folders and names in it are still found where they were.
        EXPECT_EQ(PathParts(text + "/x.txt", '/').name, "x.txt");
    }
    // A carried character is no CP932 text an archive name could hold.
    EXPECT_NE(FromNativeAs("\xC3\xA9", TextMode::kUtf8).find('\0'), std::string::npos);
}

struct PasswordRow {
    const char* typed;
    TextMode mode;
    const char* key;
};

TEST(TextRoad, OnePasswordRule) {
    const PasswordRow rows[] = {
        {"\xC3\xA9", TextMode::kUtf8, "\xC3\xA9"},      // é: no CP932 form, the bytes as given
        {"\xE6\x97\xA5", TextMode::kUtf8, "\x93\xFA"},  // 日: its CP932 form
        {"\xE6\x97\xA5\xC3\xA9", TextMode::kUtf8, "\xE6\x97\xA5\xC3\xA9"},  // not all of it
        {"secret", TextMode::kUtf8, "secret"},
        {"\xC3\xA9", TextMode::kPassThrough, "\xC3\xA9"},
        {"\x93\xFA", TextMode::kPassThrough, "\x93\xFA"},
    };
    for (const PasswordRow& row : rows) {
        EXPECT_EQ(PasswordBytes(FromNativeAs(row.typed, row.mode)), row.key) << row.typed;
    }
}

}  // namespace
}  // namespace qk::platform
