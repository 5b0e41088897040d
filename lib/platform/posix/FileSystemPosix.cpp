// POSIX side of the file, directory and time calls.
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdlib>

#include "platform/FileSystem.h"
#include "platform/Interrupts.h"
#include "platform/FolderHandle.h"
#include "platform/PartialFile.h"
#include "platform/Text.h"

namespace qk::platform {

namespace {

// A temporary is created 0600; an extracted file gets the usual 0666 less the umask.
// The mask is read once: reading it means setting it, which is no step to
// repeat for every file (nor one that other threads should see).
mode_t CurrentUmask() {
    static const mode_t mask = [] {
        const mode_t value = ::umask(0);
        ::umask(value);
        return value;
    }();
    return mask;
}

// Access and modification time of `name` in `folder` (or AT_FDCWD) to `time`.
bool SetTimesAt(int folder, const std::string& name, std::uint32_t time, int flags) {
    struct timespec times[2];
    times[0].tv_sec = static_cast<time_t>(time);
    times[0].tv_nsec = 0;
    times[1] = times[0];
    return ::utimensat(folder, name.c_str(), times, flags) == 0;
}


bool WriteAll(int fd, const std::uint8_t* data, std::int64_t count) {
    while (count > 0) {
        const std::size_t chunk =
            count > (1 << 30) ? std::size_t{1} << 30 : static_cast<std::size_t>(count);
        const ssize_t written = ::write(fd, data, chunk);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        data += written;
        count -= written;
    }
    return true;
}

}  // namespace

void GuardStandardStreams() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        // The lowest free descriptor is `fd` itself, those below it being open.
        const int opened = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        if (opened >= 0 && opened != fd) {
            ::dup2(opened, fd);
            ::close(opened);
        }
    }
}

std::FILE* OpenForRead(const std::string& path) {
    return std::fopen(ToNativePath(path).c_str(), "rb");
}

std::FILE* OpenRegularForRead(const std::string& path, bool* notRegular) {
    *notRegular = false;
    // Non-blocking, so that opening a pipe without a writer returns at once;
    // the type is then taken from the opened file itself, not from the path,
    // which may have been replaced since it was looked at.
    const int fd = ::open(ToNativePath(path).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return nullptr;
    struct stat st;
    const bool statted = ::fstat(fd, &st) == 0;
    if (!statted || !S_ISREG(st.st_mode)) {
        *notRegular = statted;
        ::close(fd);
        return nullptr;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    std::FILE* file = ::fdopen(fd, "rb");
    if (!file) ::close(fd);
    return file;
}

FileStatus QueryFile(const std::string& path) {
    FileStatus status;
    struct stat st;
    if (::stat(ToNativePath(path).c_str(), &st) != 0) return status;
    status.exists = true;
    status.isDirectory = S_ISDIR(st.st_mode);
    status.isRegular = S_ISREG(st.st_mode);
    status.size = S_ISDIR(st.st_mode) ? 0 : static_cast<std::int64_t>(st.st_size);
    status.modifiedTime = static_cast<std::int64_t>(st.st_mtime);
    return status;
}

bool MakeDirectory(const std::string& path) {
    return ::mkdir(ToNativePath(path).c_str(), 0777) == 0;
}

bool SetFileTime(const std::string& path, std::uint32_t time) {
    return SetTimesAt(AT_FDCWD, ToNativePath(path), time, 0);
}

bool RemoveFile(const std::string& path) {
    return ::unlink(ToNativePath(path).c_str()) == 0;
}

std::int64_t FileSizeOf(std::FILE* file) {
    struct stat st;
    const int fd = ::fileno(file);
    if (fd >= 0) return ::fstat(fd, &st) == 0 ? static_cast<std::int64_t>(st.st_size) : -1;
    // A stream without a descriptor (fmemopen): its end, position kept.
    const off_t at = ::ftello(file);
    if (at < 0 || ::fseeko(file, 0, SEEK_END) != 0) return -1;
    const off_t end = ::ftello(file);
    if (::fseeko(file, at, SEEK_SET) != 0) return -1;
    return static_cast<std::int64_t>(end);
}

ClockTime Now() {
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now).count();
    return {ms / 1000, static_cast<int>(ms % 1000)};
}

std::string ProgramFilePath() {
    char buffer[PATH_MAX + 1];
    const ssize_t n = ::readlink("/proc/self/exe", buffer, PATH_MAX);
    if (n <= 0) return {};
    return FromNative(std::string(buffer, static_cast<std::size_t>(n)));
}

// ---------------------------------------------------------------------------
// Output files
// ---------------------------------------------------------------------------

namespace {

// Creates a new file in `folder` named `prefix` and six characters that no
// file there has; the name goes to `name`. O_EXCL makes a guessed name
// harmless: it can only be taken, never followed.
int CreateTemporary(int folder, const std::string& prefix, std::string& name) {
    static const char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    static std::atomic<std::uint64_t> counter{0};
    std::uint64_t seed =
        static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    seed ^= static_cast<std::uint64_t>(::getpid()) << 32;
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::uint64_t x = seed + 0x9E3779B97F4A7C15ull * ++counter;
        name = prefix;
        for (int i = 0; i < 6; ++i) {
            x ^= x >> 29;
            x *= 0xBF58476D1CE4E5B9ull;
            name += kChars[(x >> 40) % 62];
        }
        const int fd =
            ::openat(folder, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    errno = EEXIST;
    return -1;
}

}  // namespace

OutputFileWriter::~OutputFileWriter() {
    Discard();
}

bool OutputFileWriter::Create(const std::string& target) {
    Discard();
    return CreateAt(AT_FDCWD, ToNativePath(target));
}

bool OutputFileWriter::Create(const FolderHandle& folder, std::string_view name) {
    Discard();
    // One name, as the file system reads it: no separator, no terminator.
    if (!folder.valid() || name.empty() || name == "." || name == ".." ||
        name.find_first_of(std::string_view("/\0", 2)) != std::string_view::npos) {
        return false;
    }
    return CreateAt(folder.descriptor_, std::string(name));
}

// `target` is native and relative to `folder`.
bool OutputFileWriter::CreateAt(int folder, std::string target) {
    // From the creation of a file until it is registered: the file would
    // otherwise stay behind, empty, when a signal came in between.
    const InterruptsHeld held;
    // A new target is written in place. O_EXCL never follows a link and
    // never opens what exists, so an old file, a link or a folder at the
    // target takes the way through a temporary below.
    int fd = ::openat(folder, target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
        descriptor_ = fd;
        folder_ = folder;
        target_ = target;
        temporary_ = target_;
        slot_ = partial::Register(folder_, temporary_.c_str());
        return true;
    }
    if (errno != EEXIST) return false;
    struct stat st;
    if (::fstatat(folder, target.c_str(), &st, 0) == 0 && S_ISDIR(st.st_mode)) return false;
    // The temporary sits beside the target so that the final rename stays on
    // one file system.
    std::string temporary;
    fd = CreateTemporary(folder, target + ".qktmp-", temporary);
    if (fd < 0 && errno == ENAMETOOLONG) {
        // A name close to the file system's limit has no room for the
        // suffix; the temporary then takes a short name of its own, as long
        // as the target's own name fits (otherwise it could never be put in
        // place, and the target cannot be created at all).
        const std::size_t slash = target.rfind('/');
        const std::string dir = target.substr(0, slash == std::string::npos ? 0 : slash + 1);
        long nameMax = NAME_MAX;
        if (folder == AT_FDCWD) nameMax = ::pathconf(dir.empty() ? "." : dir.c_str(), _PC_NAME_MAX);
        if (nameMax > 0 && target.size() - dir.size() <= static_cast<std::size_t>(nameMax)) {
            fd = CreateTemporary(folder, dir + ".qktmp-", temporary);
        }
    }
    if (fd < 0) return false;
    ::fchmod(fd, 0666 & ~CurrentUmask());
    descriptor_ = fd;
    folder_ = folder;
    target_ = target;
    temporary_ = temporary;
    slot_ = partial::Register(folder_, temporary_.c_str());
    return true;
}

std::int64_t OutputFileWriter::Write(const void* data, std::int64_t count) {
    if (descriptor_ < 0 || count <= 0) return 0;
    return WriteAll(descriptor_, static_cast<const std::uint8_t*>(data), count) ? count : 0;
}

bool OutputFileWriter::Commit() {
    if (descriptor_ < 0) return false;
    const bool closed = ::close(descriptor_) == 0;
    descriptor_ = -1;
    const bool placed =
        closed && (temporary_ == target_ ||
                   ::renameat(folder_, temporary_.c_str(), folder_, target_.c_str()) == 0);
    if (!placed) ::unlinkat(folder_, temporary_.c_str(), 0);
    // Only now: a signal before the rename must still find the temporary, and
    // one after it finds the name gone.
    partial::Unregister(slot_);
    slot_ = -1;
    temporary_.clear();
    return placed;
}

void OutputFileWriter::Discard() {
    if (descriptor_ >= 0) {
        ::close(descriptor_);
        descriptor_ = -1;
    }
    if (!temporary_.empty()) {
        ::unlinkat(folder_, temporary_.c_str(), 0);
        temporary_.clear();
    }
    partial::Unregister(slot_);
    slot_ = -1;
}

}  // namespace qk::platform
