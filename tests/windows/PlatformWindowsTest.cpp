// The Windows side of the platform layer where the end-to-end runs do not
// reach: Shift-JIS names reach the wide file API as the characters and
// separators the program sees, whatever the ANSI code page; names at the
// path limit. The file system is seen through
// std::filesystem with UTF-16 names, independently of the code under test.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>
// windows.h first: the headers below rely on its definitions.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/FileSystem.h"
#include "platform/Text.h"
#include "platform/windows/WideText.h"
#include "support/TestSupport.h"

namespace qk {
namespace {

namespace fs = std::filesystem;

TEST(NameToWide, CharactersAndSeparatorsAreThoseTheProgramSees) {
    const std::pair<std::string, std::wstring> rows[] = {
        {"\x95\x5C.txt", L"\u8868.txt"},  // 表, whose second byte is 0x5C
        {"\x83\x5C\x83\x74\x83\x67\\a", L"\u30BD\u30D5\u30C8\\a"},  // ソフト\a
        {"\xB1\xDF", L"\uFF71\uFF9F"},  // half-width katakana, single bytes
        // 0xF0 is a single byte to the program: the backslash after it is a
        // separator, although code page 932 would take the pair for one character.
        {"\xF0\\w", L"%F0\\w"},
        // 0x80 starts a pair for the program, one that is no character: it
        // must not turn into a character and a separator.
        {"\x80\\x", L"%80%5Cx"},
        {"end\x81", L"end%81"},
        {"\xFB\xFC\x8B\xB4.txt", L"\u9AD9\u6A4B.txt"},  // 髙橋, IBM extensions
        {"\xFA\xB1", L"\uFA11"},                        // 﨑
        {"\xF0\x40", L"\uE000"},                        // the user-defined area
    };
    for (const auto& [sjis, wide] : rows) EXPECT_EQ(platform::windows::NameToWide(sjis), wide);
    EXPECT_EQ(platform::ToNativePath("a/b\\c"), "a\\b\\c");
    EXPECT_EQ(platform::ToNativePath("\x80\\..\\x"), "%80%5C..\\x");
}

class WindowsFileSystem : public ::testing::Test {
  protected:
    std::string Path(const std::string& relative) const { return dir_.path() + "\\" + relative; }
    fs::path Wide(const std::wstring& relative) const { return fs::path(dir_.path()) / relative; }
    std::vector<std::wstring> Names(const std::wstring& folder) const {
        std::vector<std::wstring> names;
        for (const auto& e : fs::directory_iterator(Wide(folder)))
            names.push_back(e.path().filename().wstring());
        return names;
    }
    std::string Read(const std::wstring& file) const {
        std::ifstream in(Wide(file), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    test::TempDir dir_;
};

TEST_F(WindowsFileSystem, LongNamesGetAShortTemporaryWhileTheNameItselfFits) {
    // A path of 259 characters, the most the system takes: no room is left
    // for the temporary's suffix beside the name.
    const std::size_t room = 259 - dir_.path().size() - 1;
    const std::string longest(room, 'n');
    for (const std::string text : {"old", "long"}) {
        platform::OutputFileWriter writer;
        ASSERT_TRUE(writer.Create(Path(longest)));
        ASSERT_EQ(writer.Write(text.data(), static_cast<std::int64_t>(text.size())),
                  static_cast<std::int64_t>(text.size()));
        ASSERT_TRUE(writer.Commit());
    }
    EXPECT_EQ(Names(L""), std::vector<std::wstring>{std::wstring(room, L'n')});
    EXPECT_EQ(Read(std::wstring(room, L'n')), std::string("long"));
    // One more character and the file could never be put in place.
    platform::OutputFileWriter writer;
    EXPECT_FALSE(writer.Create(Path(longest + "n")));
    EXPECT_EQ(Names(L"").size(), 1u);
}

}  // namespace
}  // namespace qk
