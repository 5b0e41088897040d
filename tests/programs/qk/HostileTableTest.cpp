// Hostile archives through both programs: one table, each row an archive
// made by the library's writer, what stands in the output folder before, and
// what qkdec (-y -dout/) and qk x (-f -o out) must both do with it. After
// every run nothing may exist outside the output folder, and no temporary
// anywhere. The programs run as built, through the shell (ToolRunner).
#include <fcntl.h>
#include <ftw.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "ToolRunner.h"
#include "platform/Text.h"
#include "qk1/ArchiveWriter.h"
#include "support/TestSupport.h"

namespace qk {
namespace {

namespace fs = std::filesystem;
using test::RunResult;

enum class Program { kQkdec, kQk };

const char* NameOf(Program program) {
    return program == Program::kQkdec ? "qkdec" : "qk";
}

std::string Sjis(const std::string& utf8) {
    std::string cp932;
    EXPECT_TRUE(platform::Utf8ToCp932(utf8, cp932)) << utf8;
    return cp932;
}

std::vector<std::uint8_t> Text(const std::string& text) {
    return std::vector<std::uint8_t>(text.begin(), text.end());
}

std::string ReadText(const std::string& path) {
    const test::Bytes data = test::ReadFileBytes(path);
    return std::string(data.begin(), data.end());
}

// Every path below `folder` (links not followed), relative to it, with a
// '/' after folders. nftw, unlike std::filesystem's iterator, does not hold
// a descriptor per level, so trees deeper than the descriptor limit list.
std::vector<std::string> gListing;
std::size_t gListingRoot = 0;

int Collect(const char* path, const struct stat*, int type, struct FTW*) {
    std::string relative(path);
    if (relative.size() <= gListingRoot) return 0;
    relative = relative.substr(gListingRoot + 1);
    if (type == FTW_D || type == FTW_DP) relative += '/';
    gListing.push_back(relative);
    return 0;
}

std::vector<std::string> Listing(const std::string& folder) {
    gListing.clear();
    gListingRoot = folder.size();
    if (!fs::exists(fs::symlink_status(folder))) return {};
    ::nftw(folder.c_str(), Collect, 16, FTW_PHYS);
    std::vector<std::string> paths;
    paths.swap(gListing);
    std::sort(paths.begin(), paths.end());
    return paths;
}

std::size_t Files(const std::string& folder) {
    std::size_t files = 0;
    for (const std::string& path : Listing(folder)) {
        files += path.back() != '/' && fs::is_regular_file(fs::symlink_status(folder + "/" + path));
    }
    return files;
}

std::size_t Temporaries(const std::string& folder) {
    std::size_t count = 0;
    for (const std::string& path : Listing(folder))
        count += path.find(".qktmp-") != std::string::npos;
    return count;
}

// What one program must do with a row's archive.
struct Expect {
    Expect(int exit, std::string text, bool keepsFolder = false)
        : exitCode(exit), says(std::move(text)), untouched(keepsFolder) {}
    int exitCode;  // -1: whatever the other program gives
    // Must appear in its output (standard output and error together): UTF-8,
    // or Shift-JIS where the row runs under the C locale.
    std::string says;
    // The output folder must stay as it was: the archive is refused before
    // anything is written or made.
    bool untouched;
};

struct Row {
    using Setup = std::function<void(const std::string& dir)>;
    using Check = std::function<void(const std::string& dir, Program program)>;
    Row(std::string what, std::function<std::vector<ArchiveEntry>()> archive, Expect forQkdec,
        Expect forQk, std::string underLocale = "C.UTF-8", Setup before = nullptr,
        Check after = nullptr, std::string shellPrefix = "")
        : title(std::move(what)),
          entries(std::move(archive)),
          qkdec(std::move(forQkdec)),
          qk(std::move(forQk)),
          locale(std::move(underLocale)),
          setup(std::move(before)),
          check(std::move(after)),
          prefix(std::move(shellPrefix)) {}
    std::string title;
    std::function<std::vector<ArchiveEntry>()> entries;
    Expect qkdec;
    Expect qk;
    std::string locale;
    // Run in the test's folder before each program: what stands there.
    Setup setup;
    // Checked after each program.
    Check check;
    // Shell words before the program (a limit, say).
    std::string prefix;
};

std::vector<ArchiveEntry> Deep(std::size_t components) {
    std::string name;
    for (std::size_t i = 1; i < components; ++i) name += "a/";
    return {{name + "f", 0, Text("deep")}};
}

// Entries below two folders 1,900 levels deep that share their first 1,000
// levels, alternating between them.
constexpr int kTreeEntries = 4000;
std::vector<ArchiveEntry> DeepTree() {
    std::string stem;
    for (int i = 0; i < 1000; ++i) stem += "d/";
    std::string left = stem, right = stem;
    for (int i = 0; i < 900; ++i) {
        left += "x/";
        right += "y/";
    }
    std::vector<ArchiveEntry> entries;
    for (int i = 0; i < kTreeEntries; ++i) {
        entries.push_back({(i % 2 ? right : left) + "f" + std::to_string(i), 1000000000,
                           Text(std::to_string(i))});
    }
    return entries;
}

std::string Outside(const std::string& utf8) {
    return "ファイル名(" + utf8 + ")が出力先フォルダの外を指しています。";
}

std::vector<Row> Rows() {
    std::vector<Row> rows;
    rows.push_back({"a name of 100,000 components is refused at once",
                    [] { return Deep(100000); },
                    {2, "が作成(mkdir)できません。", true},
                    {2, "not extracted: the path is longer than the system allows", true}});
    rows.push_back({"a deep tree alternating between two folders is extracted in linear time",
                    DeepTree,
                    {0, "OutFile(4000/4000)"},
                    {0, ""},
                    "C.UTF-8",
                    nullptr,
                    [](const std::string& dir, Program program) {
                        EXPECT_EQ(Files(dir + "/out"), static_cast<std::size_t>(kTreeEntries))
                            << NameOf(program);
                        const std::vector<ArchiveEntry> entries = DeepTree();
                        for (int i : {0, 1, kTreeEntries - 1}) {
                            EXPECT_EQ(
                                ReadText(dir + "/out/" + entries[static_cast<std::size_t>(i)].name),
                                std::to_string(i))
                                << NameOf(program);
                        }
                    }});
    rows.push_back(
        {"the two bytes C: are a drive letter",
         [] {
             return std::vector<ArchiveEntry>{{"fine.txt", 0, Text("f")}, {"C:", 0, Text("c")}};
         },
         {2, Outside("C:"), true},
         {2, "C:: not extracted: drive letter", true}});
    rows.push_back({"a drive letter before a name",
                    [] {
                        return std::vector<ArchiveEntry>{{"c:x.txt", 0, Text("c")}};
                    },
                    {2, Outside("c:x.txt"), true},
                    {2, "not extracted: drive letter", true}});
    for (const char* name : {"../up.txt", "a/../../up.txt", "/abs.txt", "\\\\server\\share\\x",
                             "sub/..", "a\\..\\..\\up.txt"}) {
        std::string shown = name;
        std::replace(shown.begin(), shown.end(), '\\', '/');
        rows.push_back({std::string("refused before anything is written: ") + name,
                        [name] {
                            return std::vector<ArchiveEntry>{{"first.txt", 0, Text("1")},
                                                             {name, 0, Text("x")}};
                        },
                        {2, Outside(shown), true},
                        {2, "nothing extracted", true}});
    }
    rows.push_back({"a name longer than the file system takes, checked before anything is written",
                    [] {
                        return std::vector<ArchiveEntry>{{"first.txt", 0, Text("1")},
                                                         {std::string(256, 'n'), 0, Text("x")}};
                    },
                    {2, "が出力(fopen)できません。", true},
                    {2, "not extracted: a name longer than the file system allows", true}});
    rows.push_back({"a path longer than the system takes leaves no folders behind",
                    [] {
                        std::string deep;
                        for (int i = 0; i < 25; ++i)
                            deep += std::string(200, static_cast<char>('a' + i)) + "/";
                        return std::vector<ArchiveEntry>{{"first.txt", 0, Text("1")},
                                                         {deep + "x.txt", 0, Text("x")}};
                    },
                    {2, "が作成(mkdir)できません。", true},
                    {2, "not extracted: the path is longer than the system allows", true}});
    rows.push_back(
        {"a name ending in a separator names no file",
         [] {
             return std::vector<ArchiveEntry>{{"first.txt", 0, Text("1")}, {"dir/", 0, Text("x")}};
         },
         {2, "ファイル名(dir/)はこのシステムでは使えません。", true},
         {2, "not extracted: no file name", true}});
    rows.push_back({"a link below the output folder is never written through",
                    [] {
                        return std::vector<ArchiveEntry>{{"link/new/x.txt", 0, Text("x")}};
                    },
                    {2, "ディレクトリ(out/link)がシンボリックリンクです。"},
                    {2, "its folder out/link is a symbolic link"},
                    "C.UTF-8",
                    [](const std::string& dir) {
                        fs::create_directory(dir + "/out");
                        fs::create_directory_symlink(dir + "/outside", dir + "/out/link");
                    }});
    // The byte 0x80 takes the '/' after it into one character for the
    // program; whatever the file system gets, nothing goes through the link
    // named like the escaped byte.
    rows.push_back({"a link named %80 and an entry 80 2F newdir\\f.txt",
                    [] {
                        return std::vector<ArchiveEntry>{{"\x80/newdir\\f.txt", 0, Text("f")}};
                    },
                    {0, ""},
                    {-1, ""},
                    "C.UTF-8",
                    [](const std::string& dir) {
                        fs::create_directory(dir + "/out");
                        fs::create_directory_symlink(dir + "/outside", dir + "/out/%80");
                    },
                    [](const std::string& dir, Program program) {
                        EXPECT_TRUE(fs::is_symlink(dir + "/out/%80")) << NameOf(program);
                        EXPECT_EQ(Listing(dir + "/out").size(), 3u) << NameOf(program);
                    }});
    rows.push_back({"%80 and the byte 80 land on one file: the later wins, with a notice",
                    [] {
                        return std::vector<ArchiveEntry>{{"%80", 0, Text("first")},
                                                         {"\x80", 0, Text("second")}};
                    },
                    // (How the console shows a lone 0x80 is the business of the text conversion.)
                    {0, "が重複しています。\n前のファイルを上書きします。"},
                    {0, "out/%80: another entry of the archive lands on this file too"},
                    "C.UTF-8",
                    nullptr,
                    [](const std::string& dir, Program program) {
                        EXPECT_EQ(ReadText(dir + "/out/%80"), "second") << NameOf(program);
                    }});
    rows.push_back({"a.txt and ./a.txt are one file",
                    [] {
                        return std::vector<ArchiveEntry>{{"a.txt", 0, Text("first")},
                                                         {"./a.txt", 0, Text("second")}};
                    },
                    {0, "ファイル名(./a.txt)が重複しています。"},
                    {0, "another entry of the archive lands on this file too"},
                    "C.UTF-8",
                    nullptr,
                    [](const std::string& dir, Program program) {
                        EXPECT_EQ(ReadText(dir + "/out/a.txt"), "second") << NameOf(program);
                    }});
    // Under the C locale the bytes reach the file system unchanged: the '/'
    // after 0x81 would be a separator there that the program does not see.
    rows.push_back(
        {"a separator inside a character under the C locale",
         [] {
             return std::vector<ArchiveEntry>{{"first.txt", 0, Text("1")},
                                              {"\x81/x.txt", 0, Text("x")}};
         },
         {2, Sjis("ファイル名(") + "\x81/x.txt" + Sjis(")はこのシステムでは使えません。"), true},
         {2, "the file system would cut the name inside a character", true},
         "C"});
    rows.push_back({"a file-size limit is an ordinary write failure, leaving nothing behind",
                    [] {
                        std::vector<std::uint8_t> noise(300000);
                        std::uint32_t seed = 7;
                        for (std::uint8_t& b : noise) {
                            seed = seed * 1103515245u + 12345u;
                            b = static_cast<std::uint8_t>(seed >> 23);
                        }
                        return std::vector<ArchiveEntry>{{"small.txt", 0, Text("s")},
                                                         {"big.bin", 0, noise},
                                                         {"old.bin", 0, noise}};
                    },
                    {2, "ファイル(out/big.bin)が出力(fwrite)できません。"},
                    {2, "out/big.bin: cannot write the file"},
                    "C.UTF-8",
                    [](const std::string& dir) {
                        fs::create_directory(dir + "/out");
                        test::WriteFileBytes(dir + "/out/old.bin", Text("old"));
                    },
                    [](const std::string& dir, Program program) {
                        EXPECT_FALSE(fs::exists(dir + "/out/big.bin")) << NameOf(program);
                        EXPECT_EQ(ReadText(dir + "/out/old.bin"), "old") << NameOf(program);
                        EXPECT_EQ(ReadText(dir + "/out/small.txt"), "s") << NameOf(program);
                    },
                    // 100 blocks: at least 50 KB, far below the entry.
                    "ulimit -f 100;"});
    return rows;
}

class HostileTableTest : public ::testing::Test {
  protected:
    RunResult RunProgram(Program program, const std::string& dir, const Row& row) {
        const std::string env = "LC_ALL=" + row.locale + " ";
        const std::string command = program == Program::kQkdec ? env + "\"$QKDEC\" -y -dout/ a.qk1"
                                                               : env + "\"$QK\" x -f -o out a.qk1";
        return test::RunShell(dir, row.prefix + command + " 2>&1");
    }
};

TEST_F(HostileTableTest, EveryRowInBothPrograms) {
    for (const Row& row : Rows()) {
        SCOPED_TRACE(row.title);
        std::vector<ArchiveEntry> entries = row.entries();
        WriteOptions options;
        options.level = 1;
        std::vector<std::uint8_t> archive;
        std::string error;
        ASSERT_EQ(WriteArchive(entries, options, archive, &error), Status::kOk) << error;
        int exitCodes[2] = {0, 0};
        std::vector<std::string> listings[2];
        for (const Program program : {Program::kQkdec, Program::kQk}) {
            SCOPED_TRACE(NameOf(program));
            const test::TempDir work;
            const std::string dir = work.path();
            fs::create_directory(dir + "/outside");
            fs::create_directory(dir + "/out");
            test::WriteFileBytes(dir + "/a.qk1", archive);
            if (row.setup) row.setup(dir);
            const std::vector<std::string> before = Listing(dir + "/out");
            const RunResult r = RunProgram(program, dir, row);
            const Expect& expect = program == Program::kQkdec ? row.qkdec : row.qk;
            if (expect.exitCode >= 0) {
                EXPECT_EQ(r.status, expect.exitCode) << r.out.substr(0, 2000);
            }
            exitCodes[program == Program::kQk] = r.status;
            if (!expect.says.empty()) {
                EXPECT_NE(r.out.find(expect.says), std::string::npos) << r.out.substr(0, 4000);
            }
            // Nothing outside the output folder, nothing beside it, no temporary.
            EXPECT_TRUE(fs::is_empty(dir + "/outside"));
            for (const auto& e : fs::directory_iterator(dir)) {
                const std::string name = e.path().filename().string();
                EXPECT_TRUE(name == "a.qk1" || name == "out" || name == "outside") << name;
            }
            EXPECT_EQ(Temporaries(dir + "/out"), 0u);
            if (expect.untouched) {
                EXPECT_EQ(Listing(dir + "/out"), before);
            }
            if (row.check) row.check(dir, program);
            listings[program == Program::kQk] = Listing(dir + "/out");
        }
        EXPECT_EQ(exitCodes[0], exitCodes[1]);
        EXPECT_EQ(listings[0], listings[1]);
    }
}

// ---------------------------------------------------------------------------
// Interrupted while writing
// ---------------------------------------------------------------------------

// Starts `argv` in `dir` under a UTF-8 locale with the default signal
// actions (not through a shell, which would have a background program ignore
// SIGINT), waits until `watched` (below `dir`, a name or, ending in '*', a
// prefix of a name in its folder) exists, sends `signal`, and gives the
// program's wait status; -1 when the program ended before.
int InterruptWhenWriting(const std::string& dir, const std::vector<std::string>& argv,
                         const std::string& watched, int signal) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::chdir(dir.c_str()) != 0) ::_exit(127);
        const int null = ::open("/dev/null", O_RDWR);
        ::dup2(null, 0);
        ::dup2(null, 1);
        ::dup2(null, 2);
        std::vector<char*> args;
        for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
        args.push_back(nullptr);
        ::setenv("LC_ALL", "C.UTF-8", 1);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    const fs::path target = fs::path(dir) / watched;
    const bool prefix = !watched.empty() && watched.back() == '*';
    const auto seen = [&] {
        if (!prefix) return fs::exists(fs::symlink_status(target));
        const std::string start = target.filename().string();
        std::error_code error;
        for (const auto& e : fs::directory_iterator(target.parent_path(), error)) {
            if (e.path().filename().string().rfind(start.substr(0, start.size() - 1), 0) == 0)
                return true;
        }
        return false;
    };
    int status = 0;
    for (;;) {
        if (::waitpid(pid, &status, WNOHANG) == pid) return -1;
        if (seen()) break;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    ::kill(pid, signal);
    ::waitpid(pid, &status, 0);
    return status;
}

// 128 MiB of zeros: decoded in a moment, written in a good while.
std::vector<std::uint8_t> LargeArchive() {
    std::vector<ArchiveEntry> entries = {{"small.txt", 1000000000, Text("s")},
                                         {"big.bin", 1000000000, {}}};
    entries[1].data.assign(128u << 20, 0);
    WriteOptions options;
    options.level = 1;
    std::vector<std::uint8_t> archive;
    std::string error;
    EXPECT_EQ(WriteArchive(std::move(entries), options, archive, &error), Status::kOk) << error;
    return archive;
}

TEST_F(HostileTableTest, InterruptedWriteLeavesNothingHalfWritten) {
    const std::vector<std::uint8_t> archive = LargeArchive();
    struct Case {
        Program program;
        int signal;
        bool oldFile;  // an old big.bin stands: the new one goes through a temporary
    };
    for (const Case& c :
         {Case{Program::kQkdec, SIGINT, false}, Case{Program::kQkdec, SIGTERM, true},
          Case{Program::kQk, SIGINT, true}, Case{Program::kQk, SIGTERM, false}}) {
        SCOPED_TRACE(std::string(NameOf(c.program)) + " signal " + std::to_string(c.signal) +
                     (c.oldFile ? " over an old file" : " new file"));
        const test::TempDir work;
        const std::string dir = work.path();
        fs::create_directory(dir + "/out");
        test::WriteFileBytes(dir + "/a.qk1", archive);
        if (c.oldFile) test::WriteFileBytes(dir + "/out/big.bin", Text("old"));
        const std::vector<std::string> argv =
            c.program == Program::kQkdec
                ? std::vector<std::string>{QKDEC_PROGRAM, "-y", "-dout/", "a.qk1"}
                : std::vector<std::string>{QK_PROGRAM, "x", "-f", "-o", "out", "a.qk1"};
        const int status = InterruptWhenWriting(
            dir, argv, c.oldFile ? "out/big.bin.qktmp-*" : "out/big.bin", c.signal);
        ASSERT_NE(status, -1) << "the program ended before it was interrupted";
        // Ended by the signal itself: a shell reports 128 + n (130, 143).
        EXPECT_TRUE(WIFSIGNALED(status));
        EXPECT_EQ(WTERMSIG(status), c.signal);
        EXPECT_EQ(Temporaries(dir + "/out"), 0u);
        if (c.oldFile) {
            EXPECT_EQ(ReadText(dir + "/out/big.bin"), "old");
        } else {
            EXPECT_FALSE(fs::exists(dir + "/out/big.bin"));
        }
        EXPECT_EQ(ReadText(dir + "/out/small.txt"), "s");
        // Skipping existing files afterwards keeps nothing cut short.
        if (!c.oldFile) {
            const RunResult again = test::RunShell(dir, "\"$QK\" x -n -q -o out a.qk1");
            EXPECT_EQ(again.status, 0) << again.err;
            EXPECT_EQ(fs::file_size(dir + "/out/big.bin"), 128u << 20);
        }
    }
}

}  // namespace
}  // namespace qk
