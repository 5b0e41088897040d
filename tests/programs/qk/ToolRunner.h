// The built programs run through the shell, as a user runs them, and the
// archives the tests hand them.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace qk::test {

struct RunResult {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs `script` with /bin/sh in `dir`, `input` on its standard input: qk,
// qkdec and qkdec-sfx of the build on the PATH (and as $QK, $QKDEC,
// $QKDEC_SFX), $V the folder of the reference archives, TZ=UTC and a UTF-8
// locale.
RunResult RunShell(const std::string& dir, const std::string& script,
                   const std::string& input = "");

// Entries as (stored name, content).
using Entries = std::vector<std::pair<std::string, std::string>>;

// Writes an archive of `entries`, each dated 1000000000, by the library's
// writer; scrambled under the key bytes `key` when it is not empty.
void WriteArchiveFile(const std::string& path, const Entries& entries, const std::string& key = "");

// `size` bytes that do not compress (the same for the same seed).
std::string Noise(std::size_t size, unsigned seed = 7);

// Empty when `text` holds each of `fragments` (none empty), else what is
// amiss and the text. A fragment "!WORDS" must not stand in it.
std::string Missing(const std::string& text, const std::vector<std::string>& fragments);

}  // namespace qk::test
