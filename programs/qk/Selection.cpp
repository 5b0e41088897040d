// Choosing entries by the names and patterns of the command line.
#include "qk/ArchiveSession.h"
#include "qk/Commands.h"
#include "qk/Glob.h"
#include "qk/Output.h"

namespace qk::tool {

std::vector<bool> SelectEntries(const ArchiveSession& session, const NameCodec& codec,
                                const std::vector<std::string>& patterns, bool& failed) {
    const std::int32_t count = session.count();
    std::vector<bool> used(patterns.size(), false);
    std::vector<bool> selected(static_cast<std::size_t>(count), patterns.empty());
    if (patterns.empty()) return selected;
    const CharacterSet set = codec.charset() == Charset::kUtf8    ? CharacterSet::kUtf8
                             : codec.charset() == Charset::kCp932 ? CharacterSet::kCp932
                                                                  : CharacterSet::kBytes;
    for (std::int32_t i = 0; i < count; ++i) {
        const std::string name = session.DisplayName(i);
        for (std::size_t k = 0; k < patterns.size(); ++k) {
            if (SelectsEntry(patterns[k], name, set)) {
                selected[static_cast<std::size_t>(i)] = true;
                used[k] = true;
            }
        }
    }
    for (std::size_t k = 0; k < patterns.size(); ++k) {
        if (used[k]) continue;
        Error(session.shownPath() + ": no entry " + patterns[k]);
        failed = true;
    }
    return selected;
}

std::int32_t LastSelected(const std::vector<bool>& selected) {
    for (std::size_t i = selected.size(); i-- > 0;)
        if (selected[i]) return static_cast<std::int32_t>(i);
    return -1;
}

}  // namespace qk::tool
