// qk a: a new archive (or self-extracting program) from files and folders.
//
// The inputs are listed first (names, sizes, times); the writer then reads
// them a few batches at a time while it compresses, so only the archive
// being built and the batches at hand are in memory. The archive file is
// written beside its final name and renamed into place, so a failure at any
// step leaves no half-written archive behind (and an older file of the same
// name untouched).
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

// Reads `count` bytes from `offset` of the file at `path`: opened anew for
// each request, without waiting on it, and only while it is a plain file.
bool ReadInput(const std::string& path, std::int64_t offset, std::uint8_t* buffer,
               std::int64_t count, std::string& reason) {
    bool notRegular = false;
    platform::FileHolder file(platform::OpenRegularForRead(path, &notRegular));
    if (!file) {
        reason = notRegular ? "no longer a plain file (a pipe, device or socket)"
                            : "cannot open the file";
        return false;
    }
    // Entries stay below 2 GiB, so a long offset reaches every byte.
    if (std::fseek(file.get(), static_cast<long>(offset), SEEK_SET) != 0 ||
        std::fread(buffer, 1, static_cast<std::size_t>(count), file.get()) !=
            static_cast<std::size_t>(count)) {
        // A file that grew meanwhile is taken as it was when listed; one that
        // shrank cannot be.
        reason = "cannot read the file (shorter than when it was listed?)";
        return false;
    }
    return true;
}

// The qkdec program a self-extracting archive starts with: the one given, or
// beside this program the small qkdec-sfx made for it, else qkdec itself.
std::string SfxProgramPath(const Options& options) {
    if (!options.sfxProgram.empty()) return platform::FromNative(options.sfxProgram);
    const std::string self = platform::ProgramFilePath();
    const std::size_t slash = self.find_last_of(std::string("/") + platform::kSeparator);
    const std::string dir = slash == std::string::npos ? "." : self.substr(0, slash);
#ifdef _WIN32
    const char* names[] = {"qkdec-sfx.exe", "qkdec.exe"};
#else
    const char* names[] = {"qkdec-sfx", "qkdec"};
#endif
    for (const char* name : names) {
        const std::string path = dir + platform::kSeparator + name;
        if (platform::QueryFile(path).isRegular) return path;
    }
    return dir + platform::kSeparator + names[1];
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
    CollectRules rules;
    rules.quiet = options.quiet;
    rules.skipErrors = options.skipErrors;
    int skipped = 0;
    if (!CollectInputs(operands, platform::FromNative(options.baseDir), codec, rules, inputs,
                       skipped)) {
        Error(shownArchive + ": not written");
        return kExitFailure;
    }

    std::vector<EntrySource> entries;
    entries.reserve(inputs.size());
    std::int64_t totalSize = 0;
    std::string readProblem;  // the input whose read failed, and why
    for (const InputFile& input : inputs) {
        // The archive being replaced is not read into itself.
        if (input.path == archivePath) continue;
        const InputFile* file = &input;
        entries.push_back({input.name, input.time, input.size,
                           [file, &readProblem](std::int64_t offset, std::uint8_t* buffer,
                                                std::int64_t count, std::string& reason) {
                               if (ReadInput(file->path, offset, buffer, count, reason))
                                   return true;
                               readProblem = file->shown + ": " + reason;
                               return false;
                           }});
        totalSize += input.size;
        if (!options.quiet) Out("  " + input.shown + "\n");
    }

    const std::int64_t entryCount = static_cast<std::int64_t>(entries.size());
    std::vector<std::uint8_t> archive;
    std::string reason;
    const Status written = WriteArchiveFromSources(entries, write, archive, &reason);
    if (written != Status::kOk) {
        Error(written == Status::kReadFailure && !readProblem.empty()
                  ? readProblem
                  : shownArchive + ": " + reason);
        Error(shownArchive + ": not written");
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
    if (skipped > 0) {
        Error(shownArchive + ": written without " + Grouped(skipped) +
              (skipped == 1 ? " input that" : " inputs that") + " could not be taken");
        return kExitFailure;
    }
    return kExitOk;
}

}  // namespace qk::tool
