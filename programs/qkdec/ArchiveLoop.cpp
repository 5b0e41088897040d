#include "qkdec/ArchiveLoop.h"

#include "qkdec/ArchiveDecoder.h"

namespace qk {

int RunArchives(Interaction& interaction, const std::optional<std::string>& outputDir,
                const std::vector<std::string>& archives) {
    int exitCode = 0;
    for (const std::string& archive : archives) {
        ArchiveDecoder decoder(&interaction, outputDir);
        decoder.Run(archive);
        const ArchiveDecoder::Outcome outcome = decoder.outcome();
        if (outcome == ArchiveDecoder::Outcome::kFailed ||
            outcome == ArchiveDecoder::Outcome::kStopped) {
            exitCode = 2;
        }
    }
    return exitCode;
}

}  // namespace qk
