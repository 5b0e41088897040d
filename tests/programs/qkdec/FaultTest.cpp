// The built qkdec when the world around it fails: folders it cannot write,
// a file-size limit, an archive that vanishes or shrinks while it is read, a
// folder where a file should go, standard input that ends or was never open,
// very long names, many entries and empty ones in every place of a batch.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "ProgramFixture.h"
#include "platform/FileSystem.h"
#include "platform/Text.h"

namespace qk {
namespace {

namespace fs = std::filesystem;
using test::Bytes;
using test::kBanner;
using test::Sjis;

// Bytes that do not compress, so that the archive is as long as its data.
Bytes Noise(std::size_t size, std::uint32_t seed) {
    Bytes data(size);
    for (std::uint8_t& b : data) {
        seed = seed * 1103515245u + 12345u;
        b = static_cast<std::uint8_t>(seed >> 23);
    }
    return data;
}

std::string MessageOf(const std::string& utf8) {
    return "QK Message: \n" + Sjis(utf8) + "\n";
}

// Files whose name marks them as the writer's temporaries, anywhere below `folder`.
int Temporaries(const std::string& folder) {
    int count = 0;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (entry.path().filename().string().find(".qktmp-") != std::string::npos) ++count;
    }
    return count;
}

class FaultTest : public test::ProgramFixture {};

// ---------------------------------------------------------------------------
// Folders that cannot be written
// ---------------------------------------------------------------------------

TEST_F(FaultTest, OutputFolderMissingOrBlockedBelow) {
    WriteArchive("a.qk1", {{"top.txt", 0, {'t'}}, {"docs/deep/x.txt", 0, {'x'}}});
    // A missing output folder is not created.
    test::ProgramRun run = Run({"-dmissing", "a.qk1"});
    EXPECT_NE(run.output.find(MessageOf(
                  "ファイル(missing/top.txt)が出力(fopen)できません。\n処理を中止します。")),
              std::string::npos);
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_FALSE(fs::exists(Path("missing")));

    // A file where an entry needs a folder.
    fs::create_directory(Path("out"));
    test::WriteFileBytes(Path("out/docs"), {'k', 'e', 'e', 'p'});
    run = Run({"-dout", "a.qk1"});
    EXPECT_NE(run.output.find(MessageOf(
                  "ディレクトリ(out/docs/deep)が作成(mkdir)できません。\n処理を中止します。")),
              std::string::npos);
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(test::ReadFileBytes(Path("out/docs")), (Bytes{'k', 'e', 'e', 'p'}));
    EXPECT_EQ(test::ReadFileBytes(Path("out/top.txt")), (Bytes{'t'}));
}

TEST_F(FaultTest, OutputFolderWithoutWritePermission) {
    fs::create_directory(Path("locked"));
    fs::permissions(Path("locked"), fs::perms::owner_read | fs::perms::owner_exec);
    const bool bypassed = std::ofstream(Path("locked/probe")).is_open();
    if (bypassed) {
        fs::permissions(Path("locked"), fs::perms::owner_all);
        GTEST_SKIP() << "this user writes into folders without write permission (root); the "
                        "other unwritable folders are tested in OutputFolderMissingOrBlockedBelow";
    }
    WriteArchive("a.qk1", {{"x.txt", 0, {'x'}}});
    const test::ProgramRun run = Run({"-dlocked", "a.qk1"});
    fs::permissions(Path("locked"), fs::perms::owner_all);
    EXPECT_NE(run.output.find(
                  MessageOf("ファイル(locked/x.txt)が出力(fopen)できません。\n処理を中止します。")),
              std::string::npos);
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_TRUE(fs::is_empty(Path("locked")));
}

// ---------------------------------------------------------------------------
// A write that fails halfway
// ---------------------------------------------------------------------------

TEST_F(FaultTest, FileSizeLimitKeepsTheOldFile) {
    WriteArchive("a.qk1",
                 {{"small.txt", 1000000000, {'s'}}, {"big.bin", 1000000000, Noise(600000, 1)}});
    fs::create_directory(Path("out"));
    const Bytes old = {'o', 'l', 'd'};
    test::WriteFileBytes(Path("out/big.bin"), old);

    // At most 200 blocks (100 KB for a shell that counts 512 bytes, more for
    // one that counts 1024); the limit signal ignored, so the write fails.
    test::RunSettings settings = Settings();
    settings.setup = "ulimit -f 200 && trap '' XFSZ";
    const test::ProgramRun run = test::RunQkdec({"-y", "-dout", "a.qk1"}, settings);
    EXPECT_NE(run.output.find("OutFile(2/2): big.bin (600,000 byte)\n"), std::string::npos)
        << run.output;
    EXPECT_NE(run.output.find(
                  MessageOf("ファイル(out/big.bin)が出力(fwrite)できません。\n処理を中止します。")),
              std::string::npos);
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(test::ReadFileBytes(Path("out/big.bin")), old);
    EXPECT_EQ(test::ReadFileBytes(Path("out/small.txt")), (Bytes{'s'}));
    EXPECT_EQ(Temporaries(Path("out")), 0);

    // A new file is written under its own name; cut short, it is removed.
    fs::create_directory(Path("fresh"));
    const test::ProgramRun fresh = test::RunQkdec({"-y", "-dfresh", "a.qk1"}, settings);
    EXPECT_EQ(fresh.exitCode, 2) << fresh.output;
    EXPECT_FALSE(fs::exists(Path("fresh/big.bin")));
    EXPECT_EQ(test::ReadFileBytes(Path("fresh/small.txt")), (Bytes{'s'}));
    EXPECT_EQ(Temporaries(Path("fresh")), 0);
}

// ---------------------------------------------------------------------------
// The archive changes under the program
// ---------------------------------------------------------------------------

// Three entries of 100,000 bytes that do not compress: one batch each, so
// the archive is read batch by batch long after the question.
std::vector<ArchiveEntry> LargeTree() {
    return {{"one.bin", 1000000000, Noise(100000, 1)},
            {"two.bin", 1000000000, Noise(100000, 2)},
            {"three.bin", 1000000000, Noise(100000, 3)}};
}

TEST_F(FaultTest, ArchiveRemovedWhileReadIsReadToTheEnd) {
    WriteArchive("a.qk1", LargeTree());
    test::WriteFileBytes(Path("one.bin"), {'o'});
    // The program holds the archive open: removing its name takes nothing away.
    test::RunSettings settings = Settings("y\n");
    settings.atPrompt = "rm a.qk1";
    const test::ProgramRun run = test::RunQkdec({"a.qk1"}, settings);
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_FALSE(fs::exists(Path("a.qk1")));
    for (const ArchiveEntry& entry : LargeTree()) {
        EXPECT_EQ(test::ReadFileBytes(Path(entry.name)), entry.data) << entry.name;
    }
}

TEST_F(FaultTest, ArchiveCutShortWhileReadStopsWithAMessage) {
    WriteArchive("a.qk1", LargeTree());
    test::WriteFileBytes(Path("one.bin"), {'o'});
    // Cut within the second entry's data, after the question.
    test::RunSettings settings = Settings("y\n");
    settings.atPrompt = "truncate -s 150000 a.qk1";
    const test::ProgramRun run = test::RunQkdec({"a.qk1"}, settings);
    EXPECT_EQ(run.exitCode, 2) << run.output;
    EXPECT_NE(run.output.find("QK Message: \n"), std::string::npos) << run.output;
    EXPECT_EQ(test::ReadFileBytes(Path("one.bin")), LargeTree()[0].data);
    // The batch that could not be read writes nothing, and nothing after it.
    EXPECT_FALSE(fs::exists(Path("two.bin")));
    EXPECT_FALSE(fs::exists(Path("three.bin")));
    EXPECT_EQ(Temporaries(dir_.path()), 0);
}

// ---------------------------------------------------------------------------
// A folder where a file should go
// ---------------------------------------------------------------------------

TEST_F(FaultTest, FolderInThePlaceOfAFileStaysWithItsContents) {
    WriteArchive("a.qk1",
                 {{"first.txt", 0, {'1'}}, {"name.txt", 0, {'n'}}, {"last.txt", 0, {'3'}}});
    fs::create_directories(Path("out/name.txt"));
    test::WriteFileBytes(Path("out/name.txt/inner"), {'i'});
    test::WriteFileBytes(Path("out/first.txt"), {'o', 'l', 'd'});
    // Found by the count of existing files: once the user says yes, the run
    // stops there, before the first entry is written.
    const test::ProgramRun run = Run({"-dout", "a.qk1"}, "y\n");
    EXPECT_EQ(
        run.output,
        kBanner +
            Sjis("QK Question:\nファイル(2 file)が既に存在します。\n上書きしますか？ [y/n]:") +
            MessageOf("ファイル(out/name.txt)が出力(fopen)できません。\n処理を中止します。"));
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(test::ReadFileBytes(Path("out/name.txt/inner")), (Bytes{'i'}));
    EXPECT_EQ(test::ReadFileBytes(Path("out/first.txt")), (Bytes{'o', 'l', 'd'}));
    EXPECT_FALSE(fs::exists(Path("out/last.txt")));
    // A link to a folder at the file's place is no file either.
    fs::remove_all(Path("out/name.txt"));
    fs::create_directory(Path("elsewhere"));
    fs::create_directory_symlink(Path("elsewhere"), Path("out/name.txt"));
    EXPECT_EQ(Run({"-y", "-dout", "a.qk1"}).exitCode, 2);
    EXPECT_EQ(test::ReadFileBytes(Path("out/first.txt")), (Bytes{'o', 'l', 'd'}));
    EXPECT_TRUE(fs::is_empty(Path("elsewhere")));
}

// ---------------------------------------------------------------------------
// Standard input that ends, or was never open
// ---------------------------------------------------------------------------

const char kNothingWritten[] =
    "QK Question:\nファイル(1 file)が既に存在します。\n上書きしますか？ [y/n]:"
    "QK Question:\nファイルの内容と圧縮ファイルの内容を比較しますか？ [y/n]:"
    "QK Information:\nファイルを出力せずに終了します。\n";

TEST_F(FaultTest, InputEndingAtAQuestionAnswersNo) {
    // Large enough that the archive is still being read at the question.
    WriteArchive("a.qk1", {{"x.txt", 1000000000, Noise(100000, 5)},
                           {"y.txt", 1000000000, Noise(100000, 6)}});
    test::WriteFileBytes(Path("x.txt"), {'o', 'l', 'd'});
    for (const bool closed : {false, true}) {
        test::RunSettings settings = Settings();
        settings.closedInput = closed;
        // Were the closed input handed to the archive, its bytes would answer.
        const test::ProgramRun run = test::RunQkdec({"a.qk1"}, settings);
        EXPECT_EQ(run.output, kBanner + Sjis(kNothingWritten)) << closed;
        EXPECT_EQ(run.exitCode, 0);
        EXPECT_EQ(test::ReadFileBytes(Path("x.txt")), (Bytes{'o', 'l', 'd'}));
        EXPECT_FALSE(fs::exists(Path("y.txt")));
    }
    // Ending at the question of the comparison stops it there.
    const test::ProgramRun compare = Run({"a.qk1"}, "n\ny\n");
    EXPECT_NE(compare.output.find(Sjis("比較処理を続けますか？ [y/n]:")), std::string::npos);
    EXPECT_EQ(compare.output.find("CompFile(2/2)"), std::string::npos);
    EXPECT_EQ(compare.exitCode, 0);
}

TEST_F(FaultTest, InputEndingAtThePasswordOrFolderPrompt) {
    WriteArchive("locked.qk1", {{"x.txt", 0, {'x'}}}, "secret");
    const std::string expected = kBanner + "QK InputPassword:\n" +
                                 Sjis("パスワードを入力して下さい。?:") + "QK Information:\n" +
                                 Sjis("パスワードが入力されませんでした。\n処理を中止します。\n");
    for (const bool closed : {false, true}) {
        test::RunSettings settings = Settings();
        settings.closedInput = closed;
        const test::ProgramRun run = test::RunQkdec({"locked.qk1"}, settings);
        EXPECT_EQ(run.output, expected) << closed;
        EXPECT_EQ(run.exitCode, 2);
    }
    // A lone -d with nothing to read: the archive's own folder.
    WriteArchive("open.qk1", {{"y.txt", 0, {'y'}}});
    test::RunSettings settings = Settings();
    settings.closedInput = true;
    const test::ProgramRun run = test::RunQkdec({"-d", "open.qk1"}, settings);
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_TRUE(fs::exists(Path("y.txt")));
    EXPECT_FALSE(fs::exists(Path("x.txt")));
}

// ---------------------------------------------------------------------------
// Long names, many entries, empty entries
// ---------------------------------------------------------------------------

TEST_F(FaultTest, LongNamesUpToTheFileSystemsLimit) {
    fs::create_directory(Path("out"));
    // 255 bytes is the longest name most file systems hold: no room is left
    // for a temporary's suffix, and the file is still written.
    const std::string longest = std::string(251, 'n') + ".txt";
    WriteArchive("a.qk1", {{longest, 1000000000, {'l'}}});
    test::ProgramRun run = Run({"-dout", "a.qk1"});
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_EQ(test::ReadFileBytes(Path("out/" + longest)), (Bytes{'l'}));

    // One byte more cannot be written; the message shows the whole name.
    const std::string tooLong = std::string(252, 'm') + ".txt";
    WriteArchive("b.qk1", {{tooLong, 0, {'x'}}});
    run = Run({"-dout", "b.qk1"});
    EXPECT_NE(run.output.find(MessageOf("ファイル(out/" + tooLong +
                                        ")が出力(fopen)できません。\n処理を中止します。")),
              std::string::npos);
    EXPECT_EQ(run.exitCode, 2);

    // A path longer than the system takes, made of folders of 200 bytes.
    std::string deep;
    for (int i = 0; i < 25; ++i) deep += std::string(200, static_cast<char>('a' + i)) + "/";
    WriteArchive("c.qk1", {{deep + "x.txt", 0, {'x'}}});
    run = Run({"-dout", "c.qk1"});
    EXPECT_NE(run.output.find(Sjis("が作成(mkdir)できません。\n処理を中止します。")),
              std::string::npos);
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(Temporaries(Path("out")), 0);
}

TEST_F(FaultTest, TenThousandEntries) {
    std::vector<ArchiveEntry> entries;
    std::int64_t total = 0;
    for (int i = 0; i < 10000; ++i) {
        const std::string name = "d" + std::to_string(i % 10) + "/f" + std::to_string(i) + ".txt";
        Bytes data(static_cast<std::size_t>(i % 13), static_cast<std::uint8_t>('a' + i % 26));
        total += static_cast<std::int64_t>(data.size());
        entries.push_back({name, 1000000000u + static_cast<std::uint32_t>(i) * 2, data});
    }
    WriteArchive("many.qk1", entries);
    fs::create_directory(Path("out"));
    const test::ProgramRun run = Run({"-dout", "many.qk1"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_NE(run.output.find("OutDir: out/ (10,000 file: " + std::to_string(total / 1000) + "," +
                              std::to_string(total % 1000 + 1000).substr(1) + " byte)\n"),
              std::string::npos);
    EXPECT_NE(run.output.find("OutFile(10000/10000): d9/f9999.txt (2 byte)\n"), std::string::npos);
    int files = 0;
    for (const auto& entry : fs::recursive_directory_iterator(Path("out")))
        files += entry.is_regular_file();
    EXPECT_EQ(files, 10000);
    for (int i : {0, 1, 4999, 9998, 9999}) {
        const ArchiveEntry& entry = entries[static_cast<std::size_t>(i)];
        EXPECT_EQ(test::ReadFileBytes(Path("out/" + entry.name)), entry.data) << entry.name;
        EXPECT_EQ(platform::QueryFile(Path("out/" + entry.name)).modifiedTime, entry.time);
    }
}

TEST_F(FaultTest, EmptyEntryInEveryPositionOfABatch) {
    // Batches [500], [300, 200], [500]; the empty entry goes before, between
    // and after them, and inside the middle one.
    const std::vector<std::size_t> sizes = {500, 300, 200, 500};
    for (std::size_t at = 0; at <= sizes.size(); ++at) {
        std::vector<ArchiveEntry> entries;
        for (std::size_t i = 0; i < sizes.size(); ++i) {
            if (i == at) entries.push_back({"empty.txt", 1200000000, {}});
            entries.push_back({"f" + std::to_string(i), 1100000000,
                               Noise(sizes[i], static_cast<std::uint32_t>(i))});
        }
        if (at == sizes.size()) entries.push_back({"empty.txt", 1200000000, {}});
        const std::string folder = "out" + std::to_string(at);
        fs::create_directory(Path(folder));
        WriteArchive("a.qk1", entries);
        const test::ProgramRun run = Run({"-d" + folder, "a.qk1"});
        EXPECT_EQ(run.exitCode, 0) << at << run.output;
        EXPECT_NE(run.output.find("OutFile(" + std::to_string(at + 1) + "/5): empty.txt (0 byte)"),
                  std::string::npos)
            << at;
        for (const ArchiveEntry& entry : entries) {
            const std::string path = Path(folder + "/" + entry.name);
            EXPECT_EQ(test::ReadFileBytes(path), entry.data) << at << " " << entry.name;
            EXPECT_EQ(platform::QueryFile(path).modifiedTime, entry.time)
                << at << " " << entry.name;
        }
    }
    // Only empty entries, and a single one.
    for (const std::size_t count : {3u, 1u}) {
        std::vector<ArchiveEntry> entries;
        for (std::size_t i = 0; i < count; ++i)
            entries.push_back({"e" + std::to_string(i), 1300000000, {}});
        WriteArchive("e.qk1", entries);
        fs::remove_all(Path("empty"));
        fs::create_directory(Path("empty"));
        EXPECT_EQ(Run({"-dempty", "e.qk1"}).exitCode, 0);
        for (const ArchiveEntry& entry : entries) {
            EXPECT_EQ(platform::QueryFile(Path("empty/" + entry.name)).size, 0);
            EXPECT_EQ(platform::QueryFile(Path("empty/" + entry.name)).modifiedTime, entry.time);
        }
    }
}

}  // namespace
}  // namespace qk
