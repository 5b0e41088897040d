// The qk commands. Each returns the program's exit status: 0 when all went
// well, 2 when an archive (or a file) failed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "qk/CommandLine.h"

namespace qk::tool {

class ArchiveSession;
class NameCodec;

constexpr int kExitOk = 0;
constexpr int kExitUsage = 1;
constexpr int kExitFailure = 2;

int RunList(const Options& options, const NameCodec& codec);
int RunTest(const Options& options, const NameCodec& codec);
int RunExtract(const Options& options, const NameCodec& codec);
int RunPrint(const Options& options, const NameCodec& codec);
int RunAdd(const Options& options, const NameCodec& codec);

// The entries that `patterns` (as typed) select; all of them for no pattern.
// A pattern that selects nothing is reported as an error and sets `failed`.
std::vector<bool> SelectEntries(const ArchiveSession& session, const NameCodec& codec,
                                const std::vector<std::string>& patterns, bool& failed);

// Index of the last selected entry, or -1.
std::int32_t LastSelected(const std::vector<bool>& selected);

}  // namespace qk::tool
