// The course of one archive, and the extraction of its entries. The compare
// mode, which replaces the extraction when the user asks for it, is in
// ArchiveDecoderCompare.cpp.
#include "qkdec/ArchiveDecoder.h"

#include <cstdio>
#include <memory>
#include <new>
#include <unordered_map>

#include "qkdec/ArchiveDecoderTexts.h"
#include "qkdec/MessageText.h"
#include "qkdec/NumberText.h"
#include "archive/PathParts.h"
#include "platform/Directory.h"
#include "platform/FileSystem.h"
#include "platform/Text.h"

namespace qk {

using Status = ArchiveReader::Status;

namespace {

// Names that reach the same file: the same bytes, and on Windows also the
// same letters in another case.
std::string SameFileKey(const std::string& name) {
    std::string key = name;
    if (kWindowsNames) {
        for (std::size_t i = 0; i < key.size(); ++i) {
            if (IsLeadByte(static_cast<std::uint8_t>(key[i]))) {
                ++i;  // a second byte is no letter
            } else if (key[i] >= 'a' && key[i] <= 'z') {
                key[i] = static_cast<char>(key[i] - 'a' + 'A');
            }
        }
    }
    return key;
}

}  // namespace

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

    const int existing = CountExistingTargets();
    if (existing > 0) {
        const MessageText overwrite(texts::kAlreadyExist, NumberText(existing).c_str());
        if (interaction_->Question(overwrite.str()) == 1) {
            if (interaction_->Question(texts::kAskCompare) == 1) {
                interaction_->Information(texts::kNothingWritten);
                outcome_ = Outcome::kDeclined;
                return -1;
            }
            return Compare(archivePath);
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
// corrupt input; a name that would leave the output folder stops the archive
// before anything is written.
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
    const NameList& names = reader_.entries().names;
    for (int i = 0; i < names.Count(); ++i) {
        const char* refusal = nullptr;
        if (LeavesFolder(names.Item(i))) {
            refusal = texts::kOutsideFolder;
        } else if (kWindowsNames && UnfitForWindows(names.Item(i))) {
            refusal = texts::kUnfitName;
        }
        if (refusal) {
            interaction_->Message(MessageText(refusal, ShownName(names.Item(i)).c_str()).str());
            return false;
        }
    }
    return true;
}

// Entries whose target exists already, as a file or as a folder. Where '/'
// is the only separator (it is never the second byte of a character), a
// folder that is missing answers for every name below it, so extracting into
// an empty folder asks the file system once per folder, not once per entry.
int ArchiveDecoder::CountExistingTargets() const {
    const NameList& names = reader_.entries().names;
    std::unordered_map<std::string, bool> folders;  // path -> is an existing folder
    const std::function<bool(const std::string&)> isFolder = [&](const std::string& path) {
        const auto known = folders.find(path);
        if (known != folders.end()) return known->second;
        const std::size_t slash = path.rfind('/');
        const bool parentIsFolder = slash == std::string::npos || slash < outputDir_->size() ||
                                    isFolder(path.substr(0, slash));
        const bool result = parentIsFolder && platform::QueryFile(path).isDirectory;
        folders.emplace(path, result);
        return result;
    };
    int count = 0;
    for (int i = 0; i < names.Count(); ++i) {
        const std::string target = *outputDir_ + std::string(names.Item(i));
        if (platform::kSeparator == '/') {
            const std::size_t slash = target.rfind('/');
            if (slash != std::string::npos && slash >= outputDir_->size() &&
                !isFolder(target.substr(0, slash))) {
                continue;
            }
        }
        if (platform::QueryFile(target).exists) ++count;
    }
    return count;
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
    folder_.Close();  // an earlier run's folder is no folder of this one
    const int result = ProcessEntries(
        archivePath, texts::kOutDir, false,
        [this](std::int32_t index, const std::uint8_t* data) { return WriteEntry(index, data); });
    if (result != 0) return result;
    interaction_->Information(MessageText(texts::kExtractDone, ElapsedText().c_str()).str());
    outcome_ = Outcome::kCompleted;
    return 0;
}

// Writes one entry: its folders first, then the file, complete or not at all,
// then its date.
ArchiveDecoder::EntryStep ArchiveDecoder::WriteEntry(std::int32_t index, const std::uint8_t* data) {
    const EntryTable& entries = reader_.entries();
    const std::string name(entries.names.Item(index));
    const std::int32_t size = entries.sizes[index];
    interaction_->Status(MessageText(texts::kOutFile, index + 1, entries.entryCount,
                                     ShownName(name).c_str(), NumberText(size).c_str())
                             .str());

    const PathParts target(*outputDir_, name);
    const PathParts inFolder(name);  // the entry's folders and file name below the output folder
    const bool folderReady = folder_.valid() && inFolder.directory == readyFolder_;
    // A link standing in the output folder could lead the entry anywhere.
    if (!folderReady) {
        if (const std::optional<std::string> link = LinkBelowOutput(target.full)) {
            Fail(MessageText(texts::kLinkInPath, ShownName(*link).c_str()).str());
            return EntryStep::kStop;
        }
    }
    // A name that comes again is written again, so the later entry wins (the
    // file on disk ends as the archive's last word on it); the user is told.
    if (!written_.insert(SameFileKey(name)).second) {
        interaction_->Information(
            MessageText(texts::kDuplicateName, ShownName(name).c_str()).str());
    }
    if (!folderReady) {
        folder_.Close();
        if (!MakeDirectories(target.directory)) return EntryStep::kStop;
        // Opened folder by folder without following a link: a link put in
        // place of a folder after the check above is refused here, and the
        // files are made in the folder opened, whatever happens to its path.
        if (!folder_.Open(*outputDir_, inFolder.directory)) {
            Fail(MessageText(texts::kCreateFailed, ShownName(target.full).c_str()).str());
            return EntryStep::kStop;
        }
        readyFolder_ = inFolder.directory;
    }

    // Create refuses a folder of the entry's name: it cannot become a file.
    platform::OutputFileWriter file;
    if (!file.Create(folder_, inFolder.name)) {
        Fail(MessageText(texts::kCreateFailed, ShownName(target.full).c_str()).str());
        return EntryStep::kStop;
    }
    if (file.Write(data, size) != size || !file.Commit()) {
        Fail(MessageText(texts::kWriteFailed, ShownName(target.full).c_str()).str());
        return EntryStep::kStop;
    }
    if (!folder_.SetFileTime(inFolder.name, entries.times[index])) {
        interaction_->Information(
            MessageText(texts::kUtimeFailed, ShownName(target.full).c_str()).str());
    }
    return EntryStep::kNext;
}

// The first folder on `path` below the output folder that is a symbolic
// link, or none. Every byte that the file system may take for a separator
// ends a folder to check, the second byte of a double-byte character too:
// one check too many costs nothing, one too few could let a link through.
std::optional<std::string> ArchiveDecoder::LinkBelowOutput(const std::string& path) const {
    for (std::size_t p = outputDir_->size(); p < path.size(); ++p) {
        if (path[p] != '/' && path[p] != platform::kSeparator) continue;
        std::string folder = path.substr(0, p);
        if (platform::QueryEntryKind(folder) == platform::EntryKind::kSymbolicLink) return folder;
    }
    return std::nullopt;
}

// Creates the missing folders of an entry's path, one level at a time. The
// output folder itself is never created: it has to exist.
bool ArchiveDecoder::MakeDirectories(const std::string& directory) {
    if (directory.empty() || platform::QueryFile(directory).exists) return true;
    std::size_t p = outputDir_->size();
    while (p < directory.size()) {
        const std::uint8_t b = static_cast<std::uint8_t>(directory[p]);
        if (directory[p] == platform::kSeparator) {
            const std::string path = directory.substr(0, p);
            if (!platform::QueryFile(path).exists && !platform::MakeDirectory(path)) {
                Fail(MessageText(texts::kMkdirFailed, ShownName(path).c_str()).str());
                return false;
            }
        }
        p += IsLeadByte(b) ? 2 : 1;
    }
    return true;
}

}  // namespace qk
