// The built qk and qkdec run through the shell as a user runs them: every qk
// command in a table of outcomes, and one table of archives that both
// programs must treat alike.
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "qk1/ArchiveWriter.h"
#include "support/TestSupport.h"

namespace qk::test {
namespace {

std::string ReadText(const std::string& path) {
    const Bytes data = ReadFileBytes(path);
    return std::string(data.begin(), data.end());
}

struct RunResult {
    int status = -1;
    std::string out, err;
};

// Runs `script` with /bin/sh in `dir`, `input` on its standard input: qk,
// qkdec and qkdec-sfx of the build on the PATH (and as $QK, $QKDEC,
// $QKDEC_SFX), $V the folder of the reference archives, TZ=UTC, a UTF-8 locale.
RunResult RunShell(const std::string& dir, const std::string& script,
                   const std::string& input = "") {
    static TempDir io;  // the captured streams, out of the way of the commands
    const std::string at = io.path() + "/";
    std::ofstream(at + "script", std::ios::binary) << script << "\n";
    std::ofstream(at + "stdin", std::ios::binary) << input;
    const std::string programs = std::filesystem::path(QK_PROGRAM).parent_path().string();
    const std::string command =
        "cd '" + dir + "' && PATH='" + programs + "':\"$PATH\" QK='" +
        QK_PROGRAM "' QKDEC='" QKDEC_PROGRAM "' QKDEC_SFX='" QKDEC_SFX_PROGRAM "' V='" +
        VectorsDir() + "' TZ=UTC LC_ALL=C.UTF-8 /bin/sh '" + at + "script' <'" + at + "stdin' >'" +
        at + "stdout' 2>'" + at + "stderr'; echo $? >'" + at + "status'";
    if (std::system(command.c_str()) == -1) return {};
    return {std::atoi(ReadText(at + "status").c_str()), ReadText(at + "stdout"),
            ReadText(at + "stderr")};
}

using Entries = std::vector<std::pair<std::string, std::string>>;  // stored name, content

// An archive of `entries` by the library's writer, each dated 1000000000,
// scrambled under the key bytes `key` when it is not empty.
void WriteArchiveFile(const std::string& path, const Entries& entries,
                      const std::string& key = "") {
    std::vector<ArchiveEntry> list;
    for (const auto& [name, content] : entries)
        list.push_back({name, 1000000000, Bytes(content.begin(), content.end())});
    WriteOptions options;
    options.level = 1;
    options.usePassword = !key.empty();
    options.password = key;
    Bytes archive;
    std::string error;
    ASSERT_EQ(WriteArchive(std::move(list), options, archive, &error), Status::kOk) << error;
    WriteFileBytes(path, archive);
}

// `size` bytes that do not compress.
std::string NoiseText(std::size_t size, std::uint32_t seed = 7) {
    const Bytes bytes = Noise(size, seed);
    return std::string(bytes.begin(), bytes.end());
}

// Empty when `text` holds each of `fragments`, else what is amiss and the
// text. A fragment "!WORDS" must not stand in it.
std::string Missing(const std::string& text, const std::vector<std::string>& fragments) {
    std::string misses;
    for (const std::string& f : fragments) {
        const bool negated = f[0] == '!';
        if ((text.find(negated ? f.substr(1) : f) != std::string::npos) == negated)
            misses += (negated ? "there: " : "missing: ") + f + "\n";
    }
    return misses.empty() ? misses : misses + "in:\n" + text.substr(0, 4000);
}

#ifdef QK_SANITIZED
const std::string kLimit;  // the sanitizers reserve more than any bound
#else
const std::string kLimit = "ulimit -v 300000; ";  // KiB of address space
#endif

// Each runs in a fresh folder holding t.qk1 (kTable) and in/a.txt ("hi\n").
struct O {
    std::string what, script;  // the shell script whose status and output count
    int status;
    std::vector<std::string> says;  // in its standard output or error (see Missing)
    std::string then{}, shows{};    // shell run afterwards under LC_ALL=C, and all it prints
    std::string input{};            // the script's standard input
};

const Entries kTable = {{"notes.txt", "new notes\n"},
                        {".bashrc", "new rc\n"},
                        {"sub\\a.txt", "new a\n"},
                        {"noise.bin", NoiseText(3000)}};

void RunAll(const std::vector<O>& outcomes) {
    for (const O& o : outcomes) {
        SCOPED_TRACE(o.what);
        const TempDir work;
        WriteArchiveFile(work.path() + "/t.qk1", kTable);
        const RunResult r =
            RunShell(work.path(), "mkdir in && echo hi >in/a.txt\n" + o.script, o.input);
        EXPECT_EQ(r.status, o.status) << r.out << r.err;
        EXPECT_EQ(Missing(r.out + r.err, o.says), "");
        // No temporary is left behind, whatever happened.
        EXPECT_EQ(
            RunShell(work.path(), "export LC_ALL=C\n" + o.then + "\nfind . -name '*qktmp*'").out,
            o.shows);
    }
}

std::string Sha(int entry) {
    return LoadVectorExpectation("basic")["entries_decoded"][entry]["sha256"].text;
}

TEST(ToolCommands, ListAndTest) {
    const std::string basic = VectorsDir() + "/basic.qk1";
    RunAll({
        O("l: sizes, dates, names and totals", "qk l $V/basic.qk1", 0,
          {"Archive: " + basic +
           "\n"
           "         Size  Date       Time      Name\n"
           "-------------  ---------- --------  --------\n"
           "        3,000  2000-01-01 00:00:00  readme.txt\n"
           "        1,500  2009-02-13 23:31:30  notes.txt\n"
           "          700  2106-02-07 06:28:15  data.bin\n"
           "-------------                       --------\n"
           "        5,200                       3 files\n"}),
        O("l: names in the chosen charset",
          "qk l $V/names_sjis.qk1; qk l --charset=cp932 $V/names_sjis.qk1; "
          "qk --charset=raw l $V/names_sjis.qk1",
          0,
          {"  dir/\xE8\xA1\xA8/\xE8\xA1\xA8\xE7\xA4\xBA.txt\n", "  %EF%5Cy\n",
           "  dir/\x95\x5C/\x95\x5C\x8E\xA6.txt\n", "  end%81\n", "  end\x81\n"}),
        O("l --json: UTF-8 names, and the stored bytes beside those that are no plain CP932",
          "qk l --json $V/names_sjis.qk1 && qk l --json -p 'pass word' $V/sfx_small_prefix.qk1", 0,
          {"\"files\":6,\"size\":300,\"entries\":[\n  "
           "{\"name\":\"\xE8\xA1\xA8.txt\",\"size\":50,\"time\":0,",
           "{\"name\":\"%EF%5Cy\",\"name_hex\":\"ef5c79\",\"size\":50,\"time\":2,"
           "\"mtime\":\"1970-01-01T00:00:02Z\"}",
           "\"ok\":true,\"self_extracting\":true,\"password\":true,\"large_model\":false"}),
        O("l: a protected archive, no one to ask", "qk l $V/sfx_small_prefix.qk1", 2,
          {"needs a password"}),
        O("l: no archive", "qk l missing.qk1", 2, {"qk: missing.qk1: cannot open"}),
        O("t: per archive OK or what is wrong, nothing written",
          "echo not an archive, not at all >plain.txt; head -c 1200 $V/basic.qk1 >cut.qk1; "
          "qk t $V/basic.qk1 $V/damaged_overrun.qk1 plain.txt cut.qk1",
          2,
          {basic + ": OK (3 files, 5,200 bytes)\n",
           "damaged_overrun.qk1: FAILED: entry two.txt: damaged data",
           "plain.txt: FAILED: not a qk1 archive", "cut.qk1: FAILED"},
          "ls", "cut.qk1\nin\nplain.txt\nt.qk1\n"),
        O("t: the right password and a wrong one",
          "qk t -p 'pass word' $V/sfx_small_prefix.qk1 && qk t -pwrong $V/sfx_small_prefix.qk1", 2,
          {"sfx_small_prefix.qk1: OK (", "sfx_small_prefix.qk1: FAILED: wrong password"}),
        O("t: bytes after the data are counted, a program's trailer is not",
          "cp $V/basic.qk1 p.qk1; head -c 300 /dev/zero >>p.qk1; "
          "qk t p.qk1 $V/sfx_small_prefix.qk1 -p 'pass word'",
          0,
          {"p.qk1: OK (3 files, 5,200 bytes)\n",
           "qk: p.qk1: warning: 300 bytes after the end of the data\n", "!small_prefix.qk1: warn"}),
    });
}

TEST(ToolCommands, ExtractAndPrint) {
    const std::string mine = "echo mine >notes.txt; echo mine >.bashrc; ";
    RunAll({
        O("x: a pattern, the files listed, their dates kept, no progress bar when redirected",
          "qk x $V/basic.qk1 -o out '*.txt'", 0, {"  out/readme.txt\n  out/notes.txt\n", "!%"},
          "cd out && sha256sum * && stat -c '%Y %n' *",
          Sha(1) + "  notes.txt\n" + Sha(0) +
              "  readme.txt\n1234567890 notes.txt\n946684800 readme.txt\n"),
        O("x and qkdec: folders and archives with characters CP932 lacks, unchanged",
          "cp t.qk1 \xC3\xA9.qk1 && mkdir d\xC3\xA9 && qkdec -y -dd\xC3\xA9/ \xC3\xA9.qk1 && "
          "qk x -q -o q\xC3\xA9 \xC3\xA9.qk1",
          0, {"InFile: \xC3\xA9.qk1"}, "cat d\xC3\xA9/notes.txt q\xC3\xA9/notes.txt",
          "new notes\nnew notes\n"),
        O("x -n: skipped files are named with their folder",
          "mkdir out; echo mine >out/notes.txt; qk x -n -o out t.qk1 notes.txt sub", 0,
          {"  skipped out/notes.txt (exists)\n  out/sub/a.txt\n"}, "cat out/notes.txt", "mine\n"),
        O("x -k: the number before the extension, or after a name that has none",
          mine + "echo mine >'notes (1).txt'; qk x -k t.qk1 notes.txt .bashrc", 0, {},
          "cat notes.txt 'notes (2).txt' .bashrc '.bashrc (1)'", "mine\nnew notes\nmine\nnew rc\n"),
        O("x -f", mine + "qk x -f t.qk1 notes.txt", 0, {}, "cat notes.txt", "new notes\n"),
        O("x asks: no, then no one answers", mine + "qk x t.qk1 notes.txt .bashrc", 0,
          {"notes.txt exists. Replace it? [y]es, [n]o, [A]ll, [N]one, [r]ename: "},
          "cat notes.txt .bashrc", "mine\nmine\n", "n\n"),
        O("x asks: a wrong answer, then yes with CR LF", mine + "qk x t.qk1 notes.txt", 0, {},
          "cat notes.txt", "new notes\n", "maybe\ny\r\n"),
        O("x asks: All holds for the next file", mine + "qk x t.qk1 notes.txt .bashrc", 0, {},
          "cat notes.txt .bashrc", "new notes\nnew rc\n", "A\n"),
        O("x asks: rename, then None for the rest",
          mine + "mkdir sub; echo mine >sub/a.txt; qk x t.qk1", 0,
          {"  notes (1).txt\n", "  noise.bin\n"}, "cat 'notes (1).txt' .bashrc sub/a.txt",
          "new notes\nmine\nmine\n", "r\nN\n"),
        O("x: a progress bar at a terminal",
          "script -qec 'qk x $V/flags_lm1_ii1.qk1 -o tty' /dev/null", 0,
          {"100% [####################]", " KiB"}),
        O("x -q: none", "script -qec 'qk -q x $V/flags_lm1_ii1.qk1 -o tty' /dev/null", 0, {"!%"}),
        O("p: entries in archive order",
          "qk p $V/basic.qk1 data.bin readme.txt >both; head -c 3000 both | sha256sum; "
          "tail -c 700 both | sha256sum",
          0, {Sha(0) + "  -\n" + Sha(2) + "  -\n"}),
        O("p: a name no entry has", "qk p $V/basic.qk1 missing.txt", 2,
          {"qk: " + VectorsDir() + "/basic.qk1: no entry missing.txt\n"}),
    });
}

TEST(ToolCommands, Add) {
    const std::string names = "qk l --json x.qk1 | grep -o '\"name\":\"[^\"]*\"'";
    const std::string emoji = "in/\xF0\x9F\x98\x80.txt", a = "\"name\":\"in/a.txt\"\n";
    std::vector<O> outcomes = {
        O("a: model, insertion and password flags",
          "qk a -li -p secret p.qk1 in && qk l --json -p secret p.qk1", 0,
          {"p.qk1: 1 file, 3 -> ", "\"password\":true,\"large_model\":true,\"insert_inner\":true"}),
        O("a -P without a terminal", "qk a -P q.qk1 in", 2,
          {"a password can only be asked for at a terminal"}, "ls", "in\nt.qk1\n",
          "secret\nsecret\n"),
        O("a -P at a terminal: asked twice without echo, a backspace taken",
          "printf 'sec\\177cret\\rsecret\\r' | script -qec 'qk a -q -P p.qk1 in' /dev/null && "
          "qk t -p secret p.qk1",
          0, {"Repeat the password: ", "p.qk1: OK (1 file"}),
        O("a -P at a terminal: the two passwords differ",
          "printf 'one\\rtwo\\r' | script -qec 'qk a -q -P q.qk1 in' /dev/null", 2,
          {"the two passwords differ"}, "ls", "in\nt.qk1\n"),
        O("t at a terminal: a password line that never ends",
          "qk a -q -p pw p.qk1 in; head -c 100000 /dev/zero | script -qec 'qk t p.qk1' /dev/null",
          2, {"qk: the password line is too long", "p.qk1: FAILED"}),
        O("a: a name CP932 cannot hold stops the command, the old archive stays; "
          "--skip-errors leaves it out, writes the rest and fails",
          "echo old >x.qk1; echo x >" + emoji +
              "; qk a x.qk1 in; cat x.qk1; qk a --skip-errors x.qk1 in",
          2,
          {"qk: " + emoji + ": the name cannot be written in CP932 (Shift-JIS)\n",
           "qk: x.qk1: not written\n", "old\n",
           emoji + ": the name cannot be written in CP932 (Shift-JIS); left out\n",
           "x.qk1: written without 1 input that could not be taken"},
          names, a),
        O("a: a link to nothing or a missing input stops the command; --skip-errors leaves it out",
          "ln -s nowhere in/dangling; qk a x.qk1 in missing.txt; ls; qk a --skip-errors x.qk1 in",
          2,
          {"qk: in/dangling: a link to nothing\n", "qk: missing.txt: no such file or folder\n",
           "x.qk1: not written", "in\nt.qk1\n", "qk: in/dangling: a link to nothing; left out\n"},
          names, a),
        O("a: an empty folder and a link to a file are named",
          "mkdir in/empty && ln -s a.txt in/link && qk a x.qk1 in", 0,
          {"warning: in/empty: left out (an empty folder; archives hold only files)",
           "warning: in/link: a symbolic link; the file it leads to is stored"},
          names, a + "\"name\":\"in/link\"\n"),
        O("a: a pipe in a tree, directly or through a link, is left out unread",
          "mkfifo in/pipe && ln -s pipe in/to-pipe && timeout 20 qk a x.qk1 in", 0,
          {"warning: in/pipe: left out (a pipe, device or socket)",
           "warning: in/to-pipe: left out (a pipe, device or socket)"},
          names, a),
        O("a: a pipe named on the command line is an error",
          "mkfifo pipe && timeout 20 qk a x.qk1 pipe", 2,
          {"qk: pipe: not a file or folder (a pipe, device or socket)", "x.qk1: not written"}),
        O("a: a file over the format's limit is refused by its size, unread",
          "truncate -s 3G in/sparse && qk a x.qk1 in", 2,
          {"qk: in/sparse: too large for the format (3,221,225,472 bytes; an entry holds at most "
           "2,147,483,647)"}),
        O("a: a UTF-8 name under LC_ALL=C is stored as its bytes (which read 陦ｨ), with a hint",
          "echo x >in/\xE8\xA1\xA8.txt && LC_ALL=C qk a x.qk1 in", 0,
          {"warning: in/\xE8\xA1\xA8.txt: the name looks like UTF-8 but is stored as Shift-JIS "
           "bytes (if names are UTF-8: --charset=utf-8)"},
          names, a + "\"name\":\"in/\xE9\x99\xA6\xEF\xBD\xA8.txt\"\n"),
        O("a: a name refused under LC_ALL=C gets the hint too",
          "echo x >'in/a\\b.txt' && LC_ALL=C qk a x.qk1 in", 2,
          {"(if names are UTF-8: --charset=utf-8)"}),
        O("a and x: a real tree at the fastest and the smallest level, names and dates kept",
          "mkdir -p src/linux/\xE6\x97\xA5 && cp -R /usr/include/linux src/ && "
          "echo hyou >src/linux/\xE6\x97\xA5/\xE8\xA1\xA8.txt && : >src/linux/empty && "
          "touch -d @315532800 src/linux/empty && for l in 1 9; do "
          "qk a -q --level=$l l$l.qk1 -C src linux && qk x -q l$l.qk1 -o d$l || exit; done; "
          "test $(stat -c %s l9.qk1) -lt $(stat -c %s l1.qk1)",
          0, {},
          "t() { (cd $1 && find . -type f -exec stat -c '%Y %n' {} + | sort); }; t src >s; "
          "diff -r src d1 && diff -r src d9 && t d1 | cmp s && t d9 | cmp s && grep empty s",
          "315532800 ./linux/empty\n"),
        O("a --sfx: from qkdec-sfx beside qk, else from qkdec, or the program named",
          "mkdir bin run o && cp \"$QK\" \"$QKDEC\" bin/ && qk a -q --sfx small in && "
          "bin/qk a -q --sfx big in && qk t big && qk a -q --sfx-program \"$QKDEC\" run/self in && "
          "./small -d -y && cd run && ./self -y",
          0, {"big: OK (1 file"},
          "echo $(($(stat -c %s big) - $(stat -c %s \"$QKDEC\") - $(stat -c %s small) + "
          "$(stat -c %s \"$QKDEC_SFX\"))); cat o/in/a.txt run/in/a.txt",
          "0\nhi\nhi\n", "o\n"),
    };
#ifndef QK_SANITIZED
    // Held whole, the 128 MiB of text or its parse would take over 400 MiB.
    outcomes.push_back(O("a: inputs held a few batches at a time",
                         "mkdir big && seq 40000000 | head -c 134217728 | split -b 2097152 - "
                         "big/f && (" +
                             kLimit + "qk a -q --level=1 big.qk1 big) && qk t -q big.qk1",
                         0, {}));
    // A parse thread that runs out of memory is an error, never an abort.
    outcomes.push_back(
        O("a: out of memory", "seq 3000000 >big.txt && (ulimit -v 20000; qk a x.qk1 big.txt)", 2,
          {"qk: x.qk1: not enough memory\nqk: x.qk1: not written"}, "ls", "big.txt\nin\nt.qk1\n"));
#endif
    RunAll(outcomes);
}

TEST(ToolCommands, Usage) {
    std::vector<O> outcomes = {
        O("help", "qk help a && qk --help && qk --version", 0,
          {"Usage: qk a [OPTIONS]", "Usage: qk COMMAND", "qk 1."}),
        O("help of no command", "qk help frobnicate", 1,
          {"qk: no such command: 'frobnicate'\nTry 'qk --help'.\n"}),
    };
    for (const char* bad : {"", "frobnicate a.qk1", "x", "p a.qk1", "l --nope a.qk1",
                            "l -o d a.qk1", "x --existing=maybe a.qk1", "a --level=10 b.qk1 in"})
        outcomes.push_back(
            O(bad, std::string("qk ") + bad, 1, {"Try 'qk --help'.\n"}, "ls", "in\nt.qk1\n"));
    RunAll(outcomes);
}

// Each row an archive, what stands beside it, and what qkdec -y -dout/ and
// qk x -f -o out must both do with it. After every run nothing outside the
// output folder has changed, no temporary is left, and no control byte has
// reached the console; the two programs leave the same tree.
struct Row {
    std::string what;
    Entries entries;
    int status;  // of both programs
    // In each one's standard output and error: UTF-8, or Shift-JIS under the C locale.
    std::string qkdecSays, qkSays;
    std::string setup{};          // shell, before each program
    std::string then{}, shows{};  // shell after each program (LC_ALL=C), and all it prints
    std::string prefix{};         // shell words before the program: a limit, the locale
    std::string key{}, args{};    // the archive's key bytes; the words that give the password
};

std::string Outside(const std::string& name) {
    return "ファイル名(" + name + ")が出力先フォルダの外を指しています。";
}

std::vector<Row> Rows() {
    const std::string hyou = "\x95\x5C";  // 表, its second byte a backslash
    const std::string first = NoiseText(3000), second = NoiseText(2000, 8);
    const std::string noPassword = "パスワードが入力されませんでした。";
    std::vector<Row> rows = {
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
            0, "\xEE\x81\x82\xEE\x80\x9B\x32J.txt", "  out/\xEE\x81\x82\xEE\x80\x9B\x32J.txt\n", "",
            "cd out && find . -type f | sort",
            "./%80%2Ff.txt\n./%F0/x.txt\n./a%81%2E\n./a/b/c.txt\n./\xE8\xA1\xA8/\xE8\xA1\xA8.txt\n"
            "./\xE9\xAB\x99\xE6\xA9\x8B.txt\n./\xEE\x81\x82\xEE\x80\x9B\x32J.txt\n"),
        Row("the stored bytes under the C locale",
            {{"\xFF\xFE.txt", "8"}, {hyou + "\\" + hyou + ".txt", "a"}, {"a\\b/c", "b"}}, 0, "", "",
            "", "cd out && find . -type f | sort",
            "./a/b/c\n./" + hyou + "/" + hyou + ".txt\n./\xFF\xFE.txt\n", "LC_ALL=C"),
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
            Sha256Hex(reinterpret_cast<const std::uint8_t*>(first.data()), first.size()) +
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
            const TempDir work;
            const std::string& dir = work.path();
            std::filesystem::create_directory(dir + "/outside");
            std::filesystem::create_directory(dir + "/out");
            WriteArchiveFile(dir + "/a.qk1", row.entries, row.key);
            ASSERT_EQ(RunShell(dir, row.setup).status, 0);
            const std::string around = "ls -A . outside; cat outside/* 2>/dev/null";
            const std::string before = RunShell(dir, around).out;
            const RunResult r =
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
    const TempDir work;
    // 128 MiB of zeros: decoded in a moment, written in a good while.
    WriteArchiveFile(work.path() + "/a.qk1",
                     {{"small.txt", "s"}, {"big.bin", std::string(128u << 20, 0)}});
    for (const std::string program : {"qkdec -y -dout/", "qk x -f -o out"}) {
        for (const std::string signal : {"INT", "TERM"}) {
            const bool old = (program.rfind("qk ", 0) == 0) == (signal == "INT");
            SCOPED_TRACE(program + " " + signal);
            const std::string script =
                std::string("rm -rf out; mkdir out; ") + (old ? "echo old >out/big.bin; " : "") +
                "env --default-signal " + program + " a.qk1 >/dev/null & until set -- out/big.bin" +
                (old ? ".qktmp-*" : "") + "; [ -e \"$1\" ]; do kill -0 $! || break; done; kill -" +
                signal +
                " $!; wait $!; echo $?; ls out; qk x -n -q -o out a.qk1 && wc -c <out/big.bin";
            EXPECT_EQ(RunShell(work.path(), script).out,
                      (signal == "INT" ? "130\n" : "143\n") +
                          std::string(old ? "big.bin\nsmall.txt\n4\n" : "small.txt\n134217728\n"));
        }
    }
}

}  // namespace
}  // namespace qk::test
