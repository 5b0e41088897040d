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

namespace qk::platform {

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

struct FileStatus {
    bool exists = false;
    bool isDirectory = false;
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
// a failed write leaves any old file untouched. On POSIX systems a target that
// does not exist yet is created under its own name at once (there is nothing
// to keep, and the rename is saved); uncommitted, it is removed again. A
// target that is a folder cannot be created.
class OutputFileWriter {
  public:
    OutputFileWriter() = default;
    ~OutputFileWriter();
    OutputFileWriter(const OutputFileWriter&) = delete;
    OutputFileWriter& operator=(const OutputFileWriter&) = delete;

    // Creates the temporary for `target`. False when it cannot be created.
    bool Create(const std::string& target);
    // Writes `count` bytes; returns the number written.
    std::int64_t Write(const void* data, std::int64_t count);
    // Closes the file and puts it in place of the target. False on failure
    // (the temporary is then removed).
    bool Commit();

  private:
    void Discard();
#ifdef _WIN32
    std::FILE* file_ = nullptr;
#else
    int descriptor_ = -1;
#endif
    std::string target_;
    // The file being written, a temporary beside the target or (new on POSIX)
    // the target itself; removed unless committed.
    std::string temporary_;
};

}  // namespace qk::platform
