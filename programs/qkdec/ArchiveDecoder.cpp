// The course of one archive, and the extraction of its entries. The compare
// mode, which replaces the extraction when the user asks for it, is in
// ArchiveDecoderCompare.cpp.
#include "qkdec/ArchiveDecoder.h"

#include <cstdio>
#include <memory>
#include <new>

#include "qkdec/ArchiveDecoderTexts.h"
#include "qkdec/MessageText.h"
#include "qkdec/NumberText.h"
#include "archive/PathParts.h"
#include "platform/FileSystem.h"
#include "platform/Text.h"

namespace qk {

using Status = ArchiveReader::Status;
using Step = extract::Road::Step;

ArchiveDecoder::ArchiveDecoder(Interaction* interaction, std::optional<std::string> outputDir)
    : outputDir_(std::move(outputDir)), interaction_(interaction) {}

int ArchiveDecoder::Run(const std::string& archivePath) noexcept {
    try {
        return Process(archivePath);
    } catch (...) {
        // Only the texts and lists of the run allocate through the standard
        // library; running out of memory there ends the archive like any
        // other allocation failure.
        try {
            interaction_->Message(
                MessageText(texts::kNoMemory, NumberText(reader_.entries().largestSize).c_str())
                    .str());
        } catch (...) {
        }
        outcome_ = Outcome::kFailed;
        return -1;
    }
}

// ===========================================================================
// The course of one archive
// ===========================================================================

int ArchiveDecoder::Process(const std::string& archivePath) {
    if (!OpenArchive(archivePath)) return Failed();
    if (reader_.header().passwordSet() && !CheckPassword()) return Failed();
    if (!ReadTable()) return Failed();

    // Without an output folder, the entries go beside the archive.
    if (!outputDir_) outputDir_ = PathParts(archivePath).directory;
    // A missing output folder is not made; the first entry then fails.
    road_.Open(*outputDir_);
    if (!CheckNames()) return Failed();

    const extract::Road::Existing existing = road_.CountExisting(reader_.entries().names, nullptr);
    if (existing.count > 0) {
        const MessageText overwrite(texts::kAlreadyExist, NumberText(existing.count).c_str());
        if (interaction_->Question(overwrite.str()) == 1) {
            if (interaction_->Question(texts::kAskCompare) == 1) {
                interaction_->Information(texts::kNothingWritten);
                outcome_ = Outcome::kDeclined;
                return -1;
            }
            return Compare(archivePath);
        }
        // A folder where an entry's file has to go cannot be overwritten:
        // the extraction stops here, before anything is written.
        if (existing.folderAt >= 0) {
            const std::string_view name = reader_.entries().names.Item(existing.folderAt);
            return Fail(MessageText(texts::kCreateFailed,
                                    ShownName(*outputDir_ + std::string(name)).c_str())
                            .str());
        }
    }
    return Extract(archivePath);
}

bool ArchiveDecoder::OpenArchive(const std::string& archivePath) {
    const char* failure = nullptr;
    switch (reader_.Open(archivePath)) {
        case Status::kOk:
            return true;
        case Status::kReadFailure:
            failure = texts::kReadFailed;
            break;
        case Status::kNotArchive:
            failure = texts::kNotArchive;
            break;
        default:
            failure = texts::kOpenFailed;
            break;
    }
    interaction_->Message(MessageText(failure, ShownName(archivePath).c_str()).str());
    return false;
}

// One attempt: an empty answer or a wrong password ends the archive.
bool ArchiveDecoder::CheckPassword() {
    // Both programs derive the key from the same bytes: the CP932 text when
    // all of the password has a CP932 form, else the bytes as given.
    std::string password =
        platform::PasswordBytes(interaction_->InputPassword(texts::kPasswordRequest));
    // The password is a terminated text; whatever follows a zero byte is not part of it.
    password.resize(password.find('\0') == std::string::npos ? password.size()
                                                             : password.find('\0'));
    if (password.empty()) {
        interaction_->Information(texts::kNoPassword);
        return false;
    }
    if (reader_.CheckPassword(password) != Status::kOk) {
        interaction_->Information(texts::kWrongPassword);
        return false;
    }
    return true;
}

// Decodes and parses the entry table. A table that does not decode cleanly,
// or whose counts, sizes and names do not fit its bytes, is reported as
// corrupt input.
bool ArchiveDecoder::ReadTable() {
    Status status = reader_.DecodeTable();
    if (status == Status::kOk) status = reader_.ParseTable(platform::kSeparator);
    switch (status) {
        case Status::kOk:
            break;
        case Status::kNoMemory:
            interaction_->Message(
                MessageText(texts::kNoMemory, NumberText(reader_.header().tableSize).c_str())
                    .str());
            return false;
        case Status::kBadReference:
            interaction_->Message(texts::kBadReferenceExtract);
            return false;
        default:
            interaction_->Message(texts::kOverrunExtract);
            return false;
    }
    return true;
}

// Every name before anything is written: one that would leave the output
// folder or that this system cannot take stops the archive, and so does one
// beyond the file system's limits, with the message its write would have
// given (the file's, or that of the folder where the path grows too long).
bool ArchiveDecoder::CheckNames() {
    const NameList& names = reader_.entries().names;
    const std::vector<extract::Road::Refused> refused = road_.Plan(names, nullptr, 1);
    if (refused.empty()) return true;
    const extract::Road::Refused& first = refused.front();
    const std::string_view name = names.Item(first.index);
    const char* text = texts::kUnfitName;
    std::string shown = ShownName(name);
    if (extract::LeadsOutside(first.refusal)) {
        text = texts::kOutsideFolder;
    } else if (first.refusal == extract::Refusal::kNameTooLong ||
               first.refusal == extract::Refusal::kPathTooLong) {
        road_.Reach(name, extract::Road::Mode::kLook);
        const bool file = first.component + 1 >= road_.components();
        text = file ? texts::kCreateFailed : texts::kMkdirFailed;
        shown = ShownName(file ? road_.ProgramTarget() : road_.ProgramPath(first.component));
    }
    interaction_->Message(MessageText(text, shown.c_str()).str());
    return false;
}

// ===========================================================================
// Batches, progress and time, shared by extraction and comparison
// ===========================================================================

int ArchiveDecoder::ProcessEntries(const std::string& archivePath, const char* folderFormat,
                                   bool comparing, const EntryHandler& handle) {
    const EntryTable& entries = reader_.entries();
    const ArchiveHeader& header = reader_.header();

    const auto noMemory = [&] {
        return Fail(MessageText(texts::kNoMemory, NumberText(entries.largestSize).c_str()).str());
    };
    // The batch buffers come first: without them nothing else is worth doing.
    if (reader_.PrepareWalk() != Status::kOk) return noMemory();

    const PathParts archiveParts(archivePath);
    std::int64_t archiveSize = reader_.sourceSize();
    if (archiveSize < 0) archiveSize = platform::QueryFile(archiveParts.full).size;
    interaction_->ShowProgress(1);
    interaction_->Status(MessageText(texts::kInFile, ShownName(archiveParts.name).c_str(),
                                     NumberText(archiveSize).c_str())
                             .str());
    interaction_->SetProgressRange(100);

    const platform::ClockTime start = platform::Now();
    startSeconds_ = start.seconds;
    startMilliseconds_ = start.milliseconds;

    if (entries.entryCount > 1) {
        interaction_->Status(MessageText(folderFormat, ShownName(*outputDir_).c_str(),
                                         NumberText(entries.entryCount).c_str(),
                                         NumberText(header.dataSize()).c_str())
                                 .str());
    }

    // Progress and the chance to stop come every 1 % of the archive, but not
    // more often than every 20,000 bytes.
    std::int32_t step = header.totalSize / 100;
    if (step <= 20000) step = 20000;
    bool handlerStopped = false;
    const Status status = reader_.ForEachEntry(
        [&](std::int32_t index, const std::uint8_t* data, std::int32_t) {
            if (handle(index, data) == EntryStep::kNext) return true;
            handlerStopped = true;
            return false;
        },
        step, [&](std::int64_t decoded) { return ReportProgress(decoded); },
        entries.entryCount - 1);
    if (handlerStopped) return -1;
    if (status == Status::kStopped) {
        outcome_ = Outcome::kStopped;
        return -2;
    }
    if (status == Status::kCutShort) {
        // Every entry of the batch has been handed over, so nothing the user
        // may need is withheld; but the archive ends early, and the last
        // files may be wrong.
        interaction_->Information(
            MessageText(texts::kCutShort, ShownName(archivePath).c_str()).str());
        return Failed();
    }
    if (status == Status::kNoMemory) return noMemory();
    if (status == Status::kOverrun) {
        return Fail(comparing ? texts::kOverrunCompare : texts::kOverrunExtract);
    }
    if (status != Status::kOk) {
        return Fail(comparing ? texts::kBadReferenceCompare : texts::kBadReferenceExtract);
    }
    interaction_->SetProgress(100);
    return 0;
}

// The share of totalSize decoded so far, rounded. The table's bytes are in
// totalSize but not in `decoded`, so the figures stay short of 100 until the
// final report. A header with a totalSize of 0 or less gives 0.
bool ArchiveDecoder::ReportProgress(std::int64_t decoded) {
    const std::int32_t total = reader_.header().totalSize;
    int percent = 0;
    if (total > 0) {
        double value = static_cast<double>(decoded) / total * 100.0 + 0.5;
        if (value > 100.0) value = 100.0;
        percent = value > 0.0 ? static_cast<int>(value) : 0;
    }
    return interaction_->SetProgress(percent) == 0;
}

// Seconds since the start of the entries, as "%2.2f".
std::string ArchiveDecoder::ElapsedText() const {
    const platform::ClockTime end = platform::Now();
    const std::uint32_t elapsed = static_cast<std::uint32_t>((end.seconds - startSeconds_) * 1000 -
                                                             startMilliseconds_ + end.milliseconds);
    char text[32];
    std::snprintf(text, sizeof text, "%2.2f", elapsed * 0.001);
    return text;
}

int ArchiveDecoder::Fail(std::string_view message) {
    interaction_->Message(message);
    return Failed();
}

int ArchiveDecoder::Failed() {
    outcome_ = Outcome::kFailed;
    return -1;
}

// ===========================================================================
// Extraction
// ===========================================================================

int ArchiveDecoder::Extract(const std::string& archivePath) {
    const int result = ProcessEntries(
        archivePath, texts::kOutDir, false,
        [this](std::int32_t index, const std::uint8_t* data) { return WriteEntry(index, data); });
    if (result != 0) return result;
    interaction_->Information(MessageText(texts::kExtractDone, ElapsedText().c_str()).str());
    outcome_ = Outcome::kCompleted;
    return 0;
}

// Writes one entry: its folders first, made and opened one level at a time
// without following a link, then the file, complete or not at all, then its
// date.
ArchiveDecoder::EntryStep ArchiveDecoder::WriteEntry(std::int32_t index, const std::uint8_t* data) {
    const EntryTable& entries = reader_.entries();
    const std::string_view name = entries.names.Item(index);
    const std::int32_t size = entries.sizes[index];
    interaction_->Status(MessageText(texts::kOutFile, index + 1, entries.entryCount,
                                     ShownName(name).c_str(), NumberText(size).c_str())
                             .str());

    const Step reached = road_.Reach(name, extract::Road::Mode::kMake);
    if (reached != Step::kDone) {
        ReportFolderStep(reached);
        return EntryStep::kStop;
    }
    // The later entry of a file wins, but not silently.
    if (road_.IsDuplicate(index)) {
        interaction_->Information(
            MessageText(texts::kDuplicateName, ShownName(name).c_str()).str());
    }
    const std::string target = road_.ProgramTarget();
    // A folder of the entry's name cannot become a file.
    const Step written = road_.Write(data, size);
    if (written != Step::kDone) {
        const char* text =
            written == Step::kWriteFailed ? texts::kWriteFailed : texts::kCreateFailed;
        Fail(MessageText(text, ShownName(target).c_str()).str());
        return EntryStep::kStop;
    }
    if (!road_.SetTime(entries.times[index])) {
        interaction_->Information(
            MessageText(texts::kUtimeFailed, ShownName(target).c_str()).str());
    }
    return EntryStep::kNext;
}

// A link on the way is named; a file in the way of a folder fails the folder
// below it (or the file, where it stands in the place of the entry's own
// folder); a folder that cannot be made fails itself. The output folder
// itself is never made: it fails its first folder, or the file.
void ArchiveDecoder::ReportFolderStep(Step step) {
    const std::size_t failed = road_.failedComponent();
    const std::size_t components = road_.components();
    const char* text = texts::kCreateFailed;
    std::string path = road_.ProgramTarget();
    switch (step) {
        case Step::kLink:
            text = texts::kLinkInPath;
            path = road_.ProgramPath(failed);
            break;
        case Step::kNotFolder:
            if (failed + 2 < components) {
                text = texts::kMkdirFailed;
                path = road_.ProgramPath(failed + 1);
            }
            break;
        case Step::kMakeFailed:
            text = texts::kMkdirFailed;
            path = road_.ProgramPath(failed);
            break;
        case Step::kOpenFailed:
            if (failed >= components && components > 1) {
                text = texts::kMkdirFailed;
                path = road_.ProgramPath(0);
            }
            break;
        default:
            break;
    }
    Fail(MessageText(text, ShownName(path).c_str()).str());
}

platform::FileStatus ArchiveDecoder::QueryTarget(std::string_view name) {
    platform::FileStatus status;
    if (road_.Reach(name, extract::Road::Mode::kLook) != Step::kDone) return status;
    const platform::NameStatus found = road_.Query(true);
    status.exists = found.kind != platform::EntryKind::kMissing;
    status.isDirectory = found.kind == platform::EntryKind::kDirectory;
    status.isRegular = found.kind == platform::EntryKind::kFile;
    status.size = found.size;
    status.modifiedTime = found.modifiedTime;
    return status;
}

}  // namespace qk
