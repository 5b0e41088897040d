// The qk program end to end: every command run as a user runs it, on the
// reference archives and on archives it writes itself, with its status, its
// output and its effects on disk checked, one table of outcomes per command.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "ToolRunner.h"
#include "qk1/ArchiveReader.h"
#include "support/TestSupport.h"

namespace qk {
namespace {

using test::RunShell;

// Each runs in a fresh folder holding t.qk1 (kTable) and in/a.txt ("hi\n").
struct O {
    std::string what, script;  // the shell script whose status and output count
    int status;
    std::vector<std::string> says;  // in its standard output or error (see test::Missing)
    std::string then{}, shows{};    // shell run afterwards under LC_ALL=C, and all it prints
    std::string input{};            // the script's standard input
};

const test::Entries kTable = {{"notes.txt", "new notes\n"},
                              {".bashrc", "new rc\n"},
                              {"sub\\a.txt", "new a\n"},
                              {"noise.bin", test::Noise(3000)}};

void RunAll(const std::vector<O>& outcomes) {
    for (const O& o : outcomes) {
        SCOPED_TRACE(o.what);
        const test::TempDir work;
        test::WriteArchiveFile(work.path() + "/t.qk1", kTable);
        const test::RunResult r =
            RunShell(work.path(), "mkdir in && echo hi >in/a.txt\n" + o.script, o.input);
        EXPECT_EQ(r.status, o.status) << r.out << r.err;
        EXPECT_EQ(test::Missing(r.out + r.err, o.says), "");
        // No temporary is left behind, whatever happened.
        EXPECT_EQ(
            RunShell(work.path(), "export LC_ALL=C\n" + o.then + "\nfind . -name '*qktmp*'").out,
            o.shows);
    }
}

std::string Sha(int entry) {
    return test::LoadVectorExpectation("basic")["entries_decoded"][entry]["sha256"].text;
}

TEST(ToolCommands, ListAndTest) {
    const std::string basic = test::VectorsDir() + "/basic.qk1";
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
        O("t: a cut-short archive names the entries of its batch",
          "head -c -2 t.qk1 >cut.qk1; qk t cut.qk1", 2,
          {"cut.qk1: FAILED: entry noise.bin: the archive is cut short\n"}),
    });
}

TEST(ToolCommands, Extract) {
    const std::string mine = "echo mine >notes.txt; echo mine >.bashrc; ";
    RunAll({
        O("x: a pattern, the files listed, their dates kept, no progress bar when redirected",
          "qk x $V/basic.qk1 -o out '*.txt'", 0, {"  out/readme.txt\n  out/notes.txt\n", "!%"},
          "cd out && sha256sum * && stat -c '%Y %n' *",
          Sha(1) + "  notes.txt\n" + Sha(0) +
              "  readme.txt\n1234567890 notes.txt\n946684800 readme.txt\n"),
        O("x --charset=cp932: the stored bytes", "qk x -q --charset=cp932 -ocp $V/names_sjis.qk1",
          0, {}, "find cp -type f | sort",
          "cp/dir/\x95\x5C/\x95\x5C\x8E\xA6.txt\ncp/end\x81\ncp/\x95\x5C.txt\ncp/\xB1/\xDF/z\n"
          "cp/\xEF\x5Cy\ncp/\xF0/w\n"),
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
        O("x asks: no", mine + "qk x t.qk1 notes.txt", 0,
          {"notes.txt exists. Replace it? [y]es, [n]o, [A]ll, [N]one, [r]ename: "}, "cat notes.txt",
          "mine\n", "n\n"),
        O("x asks: no one answers", mine + "qk x t.qk1 notes.txt .bashrc", 0, {},
          "cat notes.txt .bashrc", "mine\nmine\n"),
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
    });
}

TEST(ToolCommands, Print) {
    RunAll({
        O("p: an entry's bytes", "qk p $V/basic.qk1 data.bin | sha256sum", 0, {Sha(2) + "  -\n"}),
        O("p: entries in archive order",
          "qk p $V/basic.qk1 notes.txt readme.txt >both; wc -c <both; tail -c 1500 both | "
          "sha256sum",
          0, {"4500\n" + Sha(1) + "  -\n"}),
        O("p: a name no entry has", "qk p $V/basic.qk1 missing.txt", 2,
          {"qk: " + test::VectorsDir() + "/basic.qk1: no entry missing.txt\n"}),
    });
}

TEST(ToolCommands, Add) {
    const std::string names = "qk l --json x.qk1 | grep -o '\"name\":\"[^\"]*\"'";
    const std::string emoji = "in/\xF0\x9F\x98\x80.txt", a = "\"name\":\"in/a.txt\"\n";
    RunAll({
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
        O("a: a real tree at the fastest and the smallest level, with names and dates",
          "mkdir -p src/linux/\xE6\x97\xA5 src/linux/a/b; cp -R /usr/include/linux src/; "
          "echo hyou >src/linux/\xE6\x97\xA5/\xE8\xA1\xA8.txt; : >src/linux/empty; "
          "touch -d @315532800 src/linux/empty; head -c 70000 /dev/zero >src/linux/a/b/z; "
          "for l in 1 9; do qk a -q --level=$l l$l.qk1 -C src linux && "
          "qk x -q l$l.qk1 -o d$l || exit 2; done; test $(stat -c %s l9.qk1) -le $(stat -c %s "
          "l1.qk1)",
          0, {},
          "for d in src d1 d9; do (cd $d && find . -type f -exec stat -c '%Y %n' {} + | "
          "sort >../$d.times); done; diff -r src d1 && diff -r src d9 && "
          "cmp src.times d1.times && cmp src.times d9.times && grep empty d9.times",
          "315532800 ./linux/empty\n"),
        O("a --sfx: from qkdec-sfx beside qk, else from qkdec, or the program named",
          "mkdir bin run o && cp \"$QK\" \"$QKDEC\" bin/ && qk a -q --sfx small in && "
          "bin/qk a -q --sfx big in && qk t big && qk a -q --sfx-program \"$QKDEC\" run/self in && "
          "./small -d -y && cd run && ./self -y",
          0, {"big: OK (1 file"},
          "echo $(($(stat -c %s big) - $(stat -c %s \"$QKDEC\") - $(stat -c %s small) + "
          "$(stat -c %s \"$QKDEC_SFX\"))); cat o/in/a.txt run/in/a.txt",
          "0\nhi\nhi\n", "o\n"),
    });
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

// The names of the table as stored: relative, '\' between folders, CP932.
TEST(ToolCommands, AddStoresRelativeNamesWithBackslashes) {
    const test::TempDir work;
    const std::string top = work.path() + "/top.txt";
    ASSERT_EQ(RunShell(work.path(),
                       "mkdir -p in/sub && echo >in/sub/\xE8\xA1\xA8.txt && echo >in/b "
                       "&& echo >top.txt && qk a -q n.qk1 ./in/../in " +
                           top)
                  .status,
              0);
    ArchiveReader reader;
    ASSERT_EQ(reader.Open(work.path() + "/n.qk1"), Status::kOk);
    ASSERT_EQ(reader.ReadTable('\\'), Status::kOk);
    std::vector<std::string> names;
    for (int i = 0; i < reader.entries().names.Count(); ++i)
        names.emplace_back(reader.entries().names.Item(i));
    std::string absolute = top.substr(1);  // the root dropped, '\' between
    for (char& c : absolute) c = c == '/' ? '\\' : c;
    EXPECT_EQ(names, (std::vector<std::string>{"in\\b", "in\\sub\\\x95\x5C.txt", absolute}));
}

// qk a holds its inputs a few batches at a time, and its parse in bounded
// pieces: 64 files of 2 MiB of text (128 MiB, which the whole parse at level
// 1 would take over 700 MiB to hold) are packed by a process that peaks far
// below either. The bound leaves room for the compressed archive (about 50
// MiB), which is built in memory.
TEST(ToolCommands, AddHoldsItsInputsInBoundedMemory) {
#ifdef QK_SANITIZED
    GTEST_SKIP() << "the sanitizers' own memory would be measured";
#endif
    const test::TempDir work;
    ASSERT_EQ(RunShell(work.path(),
                       "mkdir big && awk 'BEGIN { for (n = 0;; n++) printf \"%.0f%s\", "
                       "n * 7919, n % 9 ? \" \" : \"\\n\" }' | head -c 134217728 | "
                       "split -b 2097152 -a 2 - big/f")
                  .status,
              0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (chdir(work.path().c_str()) == 0)
            execl(QK_PROGRAM, "qk", "a", "-q", "--level=1", "big.qk1", "big", nullptr);
        _exit(127);
    }
    int status = 0;
    struct rusage usage {};
    ASSERT_EQ(wait4(child, &status, 0, &usage), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_LT(usage.ru_maxrss / 1024, 320) << "qk a peaked at " << usage.ru_maxrss / 1024 << " MiB";
    EXPECT_EQ(RunShell(work.path(), "qk t -q big.qk1").status, 0);
}

}  // namespace
}  // namespace qk
