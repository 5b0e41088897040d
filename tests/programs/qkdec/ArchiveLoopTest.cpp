// An archive stopped through SetProgress, which only an interaction other
// than the console's asks for, gives exit code 2 as any archive not processed
// to its end, and the next archive is still processed.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/FileSystem.h"
#include "qk1/ArchiveWriter.h"
#include "qkdec/ArchiveLoop.h"
#include "support/TestSupport.h"

namespace qk {
namespace {

// Answers no to every question and stops at the `stopAt`th progress report.
class StoppingInteraction final : public Interaction {
  public:
    void Message(std::string_view) override {}
    void Information(std::string_view) override {}
    int Question(std::string_view) override { return 1; }
    std::string InputPassword(std::string_view) override { return {}; }
    void ShowProgress(int) override {}
    void Status(std::string_view) override {}
    int SetProgressRange(int) override { return 0; }
    int SetProgress(int) override { return ++calls == stopAt ? 1 : 0; }
    int calls = 0, stopAt = 2;  // before the second batch of a.qk1
};

TEST(ArchiveLoop, AStoppedArchiveEndsTheRunWithTwo) {
    const test::TempDir dir;
    const std::string out = dir.path() + platform::kSeparator;
    // One batch each.
    const std::vector<ArchiveEntry> a = {{"first", 0, test::Bytes(100, 'a')},
                                         {"second", 0, test::Bytes(100, 'b')}},
                                    b = {{"third", 0, test::Bytes(100, 'c')}};
    for (const auto& [name, entries] : {std::pair{"a.qk1", a}, {"b.qk1", b}}) {
        test::Bytes archive;
        ASSERT_EQ(WriteArchive(entries, WriteOptions(), archive, nullptr), Status::kOk);
        test::WriteFileBytes(out + name, archive);
    }
    StoppingInteraction interaction;
    EXPECT_EQ(RunArchives(interaction, out, {out + "a.qk1", out + "b.qk1"}), 2);
    EXPECT_TRUE(std::filesystem::exists(out + "first"));
    EXPECT_FALSE(std::filesystem::exists(out + "second"));
    EXPECT_TRUE(std::filesystem::exists(out + "third"));
    // Declining to overwrite is no failure.
    EXPECT_EQ(RunArchives(interaction, out, {out + "b.qk1"}), 0);
}

}  // namespace
}  // namespace qk
