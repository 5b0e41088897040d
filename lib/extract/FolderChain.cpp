#include "extract/FolderChain.h"

#include <utility>

namespace qk::extract {

namespace {

// Open handles of the chain (its deepest levels) and folders kept whole: a
// few dozen descriptors, far below any process's limit.
constexpr std::size_t kOpenLevels = 32;
constexpr std::size_t kRecentFolders = 8;

FolderChain::Result ResultOf(platform::ChildResult result) {
    switch (result) {
        case platform::ChildResult::kMissing:
            return FolderChain::Result::kMissing;
        case platform::ChildResult::kLink:
            return FolderChain::Result::kLink;
        case platform::ChildResult::kNotFolder:
            return FolderChain::Result::kNotFolder;
        case platform::ChildResult::kMakeFailed:
            return FolderChain::Result::kMakeFailed;
        default:
            return FolderChain::Result::kOpenFailed;
    }
}

}  // namespace

void FolderChain::Reset(platform::FolderHandle root) {
    levels_.clear();
    recent_.clear();
    root_ = std::move(root);
}

FolderChain::Result FolderChain::Reach(const std::vector<std::string>& names, std::size_t count,
                                       bool make, const platform::FolderHandle*& folder,
                                       std::size_t& failed) {
    folder = nullptr;
    failed = count;
    if (!root_.valid()) return Result::kOpenFailed;
    if (count == 0) {
        folder = &root_;
        return Result::kReached;
    }

    std::string key;
    for (std::size_t k = 0; k < count; ++k) {
        if (k) key += '/';
        key += names[k];
    }
    for (Recent& recent : recent_) {
        if (recent.key == key) {
            recent.used = ++clock_;
            folder = &recent.handle;
            return Result::kReached;
        }
    }

    // The levels this folder shares with the chain stay; the rest goes.
    std::size_t same = 0;
    while (same < levels_.size() && same < count && levels_[same].name == names[same]) ++same;
    levels_.resize(same);
    // From the deepest open level among them (or the output folder) down.
    std::size_t from = same;
    while (from > 0 && !levels_[from - 1].handle.valid()) --from;

    for (std::size_t k = from; k < count; ++k) {
        const platform::FolderHandle& parent = k == 0 ? root_ : levels_[k - 1].handle;
        platform::FolderHandle child;
        const platform::ChildResult result = parent.OpenChild(names[k], make, child);
        if (result != platform::ChildResult::kOpened) {
            levels_.resize(k);  // what lay below may have changed
            failed = k;
            return ResultOf(result);
        }
        if (k < levels_.size()) {
            levels_[k].handle = std::move(child);
        } else {
            levels_.push_back({names[k], std::move(child)});
        }
        // Only the deepest levels stay open; a level above them is opened
        // again from the nearest open one when an entry needs it.
        if (k >= kOpenLevels) levels_[k - kOpenLevels].handle.Close();
    }
    Remember(key, levels_[count - 1].handle);
    folder = &levels_[count - 1].handle;
    return Result::kReached;
}

void FolderChain::Remember(const std::string& key, const platform::FolderHandle& handle) {
    platform::FolderHandle copy;
    if (!handle.Duplicate(copy)) return;
    if (recent_.size() < kRecentFolders) {
        recent_.push_back({key, std::move(copy), ++clock_});
        return;
    }
    Recent* oldest = &recent_[0];
    for (Recent& recent : recent_) {
        if (recent.used < oldest->used) oldest = &recent;
    }
    *oldest = {key, std::move(copy), ++clock_};
}

}  // namespace qk::extract
