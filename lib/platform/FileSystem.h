// Files, directories and times, the same calls on every platform.
//
// Every path handed to these functions is program text: Shift-JIS (CP932)
// bytes, as archive names and messages are. The platform side converts it to
// what its file system speaks (UTF-8 under a UTF-8 locale, UTF-16 on Windows,
// the bytes unchanged otherwise).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace qk::platform {

class FolderHandle;

// The path separator of this platform, as one program-text byte.
#ifdef _WIN32
constexpr char kSeparator = '\\';
#else
constexpr char kSeparator = '/';
#endif

// Puts the null device on standard input, output or error where the program
// was started with one of them closed. Otherwise the first file it opens
// would take that place, and an answer or a password would be read from an
// archive. Call once at start-up.
void GuardStandardStreams();

// Opens a file for reading in binary mode; null when it cannot be opened.
std::FILE* OpenForRead(const std::string& path);

// Opens a plain file for reading without ever waiting on it: a pipe, device
// or socket at `path` (or behind a link there), which could block a read or
// an open for ever, is not opened for its data. Null when the path cannot be
// opened, or is no plain file (`notRegular` then true).
std::FILE* OpenRegularForRead(const std::string& path, bool* notRegular);

// Owner of one open stdio file; closes it on destruction.
class FileHolder {
  public:
    FileHolder() = default;
    explicit FileHolder(std::FILE* file) : file_(file) {}
    ~FileHolder() { Close(); }
    FileHolder(const FileHolder&) = delete;
    FileHolder& operator=(const FileHolder&) = delete;

    std::FILE* get() const { return file_; }
    explicit operator bool() const { return file_ != nullptr; }
    void Close() {
        if (file_) std::fclose(file_);
        file_ = nullptr;
    }

  private:
    std::FILE* file_ = nullptr;
};

struct FileStatus {
    bool exists = false;
    bool isDirectory = false;
    bool isRegular = false;  // a plain file: no folder, device, pipe or socket
    std::int64_t size = 0;
    std::int64_t modifiedTime = 0;  // seconds since 1970-01-01 UTC
};

// Queries the file system; a path that does not exist gives exists == false.
FileStatus QueryFile(const std::string& path);

// Creates one directory. False when it could not be created.
bool MakeDirectory(const std::string& path);

// Sets access and modification time of a file to `time` (seconds since 1970).
bool SetFileTime(const std::string& path, std::uint32_t time);

// Removes a file. False when it could not be removed.
bool RemoveFile(const std::string& path);

// Size of an open file, or -1.
std::int64_t FileSizeOf(std::FILE* file);

// Seconds and milliseconds of the wall clock.
struct ClockTime {
    std::int64_t seconds;
    int milliseconds;
};
ClockTime Now();

// The program's own file (not argv[0]): /proc/self/exe, GetModuleFileName.
// Empty when it cannot be found.
std::string ProgramFilePath();

// A file being written that replaces its target only when complete: the bytes
// go to a temporary file beside the target, and Commit renames it over the
// target. Destroying an uncommitted OutputFileWriter removes the temporary, so
// a failed write leaves any old file untouched. A target that does not exist
// yet is created under its own name at once (there is nothing to keep, and
// the rename is saved; on Windows only in a FolderHandle); uncommitted, it is
// removed again. A target that is a folder (or a link to one) cannot be
// created. While it is written the file is registered (platform/PartialFile.h),
// so that a program ended by a signal removes it.
class OutputFileWriter {
  public:
    OutputFileWriter() = default;
    ~OutputFileWriter();
    OutputFileWriter(const OutputFileWriter&) = delete;
    OutputFileWriter& operator=(const OutputFileWriter&) = delete;

    // Creates the file for `target`. False when it cannot be created.
    bool Create(const std::string& target);
    // Creates the file for `name` (one native name, no folders: see
    // platform/FolderHandle.h) in `folder`, which must stay open until the
    // writer is done.
    bool Create(const FolderHandle& folder, std::string_view name);
    // Writes `count` bytes; returns the number written.
    std::int64_t Write(const void* data, std::int64_t count);
    // Closes the file and puts it in place of the target. False on failure
    // (the temporary is then removed).
    bool Commit();

  private:
    void Discard();
#ifdef _WIN32
    bool CommitInFolder();
    std::FILE* file_ = nullptr;
    // In a FolderHandle: the file's handle and the folder's (a HANDLE each),
    // and whether the file is new under its own name.
    void* handle_ = nullptr;
    void* folder_ = nullptr;
    bool inPlace_ = false;
#else
    bool CreateAt(int folder, std::string target);
    int descriptor_ = -1;
    int folder_ = -1;  // the folder the names below are relative to (or AT_FDCWD)
#endif
    int slot_ = -1;  // in the registry of partial files
    std::string target_;
    // The file being written, a temporary beside the target or (new) the
    // target itself; removed unless committed.
    std::string temporary_;
};

}  // namespace qk::platform
