#include "ToolRunner.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>

#include "qk1/ArchiveWriter.h"
#include "support/TestSupport.h"

namespace qk::test {

namespace {

std::string ReadText(const std::string& path) {
    const Bytes data = ReadFileBytes(path);
    return std::string(data.begin(), data.end());
}

}  // namespace

RunResult RunShell(const std::string& dir, const std::string& script, const std::string& input) {
    // The captured streams live in a folder of their own, out of the way of
    // the files the commands list and write.
    static TempDir io;
    const std::string at = io.path() + "/";
    std::ofstream(at + "script", std::ios::binary) << script << "\n";
    std::ofstream(at + "stdin", std::ios::binary) << input;
    const std::string programs = std::filesystem::path(QK_PROGRAM).parent_path().string();
    const std::string command =
        "cd '" + dir + "' && PATH='" + programs + "':\"$PATH\" QK='" +
        QK_PROGRAM "' QKDEC='" QKDEC_PROGRAM "' QKDEC_SFX='" QKDEC_SFX_PROGRAM "' V='" +
        VectorsDir() + "' TZ=UTC LC_ALL=C.UTF-8 /bin/sh '" + at + "script' <'" + at + "stdin' >'" +
        at + "stdout' 2>'" + at + "stderr'; echo $? >'" + at + "status'";
    RunResult result;
    if (std::system(command.c_str()) == -1) return result;
    result.status = std::atoi(ReadText(at + "status").c_str());
    result.out = ReadText(at + "stdout");
    result.err = ReadText(at + "stderr");
    return result;
}

void WriteArchiveFile(const std::string& path, const Entries& entries, const std::string& key) {
    std::vector<ArchiveEntry> list;
    for (const auto& [name, content] : entries)
        list.push_back(
            {name, 1000000000, std::vector<std::uint8_t>(content.begin(), content.end())});
    WriteOptions options;
    options.level = 1;
    options.usePassword = !key.empty();
    options.password = key;
    std::vector<std::uint8_t> archive;
    std::string error;
    ASSERT_EQ(WriteArchive(std::move(list), options, archive, &error), Status::kOk) << error;
    WriteFileBytes(path, archive);
}

std::string Noise(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes) c = static_cast<char>(random());
    return bytes;
}

std::string Missing(const std::string& text, const std::vector<std::string>& fragments) {
    std::string misses;
    for (const std::string& f : fragments) {
        const bool negated = f[0] == '!';
        if ((text.find(negated ? f.substr(1) : f) != std::string::npos) == negated)
            misses += (negated ? "there: " : "missing: ") + f + "\n";
    }
    return misses.empty() ? misses : misses + "in:\n" + text.substr(0, 4000);
}

}  // namespace qk::test
