// The built qkdec run as a user runs it: exact console bytes, exit codes, and
// what lands on disk (files, folders, modification times).
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <functional>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "ProgramFixture.h"
#include "ProgramRunner.h"
#include "SampleTree.h"
#include "format/EntryTable.h"
#include "platform/FileSystem.h"
#include "platform/Text.h"
#include "qk1/ArchiveWriter.h"
#include "qkdec/NumberText.h"
#include "support/TestSupport.h"

namespace qk {
namespace {

namespace fs = std::filesystem;
using test::Bytes;
using test::Sjis;

using test::kBanner;

std::string Usage() {
    return " usage  : A> qkdec [-d|-dOutDirName] [-pPassWord] [-y] <FileName.qk1>\n" +
           Sjis(
               "        : A> qkdec FileName.qk1           (ファイル'FileName.qk1'を解凍)\n"
               "        : A> qkdec -d FileName.qk1        (解凍して選択したディレクトリに出力)\n"
               "        : A> qkdec -dC:\\TMP\\ FileName.qk1 "
               "(解凍してディレクトリ'C:\\TMP\\'に出力)\n"
               "        : A> qkdec -pPASSWD FileName.qk1  (パスワードに'PASSWD'を指定して解凍)\n"
               "        : A> qkdec -y FileName.qk1        (Yes/No Question にて YES を選択)\n");
}

Bytes Filled(std::size_t size, const char* pattern) {
    Bytes data(size);
    for (std::size_t i = 0; i < size; ++i)
        data[i] = static_cast<std::uint8_t>(pattern[i % 7] + i / 97 % 5);
    return data;
}

// The tree most tests use: Shift-JIS folder and file names, an empty file,
// two batches ([3000] and [1500, 0, 700, 400]).
std::vector<ArchiveEntry> Tree() {
    return {{"readme.txt", 946684800, Filled(3000, "readme ")},
            {Sjis("docs\\表\\メモ.txt"), 1234567890, Filled(1500, "memo,. ")},
            {"docs/empty.dat", 1000000001, {}},
            {"data.bin", 1500000000, Filled(700, "\x01\x02\x03\x80\xff\x00\x10")},
            {"notes.txt", 1600000000, Filled(400, "notes  ")}};
}

class ProgramTest : public test::ProgramFixture {
  protected:
    // Every entry of Tree() under `folder` (program text) with its bytes and date.
    void ExpectTree(const std::string& folder) {
        for (const ArchiveEntry& entry : Tree()) {
            std::string name = entry.name;
            NormaliseSeparators(name, '/');
            const std::string path = folder + name;
            const platform::FileStatus status = platform::QueryFile(path);
            ASSERT_TRUE(status.exists) << path;
            EXPECT_EQ(status.modifiedTime, entry.time) << path;
            EXPECT_EQ(test::ReadFileBytes(path), entry.data) << path;
        }
    }

    // A self-extracting program at `relative` carrying Tree() under the
    // password "secret"; its full path.
    std::string WriteSelfExtracting(const std::string& relative) {
        Bytes archive;
        std::string error;
        WriteOptions options;
        options.usePassword = true;
        options.password = "secret";
        EXPECT_EQ(qk::WriteArchive(Tree(), options, archive, &error), qk::Status::kOk) << error;
        fs::create_directories(fs::path(Path(relative)).parent_path());
        Bytes image;
        EXPECT_EQ(MakeSelfExtracting(test::ReadFileBytes(QKDEC_PATH), archive, image),
                  qk::Status::kOk);
        test::WriteFileBytes(Path(relative), image);
        fs::permissions(Path(relative), fs::perms::owner_all);
        return Path(relative);
    }

    std::string ArchiveSize(const std::string& name) const {
        return NumberText(static_cast<std::int64_t>(fs::file_size(Path(name)))).c_str();
    }
};

// ---------------------------------------------------------------------------
// Command line
// ---------------------------------------------------------------------------

TEST_F(ProgramTest, EmptyCommandLineShowsTheUsage) {
    const test::ProgramRun run = Run({});
    EXPECT_EQ(run.output, kBanner + Usage());
    EXPECT_EQ(run.exitCode, 1);
}

TEST_F(ProgramTest, IllegalOptionsStopBeforeAnyArchive) {
    WriteArchive("tree.qk1", Tree());
    for (const std::string option : {"-x", "-Y", "-D", "-p", "-"}) {
        const test::ProgramRun run = Run({"-y", "tree.qk1", option, "-q"});
        EXPECT_EQ(run.output, kBanner + " Illegal Option!! : " + option + "\n\n" + Usage())
            << option;
        EXPECT_EQ(run.exitCode, 1);
    }
    EXPECT_FALSE(fs::exists(Path("readme.txt")));
}

TEST_F(ProgramTest, OptionsAloneProcessNothing) {
    const test::ProgramRun run = Run({"-y", "-yes", "-psecret", "-dout"});
    EXPECT_EQ(run.output, kBanner);
    EXPECT_EQ(run.exitCode, 0);
}

// ---------------------------------------------------------------------------
// Extraction
// ---------------------------------------------------------------------------

TEST_F(ProgramTest, ExtractsTheTreeWithExactConsoleOutput) {
    WriteArchive("tree.qk1", Tree());
    fs::create_directory(Path("out"));
    const test::ProgramRun run = Run({"-dout", "tree.qk1"});
    EXPECT_EQ(test::MaskSeconds(run.output),
              test::MaskSeconds(kBanner + "InFile: tree.qk1 (" + ArchiveSize("tree.qk1") +
                                " byte)\n 100%\rOutDir: out/ (5 file: 5,600 byte)\n   0%\r"
                                "OutFile(1/5): readme.txt (3,000 byte)\n  53%\r" +
                                Sjis("OutFile(2/5): docs/表/メモ.txt (1,500 byte)\n") +
                                "OutFile(3/5): docs/empty.dat (0 byte)\n"
                                "OutFile(4/5): data.bin (700 byte)\n"
                                "OutFile(5/5): notes.txt (400 byte)\n 100%\rQK Information:\n" +
                                Sjis("伸長処理を終了しました。(処理時間：0.00 秒)\n")));
    EXPECT_EQ(run.exitCode, 0);
    ExpectTree(Path("out/"));
}

TEST_F(ProgramTest, Utf8LocaleShowsAndWritesUtf8) {
    WriteArchive("tree.qk1", Tree());
    fs::create_directory(Path("c"));
    fs::create_directory(Path("u"));
    const test::ProgramRun c = Run({"-dc", "tree.qk1"});
    const test::ProgramRun u = Run({"-du", "tree.qk1"}, "", "C.UTF-8");
    std::string converted;
    ASSERT_TRUE(platform::Cp932ToUtf8(test::MaskSeconds(c.output), converted));
    EXPECT_EQ(test::MaskSeconds(u.output),
              std::string(converted).replace(converted.find("OutDir: c/"), 10, "OutDir: u/"));
    EXPECT_TRUE(fs::exists(Path(Sjis("c/docs/表/メモ.txt"))));
    EXPECT_TRUE(fs::exists(Path("u/docs/表/メモ.txt")));
    EXPECT_EQ(u.exitCode, 0);
}

TEST_F(ProgramTest, OutputFolderForms) {
    WriteArchive("tree.qk1", Tree());
    fs::create_directory(Path("out"));
    // With or without its separator, the folder is shown with one.
    for (const std::string option : {"-dout", "-dout/"}) {
        EXPECT_NE(Run({"-y", option, "tree.qk1"}).output.find("OutDir: out/ (5 file"),
                  std::string::npos);
    }
    // A lone -d asks for the folder.
    fs::remove_all(Path("out"));
    fs::create_directory(Path("out"));
    const test::ProgramRun asked = Run({"-d", "tree.qk1"}, "out\n");
    EXPECT_EQ(
        asked.output.substr(kBanner.size())
            .find(Sjis("QK InputDirName:\n解凍ファイルの出力フォルダを選んでください。?:InFile:")),
        0u);
    ExpectTree(Path("out/"));
    // Nothing typed: the archive's own folder.
    const test::ProgramRun unanswered = Run({"-d", "tree.qk1"});
    EXPECT_NE(unanswered.output.find("OutDir:  (5 file"), std::string::npos);
    ExpectTree(Path(""));
    // "-d out" is a lone -d and an archive named out (a folder: it cannot be read).
    const test::ProgramRun separate = Run({"-d", "out"}, "\n");
    EXPECT_NE(
        separate.output.find(Sjis("ファイル(out)が入力(fread)できません。\n処理を中止します。")),
        std::string::npos);
    EXPECT_EQ(separate.exitCode, 2);
}

TEST_F(ProgramTest, DamagedFirstArchiveDoesNotStopTheSecond) {
    fs::copy_file(test::VectorsDir() + "/damaged_overrun.qk1", Path("damaged.qk1"));
    WriteArchive("tree.qk1", Tree());
    const test::ProgramRun run = Run({"damaged.qk1", "tree.qk1"});
    EXPECT_NE(
        run.output.find("QK Message: \n" +
                        Sjis("入力データが異常である。\n入力データ内にエリアを超えて解凍しよう"
                             "とするコードがある。\nファイルを出力せずに終了します。\n")),
        std::string::npos);
    EXPECT_TRUE(fs::exists(Path("one.txt")));   // its first batch was complete
    EXPECT_FALSE(fs::exists(Path("two.txt")));  // the failing batch writes nothing
    ExpectTree(Path(""));
    EXPECT_EQ(run.exitCode, 2);
}

TEST_F(ProgramTest, UnwritableFolderAndEscapingNamesFail) {
    WriteArchive("tree.qk1", Tree());
    test::WriteFileBytes(Path("plain"), {});
    const test::ProgramRun blocked = Run({"-dplain", "tree.qk1"});
    EXPECT_NE(blocked.output.find(Sjis("ファイル(plain/readme.txt)が出力(fopen)できません。")),
              std::string::npos);
    EXPECT_EQ(blocked.exitCode, 2);

    fs::create_directory(Path("out"));
    for (const std::string name : {"../evil.txt", "a/../../evil.txt", "/tmp/evil.txt", "C:evil"}) {
        WriteArchive("evil.qk1", {{"fine.txt", 0, {'a'}}, {name, 0, {'b'}}});
        const test::ProgramRun run = Run({"-dout", "evil.qk1"});
        EXPECT_EQ(run.output,
                  kBanner + "QK Message: \n" +
                      Sjis("ファイル名(" + name +
                           ")が出力先フォルダの外を指しています。\n処理を中止します。\n"))
            << name;
        EXPECT_EQ(run.exitCode, 2);
    }
    EXPECT_TRUE(fs::is_empty(Path("out")));
    EXPECT_FALSE(fs::exists(Path("evil.txt")));
}

// ---------------------------------------------------------------------------
// Existing files: overwrite, compare, or nothing
// ---------------------------------------------------------------------------

const char kExisting[] =
    "QK Question:\nファイル(5 file)が既に存在します。\n上書きしますか？ [y/n]:";
const char kAskCompare[] =
    "QK Question:\nファイルの内容と圧縮ファイルの内容を比較しますか？ [y/n]:";

TEST_F(ProgramTest, ExistingTargetsAnsweredYesNoAndAllYes) {
    WriteArchive("tree.qk1", Tree());
    ASSERT_EQ(Run({"tree.qk1"}).exitCode, 0);
    test::WriteFileBytes(Path("readme.txt"), {'o', 'l', 'd'});

    // Answer lines of any length; only the first character counts.
    const test::ProgramRun no = Run({"tree.qk1"}, "n" + std::string(200, 'y') + "\nNo\n");
    EXPECT_EQ(no.output, kBanner + Sjis(kExisting) + Sjis(kAskCompare) + "QK Information:\n" +
                             Sjis("ファイルを出力せずに終了します。\n"));
    EXPECT_EQ(no.exitCode, 0);
    EXPECT_EQ(test::ReadFileBytes(Path("readme.txt")), (Bytes{'o', 'l', 'd'}));

    const test::ProgramRun yes = Run({"tree.qk1"}, "y\n");
    EXPECT_EQ(yes.output.find(Sjis(kExisting) + "InFile:"), kBanner.size());
    ExpectTree(Path(""));

    test::WriteFileBytes(Path("readme.txt"), {'o', 'l', 'd'});
    const test::ProgramRun all = Run({"-yes", "tree.qk1"});
    EXPECT_EQ(all.output.find(Sjis(kExisting) + "All YES.\nInFile:"), kBanner.size());
    ExpectTree(Path(""));
}

TEST_F(ProgramTest, CompareFindsEachKindOfDifference) {
    WriteArchive("tree.qk1", Tree());
    ASSERT_EQ(Run({"tree.qk1"}).exitCode, 0);

    const test::ProgramRun same = Run({"tree.qk1"}, "n\ny\n");
    EXPECT_NE(same.output.find(Sjis("比較処理を終了しました。\nファイルの内容と一致します。")),
              std::string::npos);
    EXPECT_NE(same.output.find("CompDir:  (5 file: 5,600 byte)\n"), std::string::npos);
    EXPECT_NE(same.output.find("CompFile(3/5): docs/empty.dat (0 byte)\n"), std::string::npos);

    Bytes readme = test::ReadFileBytes(Path("readme.txt"));
    readme.back() ^= 0x20;
    test::WriteFileBytes(Path("readme.txt"), readme);
    platform::SetFileTime(Path("readme.txt"), 946684800);
    fs::resize_file(Path(Sjis("docs/表/メモ.txt")), 1499);
    platform::SetFileTime(Path("data.bin"), 1500000001);        // even time + 1: equal
    platform::SetFileTime(Path("docs/empty.dat"), 1000000002);  // odd time + 1: differs
    fs::remove(Path("notes.txt"));

    const std::string head =
        "QK Question:\n" + Sjis("比較ファイルの内容と圧縮ファイルの内容が不一致です。\n");
    const std::string tail = Sjis("比較処理を続けますか？ [y/n]:");
    const test::ProgramRun diff = Run({"tree.qk1"}, "n\ny\ny\ny\ny\ny\n");
    char detail[32];
    // The archive's byte first, then the file's.
    std::snprintf(detail, sizeof detail, "[0x%02X] [0x%02X]\n", readme.back() ^ 0x20,
                  readme.back());
    for (const std::string& question :
         {head + Sjis("比較ファイル(readme.txt)の 2,999 byte 目のデータが一致しない。\n") + detail +
              tail,
          head +
              Sjis("比較ファイル(docs/表/メモ.txt)のサイズと圧縮ファイル内のファイルサイズ\n"
                   "(1,499 byte, 1,500 byte)が異なります。\n") +
              tail,
          head +
              Sjis("比較ファイル(docs/empty.dat)の更新日付が異なります。\n"
                   "比較ファイル：Sun Sep  9 01:46:42 2001\n"
                   "圧縮ファイル：Sun Sep  9 01:46:41 2001\n") +
              tail,
          head + Sjis("比較ファイル(notes.txt)は存在しません。\n") + tail,
          "QK Information:\n" + Sjis("比較処理を終了しました。\nファイルの内容と一致しません。")}) {
        EXPECT_NE(diff.output.find(question), std::string::npos) << question;
    }
    EXPECT_EQ(diff.output.find(Sjis("比較ファイル(data.bin)")), std::string::npos);
    EXPECT_EQ(diff.exitCode, 0);

    // No at the first difference: nothing more is compared, no closing text.
    const test::ProgramRun stopped = Run({"tree.qk1"}, "n\ny\nn\n");
    EXPECT_EQ(stopped.output.find("CompFile(2/5)"), std::string::npos);
    EXPECT_EQ(stopped.output.find("QK Information:"), std::string::npos);
    EXPECT_EQ(stopped.exitCode, 0);
    EXPECT_EQ(test::ReadFileBytes(Path("readme.txt")), readme);
}

// ---------------------------------------------------------------------------
// Passwords
// ---------------------------------------------------------------------------

TEST_F(ProgramTest, PasswordFromOptionFromInputOrMissing) {
    WriteArchive("locked.qk1", Tree(), "secret");
    const std::string prompt = "QK InputPassword:\n" + Sjis("パスワードを入力して下さい。?:");
    const std::string wrong =
        "QK Information:\n" + Sjis("パスワードが一致しません。\n処理を中止します。\n");
    const std::string none =
        "QK Information:\n" + Sjis("パスワードが入力されませんでした。\n処理を中止します。\n");

    test::ProgramRun run = Run({"-pwrong", "locked.qk1"});
    EXPECT_EQ(run.output, kBanner + wrong);
    EXPECT_EQ(run.exitCode, 2);
    run = Run({"locked.qk1"});
    EXPECT_EQ(run.output, kBanner + prompt + none);
    EXPECT_EQ(run.exitCode, 2);
    run = Run({"locked.qk1"}, "secre\n");
    EXPECT_EQ(run.output, kBanner + prompt + wrong);
    EXPECT_FALSE(fs::exists(Path("readme.txt")));

    run = Run({"locked.qk1"}, "secret\n");
    EXPECT_EQ(run.output.find(prompt + "InFile: locked.qk1"), kBanner.size());
    EXPECT_EQ(run.exitCode, 0);
    ExpectTree(Path(""));
    run = Run({"-y", "-psecret", "locked.qk1"});
    EXPECT_EQ(run.exitCode, 0);

    // No length limit on a password.
    const std::string longPassword(300, 'k');
    WriteArchive("long.qk1", Tree(), longPassword);
    fs::create_directory(Path("long"));
    EXPECT_EQ(Run({"-dlong", "long.qk1"}, longPassword + "\n").exitCode, 0);
    ExpectTree(Path("long/"));
}

TEST_F(ProgramTest, PasswordTypedAtATerminalIsMasked) {
    if (!test::TerminalAvailable()) GTEST_SKIP() << "no `script` command to run a terminal";
    WriteArchive("locked.qk1", Tree(), "secret");
    const std::string prompt = Sjis("パスワードを入力して下さい。?:");

    // Backspace as 127 and Enter as CR; then Backspace as 8 and Enter as LF.
    const std::pair<std::string, std::string> cases[] = {
        {"sex\x7F"
         "cret\r",
         "***\r" + prompt + "**" + "****"},
        {"secrex\bt\n", "******\r" + prompt + "*****" + "*"},
    };
    for (const auto& [keys, echo] : cases) {
        fs::remove_all(Path("out"));
        fs::create_directory(Path("out"));
        const test::ProgramRun run =
            test::RunQkdecAtTerminal({"-dout", "locked.qk1"}, Settings(), keys);
        EXPECT_NE(run.output.find(prompt + echo + "InFile:"), std::string::npos) << run.output;
        EXPECT_EQ(run.output.find("sec"), std::string::npos);  // never echoed
        EXPECT_EQ(run.exitCode, 0);
        ExpectTree(Path("out/"));
    }

    const test::ProgramRun esc = test::RunQkdecAtTerminal({"locked.qk1"}, Settings(), "ab\x1B");
    EXPECT_NE(esc.output.find(prompt + "**\r\nQK Information:\r\n" +
                              Sjis("パスワードが入力されませんでした。")),
              std::string::npos);
    EXPECT_EQ(esc.exitCode, 2);
}

TEST_F(ProgramTest, JapanesePasswordIsTakenAsShiftJis) {
    WriteArchive("locked.qk1", Tree(), Sjis("表示パス"));
    fs::create_directories(Path("a"));
    fs::create_directories(Path("b"));
    fs::create_directories(Path("c"));
    EXPECT_EQ(Run({"-da", "-p表示パス", "locked.qk1"}, "", "C.UTF-8").exitCode, 0);
    EXPECT_EQ(Run({"-db", "locked.qk1"}, "表示パス\n", "C.UTF-8").exitCode, 0);
    EXPECT_EQ(Run({"-dc", "-p" + Sjis("表示パス"), "locked.qk1"}).exitCode, 0);
    ExpectTree(Path("c/"));
    EXPECT_TRUE(fs::exists(Path("a/docs/表/メモ.txt")));
    EXPECT_TRUE(fs::exists(Path("b/docs/表/メモ.txt")));
}

// ---------------------------------------------------------------------------
// Self-extracting program
// ---------------------------------------------------------------------------

TEST_F(ProgramTest, SelfExtractingProgramExtractsBesideItself) {
    const std::string program = WriteSelfExtracting("bin/tree");

    // Plain words are passwords, the last one wins; without -d the entries
    // go beside the program.
    const test::ProgramRun run = test::RunQkdec({"wrong", "-y", "secret"}, Settings("", program));
    EXPECT_EQ(run.output.find("InFile: tree ("), kBanner.size());
    EXPECT_NE(run.output.find("OutDir: " + Path("bin/") + " (5 file"), std::string::npos);
    EXPECT_EQ(run.exitCode, 0);
    ExpectTree(Path("bin/"));

    const test::ProgramRun asked = test::RunQkdec({}, Settings("", program));
    EXPECT_NE(asked.output.find("QK InputPassword:"), std::string::npos);
    EXPECT_EQ(asked.exitCode, 2);
}

// Where qkdec once went wrong, one run each: what it shows, where the entries
// land, its exit code.
TEST_F(ProgramTest, OutcomesOfFoldersAndComparisons) {
    const std::string missing =
        "QK Question:\n" + Sjis(
                               "比較ファイルの内容と圧縮ファイルの内容が不一致です。\n"
                               "比較ファイル(docs/empty.dat)は存在しません。\n");
    const std::string noMatch = Sjis("比較処理を終了しました。\nファイルの内容と一致しません。");
    const std::string folderAsked =
        Sjis("QK InputDirName:\n解凍ファイルの出力フォルダを選んでください。?:") + "InFile: tree (";
    struct Case {
        const char* what;
        std::function<void()> prepare;  // run in the test's folder before qkdec
        bool selfExtracting;            // run bin/tree, a program carrying Tree()
        std::vector<std::string> args;
        std::string input;
        std::vector<std::string> shown;  // each somewhere in the output
        std::string treeIn;              // where Tree() lands, below the test's folder
    };
    const auto extracted = [this] {
        WriteArchive("tree.qk1", Tree());
        ASSERT_EQ(Run({"tree.qk1"}).exitCode, 0);
    };
    const Case cases[] = {
        {"a folder where an empty entry is expected, with its time",
         [&] {
             extracted();
             fs::remove(Path("docs/empty.dat"));
             fs::create_directory(Path("docs/empty.dat"));
             platform::SetFileTime(Path("docs/empty.dat"), 1000000001);
         },
         false,
         {"tree.qk1"},
         "n\ny\ny\n",
         {missing, noMatch},
         ""},
#ifndef _WIN32
        {"a pipe where an empty entry is expected",
         [&] {
             extracted();
             fs::remove(Path("docs/empty.dat"));
             ASSERT_EQ(mkfifo(Path("docs/empty.dat").c_str(), 0600), 0);
         },
         false,
         {"tree.qk1"},
         "n\ny\ny\n",
         {missing, noMatch},
         ""},
#endif
        {"a self-extracting program given a folder",
         [&] { fs::create_directory(Path("given")); },
         true,
         {"-dgiven", "-y", "secret"},
         "",
         {"InFile: tree (", "OutDir: given/ (5 file"},
         "given/"},
        {"a self-extracting program asking for a folder",
         [&] { fs::create_directory(Path("typed")); },
         true,
         {"-d", "-y", "secret"},
         "typed\n",
         {folderAsked, "OutDir: typed/ (5 file"},
         "typed/"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (const auto& entry : fs::directory_iterator(dir_.path())) fs::remove_all(entry.path());
        c.prepare();
        const std::string program = c.selfExtracting ? WriteSelfExtracting("bin/tree") : "";
        const test::ProgramRun run = test::RunQkdec(c.args, Settings(c.input, program));
        for (const std::string& text : c.shown) {
            EXPECT_NE(run.output.find(text), std::string::npos) << text << "\nin:\n" << run.output;
        }
        EXPECT_EQ(run.exitCode, 0);
        if (c.selfExtracting) {
            ExpectTree(Path(c.treeIn));
            EXPECT_FALSE(fs::exists(Path("bin/readme.txt"))) << "nothing beside the program";
        }
    }
}

// ---------------------------------------------------------------------------
// The sample archive of the repository
// ---------------------------------------------------------------------------

TEST_F(ProgramTest, ShippedSampleIsWhatTheGeneratorWrites) {
    Bytes made;
    std::string error;
    ASSERT_EQ(test::WriteSampleArchive(made, &error), Status::kOk) << error;
    EXPECT_TRUE(made == test::ReadFileBytes(QK_SAMPLES_DIR "/sample.qk1"))
        << "samples/sample.qk1 is not what the writer makes of the sample tree now (" << made.size()
        << " bytes); remake it from the source folder with\n"
        << "  build/tests/programs/qkdec/MakeSample samples/sample.qk1";
}

TEST_F(ProgramTest, ShippedSampleHoldsTheGeneratorsTree) {
    fs::create_directory(Path("out"));
    const test::ProgramRun run = Run({"-dout", QK_SAMPLES_DIR "/sample.qk1"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_NE(run.output.find("OutFile(6/6)"), std::string::npos);
    for (const ArchiveEntry& entry : test::SampleTree()) {
        std::string name = entry.name;
        NormaliseSeparators(name, '/');
        EXPECT_EQ(test::ReadFileBytes(Path("out/" + name)), entry.data) << name;
        EXPECT_EQ(platform::QueryFile(Path("out/" + name)).modifiedTime, entry.time) << name;
    }
}

}  // namespace
}  // namespace qk
