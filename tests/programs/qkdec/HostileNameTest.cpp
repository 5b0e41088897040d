// The built qkdec with archives whose names try to reach outside the output
// folder, through links standing in it, or into the terminal.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "ProgramFixture.h"
#include "platform/Text.h"

namespace qk {
namespace {

namespace fs = std::filesystem;
using test::Bytes;
using test::kBanner;
using test::Sjis;

std::string Refusal(const std::string& shownName) {
    return "QK Message: \n" + Sjis("ファイル名(") + shownName +
           Sjis(")が出力先フォルダの外を指しています。\n処理を中止します。\n");
}

// Every entry below `folder`, as paths relative to it.
std::vector<std::string> Listing(const std::string& folder) {
    std::vector<std::string> paths;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        paths.push_back(entry.path().lexically_relative(folder).string());
    }
    std::sort(paths.begin(), paths.end());
    return paths;
}

class HostileNameTest : public test::ProgramFixture {
  protected:
    void SetUp() override {
        fs::create_directory(Path("out"));
        fs::create_directory(Path("outside"));
    }
};

TEST_F(HostileNameTest, NamesLeavingTheFolderStopTheArchiveBeforeAnyWrite) {
    const std::string names[] = {
        "../evil.txt",
        "a/../../evil.txt",
        "a/b/../../../evil",
        "..",
        "sub/..",
        "a\\..\\..\\evil",
        "..\\evil",
        "/tmp/qk-evil",
        "\\tmp\\qk-evil",
        "\\\\server\\share\\evil",
        "//server/share/evil",
        "C:evil",
        "c:\\evil",
        "Z:/evil",
        // 0x81 makes "/.." one character to the format, but not to the file system.
        "\x81/../evil",
    };
    for (const std::string& name : names) {
        WriteArchive("evil.qk1", {{"fine.txt", 0, {'a'}}, {name, 0, {'b'}}});
        const test::ProgramRun run = Run({"-dout", "evil.qk1"});
        std::string shown = name;
        for (char& c : shown) {
            if (c == '\\') c = '/';
        }
        if (name[0] == '\x81') shown = name;  // its second byte is no separator
        EXPECT_EQ(run.output, kBanner + Refusal(shown)) << name;
        EXPECT_EQ(run.exitCode, 2);
    }
    EXPECT_TRUE(fs::is_empty(Path("out")));
    EXPECT_TRUE(fs::is_empty(Path("outside")));
    EXPECT_FALSE(fs::exists(Path("evil.txt")));
    EXPECT_FALSE(fs::exists("/tmp/qk-evil"));
}

TEST_F(HostileNameTest, SeparatorsOfBothKindsAndTrailBytes) {
    // 表 is 0x95 0x5C: its second byte is no separator, the other backslashes are.
    const std::string table = Sjis("表");
    WriteArchive("a.qk1", {{"a\\b/c.txt", 0, {'c'}}, {table + "\\" + table + ".txt", 0, {'t'}}});
    ASSERT_EQ(Run({"-dout", "a.qk1"}).exitCode, 0);
    EXPECT_EQ(test::ReadFileBytes(Path("out/a/b/c.txt")), (Bytes{'c'}));
    EXPECT_EQ(test::ReadFileBytes(Path("out/" + table + "/" + table + ".txt")), (Bytes{'t'}));

    fs::create_directory(Path("u"));
    ASSERT_EQ(Run({"-du", "a.qk1"}, "", "C.UTF-8").exitCode, 0);
    EXPECT_EQ(test::ReadFileBytes(Path("u/表/表.txt")), (Bytes{'t'}));
    EXPECT_EQ(Listing(Path("u")),
              (std::vector<std::string>{"a", "a/b", "a/b/c.txt", "表", "表/表.txt"}));
}

TEST_F(HostileNameTest, NamesThatAreNoCp932StayInsideUnderTheirShownForm) {
    WriteArchive("a.qk1", {{"\xFF\xFE.txt", 0, {'f'}}, {"d\xA0/x", 0, {'x'}}});
    // Under UTF-8 the bytes that are no character become %XX, on screen and on disk alike.
    const test::ProgramRun run = Run({"-dout", "a.qk1"}, "", "C.UTF-8");
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_NE(run.output.find("OutFile(1/2): %FF%FE.txt (1 byte)\n"), std::string::npos);
    EXPECT_EQ(test::ReadFileBytes(Path("out/%FF%FE.txt")), (Bytes{'f'}));
    EXPECT_EQ(Listing(Path("out")), (std::vector<std::string>{"%FF%FE.txt", "d%A0", "d%A0/x"}));
    // Under the C locale the bytes reach the file system unchanged.
    fs::create_directory(Path("raw"));
    EXPECT_EQ(Run({"-draw", "a.qk1"}).exitCode, 0);
    EXPECT_EQ(test::ReadFileBytes(Path("raw/\xFF\xFE.txt")), (Bytes{'f'}));
    EXPECT_TRUE(fs::is_empty(Path("outside")));
}

TEST_F(HostileNameTest, RepeatedNameIsWrittenAgainWithANotice) {
    WriteArchive("a.qk1",
                 {{"same.txt", 0, {'1'}}, {"other.txt", 0, {'o'}}, {"same.txt", 0, {'2'}}});
    const test::ProgramRun run = Run({"-dout", "a.qk1"});
    EXPECT_NE(run.output.find("OutFile(3/3): same.txt (1 byte)\nQK Information:\n" +
                              Sjis("ファイル名(same.txt)が重複しています。\n"
                                   "前のファイルを上書きします。\n")),
              std::string::npos)
        << run.output;
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(test::ReadFileBytes(Path("out/same.txt")), (Bytes{'2'}));

    // A later name that needs the earlier file as its folder cannot have it.
    WriteArchive("b.qk1", {{"f", 0, {'f'}}, {"f/x", 0, {'x'}}});
    fs::create_directory(Path("b"));
    const test::ProgramRun folder = Run({"-db", "b.qk1"});
    EXPECT_NE(folder.output.find(Sjis("ファイル(b/f/x)が出力(fopen)できません。")),
              std::string::npos)
        << folder.output;
    EXPECT_EQ(folder.exitCode, 2);
    EXPECT_EQ(test::ReadFileBytes(Path("b/f")), (Bytes{'f'}));
}

const char kLinkMessage[] = "がシンボリックリンクです。\n処理を中止します。\n";

TEST_F(HostileNameTest, LinksInTheOutputFolderAreNeverWrittenThrough) {
    fs::create_directory_symlink(Path("outside"), Path("out/link"));
    fs::create_directories(Path("out/real"));
    fs::create_directory_symlink(Path("outside"), Path("out/real/inner"));
    fs::create_directory_symlink(Path("nowhere"), Path("out/dangling"));
    fs::create_directory_symlink(Path("out/real"), Path("out/inward"));

    const std::pair<std::string, std::string> cases[] = {
        {"link/x.txt", "out/link"},
        {"link/new/x.txt", "out/link"},
        {"real/inner/deeper/x.txt", "out/real/inner"},
        {"dangling/x.txt", "out/dangling"},
        // Even a link that stays inside is not followed: one rule for all.
        {"inward/x.txt", "out/inward"},
    };
    for (const auto& [name, link] : cases) {
        WriteArchive("a.qk1", {{"first.txt", 0, {'1'}}, {name, 0, {'x'}}});
        const test::ProgramRun run = Run({"-y", "-dout", "a.qk1"});
        EXPECT_NE(run.output.find("QK Message: \n" + Sjis("ディレクトリ(") + link + ")" +
                                  Sjis(kLinkMessage)),
                  std::string::npos)
            << name << run.output;
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_TRUE(fs::exists(Path("out/first.txt")));
    }
    EXPECT_TRUE(fs::is_empty(Path("outside")));
    EXPECT_FALSE(fs::exists(Path("nowhere")));
    EXPECT_EQ(Listing(Path("out/real")), std::vector<std::string>{"inner"});

    // The output folder itself may be a link: that is the user's choice.
    fs::create_directory_symlink(Path("outside"), Path("chosen"));
    WriteArchive("b.qk1", {{"d/x.txt", 0, {'x'}}});
    EXPECT_EQ(Run({"-dchosen", "b.qk1"}).exitCode, 0);
    EXPECT_EQ(test::ReadFileBytes(Path("outside/d/x.txt")), (Bytes{'x'}));
}

TEST_F(HostileNameTest, LinkAtTheTargetIsReplacedNotFollowed) {
    test::WriteFileBytes(Path("outside/precious"), {'p'});
    fs::create_symlink(Path("outside/precious"), Path("out/t.txt"));
    WriteArchive("a.qk1", {{"t.txt", 1000000000, {'n', 'e', 'w'}}});
    const test::ProgramRun run = Run({"-y", "-dout", "a.qk1"});
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_FALSE(fs::is_symlink(Path("out/t.txt")));
    EXPECT_EQ(test::ReadFileBytes(Path("out/t.txt")), (Bytes{'n', 'e', 'w'}));
    EXPECT_EQ(test::ReadFileBytes(Path("outside/precious")), (Bytes{'p'}));
}

TEST_F(HostileNameTest, ControlBytesReachTheConsoleEscaped) {
    const std::string name = "bad\x1B[31mred\r\n\x07\x7F.txt";
    WriteArchive("a\x1B.qk1", {{name, 0, {'x'}}, {"fine.txt", 0, {'f'}}});
    for (const std::string locale : {"C", "C.UTF-8"}) {
        fs::remove_all(Path("out"));
        fs::create_directory(Path("out"));
        const test::ProgramRun run = Run({"-dout", "a\x1B.qk1"}, "", locale);
        EXPECT_EQ(run.exitCode, 0);
        EXPECT_NE(run.output.find("InFile: a%1B.qk1 ("), std::string::npos) << locale;
        EXPECT_NE(run.output.find("OutFile(1/2): bad%1B[31mred%0D%0A%07%7F.txt (1 byte)\n"),
                  std::string::npos)
            << locale;
        // The program's own line ends and progress returns are the only control bytes.
        for (char c : run.output) {
            const unsigned char b = static_cast<unsigned char>(c);
            EXPECT_TRUE(b >= 0x20 ? b != 0x7F : (c == '\n' || c == '\r'))
                << locale << " " << int(b);
        }
        // On disk the name is the archive's.
        EXPECT_EQ(test::ReadFileBytes(Path("out/" + name)), (Bytes{'x'}));
    }
    // In messages too.
    WriteArchive("b.qk1", {{"../\x1B]0;x\x07", 0, {}}});
    EXPECT_EQ(Run({"-dout", "b.qk1"}).output, kBanner + Refusal("../%1B]0;x%07"));
}

TEST_F(HostileNameTest, WindowsDeviceNamesAreOrdinaryNamesHere) {
    // Only a Windows build refuses CON, ':' and trailing dots; elsewhere
    // they are plain file names, as archives from other systems need.
    WriteArchive("a.qk1", {{"CON", 0, {'c'}}, {"x/a:b", 0, {'a'}}, {"dot.", 0, {'d'}}});
    ASSERT_EQ(Run({"-dout", "a.qk1"}).exitCode, 0);
    EXPECT_EQ(test::ReadFileBytes(Path("out/CON")), (Bytes{'c'}));
    EXPECT_EQ(test::ReadFileBytes(Path("out/x/a:b")), (Bytes{'a'}));
    EXPECT_EQ(test::ReadFileBytes(Path("out/dot.")), (Bytes{'d'}));
}

}  // namespace
}  // namespace qk
