// qk and qkdec on one archive: the same names on disk and on the console,
// the same key from the same password, a bounded password line, and a
// cut-short archive reported by both.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <set>

#include "ToolRunner.h"
#include "qk1/ArchiveWriter.h"
#include "support/TestSupport.h"

namespace qk {
namespace {

namespace fs = std::filesystem;
using test::RunResult;
using test::RunShell;

#if defined(__SANITIZE_ADDRESS__)
#define QK_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QK_ADDRESS_SANITIZER 1
#endif
#endif

struct Entry {
    std::string name;
    std::string content;
};

void WriteArchiveFile(const std::string& path, const std::vector<Entry>& entries,
                      const std::string& password = "") {
    std::vector<ArchiveEntry> list;
    for (const Entry& entry : entries) {
        ArchiveEntry e;
        e.name = entry.name;
        e.time = 1000000000;
        e.data.assign(entry.content.begin(), entry.content.end());
        list.push_back(std::move(e));
    }
    WriteOptions options;
    options.usePassword = !password.empty();
    options.password = password;
    std::vector<std::uint8_t> archive;
    std::string error;
    ASSERT_EQ(WriteArchive(list, options, archive, &error), Status::kOk) << error;
    test::WriteFileBytes(path, archive);
}

// Every file below `root`, by its path relative to it.
std::set<std::string> Files(const std::string& root) {
    std::set<std::string> files;
    for (const auto& e : fs::recursive_directory_iterator(root)) {
        if (e.is_regular_file()) files.insert(fs::relative(e.path(), root).string());
    }
    return files;
}

std::string ReadText(const std::string& path) {
    const test::Bytes data = test::ReadFileBytes(path);
    return std::string(data.begin(), data.end());
}

class BothPrograms : public ::testing::Test {
  protected:
    std::string Path(const std::string& relative) const { return work_.path() + "/" + relative; }
    test::TempDir work_;
};

struct NameRow {
    const char* stored;  // the entry's name in the archive (CP932 bytes)
    const char* onDisk;  // the file both programs write under a UTF-8 locale
};

// The user-defined area as the private-use characters, never as the bytes the
// console would take for controls; IBM-extension kanji whole; what is no
// character as %XX, the same in both programs.
TEST_F(BothPrograms, WriteAndShowNamesAlikeUnderUtf8) {
    const NameRow rows[] = {
        {"\xF0\x83\xF0\x5B\x32\x4A.txt",
         "\xEE\x81\x82\xEE\x80\x9B"
         "2J.txt"},
        {"\xF0\x40.txt", "\xEE\x80\x80.txt"},
        {"\xFB\xFC\x8B\xB4.txt", "\xE9\xAB\x99\xE6\xA9\x8B.txt"},
        {"\xFA\xB1.txt", "\xEF\xA8\x91.txt"},
        {"a\x81.", "a%81%2E"},
        {"\xF0\\x.txt", "%F0/x.txt"},
        {"\x80/f.txt", "%80%2Ff.txt"},
    };
    std::vector<Entry> entries;
    std::set<std::string> expected;
    for (const NameRow& row : rows) {
        entries.push_back({row.stored, row.stored});
        expected.insert(row.onDisk);
    }
    WriteArchiveFile(Path("names.qk1"), entries);
    fs::create_directories(Path("qkdec"));
    const RunResult qkdec = RunShell(work_.path(), "\"$QKDEC\" -y -dqkdec/ names.qk1");
    ASSERT_EQ(qkdec.status, 0) << qkdec.out;
    const RunResult qk = RunShell(work_.path(), "\"$QK\" x -q -o qk names.qk1");
    ASSERT_EQ(qk.status, 0) << qk.err;
    EXPECT_EQ(Files(Path("qkdec")), expected);
    EXPECT_EQ(Files(Path("qk")), expected);
    // No C1 control (U+009B is CSI) reaches the terminal.
    EXPECT_EQ(qkdec.out.find("\xC2\x9B"), std::string::npos);
    EXPECT_NE(qkdec.out.find("\xEE\x81\x82\xEE\x80\x9B"
                             "2J.txt"),
              std::string::npos);
    const RunResult list = RunShell(work_.path(), "\"$QK\" l names.qk1");
    EXPECT_NE(list.out.find("\xEE\x81\x82\xEE\x80\x9B"
                            "2J.txt"),
              std::string::npos);
}

// A folder of the user's own with a character CP932 lacks, as output folder
// and as the archive's name, in both programs.
TEST_F(BothPrograms, UserPathsWithCharactersCp932Lacks) {
    WriteArchiveFile(Path("caf\xC3\xA9.qk1"), {{"a.txt", "one"}});
    fs::create_directories(Path("d\xC3\xA9"));
    const RunResult qkdec = RunShell(work_.path(), "\"$QKDEC\" -y -dd\xC3\xA9/ caf\xC3\xA9.qk1");
    EXPECT_EQ(qkdec.status, 0) << qkdec.out;
    EXPECT_EQ(ReadText(Path("d\xC3\xA9/a.txt")), "one");
    EXPECT_NE(qkdec.out.find("InFile: caf\xC3\xA9.qk1"), std::string::npos) << qkdec.out;
    const RunResult qk = RunShell(work_.path(), "\"$QK\" x -q -o q\xC3\xA9 caf\xC3\xA9.qk1");
    EXPECT_EQ(qk.status, 0) << qk.err;
    EXPECT_EQ(ReadText(Path("q\xC3\xA9/a.txt")), "one");
}

struct PasswordRow {
    const char* key;    // the key bytes the archive is scrambled under
    const char* typed;  // the password as given under a UTF-8 locale
};

TEST_F(BothPrograms, OnePasswordGivesOneKey) {
    const PasswordRow rows[] = {
        {"\xC3\xA9", "\xC3\xA9"},                          // é: no CP932 form, the bytes as given
        {"\x93\xFA\x96\x7B", "\xE6\x97\xA5\xE6\x9C\xAC"},  // 日本: its CP932 form
        {"plain", "plain"},
    };
    for (const PasswordRow& row : rows) {
        fs::remove_all(Path("out"));
        fs::create_directories(Path("out"));
        WriteArchiveFile(Path("p.qk1"), {{"a.txt", "secret"}}, row.key);
        const std::string typed = row.typed;
        const RunResult qk = RunShell(work_.path(), "\"$QK\" t -p '" + typed + "' p.qk1");
        EXPECT_EQ(qk.status, 0) << typed << ": " << qk.out << qk.err;
        const RunResult qkdec =
            RunShell(work_.path(), "\"$QKDEC\" -y -dout/ '-p" + typed + "' p.qk1");
        EXPECT_EQ(qkdec.status, 0) << typed << ": " << qkdec.out;
        EXPECT_EQ(ReadText(Path("out/a.txt")), "secret") << typed;
    }
}

// A password line that never ends is refused after a few KiB: no password
// entered for qkdec, none asked for by qk (its input is no terminal).
TEST_F(BothPrograms, AnEndlessPasswordLineIsRefused) {
    WriteArchiveFile(Path("p.qk1"), {{"a.txt", "secret"}}, "pw");
#ifdef QK_ADDRESS_SANITIZER
    const std::string limit;
#else
    // Reading the line on would run into this at once.
    const std::string limit = "ulimit -v 400000; ";
#endif
    // パスワードが入力されませんでした。
    const std::string noPassword =
        "\xE3\x83\x91\xE3\x82\xB9\xE3\x83\xAF\xE3\x83\xBC\xE3\x83\x89\xE3\x81\x8C\xE5\x85\xA5"
        "\xE5\x8A\x9B\xE3\x81\x95\xE3\x82\x8C\xE3\x81\xBE\xE3\x81\x9B\xE3\x82\x93\xE3\x81\xA7"
        "\xE3\x81\x97\xE3\x81\x9F";
    for (const char* input : {"< /dev/zero", "< long.txt"}) {
        std::ofstream(Path("long.txt")) << std::string(100000, 'x') << "\npw\n";
        const RunResult qkdec = RunShell(work_.path(), limit + "\"$QKDEC\" p.qk1 " + input);
        EXPECT_EQ(qkdec.status, 2) << input;
        EXPECT_NE(qkdec.out.find(noPassword), std::string::npos) << input << ": " << qkdec.out;
        EXPECT_FALSE(fs::exists(Path("a.txt")));
        const RunResult qk = RunShell(work_.path(), limit + "\"$QK\" t p.qk1 " + input);
        EXPECT_EQ(qk.status, 2) << input;
        EXPECT_NE(qk.out.find("needs a password"), std::string::npos) << qk.out;
    }
}

// At a terminal qk reads the keys itself, and stops after a few KiB of them.
TEST_F(BothPrograms, QkRefusesAnEndlessPasswordAtATerminal) {
    WriteArchiveFile(Path("p.qk1"), {{"a.txt", "secret"}}, "pw");
    const RunResult r = RunShell(work_.path(),
                                 "command -v script >/dev/null || exit 77\n"
                                 "head -c 100000 /dev/zero | script -qec '\"$QK\" t p.qk1' "
                                 "/dev/null");
    if (r.status == 77) GTEST_SKIP() << "no script(1) to provide a terminal";
    EXPECT_NE(r.out.find("qk: the password line is too long"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("p.qk1: FAILED"), std::string::npos);
}

// Entries of bytes that do not compress, so that the stream is literals and
// a cut one still decodes to the end: only the bytes past the end of the
// file tell that it was cut.
TEST_F(BothPrograms, ACutShortArchiveFailsInBoth) {
    std::mt19937 random(7);
    std::string first(3000, '\0'), second(2000, '\0');
    for (char& c : first) c = static_cast<char>(random());
    for (char& c : second) c = static_cast<char>(random());
    WriteArchiveFile(Path("whole.qk1"), {{"first.bin", first}, {"second.bin", second}});
    const test::Bytes whole = test::ReadFileBytes(Path("whole.qk1"));
    EXPECT_EQ(RunShell(work_.path(), "\"$QK\" t whole.qk1").status, 0);
    // 圧縮ファイル(cut.qk1)が途中で切れています。
    const std::string cutShort =
        "\xE5\x9C\xA7\xE7\xB8\xAE\xE3\x83\x95\xE3\x82\xA1\xE3\x82\xA4\xE3\x83\xAB(cut.qk1)"
        "\xE3\x81\x8C\xE9\x80\x94\xE4\xB8\xAD\xE3\x81\xA7\xE5\x88\x87\xE3\x82\x8C\xE3\x81\xA6"
        "\xE3\x81\x84\xE3\x81\xBE\xE3\x81\x99\xE3\x80\x82\n";
    for (std::size_t cut = 1; cut <= 12; ++cut) {
        test::WriteFileBytes(Path("cut.qk1"), test::Bytes(whole.begin(), whole.end() - cut));
        const RunResult qk = RunShell(work_.path(), "\"$QK\" t cut.qk1");
        EXPECT_EQ(qk.status, 2) << cut;
        EXPECT_EQ(qk.out, "cut.qk1: FAILED: entry second.bin: the archive is cut short\n") << cut;
        const RunResult extract = RunShell(work_.path(), "\"$QK\" x -q -f -o x cut.qk1");
        EXPECT_EQ(extract.status, 2) << cut;
        EXPECT_NE(extract.err.find("entry second.bin: the archive is cut short"), std::string::npos)
            << extract.err;

        fs::remove_all(Path("out"));
        fs::create_directories(Path("out"));
        const RunResult qkdec = RunShell(work_.path(), "\"$QKDEC\" -y -dout/ cut.qk1");
        EXPECT_EQ(qkdec.status, 2) << cut;
        EXPECT_NE(qkdec.out.find("QK Information:\n" + cutShort), std::string::npos)
            << cut << ": " << qkdec.out;
        // Everything is written: the first file whole, the second as decoded.
        EXPECT_EQ(ReadText(Path("out/first.bin")), first) << cut;
        EXPECT_EQ(fs::file_size(Path("out/second.bin")), second.size()) << cut;
    }
}

}  // namespace
}  // namespace qk
