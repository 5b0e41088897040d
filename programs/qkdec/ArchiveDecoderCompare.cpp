// The compare mode: instead of overwriting the files that exist already, the
// archive is decoded as for extraction and each entry is held against the
// file of the same path: existence, size, modification time, contents. Each
// difference is shown and the user decides whether to go on. Nothing is
// written.
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <memory>
#include <new>

#include "qkdec/ArchiveDecoder.h"
#include "qkdec/ArchiveDecoderTexts.h"
#include "qkdec/MessageText.h"
#include "qkdec/NumberText.h"
#include "archive/PathParts.h"
#include "platform/FileSystem.h"

namespace qk {

namespace {

// A time as ctime shows it, local time, ending in a line feed (the question
// relies on it to break the line). ctime cannot render every time; those get
// a placeholder of the same shape.
std::string TimeText(std::int64_t seconds) {
    const std::time_t time = static_cast<std::time_t>(seconds);
    const char* text = std::ctime(&time);
    return text ? text : "--- --- -- --:--:-- ----\n";
}

// Two times are equal when they differ at most in their lowest bit: the
// format's times come from file systems that keep even seconds only.
bool SameTime(std::uint32_t a, std::uint32_t b) {
    return (a & ~1u) == (b & ~1u);
}

}  // namespace

int ArchiveDecoder::Compare(const std::string& archivePath) {
    mismatch_ = false;
    const int result = ProcessEntries(
        archivePath, texts::kCompDir, true,
        [this](std::int32_t index, const std::uint8_t* data) { return CompareEntry(index, data); });
    if (result != 0) return result;
    const char* verdict = mismatch_ ? texts::kCompareNoMatch : texts::kCompareMatch;
    interaction_->Information(
        MessageText(texts::kCompareDone, verdict, ElapsedText().c_str()).str());
    outcome_ = Outcome::kCompleted;
    return 0;
}

// The tests run in this order, and the first difference found is the only
// one asked about for this entry.
ArchiveDecoder::EntryStep ArchiveDecoder::CompareEntry(std::int32_t index,
                                                       const std::uint8_t* data) {
    const EntryTable& entries = reader_.entries();
    const std::string_view name = entries.names.Item(index);
    const std::int32_t size = entries.sizes[index];
    interaction_->Status(MessageText(texts::kCompFile, index + 1, entries.entryCount,
                                     ShownName(name).c_str(), NumberText(size).c_str())
                             .str());

    const PathParts target(*outputDir_, name);
    const platform::FileStatus file = QueryTarget(name);
    // Every entry is a file: a folder, device or pipe at its path holds no
    // file to compare with, however its size and time look.
    if (!file.exists || !file.isRegular) {
        return AskToGoOn(MessageText(texts::kCompareMissing, ShownName(target.full).c_str()).str());
    }
    if (file.size != size) {
        return AskToGoOn(MessageText(texts::kCompareSize, ShownName(target.full).c_str(),
                                     NumberText(file.size).c_str(), NumberText(size).c_str())
                             .str());
    }
    if (!SameTime(static_cast<std::uint32_t>(file.modifiedTime), entries.times[index])) {
        return AskToGoOn(MessageText(texts::kCompareTime, ShownName(target.full).c_str(),
                                     TimeText(file.modifiedTime).c_str(),
                                     TimeText(entries.times[index]).c_str())
                             .str());
    }
    if (size > 0) return CompareContents(target.full, size, data);
    return EntryStep::kNext;
}

// Reads the whole file in one read and compares it with the decoded bytes.
ArchiveDecoder::EntryStep ArchiveDecoder::CompareContents(const std::string& target,
                                                          std::int64_t size,
                                                          const std::uint8_t* data) {
    const std::size_t count = static_cast<std::size_t>(size);
    std::unique_ptr<std::uint8_t[]> bytes(new (std::nothrow) std::uint8_t[count]);
    if (!bytes) {
        Fail(MessageText(texts::kCompareNoMemory, NumberText(size).c_str()).str());
        return EntryStep::kStop;
    }
    platform::FileHolder file(road_.OpenForRead());
    if (!file) {
        Fail(MessageText(texts::kOpenFailed, ShownName(target).c_str()).str());
        return EntryStep::kStop;
    }
    if (std::fread(bytes.get(), 1, count, file.get()) != count) {
        Fail(MessageText(texts::kReadFailed, ShownName(target).c_str()).str());
        return EntryStep::kStop;
    }
    file.Close();

    const std::uint8_t* differing = std::mismatch(data, data + count, bytes.get()).first;
    if (differing == data + count) return EntryStep::kNext;
    const std::size_t k = static_cast<std::size_t>(differing - data);
    // The archive's byte first, then the file's.
    const MessageText detail(texts::kCompareByteDetail, static_cast<unsigned>(data[k]),
                             static_cast<unsigned>(bytes[k]));
    return AskToGoOn(MessageText(texts::kCompareData, ShownName(target).c_str(),
                                 NumberText(static_cast<std::int64_t>(k)).c_str(), detail.c_str())
                         .str());
}

// No ends the comparison at once, without a closing message; yes goes on and
// the closing message will say that the contents differ.
ArchiveDecoder::EntryStep ArchiveDecoder::AskToGoOn(const std::string& question) {
    if (interaction_->Question(question) == 1) {
        outcome_ = Outcome::kDeclined;
        return EntryStep::kStop;
    }
    mismatch_ = true;
    return EntryStep::kNext;
}

}  // namespace qk
