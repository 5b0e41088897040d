// ArchiveDecoder against a scripted Interaction: the order of every message,
// question, status line and progress report, the results and outcomes, and
// what lands on disk.
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <filesystem>
#include <functional>
#include <regex>

#include "platform/FileSystem.h"
#include "platform/Text.h"
#include "qk1/ArchiveWriter.h"
#include "qkdec/ArchiveDecoder.h"
#include "support/TestSupport.h"

namespace qk {
namespace {

namespace fs = std::filesystem;
using test::Bytes;
using Outcome = ArchiveDecoder::Outcome;

std::string Sjis(const std::string& utf8) {
    std::string cp932;
    EXPECT_TRUE(platform::Utf8ToCp932(utf8, cp932)) << utf8;
    return cp932;
}

// Records every call, texts turned into UTF-8 and the seconds masked, and
// answers from a script.
class ScriptedInteraction final : public Interaction {
  public:
    void Message(std::string_view text) override { Log("Message", text); }
    void Information(std::string_view text) override { Log("Information", text); }
    int Question(std::string_view text) override {
        Log("Question", text);
        if (answers.empty()) {
            ADD_FAILURE() << "unexpected question";
            return 1;
        }
        const int answer = answers.front();
        answers.pop_front();
        return answer;
    }
    std::string InputPassword(std::string_view text) override {
        Log("InputPassword", text);
        return password;
    }
    void ShowProgress(int mode) override { log.push_back("ShowProgress " + std::to_string(mode)); }
    void Status(std::string_view text) override {
        Log("Status", text);
        if (onStatus) onStatus(std::string(text));
    }
    int SetProgressRange(int range) override {
        log.push_back("Range " + std::to_string(range));
        return 0;
    }
    int SetProgress(int percent) override {
        log.push_back(std::to_string(percent) + "%");
        return ++progressCalls == stopAtProgressCall ? 1 : 0;
    }

    std::deque<int> answers;
    // Called after each status line: between two entries of an extraction.
    std::function<void(const std::string&)> onStatus;
    std::string password;
    int stopAtProgressCall = 0;
    int progressCalls = 0;
    std::vector<std::string> log;

  private:
    void Log(const char* operation, std::string_view text) {
        std::string utf8;
        if (!platform::Cp932ToUtf8(text, utf8)) utf8 = text;
        static const std::regex seconds("[0-9]+\\.[0-9][0-9] ");
        log.push_back(std::string(operation) + " " + std::regex_replace(utf8, seconds, "#.## "));
    }
};

class ArchiveDecoderTest : public ::testing::Test {
  protected:
    std::string Path(const std::string& relative) const { return dir_.path() + "/" + relative; }

    void Write(const std::vector<ArchiveEntry>& entries, const std::string& password = "") {
        WriteOptions options;
        options.usePassword = !password.empty();
        options.password = password;
        Bytes archive;
        std::string error;
        ASSERT_EQ(WriteArchive(entries, options, archive, &error), Status::kOk) << error;
        test::WriteFileBytes(archive_, archive);
    }

    int Run(std::optional<std::string> outputDir) {
        ArchiveDecoder decoder(&interaction_, std::move(outputDir));
        const int result = decoder.Run(archive_);
        outcome_ = decoder.outcome();
        return result;
    }
    int Run() { return Run(out_); }

    test::TempDir dir_;
    std::string archive_ = Path("a.qk1");
    std::string out_ = Path("out/");
    ScriptedInteraction interaction_;
    Outcome outcome_ = Outcome::kNotRun;
};

std::vector<ArchiveEntry> Tree() {
    return {{"one.txt", 1000, Bytes(300, 'a')},
            {Sjis("表\\sub/two.txt"), 2001, Bytes(200, 'b')},
            {"empty", 3000, {}}};
}

TEST_F(ArchiveDecoderTest, ExtractionRunsItsStepsInOrder) {
    Write(Tree());
    fs::create_directory(Path("out"));
    const std::string size = std::to_string(fs::file_size(archive_));
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(outcome_, Outcome::kCompleted);
    const std::vector<std::string> expected = {
        "ShowProgress 1",
        "Status InFile: a.qk1 (" + size + " byte)",
        "Range 100",
        "Status OutDir: " + out_ + " (3 file: 500 byte)",
        "0%",
        "Status OutFile(1/3): one.txt (300 byte)",
        "54%",  // 300 decoded of 500 + 53 table bytes
        "Status OutFile(2/3): 表/sub/two.txt (200 byte)",
        "Status OutFile(3/3): empty (0 byte)",
        "100%",
        "Information 伸長処理を終了しました。(処理時間：#.## 秒)"};
    EXPECT_EQ(interaction_.log, expected);
    for (const ArchiveEntry& entry : Tree()) {
        std::string name = entry.name;
        NormaliseSeparators(name, '/');
        EXPECT_EQ(test::ReadFileBytes(out_ + name), entry.data);
        EXPECT_EQ(platform::QueryFile(out_ + name).modifiedTime, entry.time);
    }
}

TEST_F(ArchiveDecoderTest, NoEntriesAndOneEntry) {
    Write({});
    EXPECT_EQ(Run(std::nullopt), 0);  // beside the archive
    EXPECT_EQ(interaction_.log.size(), 5u);
    EXPECT_EQ(interaction_.log[3], "100%");

    interaction_.log.clear();
    Write({{"only", 7, Bytes(10, 'x')}});
    EXPECT_EQ(Run(std::nullopt), 0);
    EXPECT_EQ(interaction_.log[3], "0%");  // no OutDir line for a single entry
    EXPECT_EQ(test::ReadFileBytes(Path("only")), Bytes(10, 'x'));
}

TEST_F(ArchiveDecoderTest, ProgressComesEveryStepOfTheBatch) {
    Write({{"big", 0, Bytes(45000, 'z')}});
    fs::create_directory(Path("out"));
    EXPECT_EQ(Run(), 0);
    // Decode targets 20,000, 40,000 and 60,000, each after one report of the
    // share decoded so far (the table's 13 bytes are in totalSize too).
    const std::vector<std::string> reports(interaction_.log.begin() + 3,
                                           interaction_.log.begin() + 6);
    EXPECT_EQ(reports, (std::vector<std::string>{"0%", "44%", "89%"}));
}

TEST_F(ArchiveDecoderTest, TotalSizeOfZeroGivesProgressZero) {
    Write({{"first", 0, Bytes(100, 'a')}, {"second", 0, Bytes(100, 'b')}});
    Bytes archive = test::ReadFileBytes(archive_);
    std::fill(archive.begin() + 8, archive.begin() + 12, 0);  // totalSize
    test::WriteFileBytes(archive_, archive);
    fs::create_directory(Path("out"));
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(std::count(interaction_.log.begin(), interaction_.log.end(), "0%"),
              2);  // one per batch
    EXPECT_EQ(test::ReadFileBytes(Path("out/second")), Bytes(100, 'b'));
}

TEST_F(ArchiveDecoderTest, StopThroughSetProgressWritesNothingOfTheBatch) {
    Write({{"first", 0, Bytes(100, 'a')}, {"second", 0, Bytes(100, 'b')}});
    fs::create_directory(Path("out"));
    interaction_.stopAtProgressCall = 2;  // before the second batch
    EXPECT_EQ(Run(), -2);
    EXPECT_EQ(outcome_, Outcome::kStopped);
    EXPECT_TRUE(fs::exists(Path("out/first")));
    EXPECT_FALSE(fs::exists(Path("out/second")));
    EXPECT_EQ(interaction_.log.back(), "44%");  // 100 of 200 + 29 table bytes
}

TEST_F(ArchiveDecoderTest, ExistingTargetsAreAskedAbout) {
    Write(Tree());
    fs::create_directories(Path("out/empty"));  // a folder counts as existing
    test::WriteFileBytes(Path("out/one.txt"), {'o'});

    interaction_.answers = {1, 1};
    EXPECT_EQ(Run(), -1);
    EXPECT_EQ(outcome_, Outcome::kDeclined);
    EXPECT_EQ(interaction_.log, (std::vector<std::string>{
                                    "Question ファイル(2 file)が既に存在します。\n上書きしますか？",
                                    "Question ファイルの内容と圧縮ファイルの内容を比較しますか？",
                                    "Information ファイルを出力せずに終了します。"}));
    EXPECT_EQ(test::ReadFileBytes(Path("out/one.txt")), Bytes{'o'});

    // Yes would overwrite, but the folder standing in for "empty" cannot be
    // replaced: the extraction stops before anything is written.
    interaction_.log.clear();
    interaction_.answers = {0};
    EXPECT_EQ(Run(), -1);
    EXPECT_EQ(outcome_, Outcome::kFailed);
    EXPECT_EQ(test::ReadFileBytes(Path("out/one.txt")), Bytes{'o'});
    EXPECT_FALSE(fs::exists(Path("out/表")));
    EXPECT_EQ(interaction_.log, (std::vector<std::string>{
                                    "Question ファイル(2 file)が既に存在します。\n上書きしますか？",
                                    "Message ファイル(" + out_ +
                                        "empty)が出力(fopen)できません。\n処理を中止します。"}));
}

TEST_F(ArchiveDecoderTest, ExistingTargetsAreCountedThroughNestedFolders) {
    Write({{"a/b/c.txt", 0, {'c'}},
           {"a/b/d.txt", 0, {'d'}},
           {"a/x/y.txt", 0, {'y'}},
           {"f/g.txt", 0, {'g'}},
           {"top.txt", 0, {'t'}},
           {"a/b/e/h.txt", 0, {'h'}}});
    fs::create_directories(Path("out/a/b/e"));
    test::WriteFileBytes(Path("out/a/b/d.txt"), {'o'});
    test::WriteFileBytes(Path("out/a/b/e/h.txt"), {'o'});
    test::WriteFileBytes(Path("out/top.txt"), {'o'});
    test::WriteFileBytes(Path("out/f"), {'o'});  // a file where a folder would be

    interaction_.answers = {1, 1};
    EXPECT_EQ(Run(), -1);
    EXPECT_EQ(interaction_.log.front(),
              "Question ファイル(3 file)が既に存在します。\n上書きしますか？");

    // Entries of one folder apart from each other all land in it.
    fs::remove_all(Path("out"));
    fs::create_directory(Path("out"));
    Write({{"a/1", 0, {'1'}},
           {"b/1", 0, {'2'}},
           {"a/2", 0, {'3'}},
           {"a/c/1", 0, {'4'}},
           {"a/3", 0, {'5'}}});
    interaction_.log.clear();
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(test::ReadFileBytes(Path("out/a/1")), Bytes{'1'});
    EXPECT_EQ(test::ReadFileBytes(Path("out/b/1")), Bytes{'2'});
    EXPECT_EQ(test::ReadFileBytes(Path("out/a/2")), Bytes{'3'});
    EXPECT_EQ(test::ReadFileBytes(Path("out/a/c/1")), Bytes{'4'});
    EXPECT_EQ(test::ReadFileBytes(Path("out/a/3")), Bytes{'5'});
}

// Before the second entry is written, the folder of the first is swapped for
// a link to elsewhere: the folder the road holds open stays the one written
// into, and nothing is made through the link.
TEST_F(ArchiveDecoderTest, FolderSwappedForALinkBetweenEntriesLeadsNowhere) {
#ifdef _WIN32
    GTEST_SKIP() << "Windows renames no folder while a handle below it is open: the folders "
                    "the road holds cannot be swapped";
#endif
    Write({{"d/a/1.txt", 0, {'1'}}, {"d/b/2.txt", 0, {'2'}}, {"d/a/3.txt", 0, {'3'}}});
    fs::create_directory(Path("out"));
    fs::create_directory(Path("outside"));
    interaction_.onStatus = [&](const std::string& text) {
        if (text.rfind("OutFile(2/3)", 0) != 0) return;
        fs::rename(Path("out/d"), Path("out/moved"));
        fs::create_directory_symlink(Path("outside"), Path("out/d"));
    };
    EXPECT_EQ(Run(), 0);
    EXPECT_TRUE(fs::is_empty(Path("outside")));
    EXPECT_EQ(test::ReadFileBytes(Path("out/moved/a/1.txt")), Bytes{'1'});
    EXPECT_EQ(test::ReadFileBytes(Path("out/moved/b/2.txt")), Bytes{'2'});
    EXPECT_EQ(test::ReadFileBytes(Path("out/moved/a/3.txt")), Bytes{'3'});

    // A run that had opened nothing meets the link and stops there.
    interaction_.onStatus = nullptr;
    interaction_.log.clear();
    interaction_.answers = {0};
    EXPECT_EQ(Run(), -1);
    EXPECT_EQ(interaction_.log.back(),
              "Message ディレクトリ(" + out_ + "d)がシンボリックリンクです。\n処理を中止します。");
    EXPECT_TRUE(fs::is_empty(Path("outside")));
}

TEST_F(ArchiveDecoderTest, ComparisonOfAFolderAndOfEqualFiles) {
    Write(Tree());
    fs::create_directory(Path("out"));
    ASSERT_EQ(Run(), 0);
    // Equal files; even time + 1 is equal.
    platform::SetFileTime(Path("out/one.txt"), 1001);
    interaction_.log.clear();
    interaction_.answers = {1, 0};
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(outcome_, Outcome::kCompleted);
    EXPECT_EQ(interaction_.log[5], "Status CompDir: " + out_ + " (3 file: 500 byte)");
    EXPECT_EQ(
        interaction_.log.back(),
        "Information 比較処理を終了しました。\nファイルの内容と一致します。(処理時間：#.## 秒)");

    // A folder holds no file: where an empty entry or one with data is
    // expected, the file does not exist, whatever the folder's time. No stops
    // at once.
    fs::remove(Path("out/empty"));
    fs::create_directory(Path("out/empty"));
    platform::SetFileTime(Path("out/empty"), 3001);
    fs::remove(Path("out/one.txt"));
    fs::create_directory(Path("out/one.txt"));
    interaction_.log.clear();
    interaction_.answers = {1, 0, 0, 1};
    EXPECT_EQ(Run(), -1);
    EXPECT_EQ(outcome_, Outcome::kDeclined);
    const auto missing = [this](const std::string& name) {
        return "Question 比較ファイルの内容と圧縮ファイルの内容が不一致です。\n比較ファイル(" +
               out_ + name + ")は存在しません。\n比較処理を続けますか？";
    };
    EXPECT_NE(std::find(interaction_.log.begin(), interaction_.log.end(), missing("one.txt")),
              interaction_.log.end());
    EXPECT_EQ(interaction_.log.back(), missing("empty"));
}

TEST_F(ArchiveDecoderTest, PasswordIsAskedOnceAndOnlyWhenSet) {
    Write(Tree(), "key");
    for (const std::string password : {"", "Key"}) {
        interaction_.log.clear();
        interaction_.password = password;
        EXPECT_EQ(Run(), -1);
        EXPECT_EQ(outcome_, Outcome::kFailed);
        EXPECT_EQ(interaction_.log[0], "InputPassword パスワードを入力して下さい。");
        EXPECT_EQ(interaction_.log[1],
                  password.empty()
                      ? "Information パスワードが入力されませんでした。\n処理を中止します。"
                      : "Information パスワードが一致しません。\n処理を中止します。");
        EXPECT_EQ(interaction_.log.size(), 2u);
    }
    Write(Tree());
    interaction_.log.clear();
    interaction_.password = "key";
    fs::create_directory(Path("out"));
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(interaction_.log[0], "ShowProgress 1");
}

TEST_F(ArchiveDecoderTest, ArchivesThatCannotBeRead) {
    const std::pair<Bytes, std::string> cases[] = {
        {Bytes{'q', 'k', '0'},
         "ファイル(" + archive_ + ")が入力(fread)できません。\n処理を中止します。"},
        {Bytes(40, 'x'),
         "ファイル(" + archive_ +
             ")はＱＫ圧縮されているファイルではありません。\n解凍処理を中止します。"},
    };
    for (const auto& [bytes, message] : cases) {
        interaction_.log.clear();
        test::WriteFileBytes(archive_, bytes);
        EXPECT_EQ(Run(), -1);
        EXPECT_EQ(interaction_.log, std::vector<std::string>{"Message " + message});
    }
    archive_ = Path("missing.qk1");
    interaction_.log.clear();
    EXPECT_EQ(Run(), -1);
    EXPECT_EQ(interaction_.log[0],
              "Message ファイル(" + archive_ + ")が入力(fopen)できません。\n処理を中止します。");
    EXPECT_EQ(outcome_, Outcome::kFailed);
}

TEST_F(ArchiveDecoderTest, InconsistentTableIsReportedAsCorruptInput) {
    Write(Tree());
    Bytes archive = test::ReadFileBytes(archive_);
    archive[19] = 200;  // entryCount: 8 x 200 bytes do not fit the table
    test::WriteFileBytes(archive_, archive);
    EXPECT_EQ(Run(), -1);
    EXPECT_EQ(interaction_.log,
              std::vector<std::string>{
                  "Message 入力データが異常である。\n入力データ内にエリアを超えて解凍"
                  "しようとするコードがある。\nファイルを出力せずに終了します。"});
}

TEST_F(ArchiveDecoderTest, FolderThatCannotBeCreated) {
    Write(Tree());
    test::WriteFileBytes(Path("file"), {});
    out_ = Path("file/");
    EXPECT_EQ(Run(), -1);
    EXPECT_EQ(interaction_.log.back(),
              "Message ファイル(" + out_ + "one.txt)が出力(fopen)できません。\n処理を中止します。");
    Write({{"sub/x", 0, {'x'}}});
    EXPECT_EQ(Run(), -1);
    EXPECT_EQ(interaction_.log.back(),
              "Message ディレクトリ(" + out_ + "sub)が作成(mkdir)できません。\n処理を中止します。");
}

}  // namespace
}  // namespace qk
