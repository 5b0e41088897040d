// A folder of its own for each end-to-end test of the built qkdec, with
// archives written into it and the program run there.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ProgramRunner.h"
#include "qk1/ArchiveWriter.h"
#include "support/TestSupport.h"

namespace qk::test {

// What qkdec shows first on every run.
inline const std::string kBanner =
    "\n qkdec  : QuillKnot Decode Program for Windows95/NT Console\n"
    "        : Version 1.04 (Mar 10 1998)\n\n";

class ProgramFixture : public ::testing::Test {
  protected:
    std::string Path(const std::string& relative) const { return dir_.path() + "/" + relative; }

    void WriteArchive(const std::string& name, const std::vector<ArchiveEntry>& entries,
                      const std::string& password = "") {
        WriteOptions options;
        options.usePassword = !password.empty();
        options.password = password;
        Bytes archive;
        std::string error;
        ASSERT_EQ(qk::WriteArchive(entries, options, archive, &error), qk::Status::kOk) << error;
        WriteFileBytes(Path(name), archive);
    }

    ProgramRun Run(const std::vector<std::string>& args, const std::string& input = "",
                   const std::string& locale = "C") {
        RunSettings settings;
        settings.workDir = dir_.path();
        settings.input = input;
        settings.locale = locale;
        return RunQkdec(args, settings);
    }

    TempDir dir_;
};

}  // namespace qk::test
