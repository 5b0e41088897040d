// qk x: entries to files under the output folder, by the library's
// extraction road (lib/extract), which qkdec takes as well.
//
// Every name to extract is checked before anything is written or created,
// the output folder included: it must stay inside the output folder (no
// absolute name, drive letter or ".."), be one the file system reads as the
// program does (on Windows no device name, ':', forbidden character or
// trailing dot or blank), and fit the file system's limits. Folders are made
// and opened one level at a time without following a link, so a link planted
// by an earlier entry, already on disk or put in place of a folder while the
// archive is extracted leads nowhere. A file replaces its target only once
// it is complete, and the replacement puts a new file in the place of a link
// instead of writing through it.
#include "console/Console.h"
#include "extract/Road.h"
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
using Step = extract::Road::Step;

// At most this many refused names are listed.
constexpr std::size_t kListedRefusals = 20;

class Extractor {
  public:
    Extractor(const Options& options, ArchiveSession& session, extract::Road& road,
              std::string outputDir)
        : options_(options),
          session_(session),
          road_(road),
          outputDir_(std::move(outputDir)),
          policy_(options.existing) {}

    // Writes entry i; false when it failed (after a message).
    bool Write(std::int32_t i, const std::uint8_t* data, std::int32_t size, ProgressBar& bar);

  private:
    ExistingPolicy Ask(const std::string& shown, ProgressBar& bar);
    // A path below the output folder for the user: under the current folder
    // without "./".
    std::string Show(const std::string& relative) const;
    // "name.txt" -> "name (1).txt", "name (2).txt"..., the first that is free
    // in the entry's folder; empty when none is.
    std::string FreeName(const std::string& name) const;

    const Options& options_;
    ArchiveSession& session_;
    extract::Road& road_;
    std::string outputDir_;
    ExistingPolicy policy_;
};

std::string Extractor::Show(const std::string& relative) const {
    if (outputDir_ == ".") return ShowNative(relative);
    std::string path = outputDir_;
    if (path.back() != '/' && path.back() != platform::kSeparator) path += platform::kSeparator;
    return ShowNative(path + relative);
}

std::string Extractor::FreeName(const std::string& name) const {
    std::size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0) dot = name.size();
    for (int n = 1; n <= 10000; ++n) {
        const std::string candidate =
            name.substr(0, dot) + " (" + std::to_string(n) + ")" + name.substr(dot);
        if (road_.Query(candidate, false).kind == EntryKind::kMissing) return candidate;
    }
    return {};
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

bool Extractor::Write(std::int32_t i, const std::uint8_t* data, std::int32_t size,
                      ProgressBar& bar) {
    const auto fail = [&](const std::string& message) {
        bar.Clear();
        Error(message);
        return false;
    };
    const std::string refused = session_.shownPath() + ": " + session_.DisplayName(i) + ": ";

    const Step reached = road_.Reach(session_.StoredName(i), extract::Road::Mode::kMake);
    if (reached != Step::kDone) {
        const std::size_t k = road_.failedComponent();
        const std::string folder =
            k < road_.components() ? Show(road_.NativePath(k)) : ShowNative(outputDir_);
        switch (reached) {
            case Step::kLink:
                return fail(refused + "not extracted: its folder " + folder +
                            " is a symbolic link");
            case Step::kNotFolder:
                return fail(refused + "not extracted: a file is in the way of its folder " +
                            folder);
            case Step::kMakeFailed:
                return fail(refused + "cannot create the folder " + folder);
            default:
                return fail(refused + "cannot open the folder " + folder);
        }
    }
    const std::string relative = road_.NativePath(road_.components() - 1);
    std::string name = road_.fileName();
    const EntryKind kind = road_.Query(false).kind;
    if (kind == EntryKind::kDirectory) return fail(refused + "a folder of that name is in the way");
    if (road_.IsDuplicate(i) && !options_.quiet) {
        bar.Clear();
        Err("qk: " + Show(relative) + ": another entry of the archive lands on this file too\n");
    }
    if (kind != EntryKind::kMissing) {
        ExistingPolicy choice = policy_;
        if (choice == ExistingPolicy::kAsk) choice = Ask(Show(relative), bar);
        if (choice == ExistingPolicy::kKeepBoth) {
            name = FreeName(name);
            if (name.empty()) return fail(Show(relative) + ": no free name to keep both");
        } else if (choice != ExistingPolicy::kOverwrite) {
            if (!options_.quiet) {
                bar.Clear();
                Out("  skipped " + Show(relative) + " (exists)\n");
            }
            return true;
        }
    }
    const std::string written = road_.components() > 1 ? road_.NativePath(road_.components() - 2) +
                                                             platform::kSeparator + name
                                                       : name;
    if (road_.Write(name, data, size) != Step::kDone) {
        return fail(Show(written) + ": cannot write the file");
    }
    road_.SetTime(name, session_.entries().times[i]);
    if (!options_.quiet) {
        bar.Clear();
        Out("  " + Show(written) + "\n");
    }
    return true;
}

// Creates `dir` and its missing parents, from the top down.
bool MakeFolders(const std::string& dir) {
    if (dir.empty() || platform::QueryFile(dir).isDirectory) return true;
    for (std::size_t p = 1; p <= dir.size(); ++p) {
        if (p < dir.size() && dir[p] != '/' && dir[p] != platform::kSeparator) continue;
        const std::string prefix = dir.substr(0, p);
        if (!platform::QueryFile(prefix).isDirectory) platform::MakeDirectory(prefix);
    }
    return platform::QueryFile(dir).isDirectory;
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

    // Every name first: nothing is made, the output folder neither, while
    // one of them is refused.
    extract::Road road(RoadSettingsFor(codec));
    road.Open(outputDir);
    const std::vector<extract::Road::Refused> refused =
        road.Plan(session.entries().names, &selected, kListedRefusals);
    if (!refused.empty()) {
        for (const extract::Road::Refused& r : refused) {
            Error(session.shownPath() + ": " + session.DisplayName(r.index) +
                  ": not extracted: " + RefusalText(r.refusal));
        }
        Error(session.shownPath() + ": nothing extracted" +
              (refused.size() >= kListedRefusals ? " (the names above and maybe more are refused)"
                                                 : ""));
        return kExitFailure;
    }
    if (!MakeFolders(outputDir) || !road.Open(outputDir)) {
        Error(ShowNative(outputDir) + ": cannot create the folder");
        return kExitFailure;
    }

    const std::int32_t last = LastSelected(selected);
    std::int64_t toDecode = 0;
    for (const Batch& b : session.reader().batches())
        if (b.first <= last) toDecode += b.total;
    ProgressBar bar(!options.quiet, toDecode);
    Extractor extractor(options, session, road, outputDir);
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
