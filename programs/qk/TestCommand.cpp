// qk t: decodes every entry of each archive without writing anything, and
// checks every name as qk x and qkdec would before extracting it.
#include "extract/Road.h"
#include "platform/Text.h"
#include "qk/ArchiveSession.h"
#include "qk/Commands.h"
#include "qk/EntryPath.h"
#include "qk/Output.h"
#include "qk/ProgressBar.h"

namespace qk::tool {

namespace {

// Empty when the archive decodes in full and every name could be
// extracted, otherwise what is wrong.
std::string Check(ArchiveSession& session, const Options& options, const NameCodec& codec) {
    std::int32_t current = 0;
    ProgressBar bar(!options.quiet, session.TotalSize());
    const ArchiveReader::Status status = session.Walk(
        [&](std::int32_t i, const std::uint8_t*, std::int32_t) {
            current = i + 1;
            return true;
        },
        [&](std::int64_t done) { bar.Update(done, session.shownPath()); }, session.count() - 1);
    bar.Clear();
    if (status == ArchiveReader::Status::kCutShort) {
        // The whole batch was decoded, from bytes the file does not hold.
        return session.BatchNames(current - 1) + ": " + DescribeStatus(status);
    }
    if (status != ArchiveReader::Status::kOk) {
        // The failing batch starts at the first entry not yet handed out.
        const std::string where =
            current < session.count() ? "entry " + session.DisplayName(current) + ": " : "";
        return where + DescribeStatus(status);
    }
    // The header's count of entry bytes must agree with the table.
    if (session.header().dataSize() != session.TotalSize()) {
        return "the header counts " + Grouped(session.header().dataSize()) +
               " bytes of entries, the table " + Grouped(session.TotalSize());
    }
    // The names, by the extraction road (against the limits of no folder in
    // particular): what qk x would refuse.
    extract::Road road(RoadSettingsFor(codec));
    const std::vector<extract::Road::Refused> refused =
        road.Plan(session.entries().names, nullptr, 1);
    if (!refused.empty()) {
        return "entry " + session.DisplayName(refused.front().index) +
               ": cannot be extracted: " + RefusalText(refused.front().refusal);
    }
    return {};
}

// Bytes after the end of the compressed data that a writer of the format
// may leave (its last partial byte is counted in the data); more means the
// file holds something else after the archive.
constexpr std::int64_t kSlack = 8;

// A warning when the data ends well before the archive's end (the file's
// end, or a self-extracting program's trailer); empty otherwise.
std::string TrailingWarning(ArchiveSession& session) {
    const ArchiveReader& reader = session.reader();
    const std::int64_t size = reader.sourceSize();
    const std::int64_t dataEnd = reader.dataEnd();
    if (size < 0 || dataEnd < 0) return {};
    const std::int64_t end = session.header().offset == 0 ? size : size - 4;
    if (end - dataEnd <= kSlack) return {};
    return session.shownPath() + ": warning: " + Grouped(end - dataEnd) +
           " bytes after the end of the data";
}

}  // namespace

int RunTest(const Options& options, const NameCodec& codec) {
    bool failed = false;
    for (const std::string& operand : options.operands) {
        ArchiveSession session(options, codec, false);
        const std::string problem = session.Open(platform::FromNative(operand))
                                        ? Check(session, options, codec)
                                        : session.error();
        if (!problem.empty()) {
            failed = true;
            Out(session.shownPath() + ": FAILED: " + problem + "\n");
            continue;
        }
        if (const std::string warning = TrailingWarning(session); !warning.empty()) Error(warning);
        if (!options.quiet) {
            Out(session.shownPath() + ": OK (" + Grouped(session.count()) +
                (session.count() == 1 ? " file, " : " files, ") + Grouped(session.TotalSize()) +
                " bytes)\n");
        }
    }
    return failed ? kExitFailure : kExitOk;
}

}  // namespace qk::tool
