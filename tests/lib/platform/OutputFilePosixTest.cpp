// Files and folders on POSIX systems: an output file replaces what stands at
// its target only once it is complete, with the usual mode, and leaves no
// temporary behind.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>

#include "platform/FileSystem.h"
#include "platform/FolderHandle.h"
#include "support/TestSupport.h"

namespace qk::platform {
namespace {

namespace fs = std::filesystem;

class OutputFileTest : public testing::Test {
  protected:
    // A known mask, so that a file made 0600 cannot pass for 0666 less it.
    void SetUp() override { mask_ = ::umask(022); }
    void TearDown() override { ::umask(mask_); }

    std::string Path(const std::string& name) const { return dir_.path() + "/" + name; }
    void Write(const std::string& name, const std::string& text) const {
        test::WriteFileBytes(Path(name), test::Bytes(text.begin(), text.end()));
    }
    // What stands in `folder`: "name=contents" for a file, "name->target" for
    // a link, "name/" for a folder, sorted.
    std::vector<std::string> Listing(const std::string& folder) const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(Path(folder))) {
            const std::string name = e.path().filename().string();
            if (e.is_symlink()) {
                names.push_back(name + "->" + fs::read_symlink(e.path()).filename().string());
            } else if (e.is_directory()) {
                names.push_back(name + "/");
            } else {
                const test::Bytes bytes = test::ReadFileBytes(e.path().string());
                names.push_back(name + "=" + std::string(bytes.begin(), bytes.end()));
            }
        }
        std::sort(names.begin(), names.end());
        return names;
    }
    int Mode(const std::string& name) const {
        struct stat st;
        return ::stat(Path(name).c_str(), &st) == 0 ? static_cast<int>(st.st_mode & 0777) : -1;
    }

    test::TempDir dir_;
    mode_t mask_ = 0;
};

// Whatever stands at the target (nothing, an old file, a link to a file or
// to nothing), the new file takes its place whole on Commit, never written
// through the link; abandoned, it leaves the target as it was.
TEST_F(OutputFileTest, TargetReplacedOnlyByACompleteFile) {
    int round = 0;
    for (const std::string before : {"", "old", "->elsewhere", "->nowhere"}) {
        for (const bool inFolder : {false, true}) {
            for (const bool commit : {false, true}) {
                SCOPED_TRACE(before + (inFolder ? " in a folder" : " by path") +
                             (commit ? ", committed" : ", abandoned"));
                const std::string folder = "case" + std::to_string(++round);
                fs::create_directory(Path(folder));
                Write(folder + "/elsewhere", "e");
                std::vector<std::string> expected = {"elsewhere=e"};
                if (before == "old") Write(folder + "/t", "old");
                if (before.rfind("->", 0) == 0) {
                    fs::create_symlink(Path(folder + "/" + before.substr(2)), Path(folder + "/t"));
                }
                if (!before.empty()) expected.push_back("t" + (before == "old" ? "=old" : before));
                {
                    FolderHandle handle;
                    ASSERT_TRUE(handle.OpenRoot(Path(folder)));
                    OutputFileWriter file;
                    ASSERT_TRUE(inFolder ? file.Create(handle, "t")
                                         : file.Create(Path(folder + "/t")));
                    ASSERT_EQ(file.Write("new", 3), 3);
                    ASSERT_TRUE(!commit || file.Commit());
                }
                if (commit) expected = {"elsewhere=e", "t=new"};
                EXPECT_EQ(Listing(folder), expected);
                EXPECT_TRUE(!commit || Mode(folder + "/t") == 0644) << Mode(folder + "/t");
            }
        }
    }
}

TEST_F(OutputFileTest, NoFileWhereAFolderStandsAndNoTemporaryAfterAFailedRename) {
    fs::create_directory(Path("folder"));
    OutputFileWriter file;
    EXPECT_FALSE(file.Create(Path("folder")));
    EXPECT_FALSE(file.Commit());

    // The old file is replaced by a folder while the new one is written: the
    // rename fails, and the temporary goes.
    Write("t", "old");
    ASSERT_TRUE(file.Create(Path("t")));
    ASSERT_EQ(file.Write("new", 3), 3);
    fs::remove(Path("t"));
    fs::create_directory(Path("t"));
    Write("t/inner", "i");
    EXPECT_FALSE(file.Commit());
    EXPECT_EQ(Listing(""), (std::vector<std::string>{"folder/", "t/"}));
}

// A name as long as the file system takes leaves no room for a temporary's
// suffix: the temporary takes a short name of its own.
TEST_F(OutputFileTest, OldFileOfTheLongestNameIsReplaced) {
    const std::string longest(255, 'n');
    Write(longest, "old");
    FolderHandle handle;
    ASSERT_TRUE(handle.OpenRoot(dir_.path()));
    for (const bool inFolder : {false, true}) {
        OutputFileWriter file;
        ASSERT_TRUE(inFolder ? file.Create(handle, longest) : file.Create(Path(longest)));
        ASSERT_EQ(file.Write("new", 3), 3);
        ASSERT_TRUE(file.Commit());
        EXPECT_EQ(Listing(""), std::vector<std::string>{longest + "=new"});
        Write(longest, "old");
    }
    OutputFileWriter file;
    EXPECT_FALSE(file.Create(handle, longest + "n"));
}

}  // namespace
}  // namespace qk::platform
