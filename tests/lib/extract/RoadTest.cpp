// The extraction road on POSIX systems: folders reached one level at a time,
// also while the tree changes under the road, and files left whole or not at
// all when a signal ends the program.
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
using Step = Road::Step;

class RoadTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::create_directory(Path("out"));
        fs::create_directory(Path("outside"));
        ASSERT_TRUE(road_.Open(Path("out/")));
    }
    std::string Path(const std::string& relative) const { return dir_.path() + "/" + relative; }
    // Reaches and writes one entry; the step that ended it.
    static Step Extract(Road& road, const std::string& name) {
        const Step reached = road.Reach(name, Road::Mode::kMake);
        if (reached != Step::kDone) return reached;
        return road.Write(reinterpret_cast<const std::uint8_t*>(name.data()),
                          static_cast<std::int64_t>(name.size()));
    }
    std::string Read(const std::string& relative) const {
        const test::Bytes bytes = test::ReadFileBytes(Path(relative));
        return std::string(bytes.begin(), bytes.end());
    }
    void SwapForLink(const std::string& folder, const std::string& movedTo) {
        fs::rename(Path(folder), Path(movedTo));
        fs::create_directory_symlink(Path("outside"), Path(folder));
    }
    bool OutsideEmpty() const { return fs::is_empty(Path("outside")); }

    test::TempDir dir_;
    Road road_{RoadSettings{'/', platform::TextMode::kPassThrough}};
};

TEST_F(RoadTest, FoldersAreMadeOneLevelAtATimeAndLinksRefused) {
    EXPECT_EQ(Extract(road_, "a/b/c.txt"), Step::kDone);
    EXPECT_EQ(Read("out/a/b/c.txt"), "a/b/c.txt");

    fs::create_directory_symlink(Path("outside"), Path("out/a/link"));
    EXPECT_EQ(Extract(road_, "a/link/new/x.txt"), Step::kLink);
    EXPECT_EQ(road_.ProgramPath(road_.failedComponent()), Path("out/a/link"));
    test::WriteFileBytes(Path("out/a/file"), {'f'});
    EXPECT_EQ(Extract(road_, "a/file/x.txt"), Step::kNotFolder);
    EXPECT_EQ(road_.failedComponent(), 1u);
    // A folder at the file's name cannot become a file.
    EXPECT_EQ(Extract(road_, "a/b"), Step::kCreateFailed);
    EXPECT_TRUE(OutsideEmpty());
}

// A folder below the output folder is swapped for a link to elsewhere
// between two entries: what the road holds open stays the folder it opened,
// and a name is never resolved through the link.
TEST_F(RoadTest, FolderSwappedForALinkBetweenEntriesLeadsNowhere) {
    ASSERT_EQ(Extract(road_, "a/b/c/1.txt"), Step::kDone);
    SwapForLink("out/a/b", "out/a/moved");
    EXPECT_EQ(Extract(road_, "a/b/c/2.txt"), Step::kDone);
    EXPECT_EQ(Extract(road_, "a/b/new/3.txt"), Step::kDone);
    EXPECT_EQ(Read("out/a/moved/c/2.txt"), "a/b/c/2.txt");
    EXPECT_EQ(Read("out/a/moved/new/3.txt"), "a/b/new/3.txt");

    // Swapped between the count and the write: the folder the count opened
    // is where the entry goes.
    fs::create_directories(Path("out/p/q"));
    NameList one;
    one.Add("p/q/r/5.txt");
    EXPECT_EQ(road_.CountExisting(one, nullptr).count, 0);
    SwapForLink("out/p/q", "out/p/gone");
    EXPECT_EQ(Extract(road_, "p/q/r/5.txt"), Step::kDone);
    EXPECT_EQ(Read("out/p/gone/r/5.txt"), "p/q/r/5.txt");

    // Removed and replaced by a link while the road holds it: nothing is
    // made, in it or elsewhere.
    ASSERT_EQ(Extract(road_, "e/1.txt"), Step::kDone);
    fs::remove_all(Path("out/e"));
    fs::create_directory_symlink(Path("outside"), Path("out/e"));
    EXPECT_NE(Extract(road_, "e/2.txt"), Step::kDone);
    EXPECT_NE(Extract(road_, "e/f/3.txt"), Step::kDone);
    EXPECT_TRUE(OutsideEmpty());
}

// Deeper than the levels the road keeps open, and going round more folders
// than it keeps whole: the levels above are opened again from the nearest
// open one.
TEST_F(RoadTest, DeepTreeGoingRoundTwelveFolders) {
    std::string stem;
    for (int i = 0; i < 300; ++i) stem += "d/";
    NameList names;
    std::string name;
    for (int i = 0; i < 48; ++i) {
        name = stem + "b" + std::to_string(i % 12) + "/";
        for (int k = 0; k < 40; ++k) name += "e/";
        names.Add(name += std::to_string(i));
        ASSERT_EQ(Extract(road_, name), Step::kDone) << name;
    }
    EXPECT_EQ(road_.CountExisting(names, nullptr).count, 48);
    EXPECT_EQ(Read("out/" + name), name);
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
            platform::FolderHandle folder;
            platform::OutputFileWriter file;
            if (!folder.OpenRoot(Path("out/")) || !file.Create(folder, name) ||
                file.Write("partial", 7) != 7)
                ::_exit(2);
            ::raise(SIGINT);
            ::_exit(3);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 99) << name;
    }
    EXPECT_EQ(Read("out/old.txt"), "old");
    EXPECT_EQ(std::distance(fs::directory_iterator(Path("out")), fs::directory_iterator()), 1);
}

}  // namespace
}  // namespace qk::extract
