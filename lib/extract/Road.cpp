#include "extract/Road.h"

#include <algorithm>
#include <unordered_set>
#include <utility>

namespace qk::extract {

namespace {

// 64-bit FNV-1a with a final mix, so that the top bits are as good as any.
std::uint64_t Hash(std::string_view text) {
    std::uint64_t h = 0xCBF29CE484222325ull;
    for (char c : text) {
        h ^= static_cast<std::uint8_t>(c);
        h *= 0x100000001B3ull;
    }
    h ^= h >> 33;
    h *= 0xFF51AFD7ED558CCDull;
    h ^= h >> 33;
    return h;
}

// One word per entry while duplicates are looked for: 33 bits of the hash of
// its file's key above its index (an index fits in 31 bits).
constexpr int kIndexBits = 31;
constexpr std::uint64_t kIndexMask = (std::uint64_t{1} << kIndexBits) - 1;

std::uint64_t Pack(std::uint64_t hash, std::int32_t index) {
    return (hash >> kIndexBits << kIndexBits) | static_cast<std::uint64_t>(index);
}

Road::Step StepOf(FolderChain::Result result) {
    switch (result) {
        case FolderChain::Result::kReached:
            return Road::Step::kDone;
        case FolderChain::Result::kMissing:
            return Road::Step::kMissing;
        case FolderChain::Result::kLink:
            return Road::Step::kLink;
        case FolderChain::Result::kNotFolder:
            return Road::Step::kNotFolder;
        case FolderChain::Result::kMakeFailed:
            return Road::Step::kMakeFailed;
        default:
            return Road::Step::kOpenFailed;
    }
}

bool Wanted(const std::vector<bool>* selected, std::int32_t i) {
    return !selected || (static_cast<std::size_t>(i) < selected->size() &&
                         (*selected)[static_cast<std::size_t>(i)]);
}

}  // namespace

Road::Road(RoadSettings settings) : settings_(settings) {
    limits_.nameMax = platform::FolderHandle().NameMax();
    limits_.pathMax = platform::PathMax();
    limits_.rootLength = 0;
}

bool Road::Open(const std::string& outputDir) {
    outputDir_ = outputDir;
    folder_ = nullptr;
    platform::FolderHandle root;
    const bool opened = root.OpenRoot(outputDir);
    limits_.nameMax = root.NameMax();
    limits_.rootLength = platform::RootPathLength(outputDir);
    chain_.Reset(std::move(root));
    return opened;
}

std::vector<Road::Refused> Road::Plan(const NameList& names, const std::vector<bool>* selected,
                                      std::size_t maxRefused) {
    std::vector<Refused> refused;
    const std::int32_t count = names.Count();
    duplicate_.assign(static_cast<std::size_t>(count), false);
    std::vector<std::uint64_t> keys;
    for (std::int32_t i = 0; i < count; ++i) {
        if (!Wanted(selected, i)) continue;
        const std::string_view name = names.Item(i);
        const Refusal refusal =
            entry_.Parse(name, settings_.separator, settings_.textMode, limits_);
        if (refusal != Refusal::kNone) {
            refused.push_back({i, refusal, entry_.failedComponent()});
            if (refused.size() >= maxRefused) break;
            continue;
        }
        if (refused.empty()) keys.push_back(Pack(Hash(entry_.SameFileKey()), i));
    }
    if (!refused.empty()) return refused;

    // Entries with equal hashes side by side, each run in entry order; only
    // those runs are looked at again, by their keys themselves.
    std::sort(keys.begin(), keys.end());
    std::size_t runStart = 0;
    while (runStart < keys.size()) {
        std::size_t runEnd = runStart + 1;
        while (runEnd < keys.size() &&
               (keys[runEnd] >> kIndexBits) == (keys[runStart] >> kIndexBits))
            ++runEnd;
        if (runEnd - runStart > 1) {
            std::unordered_set<std::string> seen;
            for (std::size_t k = runStart; k < runEnd; ++k) {
                const auto i = static_cast<std::int32_t>(keys[k] & kIndexMask);
                entry_.Parse(names.Item(i), settings_.separator, settings_.textMode, limits_);
                if (!seen.insert(entry_.SameFileKey()).second) {
                    duplicate_[static_cast<std::size_t>(i)] = true;
                }
            }
        }
        runStart = runEnd;
    }
    return refused;
}

bool Road::IsDuplicate(std::int32_t index) const {
    return index >= 0 && static_cast<std::size_t>(index) < duplicate_.size() &&
           duplicate_[static_cast<std::size_t>(index)];
}

Road::Existing Road::CountExisting(const NameList& names, const std::vector<bool>* selected) {
    Existing existing;
    const std::int32_t count = names.Count();
    for (std::int32_t i = 0; i < count; ++i) {
        if (!Wanted(selected, i)) continue;
        if (Reach(names.Item(i), Mode::kLook) != Step::kDone) continue;
        // A link at the name counts as what it leads to, as for the write,
        // which cannot replace a folder it leads to either.
        const platform::NameStatus status = Query(true);
        if (status.kind == platform::EntryKind::kMissing) continue;
        ++existing.count;
        if (status.kind == platform::EntryKind::kDirectory && existing.folderAt < 0) {
            existing.folderAt = i;
        }
    }
    return existing;
}

Road::Step Road::Reach(std::string_view name, Mode mode) {
    name_.assign(name);
    folder_ = nullptr;
    failed_ = 0;
    if (entry_.Parse(name_, settings_.separator, settings_.textMode, limits_) != Refusal::kNone) {
        // Not a name Plan let through: no file can be made under it.
        failed_ = entry_.count();
        return Step::kCreateFailed;
    }
    const std::size_t folders = entry_.count() - 1;
    const platform::FolderHandle* folder = nullptr;
    std::size_t failed = 0;
    const FolderChain::Result result =
        chain_.Reach(entry_.natives(), folders, mode == Mode::kMake, folder, failed);
    if (result != FolderChain::Result::kReached) {
        failed_ = chain_.root().valid() ? failed : entry_.count();
        return StepOf(result);
    }
    folder_ = folder;
    return Step::kDone;
}

std::string Road::ProgramPath(std::size_t k) const {
    if (k >= entry_.count()) return ProgramTarget();
    return outputDir_ + name_.substr(0, entry_.end(k));
}

std::string Road::NativePath(std::size_t k) const {
    std::string path;
    for (std::size_t i = 0; i <= k && i < entry_.count(); ++i) {
        if (i) path += platform::kSeparator;
        path += entry_.native(i);
    }
    return path;
}

platform::NameStatus Road::Query(std::string_view name, bool followLink) const {
    if (!folder_) return {};
    return folder_->Query(name, followLink);
}

Road::Step Road::Write(std::string_view name, const std::uint8_t* data, std::int64_t size) {
    if (!folder_) return Step::kCreateFailed;
    platform::OutputFileWriter file;
    if (!file.Create(*folder_, name)) return Step::kCreateFailed;
    if (file.Write(data, size) != size || !file.Commit()) return Step::kWriteFailed;
    return Step::kDone;
}

bool Road::SetTime(std::string_view name, std::uint32_t time) {
    return folder_ && folder_->SetFileTime(name, time);
}

std::FILE* Road::OpenForRead() const {
    return folder_ ? folder_->OpenForRead(fileName()) : nullptr;
}

}  // namespace qk::extract
