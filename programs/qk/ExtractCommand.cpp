// qk x: entries to files under the output folder.
//
// Every name is checked before anything is written for it: it must stay
// inside the output folder (no absolute name, drive letter or ".."), on
// Windows it must be a plain file name there (no device name, ':', forbidden
// character or trailing dot or blank), and no folder on the way may be a
// symbolic link, so a link planted by an earlier entry or already on disk
// cannot lead a file elsewhere. A file replaces its target only once it is
// complete (platform::OutputFileWriter), and the replacement puts a new file
// in the place of a link instead of writing through it.
#include "archive/PathParts.h"
#include "console/Console.h"
#include "platform/Directory.h"
#include "platform/FileSystem.h"
#include "platform/Text.h"
#include "qk/ArchiveSession.h"
#include "qk/Commands.h"
#include "qk/EntryPath.h"
#include "qk/Output.h"
#include "qk/ProgressBar.h"

namespace qk::tool {

namespace {

using platform::EntryKind;

// "name.txt" -> "name (1).txt", "name (2).txt"..., the first that is free.
std::string FreeName(const std::string& path) {
    const std::size_t slash = path.find_last_of(std::string("/") + platform::kSeparator);
    const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    std::size_t dot = path.rfind('.');
    if (dot == std::string::npos || dot <= nameStart) dot = path.size();
    for (int n = 1;; ++n) {
        const std::string candidate =
            path.substr(0, dot) + " (" + std::to_string(n) + ")" + path.substr(dot);
        if (platform::QueryEntryKind(candidate) == EntryKind::kMissing) return candidate;
    }
}

class Extractor {
  public:
    Extractor(const Options& options, const NameCodec& codec, ArchiveSession& session,
              std::string outputDir)
        : options_(options),
          codec_(codec),
          session_(session),
          outputDir_(std::move(outputDir)),
          policy_(options.existing) {}

    // Writes entry i; false when it failed (after a message).
    bool Write(std::int32_t i, const std::uint8_t* data, std::int32_t size, ProgressBar& bar);

  private:
    // The path to write entry i to, its folders made; empty to leave it out.
    // `leafStart` tells where the file's own name begins.
    std::string Target(std::int32_t i, ProgressBar& bar, bool& failed, std::size_t& leafStart);
    ExistingPolicy Ask(const std::string& shown, ProgressBar& bar);
    // A written path for the user: under the current folder without "./".
    std::string Show(const std::string& path) const;

    const Options& options_;
    const NameCodec& codec_;
    ArchiveSession& session_;
    std::string outputDir_;
    ExistingPolicy policy_;
    // The folder of the file written last, opened, and its path.
    platform::OutputFolder folder_;
    std::string openFolder_;
};

std::string Extractor::Show(const std::string& path) const {
    const std::string here = std::string(".") + platform::kSeparator;
    const bool relative = outputDir_ == "." && path.compare(0, here.size(), here) == 0;
    return ShowNative(relative ? path.substr(here.size()) : path);
}

ExistingPolicy Extractor::Ask(const std::string& shown, ProgressBar& bar) {
    bar.Clear();
    for (;;) {
        Err(shown + " exists. Replace it? [y]es, [n]o, [A]ll, [N]one, [r]ename: ");
        std::string answer;
        if (!platform::ReadConsoleLine(answer)) {
            // No one to answer: keep what is there, for this file and the rest.
            Err("\n");
            policy_ = ExistingPolicy::kSkip;
            return ExistingPolicy::kSkip;
        }
        if (answer == "y" || answer == "yes") return ExistingPolicy::kOverwrite;
        if (answer == "n" || answer == "no") return ExistingPolicy::kSkip;
        if (answer == "A") return policy_ = ExistingPolicy::kOverwrite;
        if (answer == "N") return policy_ = ExistingPolicy::kSkip;
        if (answer == "r" || answer == "rename") return ExistingPolicy::kKeepBoth;
    }
}

std::string Extractor::Target(std::int32_t i, ProgressBar& bar, bool& failed,
                              std::size_t& leafStart) {
    const std::string shown = session_.DisplayName(i);
    auto refuse = [&](const std::string& why) {
        bar.Clear();
        Error(session_.shownPath() + ": " + shown + ": " + why);
        failed = true;
        return std::string();
    };
    std::vector<std::string> components;
    std::string reason;
    if (!SplitEntryName(session_.StoredName(i), components, reason)) {
        return refuse("not extracted: " + reason);
    }
    std::string path = outputDir_;
    for (std::size_t k = 0; k < components.size(); ++k) {
        const std::string part = codec_.ToFileName(components[k]);
        // A device name, a ':' (a stream of another file) or a trailing dot
        // would put the bytes somewhere else than the name says.
        if (kWindowsNames && UnfitForWindows(part)) {
            return refuse("not extracted: a name Windows cannot give a file");
        }
        path += platform::kSeparator;
        leafStart = path.size();
        path += part;
        const EntryKind kind = platform::QueryEntryKind(path);
        if (k + 1 == components.size()) {
            if (kind == EntryKind::kDirectory) return refuse("a folder of that name is in the way");
            if (kind == EntryKind::kMissing) return path;
            break;
        }
        if (kind == EntryKind::kSymbolicLink) {
            return refuse("not extracted: its folder is a symbolic link");
        }
        if (kind == EntryKind::kMissing && !platform::MakeDirectory(path)) {
            return refuse("cannot create the folder");
        }
        if (kind != EntryKind::kMissing && kind != EntryKind::kDirectory) {
            return refuse("a file is in the way of its folder");
        }
    }
    ExistingPolicy choice = policy_;
    if (choice == ExistingPolicy::kAsk) choice = Ask(Show(path), bar);
    switch (choice) {
        case ExistingPolicy::kOverwrite:
            return path;
        case ExistingPolicy::kKeepBoth:
            return FreeName(path);
        default:
            if (!options_.quiet) {
                bar.Clear();
                Out("  skipped " + shown + " (exists)\n");
            }
            return {};
    }
}

bool Extractor::Write(std::int32_t i, const std::uint8_t* data, std::int32_t size,
                      ProgressBar& bar) {
    bool failed = false;
    std::size_t leafStart = 0;
    const std::string target = Target(i, bar, failed, leafStart);
    if (target.empty()) return !failed;
    // The file is made in its folder opened one level at a time without
    // following a link: a folder swapped for a link after the checks above
    // cannot send it elsewhere.
    const std::string folder = target.substr(0, leafStart);
    const std::string name = target.substr(leafStart);
    if (!folder_.valid() || folder != openFolder_) {
        openFolder_.clear();
        if (!folder_.Open(outputDir_ + platform::kSeparator,
                          folder.substr(outputDir_.size() + 1))) {
            bar.Clear();
            Error(Show(target) + ": not extracted: its folder changed while it was written");
            return false;
        }
        openFolder_ = folder;
    }
    platform::OutputFileWriter file;
    if (!file.Create(folder_, name) || file.Write(data, size) != size || !file.Commit()) {
        bar.Clear();
        Error(Show(target) + ": cannot write the file");
        return false;
    }
    folder_.SetFileTime(name, session_.entries().times[i]);
    if (!options_.quiet) {
        bar.Clear();
        Out("  " + Show(target) + "\n");
    }
    return true;
}

// Creates `dir` and its missing parents.
bool MakeFolders(const std::string& dir) {
    if (dir.empty() || platform::QueryFile(dir).isDirectory) return true;
    const std::size_t slash = dir.find_last_of(std::string("/") + platform::kSeparator);
    if (slash != std::string::npos && slash > 0 && !MakeFolders(dir.substr(0, slash))) return false;
    return platform::MakeDirectory(dir) || platform::QueryFile(dir).isDirectory;
}

}  // namespace

int RunExtract(const Options& options, const NameCodec& codec) {
    ArchiveSession session(options, codec);
    if (!session.Open(platform::FromNative(options.operands[0]))) return kExitFailure;
    const std::vector<std::string> patterns(options.operands.begin() + 1, options.operands.end());
    bool failed = false;
    const std::vector<bool> selected = SelectEntries(session, codec, patterns, failed);

    std::string outputDir =
        options.outputDir.empty() ? "." : platform::FromNative(options.outputDir);
    while (outputDir.size() > 1 &&
           (outputDir.back() == '/' || outputDir.back() == platform::kSeparator))
        outputDir.pop_back();
    if (!MakeFolders(outputDir)) {
        Error(ShowNative(outputDir) + ": cannot create the folder");
        return kExitFailure;
    }

    const std::int32_t last = LastSelected(selected);
    std::int64_t toDecode = 0;
    for (const Batch& b : session.reader().batches())
        if (b.first <= last) toDecode += b.total;
    ProgressBar bar(!options.quiet, toDecode);
    Extractor extractor(options, codec, session, outputDir);
    std::int32_t lastVisited = 0;
    const ArchiveReader::Status status = session.Walk(
        [&](std::int32_t i, const std::uint8_t* data, std::int32_t size) {
            lastVisited = i;
            if (selected[static_cast<std::size_t>(i)] && !extractor.Write(i, data, size, bar)) {
                failed = true;
            }
            return true;
        },
        [&](std::int64_t done) { bar.Update(done, session.shownPath()); }, last);
    bar.Clear();
    if (status == ArchiveReader::Status::kCutShort) {
        // The files of that batch are written, but their ends may be wrong.
        Error(session.shownPath() + ": " + session.BatchNames(lastVisited) + ": " +
              DescribeStatus(status));
        return kExitFailure;
    }
    if (status != ArchiveReader::Status::kOk) {
        Error(session.shownPath() + ": " + DescribeStatus(status));
        return kExitFailure;
    }
    return failed ? kExitFailure : kExitOk;
}

}  // namespace qk::tool
