// Writing output files on POSIX systems: a new file in place, an old one
// replaced only when the new one is complete, and what is left after a
// failure. Also the large blocks that batches are decoded into.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "platform/FileSystem.h"
#include "platform/FolderHandle.h"
#include "platform/Memory.h"
#include "support/TestSupport.h"

namespace qk::platform {
namespace {

namespace fs = std::filesystem;
using test::Bytes;

class OutputFileTest : public testing::Test {
  protected:
    std::string Path(const std::string& name) const { return dir_.path() + "/" + name; }
    std::size_t FileCount() const {
        return static_cast<std::size_t>(
            std::distance(fs::directory_iterator(dir_.path()), fs::directory_iterator()));
    }
    test::TempDir dir_;
};

TEST_F(OutputFileTest, NewFileIsWrittenInPlaceAndRemovedUnlessCommitted) {
    {
        OutputFileWriter file;
        ASSERT_TRUE(file.Create(Path("new.txt")));
        EXPECT_EQ(file.Write("abc", 3), 3);
        EXPECT_TRUE(fs::exists(Path("new.txt")));
        EXPECT_EQ(FileCount(), 1u);  // no temporary beside it
    }
    EXPECT_FALSE(fs::exists(Path("new.txt")));

    OutputFileWriter file;
    ASSERT_TRUE(file.Create(Path("new.txt")));
    EXPECT_EQ(file.Write("abc", 3), 3);
    ASSERT_TRUE(file.Commit());
    EXPECT_EQ(test::ReadFileBytes(Path("new.txt")), (Bytes{'a', 'b', 'c'}));
    // The usual permissions: 0666 less the umask, as for the temporary's way.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    struct stat st;
    ASSERT_EQ(::stat(Path("new.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0666 & ~mask);
}

TEST_F(OutputFileTest, OldFileStaysUntilTheNewOneIsComplete) {
    test::WriteFileBytes(Path("old.txt"), {'o', 'l', 'd'});
    {
        OutputFileWriter file;
        ASSERT_TRUE(file.Create(Path("old.txt")));
        EXPECT_EQ(file.Write("new", 3), 3);
        EXPECT_EQ(test::ReadFileBytes(Path("old.txt")), (Bytes{'o', 'l', 'd'}));
    }
    EXPECT_EQ(test::ReadFileBytes(Path("old.txt")), (Bytes{'o', 'l', 'd'}));
    EXPECT_EQ(FileCount(), 1u);

    OutputFileWriter file;
    ASSERT_TRUE(file.Create(Path("old.txt")));
    EXPECT_EQ(file.Write("new", 3), 3);
    ASSERT_TRUE(file.Commit());
    EXPECT_EQ(test::ReadFileBytes(Path("old.txt")), (Bytes{'n', 'e', 'w'}));
    EXPECT_EQ(FileCount(), 1u);
}

TEST_F(OutputFileTest, LinksAndFoldersAtTheTarget) {
    // A link, even one to nowhere, is replaced and never written through.
    test::WriteFileBytes(Path("elsewhere"), {'e'});
    fs::create_symlink(Path("elsewhere"), Path("link"));
    fs::create_symlink(Path("nowhere"), Path("dangling"));
    for (const char* name : {"link", "dangling"}) {
        OutputFileWriter file;
        ASSERT_TRUE(file.Create(Path(name)));
        EXPECT_EQ(file.Write("x", 1), 1);
        ASSERT_TRUE(file.Commit());
        EXPECT_FALSE(fs::is_symlink(Path(name))) << name;
        EXPECT_EQ(test::ReadFileBytes(Path(name)), Bytes{'x'});
    }
    EXPECT_EQ(test::ReadFileBytes(Path("elsewhere")), Bytes{'e'});
    EXPECT_FALSE(fs::exists(Path("nowhere")));

    // A folder cannot become a file.
    fs::create_directory(Path("folder"));
    OutputFileWriter file;
    EXPECT_FALSE(file.Create(Path("folder")));
    EXPECT_TRUE(fs::is_directory(Path("folder")));
    EXPECT_FALSE(file.Commit());
}

TEST_F(OutputFileTest, FolderIsOpenedWithoutLinksAndKeptWhateverHappensToItsPath) {
    fs::create_directories(Path("root/sub/deep"));
    fs::create_directory(Path("elsewhere"));
    fs::create_symlink(Path("root"), Path("rootlink"));
    fs::create_symlink(Path("elsewhere"), Path("root/link"));
    fs::create_symlink(Path("nowhere"), Path("root/dangling"));
    test::WriteFileBytes(Path("root/file"), {'f'});

    // The root may be a link; a folder below it may not, nor a missing one.
    FolderHandle root;
    ASSERT_TRUE(root.OpenRoot(Path("rootlink/")));
    FolderHandle sub, deep, other;
    EXPECT_EQ(root.OpenChild("sub", false, sub), ChildResult::kOpened);
    EXPECT_EQ(sub.OpenChild("deep", false, deep), ChildResult::kOpened);
    for (const bool make : {false, true}) {
        EXPECT_EQ(root.OpenChild("link", make, other), ChildResult::kLink);
        EXPECT_EQ(root.OpenChild("dangling", make, other), ChildResult::kLink);
        EXPECT_EQ(root.OpenChild("file", make, other), ChildResult::kNotFolder);
        EXPECT_FALSE(other.valid());
    }
    EXPECT_EQ(root.OpenChild("missing", false, other), ChildResult::kMissing);
    EXPECT_FALSE(fs::exists(Path("nowhere")));
    EXPECT_TRUE(fs::is_empty(Path("elsewhere")));
    // Names of one component only.
    for (const char* name : {"sub/deep", "", ".", ".."}) {
        EXPECT_EQ(root.OpenChild(name, true, other), ChildResult::kFailed) << name;
    }
    EXPECT_EQ(root.OpenChild("made", true, other), ChildResult::kOpened);
    EXPECT_TRUE(fs::is_directory(Path("root/made")));

    // The path is swapped for a link after the folder was opened: the file
    // still lands in the folder opened, nothing in the link's target.
    fs::rename(Path("root/sub"), Path("root/moved"));
    fs::create_symlink(Path("elsewhere"), Path("root/sub"));
    OutputFileWriter file;
    ASSERT_TRUE(file.Create(sub, "a.txt"));
    EXPECT_EQ(file.Write("a", 1), 1);
    ASSERT_TRUE(file.Commit());
    EXPECT_TRUE(sub.SetFileTime("a.txt", 1000000000u));
    EXPECT_EQ(test::ReadFileBytes(Path("root/moved/a.txt")), Bytes{'a'});
    EXPECT_TRUE(fs::is_empty(Path("elsewhere")));
    const NameStatus status = sub.Query("a.txt", false);
    EXPECT_EQ(status.kind, EntryKind::kFile);
    EXPECT_EQ(status.size, 1);
    EXPECT_EQ(status.modifiedTime, 1000000000);

    // One name only: a separator would lead through folders never checked.
    OutputFileWriter nested;
    EXPECT_FALSE(nested.Create(sub, "deep/b.txt"));
    EXPECT_FALSE(nested.Create(sub, ""));
    EXPECT_FALSE(nested.Create(sub, ".."));

    // The time of a link at the name is the link's own; a query tells the
    // link from what it leads to.
    fs::create_symlink(Path("elsewhere"), Path("root/moved/timelink"));
    struct stat st;
    ASSERT_EQ(::stat(Path("elsewhere").c_str(), &st), 0);
    const time_t before = st.st_mtime;
    EXPECT_TRUE(sub.SetFileTime("timelink", 1000000000u));
    ASSERT_EQ(::stat(Path("elsewhere").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtime, before);
    EXPECT_EQ(sub.Query("timelink", false).kind, EntryKind::kSymbolicLink);
    EXPECT_EQ(sub.Query("timelink", true).kind, EntryKind::kDirectory);
    EXPECT_EQ(sub.Query("missing", true).kind, EntryKind::kMissing);
}

TEST_F(OutputFileTest, FolderThatMayBeWrittenButNotListed) {
    fs::create_directory(Path("dropbox"));
    fs::permissions(Path("dropbox"), fs::perms::owner_write | fs::perms::owner_exec);
    FolderHandle root, folder;
    ASSERT_TRUE(root.OpenRoot(dir_.path()));
    ASSERT_EQ(root.OpenChild("dropbox", false, folder), ChildResult::kOpened);
    OutputFileWriter file;
    ASSERT_TRUE(file.Create(folder, "in.txt"));
    EXPECT_EQ(file.Write("x", 1), 1);
    EXPECT_TRUE(file.Commit());
    fs::permissions(Path("dropbox"), fs::perms::owner_all);
    EXPECT_EQ(test::ReadFileBytes(Path("dropbox/in.txt")), Bytes{'x'});
}

TEST(LargeBlockTest, EveryByteOfSmallAndLargeBlocksIsUsable) {
    for (std::size_t size : {std::size_t{0}, std::size_t{1000}, (std::size_t{9} << 20) + 3}) {
        const LargeBlock block(size);
        ASSERT_TRUE(block.valid()) << size;
        const std::size_t usable = size ? size : 1;
        block.get()[0] = 1;
        block.get()[usable / 2] = 2;
        block.get()[usable - 1] = 3;
        EXPECT_EQ(block.get()[usable - 1], 3);
    }
}

// Inputs are opened without waiting: a pipe with no writer, or a link to
// one, is refused at once (an open or read that blocked would hang the
// test), a plain file or a link to one is opened, and a missing path is
// told from a pipe.
TEST_F(OutputFileTest, OnlyPlainFilesAreOpenedForReading) {
    ASSERT_EQ(mkfifo(Path("pipe").c_str(), 0600), 0);
    fs::create_symlink("pipe", Path("to-pipe"));
    test::WriteFileBytes(Path("plain"), {'o', 'k'});
    fs::create_symlink("plain", Path("to-plain"));
    struct Case {
        const char* name;
        bool opened;
        bool notRegular;
    };
    for (const Case c :
         {Case{"pipe", false, true}, Case{"to-pipe", false, true}, Case{"plain", true, false},
          Case{"to-plain", true, false}, Case{"missing", false, false}, Case{".", false, true}}) {
        bool notRegular = !c.notRegular;
        FileHolder file(OpenRegularForRead(Path(c.name), &notRegular));
        EXPECT_EQ(static_cast<bool>(file), c.opened) << c.name;
        EXPECT_EQ(notRegular, c.notRegular) << c.name;
        if (file) {
            char bytes[3] = {};
            EXPECT_EQ(std::fread(bytes, 1, 3, file.get()), 2u) << c.name;  // reads block again
        }
    }
}

}  // namespace
}  // namespace qk::platform
