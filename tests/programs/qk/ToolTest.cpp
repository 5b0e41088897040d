// The qk program end to end: each command run as a user runs it, on the
// reference archives and on archives it writes itself, with its output, its
// exit status and its effects on disk checked.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "ToolRunner.h"
#include "qk1/ArchiveWriter.h"
#include "platform/FileSystem.h"
#include "platform/Text.h"
#include "support/ReferenceDecoder.h"
#include "support/TestSupport.h"

namespace qk {
namespace {

namespace fs = std::filesystem;
using test::Json;
using test::RunQk;
using test::RunResult;
using test::RunShell;

std::string Vector(const std::string& name) {
    return test::VectorsDir() + "/" + name + ".qk1";
}

std::string FileSha(const std::string& path) {
    const test::Bytes data = test::ReadFileBytes(path);
    return test::Sha256Hex(data.data(), data.size());
}

void WriteText(const std::string& path, const std::string& text) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

std::string ReadText(const std::string& path) {
    const test::Bytes data = test::ReadFileBytes(path);
    return std::string(data.begin(), data.end());
}

// Writes an archive of `entries` (name, content) straight through the library.
void WriteArchiveFile(const std::string& path,
                      const std::vector<std::pair<std::string, std::string>>& entries) {
    std::vector<ArchiveEntry> list;
    for (const auto& [name, content] : entries) {
        ArchiveEntry e;
        e.name = name;
        e.time = 1000000000;
        e.data.assign(content.begin(), content.end());
        list.push_back(std::move(e));
    }
    std::vector<std::uint8_t> archive;
    std::string error;
    ASSERT_EQ(WriteArchive(list, WriteOptions(), archive, &error), Status::kOk) << error;
    test::WriteFileBytes(path, archive);
}

// Every file under `root`, relative path -> content digest and time.
std::map<std::string, std::pair<std::string, std::int64_t>> Snapshot(const std::string& root) {
    std::map<std::string, std::pair<std::string, std::int64_t>> files;
    for (const auto& e : fs::recursive_directory_iterator(root)) {
        if (!e.is_regular_file()) continue;
        const std::string path = e.path().string();
        files[fs::relative(e.path(), root).string()] = {FileSha(path),
                                                        platform::QueryFile(path).modifiedTime};
    }
    return files;
}

class ToolTest : public ::testing::Test {
  protected:
    void SetUp() override { platform::SetTextMode(platform::TextMode::kPassThrough); }
    std::string Path(const std::string& relative) const { return work_.path() + "/" + relative; }
    test::TempDir work_;
};

// ---------------------------------------------------------------- qk l

TEST_F(ToolTest, ListShowsSizesDatesNamesAndTotals) {
    const RunResult r = RunQk(work_.path(), "l '" + Vector("basic") + "'");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, "Archive: " + Vector("basic") +
                         "\n"
                         "         Size  Date       Time      Name\n"
                         "-------------  ---------- --------  --------\n"
                         "        3,000  2000-01-01 00:00:00  readme.txt\n"
                         "        1,500  2009-02-13 23:31:30  notes.txt\n"
                         "          700  2106-02-07 06:28:15  data.bin\n"
                         "-------------                       --------\n"
                         "        5,200                       3 files\n");
}

TEST_F(ToolTest, ListShowsNamesInTheChosenCharset) {
    const std::string archive = "'" + Vector("names_sjis") + "'";
    RunResult r = RunQk(work_.path(), "l " + archive);
    EXPECT_NE(r.out.find("dir/\xE8\xA1\xA8/\xE8\xA1\xA8\xE7\xA4\xBA.txt\n"), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("%EF%5Cy\n"), std::string::npos);
    r = RunQk(work_.path(), "l --charset=cp932 " + archive);
    EXPECT_NE(r.out.find("dir/\x95\x5C/\x95\x5C\x8E\xA6.txt\n"), std::string::npos);
    EXPECT_NE(r.out.find("end%81\n"), std::string::npos);
    r = RunQk(work_.path(), "l --charset=raw " + archive);
    EXPECT_NE(r.out.find("end\x81\n"), std::string::npos);
}

TEST_F(ToolTest, ListJsonParsesBackToTheTable) {
    for (const std::string name : {"basic", "names_sjis", "flags_lm1_ii1"}) {
        const RunResult r = RunQk(work_.path(), "l --json '" + Vector(name) + "'");
        ASSERT_EQ(r.status, 0) << r.err;
        const Json doc = test::ParseJson(r.out);
        const Json& archive = doc["archives"][0];
        const Json expect = test::LoadVectorExpectation(name);
        EXPECT_TRUE(archive["ok"].boolean);
        EXPECT_EQ(archive["large_model"].boolean, expect["header"]["large_model"].boolean);
        EXPECT_EQ(archive["insert_inner"].boolean, expect["header"]["insert_inner"].boolean);
        const Json& entries = archive["entries"];
        const Json& table = expect["table_entries"];
        ASSERT_EQ(entries.items.size(), table.items.size());
        for (std::size_t i = 0; i < entries.items.size(); ++i) {
            EXPECT_EQ(entries[i]["size"].Int(), table[i]["size"].Int());
            EXPECT_EQ(entries[i]["time"].Int(), table[i]["time"].Int());
            // The stored bytes come back from the UTF-8 name or, where that is
            // only an escaped form, from name_hex.
            std::string bytes;
            if (entries[i].fields.count("name_hex")) {
                bytes = entries[i]["name_hex"].text;
            } else {
                std::string cp932;
                ASSERT_TRUE(platform::Utf8ToCp932(entries[i]["name"].text, cp932));
                std::string stored;
                for (std::size_t k = 0; k < cp932.size(); ++k) {
                    const auto b = static_cast<std::uint8_t>(cp932[k]);
                    stored += b == '/' ? '\\' : cp932[k];
                    if ((b >= 0x80 && b <= 0x9F) || (b >= 0xE0 && b <= 0xEF)) stored += cp932[++k];
                }
                bytes = test::ToHex(reinterpret_cast<const std::uint8_t*>(stored.data()),
                                    stored.size());
            }
            EXPECT_EQ(bytes, table[i]["name_hex"].text) << name << " entry " << i;
        }
    }
}

TEST_F(ToolTest, ListOfAProtectedArchive) {
    const std::string archive = "'" + Vector("sfx_small_prefix") + "'";
    RunResult r = RunQk(work_.path(), "l " + archive);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("needs a password"), std::string::npos) << r.err;
    r = RunQk(work_.path(), "l -p 'pass word' --json " + archive);
    ASSERT_EQ(r.status, 0) << r.err;
    const Json doc = test::ParseJson(r.out);
    EXPECT_TRUE(doc["archives"][0]["self_extracting"].boolean);
    EXPECT_TRUE(doc["archives"][0]["password"].boolean);
    EXPECT_EQ(doc["archives"][0]["entries"][1]["name"].text, "dir/f01.bin");
}

// ---------------------------------------------------------------- qk t

TEST_F(ToolTest, TestSaysPerArchiveWhatIsWrong) {
    WriteText(Path("plain.txt"), "not an archive at all");
    const test::Bytes basic = test::ReadFileBytes(Vector("basic"));
    test::WriteFileBytes(Path("cut.qk1"), test::Bytes(basic.begin(), basic.begin() + 1200));
    RunResult r = RunQk(work_.path(), "t '" + Vector("basic") + "' '" + Vector("damaged_overrun") +
                                          "' plain.txt cut.qk1");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.out.find(Vector("basic") + ": OK (3 files, 5,200 bytes)\n"), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find(Vector("damaged_overrun") + ": FAILED: entry two.txt: damaged data"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("plain.txt: FAILED: not a qk1 archive"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("cut.qk1: FAILED"), std::string::npos) << r.out;

    r = RunQk(work_.path(), "t -p 'pass word' '" + Vector("sfx_small_prefix") + "'");
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    r = RunQk(work_.path(), "t -p wrong '" + Vector("sfx_small_prefix") + "'");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.out.find("FAILED: wrong password"), std::string::npos) << r.out;
    // Nothing is written.
    EXPECT_EQ(Snapshot(work_.path()).size(), 2u);

    // Data that ends well before the file: OK, with a warning that counts
    // what follows. A self-extracting program's trailer is no such byte.
    test::Bytes padded = basic;
    padded.resize(padded.size() + 300, 0);
    test::WriteFileBytes(Path("padded.qk1"), padded);
    r = RunQk(work_.path(), "t padded.qk1 '" + Vector("basic") + "' '" +
                                Vector("sfx_small_prefix") + "' -p 'pass word'");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("padded.qk1: OK (3 files, 5,200 bytes)"), std::string::npos) << r.out;
    EXPECT_EQ(r.err, "qk: padded.qk1: warning: 300 bytes after the end of the data\n");
}

// ---------------------------------------------------------------- qk x

TEST_F(ToolTest, ExtractAGlobWithDates) {
    const RunResult r = RunQk(work_.path(), "x '" + Vector("basic") + "' -o out '*.txt'");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");  // no progress bar without a terminal
    EXPECT_EQ(r.out, "  out/readme.txt\n  out/notes.txt\n");
    const Json expect = test::LoadVectorExpectation("basic");
    EXPECT_EQ(FileSha(Path("out/readme.txt")), expect["entries_decoded"][0]["sha256"].text);
    EXPECT_EQ(FileSha(Path("out/notes.txt")), expect["entries_decoded"][1]["sha256"].text);
    EXPECT_FALSE(fs::exists(Path("out/data.bin")));
    EXPECT_EQ(platform::QueryFile(Path("out/readme.txt")).modifiedTime, 946684800);
    EXPECT_EQ(platform::QueryFile(Path("out/notes.txt")).modifiedTime, 1234567890);
}

TEST_F(ToolTest, ExtractIntoTheCurrentFolderWithShiftJisNames) {
    RunResult r = RunQk(work_.path(), "x -q '" + Vector("names_sjis") + "'");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(fs::exists(Path("dir/\xE8\xA1\xA8/\xE8\xA1\xA8\xE7\xA4\xBA.txt")));
    EXPECT_TRUE(fs::exists(Path("%EF%5Cy")));  // not CP932: escaped, one name
    EXPECT_TRUE(fs::exists(Path("end%81")));
    // The same archive with CP932 names on disk.
    r = RunQk(work_.path(), "x -q --charset=cp932 -o sj '" + Vector("names_sjis") + "'");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(fs::exists(Path("sj/dir/\x95\x5C/\x95\x5C\x8E\xA6.txt")));
}

TEST_F(ToolTest, ExtractPoliciesForExistingFiles) {
    const std::string archive = "'" + Vector("basic") + "' notes.txt";
    const std::string notes = Path("notes.txt");
    const std::string fresh =
        test::LoadVectorExpectation("basic")["entries_decoded"][1]["sha256"].text;
    auto reset = [&] { WriteText(notes, "mine"); };

    reset();
    RunResult r = RunQk(work_.path(), "x --skip " + archive);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(ReadText(notes), "mine");
    EXPECT_NE(r.out.find("skipped notes.txt"), std::string::npos) << r.out;

    r = RunQk(work_.path(), "x -k " + archive);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(ReadText(notes), "mine");
    EXPECT_EQ(FileSha(Path("notes (1).txt")), fresh);

    r = RunQk(work_.path(), "x " + archive, "n\n");  // asked: no
    EXPECT_EQ(ReadText(notes), "mine");
    EXPECT_EQ(r.err.rfind("notes.txt exists. Replace it?", 0), 0u) << r.err;
    r = RunQk(work_.path(), "x " + archive, "");  // asked, nobody answers: kept
    EXPECT_EQ(ReadText(notes), "mine");
    r = RunQk(work_.path(), "x " + archive, "maybe\ny\n");  // asked again, then yes
    EXPECT_EQ(FileSha(notes), fresh);

    reset();
    r = RunQk(work_.path(), "x -f " + archive);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(FileSha(notes), fresh);

    // Skipped files are named with their folder, as written ones.
    WriteText(Path("out/notes.txt"), "mine");
    r = RunQk(work_.path(), "x -n -o out '" + Vector("basic") + "' notes.txt readme.txt");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "  out/readme.txt\n  skipped out/notes.txt (exists)\n");
    EXPECT_EQ(ReadText(Path("out/notes.txt")), "mine");
}

TEST_F(ToolTest, ExtractNeverLeavesTheOutputFolder) {
    WriteArchiveFile(Path("evil.qk1"), {{"good\\ok.txt", "fine"},
                                        {"..\\up.txt", "x"},
                                        {"/abs.txt", "x"},
                                        {"C:\\drive.txt", "x"},
                                        {"sub\\..\\..\\up2.txt", "x"}});
    fs::create_directories(Path("elsewhere"));
    // Every name is checked first: with one refused, nothing is written, not
    // even the output folder.
    RunResult r = RunQk(work_.path(), "x -q evil.qk1 -o out");
    EXPECT_EQ(r.status, 2);
    EXPECT_FALSE(fs::exists(Path("out")));
    EXPECT_FALSE(fs::exists(Path("up.txt")));
    EXPECT_FALSE(fs::exists(Path("up2.txt")));
    EXPECT_FALSE(fs::exists("/abs.txt"));
    for (const char* name : {"../up.txt", "/abs.txt", "C:/drive.txt", "sub/../../up2.txt"})
        EXPECT_NE(r.err.find(name), std::string::npos) << name << "\n" << r.err;
    EXPECT_NE(r.err.find("evil.qk1: nothing extracted"), std::string::npos) << r.err;

    // A link below the output folder is refused when its entry comes.
    WriteArchiveFile(Path("link.qk1"), {{"good\\ok.txt", "fine"}, {"link\\through.txt", "x"}});
    fs::create_directories(Path("out"));
    fs::create_directory_symlink(Path("elsewhere"), Path("out/link"));
    r = RunQk(work_.path(), "x -q link.qk1 -o out");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(ReadText(Path("out/good/ok.txt")), "fine");
    EXPECT_TRUE(fs::is_empty(Path("elsewhere")));
    EXPECT_NE(r.err.find("link/through.txt: not extracted: its folder out/link is a symbolic link"),
              std::string::npos)
        << r.err;
}

TEST_F(ToolTest, ExtractReplacesALinkInsteadOfWritingThroughIt) {
    WriteText(Path("victim.txt"), "keep me");
    fs::create_directories(Path("out"));
    fs::create_symlink(Path("victim.txt"), Path("out/notes.txt"));
    const RunResult r = RunQk(work_.path(), "x -f -o out '" + Vector("basic") + "' notes.txt");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadText(Path("victim.txt")), "keep me");
    EXPECT_FALSE(fs::is_symlink(Path("out/notes.txt")));
}

TEST_F(ToolTest, ProgressBarOnlyOnATerminal) {
    // script(1) gives the program a terminal; its output is what the user sees.
    const std::string run = "x '" + Vector("flags_lm1_ii1") + "' -o ";
    RunResult r = RunShell(work_.path(),
                           "command -v script >/dev/null || exit 77\n"
                           "script -qec \"\\\"$QK\\\" " +
                               run + "tty\" /dev/null");
    if (r.status == 77) GTEST_SKIP() << "no script(1) to provide a terminal";
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("100% [####################]"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("KiB"), std::string::npos);
    r = RunShell(work_.path(), "script -qec \"\\\"$QK\\\" -q " + run + "quiet\" /dev/null");
    EXPECT_EQ(r.out.find('%'), std::string::npos) << r.out;
    // Redirected: the file list on standard output, nothing on standard error.
    r = RunQk(work_.path(), run + "piped");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out.find('%'), std::string::npos);
}

// ---------------------------------------------------------------- qk p

TEST_F(ToolTest, PrintPipesEntriesIntoAChecksum) {
    const Json expect = test::LoadVectorExpectation("basic");
    RunResult r = RunShell(
        work_.path(), "\"$QK\" p '" + Vector("basic") + "' data.bin | sha256sum | cut -d' ' -f1");
    EXPECT_EQ(r.out, expect["entries_decoded"][2]["sha256"].text + "\n");
    // Several names: the entries in archive order, back to back.
    r = RunQk(work_.path(), "p '" + Vector("basic") + "' notes.txt readme.txt");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.size(), 4500u);
    EXPECT_EQ(test::Sha256Hex(reinterpret_cast<const std::uint8_t*>(r.out.data()) + 3000, 1500),
              expect["entries_decoded"][1]["sha256"].text);
    r = RunQk(work_.path(), "p '" + Vector("basic") + "' missing.txt");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("no entry missing.txt"), std::string::npos);
}

// ---------------------------------------------------------------- qk a

TEST_F(ToolTest, AddThenExtractARealTree) {
    const fs::path source = "/usr/include/linux";
    fs::create_directories(Path("src"));
    if (fs::is_directory(source)) {
        fs::copy(source, Path("src/linux"),
                 fs::copy_options::recursive | fs::copy_options::skip_symlinks);
    }
    // Names beyond ASCII, an empty file, a deep folder, old and new times.
    WriteText(Path("src/linux/\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E/\xE8\xA1\xA8.txt"), "hyou");
    WriteText(Path("src/linux/empty"), "");
    WriteText(Path("src/linux/a/b/c/d.bin"), std::string(70000, 'z'));
    fs::last_write_time(Path("src/linux/empty"), fs::file_time_type{});
    platform::SetFileTime(Path("src/linux/empty"), 315532800);

    RunResult r = RunQk(work_.path(), "a -q tree.qk1 -C src linux");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");
    r = RunQk(work_.path(), "x -q tree.qk1 -o dst");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Snapshot(Path("src")), Snapshot(Path("dst")));
    EXPECT_EQ(platform::QueryFile(Path("dst/linux/empty")).modifiedTime, 315532800);

    // The stored names are relative, with '\' between the components.
    r = RunQk(work_.path(), "l --json tree.qk1");
    const Json doc = test::ParseJson(r.out);
    bool found = false;
    for (const Json& e : doc["archives"][0]["entries"].items) {
        EXPECT_EQ(e["name"].text.rfind("linux/", 0), 0u) << e["name"].text;
        found |= e["name"].text == "linux/\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E/\xE8\xA1\xA8.txt";
    }
    EXPECT_TRUE(found);
    r = RunQk(work_.path(), "p tree.qk1 linux/a/b/c/d.bin");
    EXPECT_EQ(r.out, std::string(70000, 'z'));

    // The fastest and the smallest level give back the same tree.
    for (const char* level : {"1", "9"}) {
        r = RunQk(work_.path(),
                  std::string("a -q --level=") + level + " l" + level + ".qk1 -C src linux");
        ASSERT_EQ(r.status, 0) << r.err;
        r = RunQk(work_.path(), std::string("x -q l") + level + ".qk1 -o dst" + level);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(Snapshot(Path("src")), Snapshot(Path(std::string("dst") + level)));
    }
    EXPECT_LE(fs::file_size(Path("l9.qk1")), fs::file_size(Path("l1.qk1")));
    EXPECT_EQ(RunQk(work_.path(), "a --level=10 bad.qk1 -C src linux").status, 1);
}

// The names of an archive's entry table exactly as stored, read with the
// plain reference decoder.
std::vector<std::string> StoredNames(const std::string& archivePath) {
    const test::Bytes file = test::ReadFileBytes(archivePath);
    auto field = [&](int at) {
        return static_cast<std::int32_t>(std::uint32_t{file[at]} << 24 | file[at + 1] << 16 |
                                         file[at + 2] << 8 | file[at + 3]);
    };
    const std::int32_t tableSize = field(12), count = field(16);
    test::MemoryStream stream(test::Bytes(file.begin() + 20, file.end()));
    test::ReferenceLzDecoder decoder(&stream, file[6] & 2, file[6] & 1);
    std::vector<std::uint8_t> table(static_cast<std::size_t>(tableSize));
    decoder.Reset(table.data(), tableSize);
    EXPECT_EQ(decoder.Decode(tableSize), 0);
    std::vector<std::string> names;
    std::size_t at = 8 * static_cast<std::size_t>(count);
    for (std::int32_t i = 0; i < count; ++i) {
        const std::string name(reinterpret_cast<const char*>(table.data()) + at);
        at += name.size() + 1;
        names.push_back(name);
    }
    return names;
}

TEST_F(ToolTest, AddStoresRelativeNamesWithBackslashes) {
    WriteText(Path("in/sub/\xE8\xA1\xA8.txt"), "1");  // 表: 0x95 0x5C in CP932
    WriteText(Path("in/b.txt"), "2");
    WriteText(Path("top.txt"), "3");
    const RunResult r = RunQk(work_.path(), "a -q n.qk1 ./in/../in '" + Path("top.txt") + "'");
    ASSERT_EQ(r.status, 0) << r.err;
    std::string absolute = Path("top.txt").substr(1);  // the root dropped, '\' between
    for (char& c : absolute) c = c == '/' ? '\\' : c;
    EXPECT_EQ(StoredNames(Path("n.qk1")),
              (std::vector<std::string>{"in\\b.txt", "in\\sub\\\x95\x5C.txt", absolute}));
}

TEST_F(ToolTest, AddWithModelFlagsAndPassword) {
    WriteText(Path("in/a.txt"), "alpha alpha alpha alpha");
    WriteText(Path("in/b.txt"), "beta");
    RunResult r = RunQk(work_.path(), "a -l -i -p secret p.qk1 in");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("p.qk1: 2 files, 27 -> "), std::string::npos) << r.out;
    r = RunQk(work_.path(), "l --json -p secret p.qk1");
    ASSERT_EQ(r.status, 0) << r.err;
    const Json doc = test::ParseJson(r.out);
    EXPECT_TRUE(doc["archives"][0]["large_model"].boolean);
    EXPECT_TRUE(doc["archives"][0]["insert_inner"].boolean);
    EXPECT_TRUE(doc["archives"][0]["password"].boolean);
    r = RunQk(work_.path(), "x -q p.qk1 -o out");  // no terminal to ask at
    EXPECT_EQ(r.status, 2);
    EXPECT_FALSE(fs::exists(Path("out/in/a.txt")));
    r = RunQk(work_.path(), "x -q -p secret p.qk1 -o out");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadText(Path("out/in/a.txt")), "alpha alpha alpha alpha");
    // Asked for without a terminal: refused, nothing written.
    r = RunQk(work_.path(), "a -P q.qk1 in", "secret\nsecret\n");
    EXPECT_EQ(r.status, 2);
    EXPECT_FALSE(fs::exists(Path("q.qk1")));
}

TEST_F(ToolTest, AddAsksThePasswordTwiceAtATerminal) {
    WriteText(Path("in/a.txt"), "guarded");
    auto add = [&](const std::string& keys, const std::string& archive) {
        return RunShell(work_.path(),
                        "command -v script >/dev/null || exit 77\n"
                        "printf '" +
                            keys + "' | script -qec \"\\\"$QK\\\" a -q -P " + archive +
                            " in\" /dev/null");
    };
    RunResult r = add("sec\\177cret\\rsecret\\r", "p.qk1");  // with a backspace
    if (r.status == 77) GTEST_SKIP() << "no script(1) to provide a terminal";
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("Repeat the password: "), std::string::npos) << r.out;
    r = RunQk(work_.path(), "t -p secret p.qk1");
    EXPECT_EQ(r.status, 0) << r.err;
    r = add("one\\rtwo\\r", "q.qk1");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.out.find("the two passwords differ"), std::string::npos) << r.out;
    EXPECT_FALSE(fs::exists(Path("q.qk1")));
}

TEST_F(ToolTest, AddFailsCleanlyOnANameOrFileItCannotTake) {
    WriteText(Path("old.qk1"), "the old archive");
    WriteText(Path("in/ok.txt"), "ok");
    WriteText(Path("in/\xF0\x9F\x98\x80.txt"), "emoji");
    RunResult r = RunQk(work_.path(), "a old.qk1 in");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("in/\xF0\x9F\x98\x80.txt: the name cannot be written in CP932"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(ReadText(Path("old.qk1")), "the old archive");

    fs::remove(Path("in/\xF0\x9F\x98\x80.txt"));
    fs::create_symlink(Path("nowhere"), Path("in/dangling"));
    r = RunQk(work_.path(), "a old.qk1 in missing.txt");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("in/dangling"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("missing.txt: no such file or folder"), std::string::npos) << r.err;
    EXPECT_EQ(ReadText(Path("old.qk1")), "the old archive");
    for (const auto& e : fs::directory_iterator(work_.path()))
        EXPECT_EQ(e.path().string().find(".qktmp"), std::string::npos) << e.path();
}

// What qk a makes of inputs that are not plain files with plain names: the
// command's status, a message naming each, and what the archive holds
// ("" when none is written). Each case runs in a folder of its own, with
// in/a.txt ("hi") in place; `setup` adds the rest.
TEST_F(ToolTest, AddNamesEveryOddInput) {
    struct Case {
        const char* what;
        std::string setup;
        std::string command;
        int status;
        std::vector<std::string> messages;  // each somewhere on standard error
        std::string listed;                 // `qk l -q`'s names, or "" when nothing was written
    };
    const Case cases[] = {
        {"a link to nothing stops the command",
         "ln -s nowhere in/dangling",
         "a x.qk1 in",
         2,
         {"qk: in/dangling: a link to nothing\n", "x.qk1: not written"},
         ""},
        {"--skip-errors leaves it out, writes the rest, and fails",
         "ln -s nowhere in/dangling",
         "a --skip-errors x.qk1 in",
         2,
         {"qk: in/dangling: a link to nothing; left out\n",
          "x.qk1: written without 1 input that could not be taken"},
         "in/a.txt"},
        {"a name CP932 cannot hold, skipped",
         "echo x > in/$(printf '\\360\\237\\230\\200').txt",
         "a --skip-errors x.qk1 in",
         2,
         {"in/\xF0\x9F\x98\x80.txt: the name cannot be written in CP932 (Shift-JIS); left out"},
         "in/a.txt"},
        {"an empty folder and a link to a file are named",
         "mkdir in/empty && ln -s a.txt in/link",
         "a x.qk1 in",
         0,
         {"warning: in/empty: left out (an empty folder; archives hold only files)",
          "warning: in/link: a symbolic link; the file it leads to is stored"},
         "in/a.txt in/link"},
        {"a pipe inside a tree, directly or through a link, is left out",
         "mkfifo in/pipe && ln -s pipe in/to-pipe",
         "a x.qk1 in",
         0,
         {"warning: in/pipe: left out (a pipe, device or socket)",
          "warning: in/to-pipe: left out (a pipe, device or socket)"},
         "in/a.txt"},
        {"a file over the format's limit is refused by its size, unread",
         "truncate -s 3G in/sparse",
         "a x.qk1 in",
         2,
         {"qk: in/sparse: too large for the format (3,221,225,472 bytes; an entry holds at most "
          "2,147,483,647)"},
         ""},
        {"a pipe named on the command line is an error",
         "mkfifo pipe",
         "a x.qk1 pipe",
         2,
         {"qk: pipe: not a file or folder (a pipe, device or socket)", "x.qk1: not written"},
         ""},
        {"a UTF-8 name under LC_ALL=C gets a hint",
         "echo x > in/$(printf '\\350\\241\\250').txt",
         "a x.qk1 in/a.txt in/\xE8\xA1\xA8.txt",
         0,
         {"warning: in/\xE8\xA1\xA8.txt: the name looks like UTF-8 but is stored as Shift-JIS "
          "bytes (if names are UTF-8: --charset=utf-8)"},
         // stored as the CP932 bytes E8 A1 and A8, which read 陦 and ｨ
         "in/a.txt in/\xE9\x99\xA6\xEF\xBD\xA8.txt"},
        {"a refused name under LC_ALL=C gets the hint too",
         "echo x > 'in/a\\b.txt'",
         "a x.qk1 in",
         2,
         {"(if names are UTF-8: --charset=utf-8)"},
         ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(Path("case"));
        WriteText(Path("case/in/a.txt"), "hi");
        ASSERT_EQ(RunShell(Path("case"), c.setup).status, 0);
        const bool cLocale = std::string(c.what).find("LC_ALL=C") != std::string::npos;
        // A pipe that qk tried to read would hang it: the time limit tells.
        const RunResult r = RunShell(Path("case"), std::string(cLocale ? "LC_ALL=C " : "") +
                                                       "timeout 20 \"$QK\" " + c.command);
        EXPECT_EQ(r.status, c.status) << r.err;
        for (const std::string& message : c.messages) {
            EXPECT_NE(r.err.find(message), std::string::npos) << message << "\nin:\n" << r.err;
        }
        if (c.listed.empty()) {
            EXPECT_FALSE(fs::exists(Path("case/x.qk1")));
            continue;
        }
        const RunResult list =
            RunShell(Path("case"), std::string(cLocale ? "LC_ALL=C " : "") +
                                       "\"$QK\" l --json x.qk1 | grep -o '\"name\": *\"[^\"]*\"' "
                                       "| sed 's/.*\"\\(.*\\)\"/\\1/' | tr '\\n' ' '");
        EXPECT_EQ(list.out, c.listed + " ") << list.err;
    }
}

// qk a holds its inputs a few batches at a time, and its parse in bounded
// pieces: 64 files of 2 MiB of text (128 MiB, which the whole parse at level
// 1 would take over 700 MiB to hold) are packed by a process that peaks far
// below either. The bound leaves room for the compressed archive (about 50
// MiB), which is built in memory.
TEST_F(ToolTest, AddHoldsItsInputsInBoundedMemory) {
#ifdef QK_SANITIZED
    GTEST_SKIP() << "the sanitizers' own memory would be measured";
#endif
    fs::create_directories(Path("big"));
    for (int i = 0; i < 64; ++i) {
        std::string text;
        for (int n = 0; text.size() < (2u << 20); ++n)
            text += std::to_string(n * 7919 + i) + (n % 9 ? " " : "\n");
        text.resize(2u << 20);
        WriteText(Path("big/f" + std::to_string(i)), text);
    }
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (chdir(work_.path().c_str()) != 0) _exit(127);
        execl(QK_PROGRAM, "qk", "a", "-q", "--level=1", "big.qk1", "big",
              static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    struct rusage usage {};
    ASSERT_EQ(wait4(child, &status, 0, &usage), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    const long peakMib = usage.ru_maxrss / 1024;  // ru_maxrss is in KiB
    EXPECT_LT(peakMib, 320) << "qk a peaked at " << peakMib << " MiB";
    EXPECT_EQ(RunQk(work_.path(), "t -q big.qk1").status, 0);
}

TEST_F(ToolTest, SelfExtractingOutputRunsAsAProgram) {
    WriteText(Path("in/hello.txt"), "hello from inside");
    WriteText(Path("in/sub/deep.txt"), "deep");
    fs::create_directories(Path("run"));
    RunResult r = RunQk(work_.path(), "a -q --sfx-program \"$QKDEC\" run/self in");
    ASSERT_EQ(r.status, 0) << r.err;
    r = RunShell(Path("run"), "./self -y");
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(ReadText(Path("run/in/hello.txt")), "hello from inside");
    EXPECT_EQ(ReadText(Path("run/in/sub/deep.txt")), "deep");

    // Without --sfx-program the qkdec beside qk is taken.
    fs::create_directories(Path("bin"));
    r = RunShell(work_.path(), "cp \"$QK\" \"$QKDEC\" bin/ && bin/qk a -q --sfx other in");
    ASSERT_EQ(r.status, 0) << r.err;
    r = RunQk(work_.path(), "t other");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("other: OK (2 files"), std::string::npos);

    // The qk of the build tree takes the small qkdec-sfx beside it; the
    // program it makes still finds its archive, and asks for a folder.
    r = RunShell(work_.path(), "\"$QK\" a -q --sfx small in");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::uintmax_t size = fs::file_size(Path("small"));
    EXPECT_EQ(size, fs::file_size(QKDEC_SFX_PROGRAM) + fs::file_size(Path("other")) -
                        fs::file_size(QKDEC_PROGRAM));
#ifndef QK_SANITIZED  // the sanitizers' code is in it too
    EXPECT_LT(size, 512u << 10);
#endif
    fs::create_directories(Path("small-out"));
    r = RunShell(work_.path(), "./small -d -y", "small-out\n");
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(ReadText(Path("small-out/in/sub/deep.txt")), "deep");
}

// ---------------------------------------------------------------- usage

TEST_F(ToolTest, HelpVersionAndUsageErrors) {
    RunResult r = RunQk(work_.path(), "--help");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("Usage: qk COMMAND"), std::string::npos);
    r = RunQk(work_.path(), "x --help");
    EXPECT_NE(r.out.find("--existing=POLICY"), std::string::npos);
    EXPECT_EQ(RunQk(work_.path(), "help a").out, RunQk(work_.path(), "a -h").out);
    r = RunQk(work_.path(), "--version");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind("qk ", 0), 0u);
    for (const char* bad : {"", "frobnicate a.qk1", "x", "l --nope a.qk1", "p a.qk1"}) {
        r = RunQk(work_.path(), bad);
        EXPECT_EQ(r.status, 1) << bad;
        EXPECT_NE(r.err.find("qk --help"), std::string::npos) << bad;
    }
    r = RunQk(work_.path(), "help frobnicate");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("no such command: 'frobnicate'"), std::string::npos) << r.err;
    r = RunQk(work_.path(), "l missing.qk1");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("missing.qk1: cannot open"), std::string::npos);
}

}  // namespace
}  // namespace qk
