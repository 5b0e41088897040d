// qk p: entries' bytes to standard output, in archive order.
#include <cstdio>

#include "console/Terminal.h"
#include "platform/Text.h"
#include "qk/ArchiveSession.h"
#include "qk/Commands.h"
#include "qk/Output.h"

namespace qk::tool {

int RunPrint(const Options& options, const NameCodec& codec) {
    ArchiveSession session(options, codec);
    if (!session.Open(platform::FromNative(options.operands[0]))) return kExitFailure;
    const std::vector<std::string> patterns(options.operands.begin() + 1, options.operands.end());
    bool failed = false;
    const std::vector<bool> selected = SelectEntries(session, codec, patterns, failed);
    platform::SetBinaryOutput();
    bool writeFailed = false;
    const ArchiveReader::Status status = session.Walk(
        [&](std::int32_t i, const std::uint8_t* data, std::int32_t size) {
            if (!selected[static_cast<std::size_t>(i)] || size == 0) return true;
            if (std::fwrite(data, 1, static_cast<std::size_t>(size), stdout) !=
                static_cast<std::size_t>(size)) {
                writeFailed = true;
                return false;
            }
            return true;
        },
        nullptr, LastSelected(selected));
    if (std::fflush(stdout) != 0) writeFailed = true;
    if (writeFailed) {
        Error("cannot write to standard output");
        return kExitFailure;
    }
    if (status != ArchiveReader::Status::kOk) {
        Error(session.shownPath() + ": " + DescribeStatus(status));
        return kExitFailure;
    }
    return failed ? kExitFailure : kExitOk;
}

}  // namespace qk::tool
