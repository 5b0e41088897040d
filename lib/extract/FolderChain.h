// The folders of the entries, opened one level at a time below the output
// folder, and kept open from one entry to the next.
//
// The chain holds the folders of the entry reached last, level by level (the
// deepest ones open, the rest by name), so that the next entry only opens
// what differs; a few folders reached last stay open whole, so that entries
// that alternate between folders find theirs at once. A folder is never
// reached by a path: each level is opened in the one above it, without
// following a link (platform/FolderHandle.h), so deep trees cost time linear
// in the names and a link put anywhere at any moment leads nowhere.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/FolderHandle.h"

namespace qk::extract {

class FolderChain {
  public:
    // How reaching a folder ended; `failed` tells the level.
    enum class Result { kReached, kMissing, kLink, kNotFolder, kMakeFailed, kOpenFailed };

    // Starts again below `root` (an open output folder, or an invalid
    // handle: then every folder fails with kOpenFailed).
    void Reset(platform::FolderHandle root);

    // Reaches the folder whose levels are `names[0..count)` (native names),
    // making missing levels when `make` is set. On kReached `folder` is its
    // handle, valid until the next call; otherwise `failed` is the level
    // that failed (count for the output folder itself).
    Result Reach(const std::vector<std::string>& names, std::size_t count, bool make,
                 const platform::FolderHandle*& folder, std::size_t& failed);

    const platform::FolderHandle& root() const { return root_; }

  private:
    struct Level {
        std::string name;
        platform::FolderHandle handle;  // closed for the levels far above the deepest
    };
    struct Recent {
        std::string key;  // the levels' names, '/' between
        platform::FolderHandle handle;
        std::uint64_t used = 0;
    };

    void Remember(const std::string& key, const platform::FolderHandle& handle);

    platform::FolderHandle root_;
    std::vector<Level> levels_;
    std::vector<Recent> recent_;
    std::uint64_t clock_ = 0;
};

}  // namespace qk::extract
