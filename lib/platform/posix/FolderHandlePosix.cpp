// POSIX side of the folder handles: descriptors opened relative to their
// parent's with O_NOFOLLOW and O_DIRECTORY (O_PATH where there is one), and
// the *at calls below them.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

#include "platform/FolderHandle.h"
#include "platform/posix/EntryKind.h"
#include "platform/Text.h"

namespace qk::platform {

namespace {

// A folder opened only to name files in it: O_PATH needs no read permission
// on the folder, so a folder that may be written but not listed still works.
#ifdef O_PATH
constexpr int kFolderFlags = O_PATH | O_DIRECTORY | O_CLOEXEC;
#else
constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
#endif

// One name as the file system reads it: no separator, no terminator inside,
// and not one of the names that lead up or stay.
bool IsOneName(std::string_view name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of(std::string_view("/\0", 2)) == std::string_view::npos;
}

}  // namespace

FolderHandle::~FolderHandle() {
    Close();
}

FolderHandle::FolderHandle(FolderHandle&& other) noexcept : descriptor_(other.descriptor_) {
    other.descriptor_ = -1;
}

FolderHandle& FolderHandle::operator=(FolderHandle&& other) noexcept {
    if (this != &other) {
        Close();
        descriptor_ = other.descriptor_;
        other.descriptor_ = -1;
    }
    return *this;
}

bool FolderHandle::valid() const {
    return descriptor_ >= 0;
}

void FolderHandle::Close() {
    if (descriptor_ >= 0) ::close(descriptor_);
    descriptor_ = -1;
}

bool FolderHandle::OpenRoot(const std::string& path) {
    Close();
    const std::string native = path.empty() ? std::string(".") : ToNativePath(path);
    descriptor_ = ::open(native.c_str(), kFolderFlags);
    return descriptor_ >= 0;
}

ChildResult FolderHandle::OpenChild(std::string_view name, bool make, FolderHandle& child) const {
    child.Close();
    if (descriptor_ < 0 || !IsOneName(name)) return ChildResult::kFailed;
    const std::string native(name);
    // Twice at most: a folder made here (or by someone else meanwhile) is
    // then opened like any other.
    for (int attempt = 0; attempt < 2; ++attempt) {
        const int fd = ::openat(descriptor_, native.c_str(), kFolderFlags | O_NOFOLLOW);
        if (fd >= 0) {
            child.descriptor_ = fd;
            return ChildResult::kOpened;
        }
        if (errno == ENOENT) {
            if (!make) return ChildResult::kMissing;
            if (::mkdirat(descriptor_, native.c_str(), 0777) != 0 && errno != EEXIST) {
                return ChildResult::kMakeFailed;
            }
            continue;
        }
        // A link (ELOOP, or ENOTDIR with O_PATH), a file, or no permission:
        // the name itself tells which.
        struct stat st;
        if (::fstatat(descriptor_, native.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
            if (S_ISLNK(st.st_mode)) return ChildResult::kLink;
            if (!S_ISDIR(st.st_mode)) return ChildResult::kNotFolder;
        }
        return ChildResult::kFailed;
    }
    return ChildResult::kFailed;
}

NameStatus FolderHandle::Query(std::string_view name, bool followLink) const {
    NameStatus status;
    if (descriptor_ < 0 || !IsOneName(name)) return status;
    struct stat st;
    if (::fstatat(descriptor_, std::string(name).c_str(), &st,
                  followLink ? 0 : AT_SYMLINK_NOFOLLOW) != 0) {
        return status;
    }
    status.kind = KindOf(st.st_mode);
    status.size = S_ISREG(st.st_mode) ? static_cast<std::int64_t>(st.st_size) : 0;
    status.modifiedTime = static_cast<std::int64_t>(st.st_mtime);
    return status;
}

bool FolderHandle::SetFileTime(std::string_view name, std::uint32_t time) const {
    if (descriptor_ < 0 || !IsOneName(name)) return false;
    struct timespec times[2];
    times[0].tv_sec = static_cast<time_t>(time);
    times[0].tv_nsec = 0;
    times[1] = times[0];
    return ::utimensat(descriptor_, std::string(name).c_str(), times, AT_SYMLINK_NOFOLLOW) == 0;
}

std::FILE* FolderHandle::OpenForRead(std::string_view name) const {
    if (descriptor_ < 0 || !IsOneName(name)) return nullptr;
    const int fd = ::openat(descriptor_, std::string(name).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return nullptr;
    std::FILE* file = ::fdopen(fd, "rb");
    if (!file) ::close(fd);
    return file;
}

bool FolderHandle::Duplicate(FolderHandle& copy) const {
    copy.Close();
    if (descriptor_ < 0) return false;
    copy.descriptor_ = ::fcntl(descriptor_, F_DUPFD_CLOEXEC, 0);
    return copy.descriptor_ >= 0;
}

std::size_t FolderHandle::NameMax() const {
    long limit = descriptor_ >= 0 ? ::fpathconf(descriptor_, _PC_NAME_MAX) : -1;
    if (limit <= 0) limit = NAME_MAX;
    return static_cast<std::size_t>(limit);
}

// PATH_MAX counts the terminator.
std::size_t PathMax() {
    return PATH_MAX - 1;
}

std::size_t RootPathLength(const std::string& path) {
    if (path.empty()) return 0;
    const std::string native = ToNativePath(path);
    return native.size() + (native.back() == '/' ? 0 : 1);
}

std::size_t NameUnits(std::string_view name) {
    return name.size();
}

std::string SameNameKey(std::string_view name) {
    return std::string(name);
}

}  // namespace qk::platform
