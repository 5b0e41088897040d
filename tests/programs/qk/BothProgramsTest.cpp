// qkdec and qk x on the same archives: one table, each row an archive made
// by the library's writer, what stands beside it, and what both programs
// (qkdec -y -dout/, qk x -f -o out) must do with it. Hostile names are
// refused alike, names land alike on disk and show alike on the console, a
// password gives one key. After every run nothing outside the output folder
// has changed, no temporary is left, and no control byte has reached the
// console; the two programs leave the same tree.
#include <gtest/gtest.h>

#include <array>
#include <filesystem>

#include "ToolRunner.h"
#include "platform/Text.h"
#include "support/TestSupport.h"

namespace qk {
namespace {

namespace fs = std::filesystem;
using test::RunShell;

struct Row {
    std::string what;
    test::Entries entries;
    int status;  // of both programs
    // In each one's output (standard output and error together): UTF-8, or
    // Shift-JIS under the C locale.
    std::string qkdecSays, qkSays;
    std::string setup{};          // shell, before each program
    std::string then{}, shows{};  // shell after each program (LC_ALL=C), and all it prints
    std::string prefix{};         // shell words before the program: a limit, the locale
    std::string key{}, args{};    // the archive's key bytes; the words that give the password
};

std::string Sjis(const std::string& utf8) {
    std::string cp932;
    EXPECT_TRUE(platform::Utf8ToCp932(utf8, cp932)) << utf8;
    return cp932;
}

std::string Outside(const std::string& name) {
    return "ファイル名(" + name + ")が出力先フォルダの外を指しています。";
}

#ifdef QK_SANITIZED
const std::string kLimit;
#else
const std::string kLimit = "ulimit -v 400000; ";  // reading an endless line on runs into it
#endif

std::vector<Row> Rows() {
    const std::string hyou = "\x95\x5C";  // 表, its second byte a backslash
    const std::string first = test::Noise(3000), second = test::Noise(2000, 8);
    const std::string noPassword = "パスワードが入力されませんでした。";
    std::string deep;
    for (int i = 0; i < 99999; ++i) deep += "a/";
    std::vector<Row> rows = {
        Row("a name of 100,000 components is refused at once", {{deep + "f", "x"}}, 2,
            "が作成(mkdir)できません。", "not extracted: the path is longer than the system allows",
            "", "ls -A out"),
        Row("a separator inside a character under the C locale",
            {{"first.txt", "1"}, {"\x81/x.txt", "x"}}, 2,
            Sjis("ファイル名(") + "\x81/x.txt" + Sjis(")はこのシステムでは使えません。"),
            "the file system would cut the name inside a character", "", "ls -A out", "",
            "LC_ALL=C"),
        Row("a link in the output folder is never written through", {{"link/new/x.txt", "x"}}, 2,
            "ディレクトリ(out/link)がシンボリックリンクです。",
            "its folder out/link is a symbolic link", "ln -s ../outside out/link"),
        Row("a link at the target is replaced, not followed", {{"t.txt", "new"}}, 0, "", "",
            "echo precious >outside/p; ln -s ../outside/p out/t.txt",
            "cat out/t.txt; test -L out/t.txt || echo ' in a file'", "new in a file\n"),
        Row("a later entry needs an earlier file as its folder", {{"f", "f"}, {"f/x", "x"}}, 2,
            "ファイル(out/f/x)が出力(fopen)できません。",
            "a file is in the way of its folder out/f", "", "cat out/f", "f"),
        // 0x80 takes the '/' after it into its character; nothing goes
        // through the link named like the escaped byte.
        Row("a link named %80 and an entry 80 2F newdir\\f.txt", {{"\x80/newdir\\f.txt", "f"}}, 0,
            "", "", "ln -s ../outside out/%80", "find out | sort",
            "out\nout/%80\nout/%80%2Fnewdir\nout/%80%2Fnewdir/f.txt\n"),
        Row("a.txt and ./a.txt are one file", {{"a.txt", "first"}, {"./a.txt", "second"}}, 0,
            "ファイル名(./a.txt)が重複しています。",
            "out/a.txt: another entry of the archive lands on this file too", "", "cat out/a.txt",
            "second"),
        Row("a file-size limit is a write failure that leaves the old file",
            {{"small.txt", "s"}, {"big.bin", first + first}, {"old.bin", first + first}}, 2,
            "ファイル(out/big.bin)が出力(fwrite)できません。", "out/big.bin: cannot write the file",
            "echo old >out/old.bin", "cat out/small.txt out/old.bin; ls out",
            "sold\nold.bin\nsmall.txt\n", "ulimit -f 4;"),
        Row("control bytes, and characters CP932 lacks, reach the console as they may",
            {{"bad\x1B[31mred\r\n\x07\x7F.txt", "x"}}, 0, "InFile: \xC3\xA9%1B.qk1",
            "  out/bad%1B[31mred%0D%0A%07%7F.txt\n", "mv a.qk1 \"$(printf '\\303\\251\\033').qk1\"",
            "ls out | od -An -c",
            "   b   a   d 033   [   3   1   m   r   e   d  \\r  \\n  \\a 177   .\n"
            "   t   x   t  \\n\n"),
        // The user-defined area, IBM-extension kanji, what is no character.
        Row("names beyond plain CP932 land and show alike under UTF-8",
            {{"\xF0\x83\xF0\x5B\x32\x4A.txt", "1"},
             {"\xFB\xFC\x8B\xB4.txt", "2"},
             {"a\x81.", "3"},
             {"\xF0\\x.txt", "4"},
             {"\x80/f.txt", "5"},
             {hyou + "\\" + hyou + ".txt", "6"},
             {"a\\b/c.txt", "7"}},
            0,
            "\xEE\x81\x82\xEE\x80\x9B"
            "2J.txt",
            "  out/\xEE\x81\x82\xEE\x80\x9B"
            "2J.txt\n",
            "", "cd out && find . -type f | sort",
            "./%80%2Ff.txt\n./%F0/x.txt\n./a%81%2E\n./a/b/c.txt\n./\xE8\xA1\xA8/\xE8\xA1\xA8.txt\n"
            "./\xE9\xAB\x99\xE6\xA9\x8B.txt\n./\xEE\x81\x82\xEE\x80\x9B"
            "2J.txt\n"),
        Row("the stored bytes under the C locale",
            {{"\xFF\xFE.txt", "8"}, {hyou + "\\" + hyou + ".txt", "a"}, {"a\\b/c", "b"}}, 0, "", "",
            "", "cd out && find . -type f | sort",
            "./a/b/c\n./" + hyou + "/" + hyou + ".txt\n./\xFF\xFE.txt\n", "LC_ALL=C"),
        Row("Windows device names are plain names here",
            {{"CON", "c"}, {"x/a:b", "a"}, {"dot.", "d"}}, 0, "", "", "",
            "cd out && find . -type f | sort", "./CON\n./dot.\n./x/a:b\n"),
        Row("a password with no CP932 form is taken as its bytes", {{"a.txt", "secret"}}, 0, "", "",
            "", "cat out/a.txt", "secret", "", "\xC3\xA9", "'-p\xC3\xA9'"),
        Row("a password with a CP932 form is taken as that", {{"a.txt", "secret"}}, 0, "", "", "",
            "cat out/a.txt", "secret", "", "\x93\xFA\x96\x7B", "'-p\xE6\x97\xA5\xE6\x9C\xAC'"),
        Row("a password line that never ends is none", {{"a.txt", "secret"}}, 2, noPassword,
            "needs a password", "", "ls -A out", "", kLimit + "exec </dev/zero;", "pw"),
        Row("a password line over 4 KiB is none", {{"a.txt", "secret"}}, 2, noPassword,
            "needs a password", "", "ls -A out", "",
            "(head -c 100000 /dev/zero | tr '\\0' x; printf '\\npw\\n') |", "pw"),
    };
    // Refused before anything is written or made, the output folder too:
    // names that leave it (C: alone too), name no file, or are too long.
    const std::string traversal = "nothing extracted", tooLong = "が出力(fopen)できません。";
    for (const auto& [name, qkdecSays, qkSays] : std::vector<std::array<std::string, 3>>{
             {"C:", Outside("C:"), "C:: not extracted: drive letter"},
             {"../up.txt", Outside("../up.txt"), traversal},
             {"a\\..\\..\\up.txt", Outside("a/../../up.txt"), traversal},
             {"/abs.txt", Outside("/abs.txt"), traversal},
             {"\\\\server\\x", Outside("//server/x"), traversal},
             {"sub/..", Outside("sub/.."), traversal},
             {"dir/", "ファイル名(dir/)はこのシステムでは使えません。",
              "dir/: not extracted: no file name"},
             {std::string(256, 'n'), tooLong, "a name longer than the file system allows"}})
        rows.push_back(Row("refused: " + name.substr(0, 20), {{"first.txt", "1"}, {name, "x"}}, 2,
                           qkdecSays, qkSays, "rmdir out", "ls -A", "a.qk1\noutside\n"));
    // Streams of literals: cut, they still decode to the end; only the bytes
    // past the end of the file tell. Every file is written, the last as decoded.
    rows.push_back(
        Row("cut short", {{"first.bin", first}, {"second.bin", second}}, 2,
            "QK Information:\n圧縮ファイル(a.qk1)が途中で切れています。\n",
            "entry second.bin: the archive is cut short", "head -c -5 a.qk1 >cut && mv cut a.qk1",
            "sha256sum <out/first.bin; wc -c <out/second.bin",
            test::Sha256Hex(reinterpret_cast<const std::uint8_t*>(first.data()), first.size()) +
                "  -\n2000\n"));
    return rows;
}

// Bytes that must never reach the console: C0 controls but line ends and
// carriage returns, DEL, and the C1 controls in UTF-8.
std::size_t ControlAt(const std::string& text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto b = static_cast<unsigned char>(text[i]);
        if ((b < 0x20 && b != '\n' && b != '\r') || b == 0x7F) return i;
        if (b == 0xC2 && i + 1 < text.size() && (text[i + 1] & 0xE0) == 0x80) return i;
    }
    return std::string::npos;
}

TEST(ToolBothPrograms, EveryRow) {
    for (const Row& row : Rows()) {
        SCOPED_TRACE(row.what);
        std::string trees[2];
        for (const bool qk : {false, true}) {
            SCOPED_TRACE(qk ? "qk" : "qkdec");
            const test::TempDir work;
            const std::string& dir = work.path();
            fs::create_directory(dir + "/outside");
            fs::create_directory(dir + "/out");
            test::WriteArchiveFile(dir + "/a.qk1", row.entries, row.key);
            ASSERT_EQ(RunShell(dir, row.setup).status, 0);
            const std::string around = "ls -A . outside; cat outside/* 2>/dev/null";
            const std::string before = RunShell(dir, around).out;
            const test::RunResult r =
                RunShell(dir, row.prefix + (qk ? " qk x -f -o out " : " qkdec -y -dout/ ") +
                                  row.args + " *.qk1 2>&1");
            EXPECT_EQ(r.status, row.status) << r.out.substr(0, 2000);
            EXPECT_NE(r.out.find(qk ? row.qkSays : row.qkdecSays), std::string::npos)
                << r.out.substr(0, 4000);
            EXPECT_EQ(ControlAt(r.out), std::string::npos) << r.out;
            EXPECT_EQ(RunShell(dir, around).out, before);
            trees[qk] = RunShell(dir, "LC_ALL=C find out | LC_ALL=C sort").out;
            EXPECT_EQ(trees[qk].find("qktmp"), std::string::npos);
            EXPECT_EQ(RunShell(dir, "export LC_ALL=C\n" + row.then).out, row.shows);
        }
        EXPECT_EQ(trees[0], trees[1]);
    }
}

// The file being written goes, an old one stays, the program ends by the
// signal (the shell reports 128 + n); skipping existing files afterwards
// keeps nothing cut short.
TEST(ToolBothPrograms, InterruptedWriteLeavesNothingHalfWritten) {
    const test::TempDir work;
    // 128 MiB of zeros: decoded in a moment, written in a good while.
    test::WriteArchiveFile(work.path() + "/a.qk1",
                           {{"small.txt", "s"}, {"big.bin", std::string(128u << 20, 0)}});
    for (const std::string program : {"qkdec -y -dout/", "qk x -f -o out"}) {
        for (const std::string signal : {"INT", "TERM"}) {
            const bool old = (program.rfind("qk ", 0) == 0) == (signal == "INT");
            SCOPED_TRACE(program + " " + signal);
            const std::string written = old ? "out/big.bin.qktmp-*" : "out/big.bin";
            EXPECT_EQ(
                RunShell(work.path(), "rm -rf out; mkdir out; " +
                                          std::string(old ? "echo old >out/big.bin; " : "") +
                                          "env --default-signal " + program +
                                          " a.qk1 >/dev/null & " + "until set -- " + written +
                                          "; [ -e \"$1\" ]; do kill -0 $! || break; done; kill -" +
                                          signal + " $!; wait $!; echo $?; ls out; " +
                                          "qk x -n -q -o out a.qk1 && wc -c <out/big.bin")
                    .out,
                std::string(signal == "INT" ? "130\n" : "143\n") +
                    (old ? "big.bin\nsmall.txt\n4\n" : "small.txt\n134217728\n"));
        }
    }
}

}  // namespace
}  // namespace qk
