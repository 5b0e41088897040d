// POSIX side of the folder tree calls.
#include <dirent.h>
#include <sys/stat.h>

#include <cstring>

#include "platform/Directory.h"
#include "platform/Text.h"
#include "platform/posix/EntryKind.h"

namespace qk::platform {

bool ListDirectory(const std::string& path, std::vector<DirectoryEntry>& entries) {
    entries.clear();
    const std::string native = ToNativePath(path);
    DIR* dir = ::opendir(native.c_str());
    if (!dir) return false;
    while (const dirent* d = ::readdir(dir)) {
        if (std::strcmp(d->d_name, ".") == 0 || std::strcmp(d->d_name, "..") == 0) continue;
        DirectoryEntry entry;
        entry.name = FromNative(d->d_name);
        // d_type is a hint that some file systems leave unknown; lstat knows.
        struct stat st;
        const std::string child = native + "/" + d->d_name;
        entry.kind = ::lstat(child.c_str(), &st) == 0 ? KindOf(st.st_mode) : EntryKind::kMissing;
        entries.push_back(std::move(entry));
    }
    ::closedir(dir);
    return true;
}

EntryKind QueryEntryKind(const std::string& path) {
    struct stat st;
    if (::lstat(ToNativePath(path).c_str(), &st) != 0) return EntryKind::kMissing;
    return KindOf(st.st_mode);
}

bool MakeExecutable(const std::string& path) {
    const std::string native = ToNativePath(path);
    struct stat st;
    if (::stat(native.c_str(), &st) != 0) return false;
    // Execute wherever read is allowed, as a linker leaves its output.
    const mode_t read = st.st_mode & (S_IRUSR | S_IRGRP | S_IROTH);
    return ::chmod(native.c_str(), st.st_mode | (read >> 2)) == 0;
}

}  // namespace qk::platform
