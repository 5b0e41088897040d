// The extraction road on POSIX systems: the plan of a whole table (refusals,
// entries landing on one file), the count of existing targets, folders
// reached one level at a time while the tree changes under the road, and
// files left whole or not at all, also when a signal ends the program. The
// check of one name is in EntryNameTest.cpp.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "extract/Road.h"
#include "platform/PartialFile.h"
#include "support/TestSupport.h"

namespace qk::extract {
namespace {

namespace fs = std::filesystem;
using platform::TextMode;
using test::Bytes;

NameList Names(const std::vector<std::string>& names) {
    NameList list;
    for (const std::string& name : names) list.Add(name);
    return list;
}

class RoadTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::create_directory(Path("out"));
        fs::create_directory(Path("outside"));
    }
    std::string Path(const std::string& relative) const { return dir_.path() + "/" + relative; }
    RoadSettings Settings(TextMode mode = TextMode::kPassThrough) const {
        RoadSettings settings;
        settings.separator = '/';
        settings.textMode = mode;
        return settings;
    }
    // Reaches and writes one entry; the step that ended it.
    static Road::Step Extract(Road& road, const std::string& name, const std::string& text) {
        const Road::Step reached = road.Reach(name, Road::Mode::kMake);
        if (reached != Road::Step::kDone) return reached;
        return road.Write(reinterpret_cast<const std::uint8_t*>(text.data()),
                          static_cast<std::int64_t>(text.size()));
    }
    std::string Read(const std::string& relative) const {
        const Bytes bytes = test::ReadFileBytes(Path(relative));
        return std::string(bytes.begin(), bytes.end());
    }
    test::TempDir dir_;
};

TEST_F(RoadTest, PlanStopsAtTheRefusalsAndFindsEntriesOfOneFile) {
    Road road(Settings(TextMode::kUtf8));
    ASSERT_TRUE(road.Open(Path("out/")));
    const NameList bad = Names({"a.txt", "../x", "b.txt", "/abs", "C:"});
    std::vector<Road::Refused> refused = road.Plan(bad, nullptr, 10);
    ASSERT_EQ(refused.size(), 3u);
    EXPECT_EQ(refused[0].index, 1);
    EXPECT_EQ(refused[0].refusal, Refusal::kParentFolder);
    EXPECT_EQ(refused[2].refusal, Refusal::kDriveLetter);
    EXPECT_EQ(road.Plan(bad, nullptr, 1).size(), 1u);
    // Only the selected entries count.
    const std::vector<bool> selected = {true, false, true, false, false};
    EXPECT_TRUE(road.Plan(bad, &selected, 10).empty());

    const NameList same = Names({"a.txt", "d/f", "./a.txt", "d//f", "%80", "\x80", "other", "%80"});
    ASSERT_TRUE(road.Plan(same, nullptr, 10).empty());
    const std::vector<bool> expected = {false, false, true, true, false, true, false, true};
    for (std::int32_t i = 0; i < same.Count(); ++i) {
        EXPECT_EQ(road.IsDuplicate(i), expected[static_cast<std::size_t>(i)]) << i;
    }
    // Unconverted, the byte 0x80 and the text %80 are two names.
    Road raw(Settings());
    ASSERT_TRUE(raw.Plan(Names({"%80", "\x80"}), nullptr, 1).empty());
    EXPECT_FALSE(raw.IsDuplicate(1));
}

TEST_F(RoadTest, CountOfExistingTargetsMakesNothing) {
    fs::create_directories(Path("out/a/b"));
    test::WriteFileBytes(Path("out/a/b/old.txt"), {'o'});
    fs::create_directories(Path("out/a/folder.txt"));
    test::WriteFileBytes(Path("out/file"), {'f'});
    fs::create_directory_symlink(Path("outside"), Path("out/link"));
    test::WriteFileBytes(Path("outside/x.txt"), {'x'});
    Road road(Settings());
    ASSERT_TRUE(road.Open(Path("out/")));
    const NameList names = Names({"a/b/old.txt", "a/b/new.txt", "missing/deep/x.txt", "file/x",
                                  "link/x.txt", "a/folder.txt", "a/b/old.txt"});
    ASSERT_TRUE(road.Plan(names, nullptr, 1).empty());
    const Road::Existing existing = road.CountExisting(names, nullptr);
    // Twice the old file and the folder; nothing through the link.
    EXPECT_EQ(existing.count, 3);
    EXPECT_EQ(existing.folderAt, 5);
    EXPECT_FALSE(fs::exists(Path("out/missing")));
    EXPECT_FALSE(fs::exists(Path("out/a/b/new.txt")));
}

TEST_F(RoadTest, FoldersAreMadeOneLevelAtATimeAndLinksRefused) {
    Road road(Settings());
    ASSERT_TRUE(road.Open(Path("out/")));
    EXPECT_EQ(Extract(road, "a/b/c.txt", "c"), Road::Step::kDone);
    EXPECT_EQ(Read("out/a/b/c.txt"), "c");
    EXPECT_TRUE(road.SetTime(1000000000u));
    EXPECT_EQ(road.Query(false).modifiedTime, 1000000000);

    fs::create_directory_symlink(Path("outside"), Path("out/a/link"));
    EXPECT_EQ(Extract(road, "a/link/new/x.txt", "x"), Road::Step::kLink);
    EXPECT_EQ(road.failedComponent(), 1u);
    EXPECT_EQ(road.ProgramPath(1), Path("out/a/link"));
    test::WriteFileBytes(Path("out/a/file"), {'f'});
    EXPECT_EQ(Extract(road, "a/file/x.txt", "x"), Road::Step::kNotFolder);
    EXPECT_EQ(road.failedComponent(), 1u);
    // A folder at the file's name cannot become a file.
    EXPECT_EQ(Extract(road, "a/b", "x"), Road::Step::kCreateFailed);
    EXPECT_TRUE(fs::is_empty(Path("outside")));

    // The output folder is not made.
    Road missing(Settings());
    EXPECT_FALSE(missing.Open(Path("nowhere/")));
    ASSERT_TRUE(missing.Plan(Names({"x/y.txt"}), nullptr, 1).empty());
    EXPECT_EQ(Extract(missing, "x/y.txt", "y"), Road::Step::kOpenFailed);
    EXPECT_EQ(missing.failedComponent(), missing.components());
    EXPECT_FALSE(fs::exists(Path("nowhere")));
}

// A folder below the output folder is swapped for a link to elsewhere
// between two entries, at every level and in every state of the road: what
// the road holds open stays the folder it opened, and a name is never
// resolved through the link.
TEST_F(RoadTest, FolderSwappedForALinkBetweenEntriesLeadsNowhere) {
    Road road(Settings());
    ASSERT_TRUE(road.Open(Path("out/")));
    ASSERT_EQ(Extract(road, "a/b/c/1.txt", "1"), Road::Step::kDone);

    // The folder of the entry written last.
    fs::rename(Path("out/a/b"), Path("out/a/moved"));
    fs::create_directory_symlink(Path("outside"), Path("out/a/b"));
    EXPECT_EQ(Extract(road, "a/b/c/2.txt", "2"), Road::Step::kDone);
    EXPECT_EQ(Read("out/a/moved/c/2.txt"), "2");
    // A new folder below the swapped one.
    EXPECT_EQ(Extract(road, "a/b/new/3.txt", "3"), Road::Step::kDone);
    EXPECT_EQ(Read("out/a/moved/new/3.txt"), "3");
    EXPECT_TRUE(fs::is_empty(Path("outside")));

    // A road that had not opened it meets the link, and stops.
    Road fresh(Settings());
    ASSERT_TRUE(fresh.Open(Path("out/")));
    EXPECT_EQ(Extract(fresh, "a/b/c/4.txt", "4"), Road::Step::kLink);
    EXPECT_EQ(fresh.failedComponent(), 1u);
    EXPECT_TRUE(fs::is_empty(Path("outside")));

    // Swapped between the count and the write, below folders the count
    // opened: the folder it holds is where the entry goes.
    fs::create_directories(Path("out/p/q"));
    Road counting(Settings());
    ASSERT_TRUE(counting.Open(Path("out/")));
    const NameList names = Names({"p/q/r/5.txt"});
    ASSERT_TRUE(counting.Plan(names, nullptr, 1).empty());
    EXPECT_EQ(counting.CountExisting(names, nullptr).count, 0);
    fs::rename(Path("out/p/q"), Path("out/p/gone"));
    fs::create_directory_symlink(Path("outside"), Path("out/p/q"));
    EXPECT_EQ(Extract(counting, "p/q/r/5.txt", "5"), Road::Step::kDone);
    EXPECT_EQ(Read("out/p/gone/r/5.txt"), "5");
    EXPECT_TRUE(fs::is_empty(Path("outside")));

    // A folder removed and replaced by a link while the road holds it: the
    // road's folder is gone, nothing can be made in it, nothing elsewhere.
    ASSERT_EQ(Extract(road, "e/1.txt", "1"), Road::Step::kDone);
    fs::remove_all(Path("out/e"));
    fs::create_directory_symlink(Path("outside"), Path("out/e"));
    EXPECT_NE(Extract(road, "e/2.txt", "2"), Road::Step::kDone);
    EXPECT_NE(Extract(road, "e/f/3.txt", "3"), Road::Step::kDone);
    EXPECT_TRUE(fs::is_empty(Path("outside")));
}

TEST_F(RoadTest, DeepTreeAlternatingBetweenTwoFolders) {
    std::string stem;
    for (int i = 0; i < 300; ++i) stem += "d/";
    std::string left = stem, right = stem;
    for (int i = 0; i < 300; ++i) {
        left += "x/";
        right += "y/";
    }
    std::vector<std::string> list;
    for (int i = 0; i < 2000; ++i) list.push_back((i % 2 ? right : left) + std::to_string(i));
    const NameList names = Names(list);
    Road road(Settings());
    ASSERT_TRUE(road.Open(Path("out/")));
    ASSERT_TRUE(road.Plan(names, nullptr, 1).empty());
    EXPECT_EQ(road.CountExisting(names, nullptr).count, 0);
    for (const std::string& name : list) ASSERT_EQ(Extract(road, name, name), Road::Step::kDone);
    EXPECT_EQ(road.CountExisting(names, nullptr).count, 2000);
    EXPECT_EQ(Read("out/" + list[1999]), list[1999]);
}

// A handler as the programs install it, without the terminal.
extern "C" void DiscardAndLeave(int) {
    platform::DiscardPartialFiles();
    ::_exit(99);
}

TEST_F(RoadTest, ASignalWhileWritingRemovesTheFile) {
    test::WriteFileBytes(Path("out/old.txt"), {'o', 'l', 'd'});
    for (const char* name : {"new.txt", "old.txt"}) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::signal(SIGINT, DiscardAndLeave);
            Road road(Settings());
            if (!road.Open(Path("out/")) ||
                road.Reach(name, Road::Mode::kMake) != Road::Step::kDone)
                ::_exit(1);
            platform::OutputFileWriter file;
            platform::FolderHandle folder;
            folder.OpenRoot(Path("out/"));
            if (!file.Create(folder, name) || file.Write("partial", 7) != 7) ::_exit(2);
            ::raise(SIGINT);
            ::_exit(3);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 99) << name;
    }
    EXPECT_FALSE(fs::exists(Path("out/new.txt")));
    EXPECT_EQ(Read("out/old.txt"), "old");
    EXPECT_EQ(std::distance(fs::directory_iterator(Path("out")), fs::directory_iterator()), 1);
}

}  // namespace
}  // namespace qk::extract
