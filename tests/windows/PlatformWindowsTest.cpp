// The Windows side of the platform layer: Shift-JIS names reach the wide file
// API as the right characters whatever the ANSI code page is, the separators
// the file system sees are the ones the program sees, and output files replace
// their targets only when complete. The file system is inspected through
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

#include "format/ArchiveHeader.h"
#include "platform/FileSystem.h"
#include "platform/FolderHandle.h"
#include "platform/Text.h"
#include "platform/windows/WideText.h"
#include "support/TestSupport.h"

namespace qk {
namespace {

namespace fs = std::filesystem;
using platform::windows::NameToWide;

// Shift-JIS bytes of a few names, with what the file system must call them.
constexpr char kNihongo[] = "\x93\xFA\x96\x7B\x8C\xEA";  // 日本語
constexpr wchar_t kNihongoWide[] = L"\u65E5\u672C\u8A9E";
constexpr char kHyouTxt[] = "\x95\x5C.txt";  // 表.txt: the second byte is 0x5C
constexpr wchar_t kHyouTxtWide[] = L"\u8868.txt";
constexpr char kSoft[] = "\x83\x5C\x83\x74\x83\x67";  // ソフト, again with 0x5C
constexpr wchar_t kSoftWide[] = L"\u30BD\u30D5\u30C8";

std::vector<std::wstring> ListNames(const fs::path& folder) {
    std::vector<std::wstring> names;
    for (const auto& e : fs::directory_iterator(folder))
        names.push_back(e.path().filename().wstring());
    return names;
}

std::string ReadAll(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool WriteFile(const std::string& target, const std::string& bytes) {
    platform::OutputFileWriter writer;
    if (!writer.Create(target)) return false;
    if (writer.Write(bytes.data(), static_cast<std::int64_t>(bytes.size())) !=
        static_cast<std::int64_t>(bytes.size())) {
        return false;
    }
    return writer.Commit();
}

TEST(NameToWide, DoubleByteCharactersWhoseSecondByteIsABackslashStayWhole) {
    EXPECT_EQ(NameToWide(kHyouTxt), kHyouTxtWide);
    EXPECT_EQ(NameToWide(std::string(kSoft) + "\\a"), std::wstring(kSoftWide) + L"\\a");
    EXPECT_EQ(NameToWide("C:\\out\\a.txt"), L"C:\\out\\a.txt");
    EXPECT_EQ(NameToWide("\xB1\xDF"), L"\uFF71\uFF9F");  // half-width katakana, single bytes
}

TEST(NameToWide, SeparatorsAreExactlyThoseTheProgramSees) {
    // 0xF0 is a single byte to the program, so the backslash after it is a
    // separator, although code page 932 would take the pair for one character.
    EXPECT_EQ(NameToWide("\xF0\\w"), L"%F0\\w");
    // 0x80 starts a double-byte character for the program; the pair, which is
    // no character, must not turn into a character and a separator.
    EXPECT_EQ(NameToWide("\x80\\x"), L"%80%5Cx");
    // A lead byte at the very end stands alone.
    EXPECT_EQ(NameToWide("end\x81"), L"end%81");
    // A pair the program does not split is the character it is, IBM
    // extensions included.
    EXPECT_EQ(NameToWide("\xFB\xFC\x8B\xB4.txt"), L"\u9AD9\u6A4B.txt");  // 髙橋
    EXPECT_EQ(NameToWide("\xFA\xB1"), L"\uFA11");                        // 﨑
    // The user-defined area as the system maps it.
    EXPECT_EQ(NameToWide("\xF0\x40"), L"\uE000");
}

TEST(ToNativePath, GivesTheFileSystemNameWithWindowsSeparators) {
    EXPECT_EQ(platform::ToNativePath(kNihongo), "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E");
    EXPECT_EQ(platform::ToNativePath("a/b\\c"), "a\\b\\c");
    // 0x80 0x5C is one character to the program (and no character of code
    // page 932): the file system gets it as %80%5C, never as a separator.
    EXPECT_EQ(platform::ToNativePath("\x80\\..\\x"), "%80%5C..\\x");
}

TEST(StrictConversions, KeepEveryCharacterOrFail) {
    std::string utf8;
    ASSERT_TRUE(platform::Cp932ToUtf8(kNihongo, utf8));
    EXPECT_EQ(utf8, "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E");
    std::string cp932;
    ASSERT_TRUE(platform::Utf8ToCp932(utf8, cp932));
    EXPECT_EQ(cp932, kNihongo);
    // No best-fit look-alike: an e with an accent has no CP932 form.
    EXPECT_FALSE(platform::Utf8ToCp932("caf\xC3\xA9", cp932));
    EXPECT_FALSE(platform::Utf8ToCp932("\xFF\xFE", cp932));
    EXPECT_EQ(platform::FromNative("plain-ascii.qk1"), "plain-ascii.qk1");
}

class WindowsFileSystem : public ::testing::Test {
  protected:
    std::string Path(const std::string& relative) const { return dir_.path() + "\\" + relative; }
    fs::path Wide(const std::wstring& relative) const { return fs::path(dir_.path()) / relative; }

    test::TempDir dir_;
};

TEST_F(WindowsFileSystem, JapaneseFolderAndFileGetTheirUnicodeNames) {
    ASSERT_TRUE(platform::MakeDirectory(Path(kNihongo)));
    ASSERT_TRUE(platform::MakeDirectory(Path(std::string(kNihongo) + "\\" + kSoft)));
    const std::string file = Path(std::string(kNihongo) + "\\" + kSoft + "\\" + kHyouTxt);
    ASSERT_TRUE(WriteFile(file, "contents"));

    const fs::path wide =
        Wide(std::wstring(kNihongoWide) + L"\\" + kSoftWide + L"\\" + kHyouTxtWide);
    ASSERT_TRUE(fs::is_regular_file(wide));
    EXPECT_EQ(ReadAll(wide), "contents");
    EXPECT_EQ(ListNames(Wide(kNihongoWide)), std::vector<std::wstring>{kSoftWide});

    const platform::FileStatus status = platform::QueryFile(file);
    EXPECT_TRUE(status.exists);
    EXPECT_FALSE(status.isDirectory);
    EXPECT_EQ(status.size, 8);

    std::FILE* in = platform::OpenForRead(file);
    ASSERT_NE(in, nullptr);
    EXPECT_EQ(platform::FileSizeOf(in), 8);
    std::fclose(in);

    EXPECT_TRUE(platform::RemoveFile(file));
    EXPECT_FALSE(fs::exists(wide));
}

TEST_F(WindowsFileSystem, SetFileTimeSetsTheModificationTime) {
    const std::string file = Path(kHyouTxt);
    ASSERT_TRUE(WriteFile(file, ""));
    ASSERT_TRUE(platform::SetFileTime(file, 946684800u));  // 2000-01-01 00:00:00 UTC
    EXPECT_EQ(platform::QueryFile(file).modifiedTime, 946684800);
    ASSERT_TRUE(platform::SetFileTime(file, 0xF0000000u));  // beyond 2038
    EXPECT_EQ(platform::QueryFile(file).modifiedTime, 0xF0000000LL);
    EXPECT_FALSE(platform::SetFileTime(Path("missing.txt"), 946684800u));
}

TEST_F(WindowsFileSystem, QueryFileTellsFoldersFilesAndMissingNames) {
    ASSERT_TRUE(platform::MakeDirectory(Path("sub")));
    ASSERT_TRUE(WriteFile(Path("file.txt"), "x"));

    // A trailing separator names a folder: the folder answers, a file does not.
    EXPECT_TRUE(platform::QueryFile(Path("sub\\")).isDirectory);
    EXPECT_TRUE(platform::QueryFile(Path("sub")).exists);
    EXPECT_FALSE(platform::QueryFile(Path("file.txt\\")).exists);
    EXPECT_TRUE(platform::QueryFile(Path("file.txt")).exists);
    EXPECT_FALSE(platform::QueryFile(Path("missing")).exists);
    EXPECT_TRUE(platform::QueryFile(dir_.path().substr(0, 3)).isDirectory);  // the drive root
    EXPECT_FALSE(platform::MakeDirectory(Path("sub")));
    EXPECT_FALSE(platform::MakeDirectory(Path("missing\\sub")));
}

TEST_F(WindowsFileSystem, OutputFileReplacesItsTargetOnlyOnCommit) {
    const std::string target = Path(kHyouTxt);
    ASSERT_TRUE(WriteFile(target, "old contents"));
    {
        platform::OutputFileWriter writer;
        ASSERT_TRUE(writer.Create(target));
        EXPECT_EQ(writer.Write("new", 3), 3);
        // Not committed: the old file stays, the temporary goes.
    }
    EXPECT_EQ(ReadAll(Wide(kHyouTxtWide)), "old contents");
    EXPECT_EQ(ListNames(Wide(L"")), std::vector<std::wstring>{kHyouTxtWide});

    ASSERT_TRUE(WriteFile(target, "new"));
    EXPECT_EQ(ReadAll(Wide(kHyouTxtWide)), "new");
    EXPECT_EQ(ListNames(Wide(L"")), std::vector<std::wstring>{kHyouTxtWide});
}

TEST_F(WindowsFileSystem, OutputFileFailsWhereNoFileCanBe) {
    ASSERT_TRUE(platform::MakeDirectory(Path("folder")));
    platform::OutputFileWriter writer;
    EXPECT_FALSE(writer.Create(Path("folder")));
    EXPECT_FALSE(writer.Create(Path("missing\\file.txt")));
    EXPECT_FALSE(writer.Commit());
    EXPECT_TRUE(platform::QueryFile(Path("folder")).isDirectory);
    EXPECT_EQ(ListNames(Wide(L"")), std::vector<std::wstring>{L"folder"});
}

// Folders opened one level at a time with NtCreateFile relative to their
// parent's handle, names in UTF-8 as the extraction road gives them.
TEST_F(WindowsFileSystem, FolderHandleMakesFilesByNameBelowItsRoot) {
    ASSERT_TRUE(platform::MakeDirectory(Path(kSoft)));
    ASSERT_TRUE(platform::MakeDirectory(Path(std::string(kSoft) + "\\" + kNihongo)));
    platform::FolderHandle root, soft, nihongo, made, other;
    ASSERT_TRUE(root.OpenRoot(Path("")));
    EXPECT_EQ(root.OpenChild("missing", false, other), platform::ChildResult::kMissing);
    ASSERT_EQ(root.OpenChild(platform::ToNativePath(kSoft), false, soft),
              platform::ChildResult::kOpened);
    ASSERT_EQ(soft.OpenChild(platform::ToNativePath(kNihongo), false, nihongo),
              platform::ChildResult::kOpened);
    // Names of one component only.
    for (const char* name : {"a\\b", "a/b", "", ".", "..", "a:b"}) {
        EXPECT_EQ(root.OpenChild(name, true, other), platform::ChildResult::kFailed) << name;
    }
    ASSERT_EQ(root.OpenChild("made", true, made), platform::ChildResult::kOpened);
    EXPECT_TRUE(platform::QueryFile(Path("made")).isDirectory);

    const std::string hyou = platform::ToNativePath(kHyouTxt);
    platform::OutputFileWriter writer;
    EXPECT_FALSE(writer.Create(nihongo, "sub\\a.txt"));  // one name, no folders
    ASSERT_TRUE(writer.Create(nihongo, hyou));
    EXPECT_EQ(writer.Write("abc", 3), 3);
    ASSERT_TRUE(writer.Commit());
    EXPECT_TRUE(nihongo.SetFileTime(hyou, 1234567890u));
    const fs::path file =
        Wide(std::wstring(kSoftWide) + L"\\" + kNihongoWide + L"\\" + kHyouTxtWide);
    EXPECT_EQ(ReadAll(file), "abc");
    const platform::NameStatus status = nihongo.Query(hyou, false);
    EXPECT_EQ(status.kind, platform::EntryKind::kFile);
    EXPECT_EQ(status.size, 3);
    EXPECT_EQ(status.modifiedTime, 1234567890);
    EXPECT_EQ(soft.OpenChild(platform::ToNativePath(kNihongo) + "x", false, other),
              platform::ChildResult::kMissing);

    // An old file stays until the new one is complete; a file where a
    // folder is asked for is no folder.
    {
        platform::OutputFileWriter replacing;
        ASSERT_TRUE(replacing.Create(nihongo, hyou));
        EXPECT_EQ(replacing.Write("new", 3), 3);
        EXPECT_EQ(ReadAll(file), "abc");
    }
    EXPECT_EQ(ReadAll(file), "abc");
    ASSERT_TRUE(writer.Create(nihongo, hyou));
    EXPECT_EQ(writer.Write("new", 3), 3);
    ASSERT_TRUE(writer.Commit());
    EXPECT_EQ(ReadAll(file), "new");
    EXPECT_EQ(ListNames(Wide(std::wstring(kSoftWide) + L"\\" + kNihongoWide)),
              std::vector<std::wstring>{kHyouTxtWide});
    EXPECT_EQ(nihongo.OpenChild(hyou, true, other), platform::ChildResult::kNotFolder);
    // A folder cannot become a file; a new file not committed goes.
    EXPECT_FALSE(writer.Create(root, "made"));
    {
        platform::OutputFileWriter discarded;
        ASSERT_TRUE(discarded.Create(root, "gone.txt"));
        EXPECT_EQ(discarded.Write("x", 1), 1);
    }
    EXPECT_FALSE(platform::QueryFile(Path("gone.txt")).exists);
    // Names differing only in case are one name to the file system.
    EXPECT_EQ(platform::SameNameKey("a\xC3\xA9.TXT"), platform::SameNameKey("A\xC3\x89.txt"));
    EXPECT_EQ(platform::SameNameKey("\xEF\xBD\x81"), platform::SameNameKey("\xEF\xBC\xA1"));
}

TEST_F(WindowsFileSystem, LongNamesGetAShortTemporaryWhileTheNameItselfFits) {
    // A path of 259 characters, the most the system takes: no room is left
    // for the temporary's suffix beside the name.
    const std::size_t room = 259 - dir_.path().size() - 1;
    const std::string longest(room, 'n');
    {
        platform::OutputFileWriter writer;
        ASSERT_TRUE(writer.Create(Path(longest)));
        const std::vector<std::wstring> names = ListNames(Wide(L""));
        ASSERT_EQ(names.size(), 1u);
        EXPECT_LE(names[0].size(), room);  // the temporary, within the limit too
    }
    ASSERT_TRUE(WriteFile(Path(longest), "long"));
    EXPECT_EQ(ListNames(Wide(L"")), std::vector<std::wstring>{std::wstring(room, L'n')});
    EXPECT_EQ(platform::QueryFile(Path(longest)).size, 4);

    // One more character and the file could never be put in place.
    platform::OutputFileWriter writer;
    EXPECT_FALSE(writer.Create(Path(longest + "n")));
    EXPECT_EQ(ListNames(Wide(L"")).size(), 1u);
}

TEST(ProgramFile, IsTheRunningExecutable) {
    const std::string self = platform::ProgramFilePath();
    ASSERT_GT(self.size(), 4u);
    std::string extension = self.substr(self.size() - 4);
    for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_EQ(extension, ".exe");
    const platform::FileStatus status = platform::QueryFile(self);
    EXPECT_TRUE(status.exists);
    EXPECT_GT(status.size, 0);
}

}  // namespace
}  // namespace qk
