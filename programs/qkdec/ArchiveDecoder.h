// One archive from start to end: header, password, entry table, the
// questions about existing files, then every entry written into the output
// folder (or compared with the files already there), with progress, status
// lines and a closing message, all through the Interaction.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "qkdec/Interaction.h"
#include "extract/Road.h"
#include "format/EntryTable.h"
#include "qk1/ArchiveReader.h"
#include "platform/FileSystem.h"

namespace qk {

class ArchiveDecoder {
  public:
    // How a run ended, finer than Run's result: the program's exit code tells
    // a failure from the user's own decision not to go on.
    enum class Outcome {
        kNotRun,
        kCompleted,  // every entry written, or compared to the end
        kDeclined,   // the user chose not to write, or to stop comparing
        kFailed,     // an error was shown, or no or a wrong password was given
        kStopped,    // SetProgress asked to stop
    };

    // `outputDir` ends with the platform's separator, or is empty for the
    // current folder; without one the archive's own folder is used.
    ArchiveDecoder(Interaction* interaction, std::optional<std::string> outputDir);
    ArchiveDecoder(const ArchiveDecoder&) = delete;
    ArchiveDecoder& operator=(const ArchiveDecoder&) = delete;

    // Processes the archive at `archivePath` (program text); call once.
    // 0 when finished, -1 when stopped by a failure or by the user's answer,
    // -2 when SetProgress asked to stop. Nothing is thrown.
    int Run(const std::string& archivePath) noexcept;

    Outcome outcome() const { return outcome_; }

  private:
    // What a per-entry step tells the batch loop.
    enum class EntryStep { kNext, kStop };
    using EntryHandler = std::function<EntryStep(std::int32_t index, const std::uint8_t* data)>;

    int Process(const std::string& archivePath);
    bool OpenArchive(const std::string& archivePath);
    bool CheckPassword();
    bool ReadTable();
    bool CheckNames();

    int Extract(const std::string& archivePath);
    EntryStep WriteEntry(std::int32_t index, const std::uint8_t* data);
    // The message of a folder of the current entry that could not be reached.
    void ReportFolderStep(extract::Road::Step step);

    int Compare(const std::string& archivePath);
    EntryStep CompareEntry(std::int32_t index, const std::uint8_t* data);
    // The entry's file as the compare mode sees it, found by the road (no
    // link followed on the way); afterwards road_.OpenForRead opens it.
    platform::FileStatus QueryTarget(std::string_view name);
    EntryStep CompareContents(const std::string& target, std::int64_t size,
                              const std::uint8_t* data);
    EntryStep AskToGoOn(const std::string& question);

    // Shared by both modes: the batch buffer, the "InFile" and folder status
    // lines, every batch decoded with progress and handed entry by entry to
    // `handle`, and SetProgress(100). Returns 0, or Run's -1 or -2.
    int ProcessEntries(const std::string& archivePath, const char* folderFormat, bool comparing,
                       const EntryHandler& handle);
    // Percent of totalSize decoded before a Decode call; false to stop.
    bool ReportProgress(std::int64_t decoded);
    std::string ElapsedText() const;

    int Fail(std::string_view message);
    int Failed();

    std::optional<std::string> outputDir_;
    Interaction* interaction_;
    ArchiveReader reader_;
    Outcome outcome_ = Outcome::kNotRun;
    std::int64_t startSeconds_ = 0;
    int startMilliseconds_ = 0;
    bool mismatch_ = false;
    // Every name checked, folders made and opened, files written and looked
    // at for the compare mode: the library's one way to the disk.
    extract::Road road_;
};

}  // namespace qk
