// qk a: a new archive (or self-extracting program) from files and folders.
//
// Everything is read and compressed in memory first; the archive file is
// then written beside its final name and renamed into place, so a failure at
// any step leaves no half-written archive behind (and an older file of the
// same name untouched).
#include <cstdio>
#include <utility>

#include "qk1/ArchiveWriter.h"
#include "platform/Directory.h"
#include "platform/FileSystem.h"
#include "platform/Text.h"
#include "qk/Commands.h"
#include "qk/InputTree.h"
#include "qk/Output.h"
#include "qk/PasswordPrompt.h"

namespace qk::tool {

namespace {

// The whole content of a file; false when it cannot be read in full.
bool ReadWholeFile(const std::string& path, std::vector<std::uint8_t>& data) {
    std::FILE* file = platform::OpenForRead(path);
    if (!file) return false;
    const std::int64_t size = platform::FileSizeOf(file);
    bool ok = size >= 0;
    if (ok) {
        data.resize(static_cast<std::size_t>(size));
        ok = size == 0 || std::fread(data.data(), 1, data.size(), file) == data.size();
        // A file that grew meanwhile is taken as it was when measured.
    }
    std::fclose(file);
    return ok;
}

// The qkdec program a self-extracting archive starts with: the one given, or
// the one beside this program.
std::string SfxProgramPath(const Options& options) {
    if (!options.sfxProgram.empty()) return platform::FromNative(options.sfxProgram);
    const std::string self = platform::ProgramFilePath();
    const std::size_t slash = self.find_last_of(std::string("/") + platform::kSeparator);
    const std::string dir = slash == std::string::npos ? "." : self.substr(0, slash);
#ifdef _WIN32
    return dir + platform::kSeparator + "qkdec.exe";
#else
    return dir + platform::kSeparator + "qkdec";
#endif
}

bool SettlePassword(const Options& options, const NameCodec& codec, WriteOptions& write) {
    std::string typed;
    if (options.passwordGiven) {
        typed = options.password;
    } else if (options.askPassword) {
        const std::optional<std::string> asked = AskNewPassword();
        if (!asked) return false;
        typed = *asked;
    } else {
        return true;
    }
    if (typed.empty()) {
        Error("the password must not be empty");
        return false;
    }
    // The key bytes both programs derive from this password when they read.
    write.password = codec.PasswordKey(typed);
    write.usePassword = true;
    return true;
}

}  // namespace

int RunAdd(const Options& options, const NameCodec& codec) {
    const std::string archivePath = platform::FromNative(options.operands[0]);
    const std::string shownArchive = ShowNative(archivePath);
    WriteOptions write;
    write.largeModel = options.largeModel;
    write.insertInner = options.insertInner;
    write.searchDepth = options.searchDepth;
    write.level = options.level;
    // A model or insertion mode asked for by name is kept; otherwise the
    // highest levels choose them per archive.
    write.chooseModes = !options.largeModel && !options.insertInner;
    if (!SettlePassword(options, codec, write)) return kExitFailure;

    std::vector<std::string> operands;
    for (std::size_t k = 1; k < options.operands.size(); ++k)
        operands.push_back(platform::FromNative(options.operands[k]));
    std::vector<InputFile> inputs;
    if (!CollectInputs(operands, platform::FromNative(options.baseDir), codec, options.quiet,
                       inputs)) {
        Error(shownArchive + ": not written");
        return kExitFailure;
    }

    std::vector<ArchiveEntry> entries;
    entries.reserve(inputs.size());
    std::int64_t totalSize = 0;
    for (const InputFile& input : inputs) {
        // The archive being replaced is not read into itself.
        if (input.path == archivePath) continue;
        ArchiveEntry entry;
        entry.name = input.name;
        entry.time = input.time;
        if (!ReadWholeFile(input.path, entry.data)) {
            Error(input.shown + ": cannot read the file");
            Error(shownArchive + ": not written");
            return kExitFailure;
        }
        totalSize += static_cast<std::int64_t>(entry.data.size());
        entries.push_back(std::move(entry));
        if (!options.quiet) Out("  " + input.shown + "\n");
    }

    const std::int64_t entryCount = static_cast<std::int64_t>(entries.size());
    std::vector<std::uint8_t> archive;
    std::string reason;
    // The writer takes the entries over, so that their bytes are not held twice.
    if (WriteArchive(std::move(entries), write, archive, &reason) != Status::kOk) {
        Error(shownArchive + ": " + reason);
        return kExitFailure;
    }
    if (options.sfx) {
        const std::string program = SfxProgramPath(options);
        std::vector<std::uint8_t> image;
        if (!ReadWholeFile(program, image)) {
            Error(ShowNative(program) +
                  ": cannot read the qkdec program for --sfx (name it with --sfx-program)");
            return kExitFailure;
        }
        std::vector<std::uint8_t> selfExtracting;
        if (MakeSelfExtracting(image, archive, selfExtracting) != Status::kOk) {
            Error(shownArchive + ": not enough memory");
            return kExitFailure;
        }
        archive = std::move(selfExtracting);
    }

    platform::OutputFileWriter file;
    if (!file.Create(archivePath) ||
        file.Write(archive.data(), static_cast<std::int64_t>(archive.size())) !=
            static_cast<std::int64_t>(archive.size()) ||
        !file.Commit()) {
        Error(shownArchive + ": cannot write the archive");
        return kExitFailure;
    }
    if (options.sfx && !platform::MakeExecutable(archivePath)) {
        Error(shownArchive + ": cannot mark the program as executable");
        return kExitFailure;
    }
    if (!options.quiet) {
        Out(shownArchive + ": " + Grouped(entryCount) + (entryCount == 1 ? " file, " : " files, ") +
            Grouped(totalSize) + " -> " + Grouped(static_cast<std::int64_t>(archive.size())) +
            " bytes\n");
    }
    return kExitOk;
}

}  // namespace qk::tool
