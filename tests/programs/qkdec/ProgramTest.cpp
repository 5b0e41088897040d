// The built qkdec run as a user runs it, one row per situation: arguments,
// input, its whole console output (or the texts that matter), its exit code,
// and every file it leaves below its folder with contents and dates. The
// shell gives the exit code without any OS header in the test.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <regex>

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
using test::Noise;
using test::Sjis;

// What qkdec shows first on every run.
const std::string kBanner =
    "\n qkdec  : QuillKnot Decode Program for Windows95/NT Console\n"
    "        : Version 1.04 (Mar 10 1998)\n\n";

std::string Utf8(const std::string& cp932) {
    std::string utf8;
    return platform::Cp932ToUtf8(cp932, utf8) ? utf8 : cp932;
}

std::string Quote(const std::string& text) {
    return "'" + std::regex_replace(text, std::regex("'"), "'\\''") + "'";
}

Bytes Filled(std::size_t size, const char* pattern) {
    Bytes data(size);
    for (std::size_t i = 0; i < size; ++i)
        data[i] = static_cast<std::uint8_t>(pattern[i % 7] + i / 97 % 5);
    return data;
}

// Shift-JIS folder and file names, an empty file, two batches ([3000] and
// [1500, 0, 700, 400]).
std::vector<ArchiveEntry> Tree() {
    return {{"readme.txt", 946684800, Filled(3000, "readme ")},
            {Sjis("docs\\表\\メモ.txt"), 1234567890, Filled(1500, "memo,. ")},
            {"docs/empty.dat", 1000000001, {}},
            {"data.bin", 1500000000, Filled(700, "\x01\x02\x03\x80\xff\x00\x10")},
            {"notes.txt", 1600000000, Filled(400, "notes  ")}};
}

// One batch each: the archive is still read long after the first question.
std::vector<ArchiveEntry> Large() {
    return {{"one.bin", 1000000000, Noise(100000, 1)},
            {"two.bin", 1000000000, Noise(100000, 2)},
            {"three.bin", 1000000000, Noise(100000, 3)}};
}

// The program's texts (UTF-8 here), each written once.
struct Texts {
    static std::string Message(const std::string& text) { return "QK Message: \n" + text + "\n"; }
    static std::string Information(const std::string& t) { return "QK Information:\n" + t + "\n"; }
    static std::string Question(const std::string& text) {
        return "QK Question:\n" + text + " [y/n]:";
    }
    static std::string CannotWrite(const std::string& path, const std::string& call = "fopen") {
        return Message("ファイル(" + path + ")が出力(" + call + ")できません。" + kStop);
    }
    static std::string CannotMake(const std::string& path) {
        return Message("ディレクトリ(" + path + ")が作成(mkdir)できません。" + kStop);
    }
    static std::string Existing(int count) {
        return Question("ファイル(" + std::to_string(count) +
                        " file)が既に存在します。\n上書きしますか？");
    }
    static std::string Differs(const std::string& path, const std::string& detail) {
        return Question("比較ファイルの内容と圧縮ファイルの内容が不一致です。\n比較ファイル(" +
                        path + ")" + detail + "\n比較処理を続けますか？");
    }
    static std::string Compared(bool same) {
        return Information(std::string("比較処理を終了しました。\nファイルの内容と一致") +
                           (same ? "します" : "しません") + "。(処理時間：#.## 秒)");
    }
    static inline const std::string kStop = "\n処理を中止します。";
    static inline const std::string kAskCompare =
        Question("ファイルの内容と圧縮ファイルの内容を比較しますか？");
    static inline const std::string kNothingWritten =
        Information("ファイルを出力せずに終了します。");
    static inline const std::string kExtracted =
        Information("伸長処理を終了しました。(処理時間：#.## 秒)");
    static inline const std::string kFolderPrompt =
        "QK InputDirName:\n解凍ファイルの出力フォルダを選んでください。?:";
    static inline const std::string kPasswordPrompt =
        "QK InputPassword:\nパスワードを入力して下さい。?:";
    static inline const std::string kNoPassword =
        Information("パスワードが入力されませんでした。" + kStop);
    static inline const std::string kWrongPassword =
        Information("パスワードが一致しません。" + kStop);
};

// An entry's name with '/' between folders, as it lands under the C locale.
std::string Slashed(std::string name) {
    NormaliseSeparators(name, '/');
    return name;
}

// The same as shown, and as it lands under UTF-8.
std::string Shown(const std::string& name) {
    return Utf8(Slashed(name));
}

// One pass over Tree() from `inFile` ("name (size byte)") into `dir`: "Out"
// to extract, "Comp" to compare. `after[k]` follows the line of entry k; the
// pass ends there when k is `last`.
std::string Pass(const std::string& verb, const std::string& inFile, const std::string& dir,
                 const std::map<int, std::string>& after = {}, int last = -1) {
    std::string text =
        "InFile: " + inFile + "\n 100%\r" + verb + "Dir: " + dir + " (5 file: 5,600 byte)\n   0%\r";
    const std::vector<ArchiveEntry> tree = Tree();
    for (int k = 0; k < 5; ++k) {
        text += verb + "File(" + std::to_string(k + 1) + "/5): " + Shown(tree[k].name) + " (" +
                NumberText(static_cast<std::int64_t>(tree[k].data.size())).c_str() + " byte)\n";
        if (after.count(k)) text += after.at(k);
        if (k == last) return text;
        if (k == 0) text += "  53%\r";
    }
    return text + " 100%\r";
}

// A run: arguments, input, the whole output after the banner (UTF-8, seconds
// as #.##) or the `texts` it holds, the exit code, the files afterwards
// (archives aside): "SET:DIR" a set's entries with contents and dates,
// "PATH=TEXT", "unchanged". `how`: "utf8" a UTF-8 locale, "closed" no input,
// "tty" the input typed at a terminal once a prompt shows, "sfx" bin/tree run,
// "limit" files of 100 KB at most, "cut" a.qk1 cut short at the first prompt.
struct Row {
    std::string what;
    std::vector<std::string> args;
    std::string input, output;
    int exitCode;
    std::vector<std::string> disk;
    std::function<void()> prepare = nullptr;
    std::vector<std::string> texts = {};
    std::string how = "";
};

std::vector<ArchiveEntry> Set(const std::string& name) {
    if (name == "tree") return Tree();
    return {name == "readme" ? Tree()[0] : Large()[0]};
}

class ProgramTest : public ::testing::Test, public Texts {
  protected:
    void SetUp() override {
        for (const auto& [name, password] : {std::pair{"tree.qk1", ""}, {"locked.qk1", "secret"}}) {
            WriteArchive(name, Tree(), password);
            const auto size = static_cast<std::int64_t>(fs::file_size(Path(name)));
            inFile_[name] = std::string(name) + " (" + NumberText(size).c_str() + " byte)";
        }
    }
    std::string Path(const std::string& relative) const { return dir_.path() + "/" + relative; }
    void WriteArchive(const std::string& name, const std::vector<ArchiveEntry>& entries,
                      const std::string& password = "") {
        WriteOptions options;
        options.usePassword = !password.empty();
        options.password = password;
        Bytes archive;
        ASSERT_EQ(qk::WriteArchive(entries, options, archive, nullptr), Status::kOk);
        test::WriteFileBytes(Path(name), archive);
    }
    void File(const std::string& path, const std::string& text, std::uint32_t time = 0) {
        fs::create_directories(fs::path(Path(path)).parent_path());
        test::WriteFileBytes(Path(path), Bytes(text.begin(), text.end()));
        if (time) platform::SetFileTime(Path(path), time);
    }
    void Dir(const std::string& path) { fs::create_directories(Path(path)); }
    // Tree() as an extraction into out/ leaves it.
    void Extracted() {
        for (const ArchiveEntry& e : Tree()) {
            File("out/" + Slashed(e.name), std::string(e.data.begin(), e.data.end()), e.time);
        }
    }

    using Listing = std::map<std::string, std::pair<Bytes, std::int64_t>>;
    // Every plain file below the test's folder but the archives, names in UTF-8.
    Listing Files(bool cp932Names) const {
        Listing files;
        for (const auto& e : fs::recursive_directory_iterator(dir_.path())) {
            const std::string path = e.path().lexically_relative(dir_.path()).string();
            if (!fs::is_regular_file(e.symlink_status()) || path == "bin/tree" ||
                path.find(".qk1") != std::string::npos)
                continue;
            files[cp932Names ? Utf8(path) : path] = {
                test::ReadFileBytes(e.path().string()),
                platform::QueryFile(e.path().string()).modifiedTime};
        }
        return files;
    }
    // The row's run of qkdec in the test's folder: its output, with line ends
    // as LF also at a terminal, and its exit code.
    std::pair<std::string, int> Run(const Row& row) {
        const auto has = [&](const char* flag) { return row.how.find(flag) != std::string::npos; };
        const std::string in = Quote(io_.path() + "/in"), out = Quote(io_.path() + "/out");
        test::WriteFileBytes(io_.path() + "/in", Bytes(row.input.begin(), row.input.end()));
        fs::remove(io_.path() + "/out");  // no prompt of the run before
        std::string program = std::string("LC_ALL=") + (has("utf8") ? "C.UTF-8" : "C") +
                              " TZ=UTC " + Quote(has("sfx") ? Path("bin/tree") : QKDEC_PATH);
        for (const std::string& arg : row.args) program += " " + Quote(arg);
        if (has("tty")) program = "script -qec " + Quote(program) + " /dev/null";
        // At most 200 blocks (100 KB for a shell that counts 512 bytes, more
        // for one that counts 1024); the limit signal ignored, so the write fails.
        if (has("limit")) program = "( ulimit -f 200 && trap '' XFSZ; " + program + " )";
        // The input held back until a prompt shows (at most 20 s).
        const std::string waiting = "{ for i in $(seq 400); do grep -qF -e '?:' -e '[y/n]:' " +
                                    out + " 2>/dev/null && break; sleep 0.05; done; " +
                                    (has("cut") ? "truncate -s 150000 a.qk1; " : "") + "cat " + in +
                                    "; } | ";
        const std::string command =
            "cd " + Quote(dir_.path()) + " && " +
            (has("tty") || has("cut") ? waiting + program
                                      : program + (has("closed") ? " <&-" : " <" + in)) +
            " >" + out + "; echo $? >" + Quote(io_.path() + "/rc");
        EXPECT_EQ(std::system(command.c_str()), 0) << command;
        const Bytes output = test::ReadFileBytes(io_.path() + "/out");
        const Bytes rc = test::ReadFileBytes(io_.path() + "/rc");
        const std::string text(output.begin(), output.end());
        return {std::regex_replace(has("utf8") ? text : Utf8(text), std::regex("\r\n"), "\n"),
                std::atoi(std::string(rc.begin(), rc.end()).c_str())};
    }

    void Check(const std::vector<Row>& rows) {
        for (const Row& row : rows) {
            SCOPED_TRACE(row.what);
            for (const auto& e : fs::directory_iterator(dir_.path())) fs::remove_all(e.path());
            SetUp();
            if (row.how.find("sfx") != std::string::npos) SelfExtracting();
            if (row.prepare) row.prepare();
            const bool cp932Names = row.how.find("utf8") == std::string::npos;
            const Listing before = Files(cp932Names);
            const auto [output, exitCode] = Run(row);
            ASSERT_EQ(output.substr(0, kBanner.size()), kBanner) << output;
            // The "%2.2f" seconds of the closing messages vary from run to run.
            const std::string shown = std::regex_replace(output.substr(kBanner.size()),
                                                         std::regex("[0-9]+\\.[0-9][0-9]"), "#.##");
            if (row.texts.empty()) {
                EXPECT_EQ(shown, row.output);
            }
            for (const std::string& text : row.texts) {
                EXPECT_NE(shown.find(text), std::string::npos) << text << "\nin\n" << shown;
            }
            EXPECT_EQ(exitCode, row.exitCode);

            Listing found = Files(cp932Names), expected;
            for (const std::string& item : row.disk) {
                const std::size_t colon = item.find(':'), equals = item.find('=');
                if (item == "unchanged") {
                    expected = before;
                } else if (colon != std::string::npos) {
                    for (const ArchiveEntry& e : Set(item.substr(0, colon))) {
                        expected[item.substr(colon + 1) + Shown(e.name)] = {e.data, e.time};
                    }
                } else {
                    expected[item.substr(0, equals)] = {
                        Bytes(item.begin() + equals + 1, item.end()), -1};
                }
            }
            for (auto& [path, file] : expected) {
                if (file.second < 0 && found.count(path)) file.second = found[path].second;
            }
            EXPECT_EQ(found, expected);
        }
    }

    // A program carrying locked.qk1 (Tree() under "secret"), in bin/tree.
    void SelfExtracting() {
        Bytes image;
        ASSERT_EQ(MakeSelfExtracting(test::ReadFileBytes(QKDEC_PATH),
                                     test::ReadFileBytes(Path("locked.qk1")), image),
                  Status::kOk);
        Dir("bin");
        test::WriteFileBytes(Path("bin/tree"), image);
        fs::permissions(Path("bin/tree"), fs::perms::owner_all);
    }

    test::TempDir dir_, io_;
    std::map<std::string, std::string> inFile_;
};

TEST_F(ProgramTest, CommandLine) {
    const std::string usage = Run(Row()).first.substr(kBanner.size());
    std::vector<Row> rows = {
        Row("no arguments: the usage", {}, "", "", 1, {}, nullptr,
            {" usage  : A> qkdec [-d|-dOutDirName] [-pPassWord] [-y] <FileName.qk1>\n"}),
        Row("-d and a word: a lone -d, and an archive that is a folder", {"-d", "out"}, "\n",
            kFolderPrompt + Message("ファイル(out)が入力(fread)できません。" + kStop), 2, {},
            [&] { Dir("out"); }),
    };
    for (const std::string option : {"-x", "-Y", "-D", "-p", "-"}) {
        rows.push_back(Row("illegal option " + option, {"-y", "tree.qk1", option, "-q"}, "",
                           " Illegal Option!! : " + option + "\n\n" + usage, 1, {}));
    }
    Check(rows);
}

TEST_F(ProgramTest, Extraction) {
    const std::string tree = inFile_["tree.qk1"];
    const std::string tooLong = std::string(252, 'n') + ".txt";
    const auto archive = [&](std::vector<ArchiveEntry> entries) {
        return [this, entries] { Dir("out"), WriteArchive("a.qk1", entries); };
    };
    const auto out = [&] { Dir("out"); };
    const std::vector<std::string> args = {"-dout", "a.qk1"};
    Check({
        Row("-dout", {"-dout", "tree.qk1"}, "", Pass("Out", tree, "out/") + kExtracted, 0,
            {"tree:out/"}, out),
        Row("-dout/ under UTF-8", {"-dout/", "tree.qk1"}, "",
            Pass("Out", tree, "out/") + kExtracted, 0, {"tree:out/"}, out, {}, "utf8"),
        Row("a lone -d asks for the folder", {"-d", "tree.qk1"}, "out\n",
            kFolderPrompt + Pass("Out", tree, "out/") + kExtracted, 0, {"tree:out/"}, out),
        Row("a lone -d without an answer: the archive's folder", {"-d", "tree.qk1"}, "",
            kFolderPrompt + Pass("Out", tree, "") + kExtracted, 0, {"tree:"}, nullptr, {},
            "closed"),
        Row("a name too long", args, "", CannotWrite("out/" + tooLong), 2, {},
            archive({{tooLong, 0, {'x'}}})),
    });
}

TEST_F(ProgramTest, FailuresOnTheWay) {
    const std::string tree = inFile_["tree.qk1"];
    const auto big = [&] {
        Dir("out");
        WriteArchive("a.qk1", {{"small.txt", 0, {'s'}}, {"big.bin", 0, Noise(600000, 1)}});
    };
    const std::string bigFailed =
        "OutFile(2/2): big.bin (600,000 byte)\n" + CannotWrite("out/big.bin", "fwrite");
    const auto large = [&] { WriteArchive("a.qk1", Large()), File("one.bin", "old"); };
    Check({
        Row("the folder is missing, and not made", {"-dmissing", "tree.qk1"}, "",
            Pass("Out", tree, "missing/", {{0, CannotWrite("missing/readme.txt")}}, 0), 2, {}),
        Row("a file where a folder has to be", {"-dout", "tree.qk1"}, "",
            Pass("Out", tree, "out/", {{1, CannotMake("out/docs/表")}}, 1), 2,
            {"out/docs=keep", "readme:out/"}, [&] { File("out/docs", "keep"); }),
        Row("a folder where a file has to be: stops before anything is written",
            {"-dout", "tree.qk1"}, "y\n", Existing(2) + CannotWrite("out/docs/empty.dat"), 2,
            {"unchanged"},
            [&] { File("out/docs/empty.dat/inner", "i"), File("out/readme.txt", "old"); }),
        Row("a link to a folder where a file has to be", {"-y", "-dout", "tree.qk1"}, "",
            Existing(2) + "All YES.\n" + CannotWrite("out/docs/empty.dat"), 2, {"unchanged"},
            [&] {
                Dir("elsewhere"), Dir("out/docs"), File("out/readme.txt", "old");
                fs::create_directory_symlink(Path("elsewhere"), Path("out/docs/empty.dat"));
            }),
        Row(
            "a file-size limit keeps the old file", {"-y", "-dout", "a.qk1"}, "", "", 2,
            {"out/big.bin=old", "out/small.txt=s"}, [&] { big(), File("out/big.bin", "old"); },
            {bigFailed}, "limit"),
        Row("a file-size limit removes the new file", {"-dout", "a.qk1"}, "", "", 2,
            {"out/small.txt=s"}, big, {bigFailed}, "limit"),
        Row("the archive cut short while it is read", {"a.qk1"}, "y\n", "", 2, {"first:"}, large,
            {Message("入力データが異常である。\n入力データ内に存在しないデータを示すコードがある。"
                     "\nファイルを出力せずに終了します。")},
            "cut"),
        Row("the input closed at the question: no, and not read from the archive", {"a.qk1"}, "",
            Existing(1) + kAskCompare + kNothingWritten, 0, {"unchanged"}, large, {}, "closed"),
    });
}

TEST_F(ProgramTest, ExistingFiles) {
    const std::string tree = inFile_["tree.qk1"];
    const auto changed = [&] { Extracted(), File("out/readme.txt", "old"); };
    // Each kind of difference; data.bin one second later is the same time.
    const auto differing = [&] {
        Extracted();
        Bytes readme = Tree()[0].data;
        readme.back() ^= 0x20;
        File("out/readme.txt", std::string(readme.begin(), readme.end()), 946684800);
        fs::resize_file(Path(Sjis("out/docs/表/メモ.txt")), 1499);
        platform::SetFileTime(Path("out/data.bin"), 1500000001);
        platform::SetFileTime(Path("out/docs/empty.dat"), 1000000002);
        fs::remove(Path("out/notes.txt"));
    };
    const std::map<int, std::string> differences = {
        {0, Differs("out/readme.txt", "の 2,999 byte 目のデータが一致しない。\n[0x64] [0x44]")},
        {1,
         Differs(
             "out/docs/表/メモ.txt",
             "のサイズと圧縮ファイル内のファイルサイズ\n(1,499 byte, 1,500 byte)が異なります。")},
        {2, Differs("out/docs/empty.dat",
                    "の更新日付が異なります。\n比較ファイル：Sun Sep  9 01:46:42 "
                    "2001\n圧縮ファイル：Sun Sep  9 01:46:41 2001")},
        {4, Differs("out/notes.txt", "は存在しません。")}};
    // A folder holds no file to compare with, whatever its date.
    const std::map<int, std::string> noFile = {
        {2, Differs("out/docs/empty.dat", "は存在しません。")}};
    const auto emptyIsAFolder = [&] {
        Extracted();
        fs::remove(Path("out/docs/empty.dat"));
        Dir("out/docs/empty.dat");
        platform::SetFileTime(Path("out/docs/empty.dat"), 1000000001);
    };
    const std::vector<std::string> args = {"-dout", "tree.qk1"};
    const std::string compare = kAskCompare + Pass("Comp", tree, "out/");
    Check({
        Row("no, and no comparison: only the first character counts", args,
            "n" + std::string(200, 'y') + "\nNo\n", Existing(5) + kAskCompare + kNothingWritten, 0,
            {"unchanged"}, changed),
        Row("yes", args, "y\n", Existing(5) + Pass("Out", tree, "out/") + kExtracted, 0,
            {"tree:out/"}, changed),
        Row("-y", {"-yes", "-dout", "tree.qk1"}, "",
            Existing(5) + "All YES.\n" + Pass("Out", tree, "out/") + kExtracted, 0, {"tree:out/"},
            changed),
        Row("compared, the same", args, "n\ny\n", Existing(5) + compare + Compared(true), 0,
            {"unchanged"}, [&] { Extracted(); }),
        Row("compared, every kind of difference", args, "n\ny\ny\ny\ny\ny\n",
            Existing(4) + kAskCompare + Pass("Comp", tree, "out/", differences) + Compared(false),
            0, {"unchanged"}, differing),
        Row("compared, no at the first difference", args, "n\ny\nn\n",
            Existing(4) + kAskCompare + Pass("Comp", tree, "out/", differences, 0), 0,
            {"unchanged"}, differing),
        Row("compared, a folder where a file is expected", args, "n\ny\ny\n",
            Existing(5) + kAskCompare + Pass("Comp", tree, "out/", noFile) + Compared(false), 0,
            {"unchanged"}, emptyIsAFolder),
    });
}

TEST_F(ProgramTest, Passwords) {
    const std::string locked = inFile_["locked.qk1"];
    const std::string longPassword(300, 'k');
    const auto japanese = [&] { Dir("out"), WriteArchive("jp.qk1", Tree(), Sjis("表示パス")); };
    const auto out = [&] { Dir("out"); };
    const std::vector<std::string> texts = {"OutFile(5/5)"}, args = {"-dout", "locked.qk1"};
    // At a terminal the stars are shown again after the prompt at each Backspace.
    const std::string again = "\rパスワードを入力して下さい。?:";
    const std::string masked = Pass("Out", locked, "out/") + kExtracted;
    Check({
        Row("wrong -p", {"-pwrong", "locked.qk1"}, "", kWrongPassword, 2, {}),
        Row("none typed", {"locked.qk1"}, "", kPasswordPrompt + kNoPassword, 2, {}),
        Row("a wrong one typed", {"locked.qk1"}, "secre\n", kPasswordPrompt + kWrongPassword, 2,
            {}),
        Row("typed", {"locked.qk1"}, "secret\n",
            kPasswordPrompt + Pass("Out", locked, "") + kExtracted, 0, {"tree:"}),
        Row("the later -p and -d win", {"-pwrong", "-dnowhere", "-psecret", "-dout", "locked.qk1"},
            "", Pass("Out", locked, "out/") + kExtracted, 0, {"tree:out/"}, out),
        Row(
            "300 characters", {"long.qk1"}, longPassword + "\n", "", 0, {"tree:"},
            [&] { WriteArchive("long.qk1", Tree(), longPassword); }, texts),
        Row("Japanese, given under UTF-8: its Shift-JIS is the key",
            {"-dout", "-p表示パス", "jp.qk1"}, "", "", 0, {"tree:out/"}, japanese, texts, "utf8"),
        Row("Japanese, typed under UTF-8", {"-dout", "jp.qk1"}, "表示パス\n", "", 0, {"tree:out/"},
            japanese, texts, "utf8"),
        Row("at a terminal, masked: Backspace as 127, Enter as CR", args,
            "sex\x7F"
            "cret\r",
            kPasswordPrompt + "***" + again + "******" + masked, 0, {"tree:out/"}, out, {}, "tty"),
        Row("at a terminal: Backspace as 8, Enter as LF", args, "secrex\bt\n",
            kPasswordPrompt + "******" + again + "******" + masked, 0, {"tree:out/"}, out, {},
            "tty"),
        Row("at a terminal under UTF-8: a Backspace takes the whole character", args,
            "secret表\x7F\r", kPasswordPrompt + "*********" + again + "******" + masked, 0,
            {"tree:out/"}, out, {}, "tty utf8"),
        Row("at a terminal: Esc gives up", args, "ab\x1B", kPasswordPrompt + "**\n" + kNoPassword,
            2, {}, out, {}, "tty"),
        // A self-extracting program: bin/tree holds Tree() under "secret".
        Row("plain words are passwords, the last wins; the entries go beside it",
            {"wrong", "-y", "secret"}, "", "", 0, {"tree:bin/"}, nullptr,
            {"InFile: tree (", "OutDir: " + Path("bin/") + " (5 file"}, "sfx"),
        Row("no password", {}, "", kPasswordPrompt + kNoPassword, 2, {}, nullptr, {}, "sfx"),
        Row(
            "-dFOLDER", {"-dgiven", "-y", "secret"}, "", "", 0, {"tree:given/"},
            [&] { Dir("given"); }, {"OutDir: given/ (5 file"}, "sfx"),
        Row(
            "a lone -d asks for the folder", {"-d", "-y", "secret"}, "typed\n", "", 0,
            {"tree:typed/"}, [&] { Dir("typed"); }, {kFolderPrompt + "InFile: tree ("}, "sfx"),
    });
}

TEST_F(ProgramTest, ShippedSampleIsWhatMakeSampleWrites) {
    ASSERT_EQ(std::system((Quote(MAKE_SAMPLE_PATH) + " " + Quote(Path("made.qk1"))).c_str()), 0);
    EXPECT_TRUE(test::ReadFileBytes(Path("made.qk1")) ==
                test::ReadFileBytes(QK_SAMPLES_DIR "/sample.qk1"))
        << "samples/sample.qk1 is not what MakeSample writes now; remake it with\n"
           "  build/tests/programs/qkdec/MakeSample samples/sample.qk1";
}

}  // namespace
}  // namespace qk
