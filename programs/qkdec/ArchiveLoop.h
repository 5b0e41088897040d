// The archives of one run, one after the other.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "qkdec/Interaction.h"

namespace qk {

// Runs one ArchiveDecoder per archive, each finished before the next begins;
// a failed archive does not stop the next. Returns the exit code: 2 when some
// archive could not be extracted or compared to its end (an error, a missing
// or wrong password, a stop through SetProgress), 0 otherwise, also when the
// user chose not to go on.
int RunArchives(Interaction& interaction, const std::optional<std::string>& outputDir,
                const std::vector<std::string>& archives);

}  // namespace qk
