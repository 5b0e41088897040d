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
mode_t CurrentUmask() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
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
    // mkstemp needs a writable template; the temporary sits beside the target
    // so that the final rename stays on one file system.
    std::string pattern = target_ + ".qktmp-XXXXXX";
    int fd = ::mkstemp(pattern.data());
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
    file_ = ::fdopen(fd, "wb");
    if (!file_) {
        ::close(fd);
        ::unlink(pattern.c_str());
        return false;
    }
    temporary_ = pattern;
    return true;
}

std::int64_t OutputFileWriter::Write(const void* data, std::int64_t count) {
    if (!file_) return 0;
    if (count == 0) return 0;
    return static_cast<std::int64_t>(std::fwrite(data, 1, static_cast<std::size_t>(count), file_));
}

bool OutputFileWriter::Commit() {
    if (!file_) return false;
    const bool flushed = std::fflush(file_) == 0;
    const bool closed = std::fclose(file_) == 0;
    file_ = nullptr;
    if (!flushed || !closed || ::rename(temporary_.c_str(), target_.c_str()) != 0) {
        ::unlink(temporary_.c_str());
        temporary_.clear();
        return false;
    }
    temporary_.clear();
    return true;
}

void OutputFileWriter::Discard() {
    if (file_) {
        std::fclose(file_);
        file_ = nullptr;
    }
    if (!temporary_.empty()) {
        ::unlink(temporary_.c_str());
        temporary_.clear();
    }
}

}  // namespace qk::platform
