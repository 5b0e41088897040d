// POSIX side of the file, directory and time calls.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>

#include "platform/FileSystem.h"
#include "platform/Text.h"

namespace qk::platform {

namespace {

// mkstemp creates 0600; an extracted file gets the usual 0666 less the umask.
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

FileStatus QueryFile(const std::string& path) {
    FileStatus status;
    struct stat st;
    if (::stat(ToNativePath(path).c_str(), &st) != 0) return status;
    status.exists = true;
    status.isDirectory = S_ISDIR(st.st_mode);
    status.size = S_ISDIR(st.st_mode) ? 0 : static_cast<std::int64_t>(st.st_size);
    status.modifiedTime = static_cast<std::int64_t>(st.st_mtime);
    return status;
}

bool MakeDirectory(const std::string& path) {
    return ::mkdir(ToNativePath(path).c_str(), 0777) == 0;
}

bool SetFileTime(const std::string& path, std::uint32_t time) {
    struct timeval times[2];
    times[0].tv_sec = static_cast<time_t>(time);
    times[0].tv_usec = 0;
    times[1] = times[0];
    return ::utimes(ToNativePath(path).c_str(), times) == 0;
}

bool RemoveFile(const std::string& path) {
    return ::unlink(ToNativePath(path).c_str()) == 0;
}

std::int64_t FileSizeOf(std::FILE* file) {
    struct stat st;
    if (::fstat(::fileno(file), &st) != 0) return -1;
    return static_cast<std::int64_t>(st.st_size);
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

OutputFileWriter::~OutputFileWriter() {
    Discard();
}

bool OutputFileWriter::Create(const std::string& target) {
    Discard();
    target_ = ToNativePath(target);
    // A new target is written in place. O_EXCL never follows a link and
    // never opens what exists, so an old file, a link or a folder at the
    // target takes the way through a temporary below.
    int fd = ::open(target_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
        descriptor_ = fd;
        temporary_ = target_;
        return true;
    }
    if (errno != EEXIST) return false;
    struct stat st;
    if (::stat(target_.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return false;
    // mkstemp needs a writable template; the temporary sits beside the target
    // so that the final rename stays on one file system.
    std::string pattern = target_ + ".qktmp-XXXXXX";
    fd = ::mkstemp(pattern.data());
    if (fd < 0 && errno == ENAMETOOLONG) {
        // A name close to the file system's limit has no room for the
        // suffix; the temporary then takes a short name of its own, as long
        // as the target's own name fits (otherwise it could never be put in
        // place, and the target cannot be created at all).
        const std::size_t slash = target_.rfind('/');
        const std::string folder = target_.substr(0, slash == std::string::npos ? 0 : slash + 1);
        const long nameMax = ::pathconf(folder.empty() ? "." : folder.c_str(), _PC_NAME_MAX);
        if (nameMax > 0 && target_.size() - folder.size() <= static_cast<std::size_t>(nameMax)) {
            pattern = folder + ".qktmp-XXXXXX";
            fd = ::mkstemp(pattern.data());
        }
    }
    if (fd < 0) return false;
    ::fchmod(fd, 0666 & ~CurrentUmask());
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    descriptor_ = fd;
    temporary_ = pattern;
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
        closed && (temporary_ == target_ || ::rename(temporary_.c_str(), target_.c_str()) == 0);
    if (!placed) ::unlink(temporary_.c_str());
    temporary_.clear();
    return placed;
}

void OutputFileWriter::Discard() {
    if (descriptor_ >= 0) {
        ::close(descriptor_);
        descriptor_ = -1;
    }
    if (!temporary_.empty()) {
        ::unlink(temporary_.c_str());
        temporary_.clear();
    }
}

}  // namespace qk::platform
