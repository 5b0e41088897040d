// The one text road, on every platform: names to UTF-8 and back per class of
// CP932 character, %XX for what is no character, names on the console, the
// carriers of the user's own text, and the key bytes of a password.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <tuple>

#include "archive/PathParts.h"
#include "platform/Text.h"

namespace qk::platform {
namespace {

struct NameRow {
    const char* name;               // as stored
    const char* disk;               // on disk under UTF-8
    const char* console = nullptr;  // on a UTF-8 console, where not `disk`
};

TEST(TextRoad, NamesOnDiskAndOnTheConsole) {
    const NameRow rows[] = {
        // Every class of CP932 character.
        {"a-Z_0.txt", "a-Z_0.txt"},
        {"\xB1\xDF", "\xEF\xBD\xB1\xEF\xBE\x9F"},          // half-width katakana
        {"\x95\x5C\x8E\xA6", "\xE8\xA1\xA8\xE7\xA4\xBA"},  // 表示, 0x5C as second byte
        {"\x95\x5C/x", "\xE8\xA1\xA8/x"},
        {"\x93\xFA\x96\x7B", "\xE6\x97\xA5\xE6\x9C\xAC"},  // 日本
        {"\x87\x40\x87\x54", "\xE2\x91\xA0\xE2\x85\xA0"},  // NEC row 13
        {"\xFB\xFC\x8B\xB4", "\xE9\xAB\x99\xE6\xA9\x8B"},  // 髙橋, IBM extension 0xFB
        {"\xFA\xB1", "\xEF\xA8\x91"},                      // 﨑, IBM extension 0xFA
        {"\xF0\x40.txt", "\xEE\x80\x80.txt"},              // the user-defined area, first
        {"\xF9\xFC", "\xEE\x9D\x97"},                      // and last
        // The user-defined area never reaches the console as raw bytes (U+009B is CSI).
        {"\xF0\x83\xF0\x5B\x32\x4A",
         "\xEE\x81\x82\xEE\x80\x9B"
         "2J"},
        // Bytes that are no character become %XX.
        {"a\x85\x40z", "a%85%40z"},  // an unassigned pair
        {"\xA0/w", "%A0/w"},         // a lone byte of no character
        {"\xFD/w", "%FD/w"},
        {"\x80/w", "%80%2Fw"},          // the format reads 0x80 as a lead: '/' is its second byte
        {"a\x81.", "a%81%2E"},          // likewise the dot
        {"\xF0\\x.txt", "%F0\\x.txt"},  // a CP932 lead the format does not skip: 0x5C splits
        {"end\x81", "end%81"},          // a lead at the end stands alone
        {"\x81\x7F", "%81%7F"},         // the format takes both bytes: no character
        {"\x81\x0A", "%81%0A"},         // a lead before a control goes with it
        {"\x80\x9B", "%80%9B"},         // and never U+0080 or U+009B
        // Controls stay on disk and never reach the console.
        {"a\x1B[2J", "a\x1B[2J", "a%1B[2J"},
        {"tab\there\r", "tab\there\r", "tab%09here%0D"},
        {"del\x7F", "del\x7F", "del%7F"},
        {"\x7F"
         "9B",
         "\x7F"
         "9B",
         "%7F9B"},  // a DEL before hex digits is no carrier
    };
    for (const NameRow& row : rows) {
        const std::string disk = row.disk;
        EXPECT_EQ(ToNativePathAs(row.name, TextMode::kUtf8), disk) << row.name;
        EXPECT_EQ(ToConsoleAs(ShownName(row.name), TextMode::kUtf8),
                  row.console ? row.console : disk)
            << row.name;
        // Where the console or file system speaks CP932, characters are kept, escapes the same.
        const bool ascii = std::all_of(disk.begin(), disk.end(),
                                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
        EXPECT_EQ(ToNativePathAs(row.name, TextMode::kCp932), ascii ? disk : row.name) << row.name;
        if (disk.find('%') == std::string::npos) {
            EXPECT_EQ(FromNativeAs(disk, TextMode::kUtf8), row.name) << row.name;
        }
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
}

// Typed under a mode, and the key bytes it gives.
TEST(TextRoad, OnePasswordRule) {
    const std::tuple<const char*, TextMode, const char*> rows[] = {
        {"\xC3\xA9", TextMode::kUtf8, "\xC3\xA9"},      // é: no CP932 form, the bytes as given
        {"\xE6\x97\xA5", TextMode::kUtf8, "\x93\xFA"},  // 日: its CP932 form
        {"\xE6\x97\xA5\xC3\xA9", TextMode::kUtf8, "\xE6\x97\xA5\xC3\xA9"},  // not all of it
        {"\xC3\xA9", TextMode::kPassThrough, "\xC3\xA9"},
        {"\x93\xFA", TextMode::kPassThrough, "\x93\xFA"},
    };
    for (const auto& [typed, mode, key] : rows) {
        EXPECT_EQ(PasswordBytes(FromNativeAs(typed, mode)), key) << typed;
    }
}

}  // namespace
}  // namespace qk::platform
