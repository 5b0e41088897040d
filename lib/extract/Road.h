// The one road from an entry's stored name to a file on disk, for every
// program that extracts (qkdec, qk x) or checks what extraction would do
// (qk t, qkdec's existing-target count and compare mode).
//
//   extract::Road road(settings);
//   road.Open(outputDir);                       // the output folder, as given
//   refused = road.Plan(names, nullptr, 1);     // every name, before anything is made
//   existing = road.CountExisting(names, nullptr);
//   for each entry:
//       road.Reach(name, Road::Mode::kMake);    // its folders, one level at a time
//       road.Write(data, size); road.SetTime(time);
//
// Every name is checked before anything is written or created (EntryName:
// on the bytes the file system gets, with the limits of the output folder);
// entries that land on the file of an earlier one are found at the same
// time, as the file system compares names. Folders are made and opened one
// level at a time, each in the one above it, never following a link
// (FolderChain). A file is written in place where none stands and through a
// temporary where one does, and a failed or interrupted write leaves nothing
// half-written (platform::OutputFileWriter, platform/PartialFile.h).
//
// Failures come back as values; the programs say them in their own words.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "extract/EntryName.h"
#include "extract/FolderChain.h"
#include "platform/FileSystem.h"
#include "platform/FolderHandle.h"
#include "platform/Text.h"
#include "qk1/Archive.h"

namespace qk::extract {

struct RoadSettings {
    // The separator the entry table was read with (ReadTable's argument).
    char separator = platform::kSeparator;
    // How names are converted for the file system (platform::ToNativePath).
    platform::TextMode textMode = platform::CurrentTextMode();
};

class Road {
  public:
    // How a step on disk ended.
    enum class Step {
        kDone,
        kMissing,       // kLook: a folder on the way is not there
        kLink,          // a folder on the way is a link (Windows: a reparse point)
        kNotFolder,     // something that is no folder stands where a folder has to be
        kMakeFailed,    // a folder could not be made
        kOpenFailed,    // a folder could not be opened (the output folder too)
        kCreateFailed,  // the file could not be created
        kWriteFailed,   // the file could not be written whole, or put in place
    };
    enum class Mode { kLook, kMake };

    struct Refused {
        std::int32_t index;
        Refusal refusal;
        std::size_t component;  // the component a length refusal is about
    };

    struct Existing {
        std::int64_t count = 0;      // entries whose target exists (a folder too)
        std::int32_t folderAt = -1;  // the first entry whose file path holds a folder
    };

    explicit Road(RoadSettings settings = RoadSettings());

    // The output folder: program text as the platform's paths, empty for the
    // current folder; a link is followed (the user's choice). False when it
    // cannot be opened: names are still checked, and every step fails.
    bool Open(const std::string& outputDir);
    bool opened() const { return chain_.root().valid(); }
    const std::string& outputDir() const { return outputDir_; }

    // Checks every name of `names` (those `selected` when given), stopping
    // after `maxRefused` refusals; in entry order. With none refused, the
    // entries that land on the file of an earlier one are known afterwards.
    std::vector<Refused> Plan(const NameList& names, const std::vector<bool>* selected,
                              std::size_t maxRefused);
    bool IsDuplicate(std::int32_t index) const;

    // Counts the entries whose target exists already, without making
    // anything, and finds the first whose file path holds a folder (a link
    // to one too), where no file can be written.
    Existing CountExisting(const NameList& names, const std::vector<bool>* selected);

    // ---- one entry at a time ----

    // Takes entry `name` (checked by Plan) as the current entry and reaches
    // its folder, making what is missing with kMake. On failure
    // failedComponent() tells the folder (components() for the output folder
    // itself).
    Step Reach(std::string_view name, Mode mode);
    std::size_t components() const { return entry_.count(); }
    std::size_t failedComponent() const { return failed_; }

    // The output folder followed by the current name up to the end of its
    // component k, as program text (for messages; the name as it stands).
    std::string ProgramPath(std::size_t k) const;
    // The current entry's file, as program text.
    std::string ProgramTarget() const { return outputDir_ + std::string(name_); }
    // Components [0, k] of the current entry as native names, the platform's
    // separator between them (for messages that show what is on disk).
    std::string NativePath(std::size_t k) const;
    // The native name of the current entry's file.
    const std::string& fileName() const { return entry_.native(entry_.count() - 1); }

    // After Reach: what stands at the file's name (or `name`) in its folder.
    platform::NameStatus Query(bool followLink) const { return Query(fileName(), followLink); }
    platform::NameStatus Query(std::string_view name, bool followLink) const;
    // Writes the file (or `name` in the same folder), complete or not at all.
    Step Write(const std::uint8_t* data, std::int64_t size) {
        return Write(fileName(), data, size);
    }
    Step Write(std::string_view name, const std::uint8_t* data, std::int64_t size);
    bool SetTime(std::uint32_t time) { return SetTime(fileName(), time); }
    bool SetTime(std::string_view name, std::uint32_t time);
    // Opens the file for reading (compare mode); null when it cannot be.
    std::FILE* OpenForRead() const;

  private:
    RoadSettings settings_;
    std::string outputDir_;
    NameLimits limits_;
    FolderChain chain_;
    std::vector<bool> duplicate_;
    EntryName entry_;
    std::string name_;
    std::size_t failed_ = 0;
    const platform::FolderHandle* folder_ = nullptr;
};

}  // namespace qk::extract
