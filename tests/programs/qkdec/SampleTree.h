// The tree of the sample archive that the repository ships
// (samples/sample.qk1): made by MakeSample with the project's own writer, and
// checked against it by the tests.
#pragma once

#include <vector>

#include "qk1/ArchiveWriter.h"

namespace qk::test {

// Shift-JIS names in nested folders, an empty file, a binary, and sizes that
// cut the entries into three batches: [1, 2, 3], [4], [5, 6].
std::vector<ArchiveEntry> SampleTree();

// The sample archive's bytes as MakeSample writes them: SampleTree() under
// the writer's default options.
Status WriteSampleArchive(std::vector<std::uint8_t>& archive, std::string* error);

}  // namespace qk::test
