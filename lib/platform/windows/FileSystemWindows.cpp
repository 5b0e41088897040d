// Windows side of the file, directory and time calls.
//
// Every name is program text (CP932) and is converted to UTF-16 (NameToWide)
// for the wide functions of the API and the runtime (_wfopen, _wstat64,
// _wmkdir, _wutime64, CreateFileW), never handed to the ANSI ones: those
// would read it in the system's ANSI code page, which is 932 only on a
// Japanese system.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>
// windows.h first: the runtime headers below rely on its definitions.
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <sys/timeb.h>
#include <sys/utime.h>

#include <algorithm>
#include <atomic>
#include <cwchar>

#include "platform/Directory.h"
#include "platform/FileSystem.h"
#include "platform/FolderHandle.h"
#include "platform/PartialFile.h"
#include "platform/Text.h"
#include "platform/windows/NtFiles.h"
#include "platform/windows/WideText.h"

namespace qk::platform {

namespace {

using windows::IsSlash;
using windows::NameToWide;

// The runtime's stat refuses a folder name with a trailing separator ("C:\out\")
// although the folder exists; the separator is dropped, except where it is the
// whole root ("\", "C:\"). `trimmed` tells whether one was dropped.
std::wstring StatName(std::wstring name, bool& trimmed) {
    trimmed = false;
    while (name.size() > 1 && IsSlash(name.back())) {
        const bool driveRoot = name.size() == 3 && name[1] == L':';
        if (driveRoot) break;
        name.pop_back();
        trimmed = true;
    }
    return name;
}

// The UTF-16 names of the output file are kept, in UTF-8, in the narrow
// members of OutputFileWriter; these two convert them.
std::string Keep(const std::wstring& wide) {
    return windows::FromWide(wide, CP_UTF8);
}
std::wstring Restore(const std::string& kept) {
    return windows::ToWide(kept, CP_UTF8);
}

// The longest name of one file, and of a whole path with its terminator,
// that the system takes without the "\\?\" prefix.
constexpr std::size_t kNameMax = 255;
constexpr std::size_t kPathMax = MAX_PATH;

// Position where the last component of `path` starts.
std::size_t NameStart(const std::wstring& path) {
    const std::size_t slash = path.find_last_of(L"\\/");
    if (slash != std::wstring::npos) return slash + 1;
    return path.size() >= 2 && path[1] == L':' ? 2 : 0;
}

// Marks an open file (DELETE access) to be deleted when its last handle closes.
void MarkForDeletion(HANDLE handle) {
    FILE_DISPOSITION_INFO disposition;
    disposition.DeleteFile = TRUE;
    ::SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof disposition);
}

// True when `path`, made absolute, is within the limits of a name and a path.
bool FitsLimits(const std::wstring& path) {
    if (path.size() - NameStart(path) > kNameMax) return false;
    const DWORD full = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    return full != 0 && full <= kPathMax;  // the count includes the terminator
}

// A name for the temporary of `target`, unique among running processes: the
// target's name with a suffix, or, where that would pass a limit that the
// target itself keeps, a short name of its own in the same folder.
std::wstring TemporaryNameFor(const std::wstring& target) {
    static std::atomic<unsigned> counter{0};
    wchar_t suffix[48];
    std::swprintf(suffix, sizeof suffix / sizeof suffix[0], L".qktmp-%lx-%x",
                  static_cast<unsigned long>(::GetCurrentProcessId()), counter.fetch_add(1));
    const std::wstring beside = target + suffix;
    if (FitsLimits(beside)) return beside;
    return target.substr(0, NameStart(target)) + suffix;
}

}  // namespace

std::FILE* OpenForRead(const std::string& path) {
    const std::wstring wide = NameToWide(path);
    if (wide.empty()) return nullptr;
    return ::_wfopen(wide.c_str(), L"rb");
}

std::FILE* OpenRegularForRead(const std::string& path, bool* notRegular) {
    *notRegular = false;
    std::FILE* file = OpenForRead(path);
    if (!file) return nullptr;
    // A device name (CON, a pipe) opens too; only a disk file is read.
    const HANDLE handle = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(file)));
    if (::GetFileType(handle) != FILE_TYPE_DISK) {
        *notRegular = true;
        std::fclose(file);
        return nullptr;
    }
    return file;
}

FileStatus QueryFile(const std::string& path) {
    FileStatus status;
    bool trimmed = false;
    const std::wstring wide = StatName(NameToWide(path), trimmed);
    if (wide.empty()) return status;
    struct _stat64 st;
    if (::_wstat64(wide.c_str(), &st) != 0) return status;
    const bool directory = (st.st_mode & _S_IFMT) == _S_IFDIR;
    // "name\" names a folder; a file of that name does not answer it.
    if (trimmed && !directory) return status;
    status.exists = true;
    status.isDirectory = directory;
    status.isRegular = (st.st_mode & _S_IFMT) == _S_IFREG;
    status.size = directory ? 0 : static_cast<std::int64_t>(st.st_size);
    status.modifiedTime = static_cast<std::int64_t>(st.st_mtime);
    return status;
}

bool MakeDirectory(const std::string& path) {
    const std::wstring wide = NameToWide(path);
    return !wide.empty() && ::_wmkdir(wide.c_str()) == 0;
}

bool SetFileTime(const std::string& path, std::uint32_t time) {
    const std::wstring wide = NameToWide(path);
    if (wide.empty()) return false;
    struct __utimbuf64 times;
    times.actime = static_cast<__time64_t>(time);
    times.modtime = times.actime;
    return ::_wutime64(wide.c_str(), &times) == 0;
}

bool RemoveFile(const std::string& path) {
    const std::wstring wide = NameToWide(path);
    return !wide.empty() && ::_wremove(wide.c_str()) == 0;
}

std::int64_t FileSizeOf(std::FILE* file) {
    struct _stat64 st;
    if (::_fstat64(::_fileno(file), &st) != 0) return -1;
    return static_cast<std::int64_t>(st.st_size);
}

ClockTime Now() {
    struct __timeb64 now;
    ::_ftime64(&now);
    return {static_cast<std::int64_t>(now.time), static_cast<int>(now.millitm)};
}

// The program's own file as program text. A folder name that CP932 cannot
// hold (a user name in another script, say) is replaced by its short 8.3
// form, which is plain ASCII where short names exist.
std::string ProgramFilePath() {
    std::wstring name(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = ::GetModuleFileNameW(nullptr, name.data(), static_cast<DWORD>(name.size()));
        if (n == 0) return {};
        if (n < name.size()) {
            name.resize(n);
            break;
        }
        if (name.size() >= 32768) return {};
        name.resize(name.size() * 2);
    }
    std::string text;
    if (windows::WideToProgramName(name, text)) return text;
    const DWORD shortLength = ::GetShortPathNameW(name.c_str(), nullptr, 0);
    if (shortLength == 0) return {};
    std::wstring shortName(shortLength, L'\0');
    const DWORD n = ::GetShortPathNameW(name.c_str(), shortName.data(), shortLength);
    if (n == 0 || n >= shortLength) return {};
    shortName.resize(n);
    return windows::WideToProgramName(shortName, text) ? text : std::string();
}

OutputFileWriter::~OutputFileWriter() {
    Discard();
}

// The temporary is opened for writing only, shared with no one while it is
// written (nothing may read a half-written file or write beside us),
// replacing whatever has its name, with normal attributes. The stdio stream
// over its handle does the writing. DELETE access lets an interrupted program
// mark it for deletion (PartialFile.h).
bool OutputFileWriter::Create(const std::string& target) {
    Discard();
    const std::wstring wideTarget = NameToWide(target);
    if (wideTarget.empty()) return false;
    // A folder cannot be replaced by a file: fail now, as opening the folder
    // itself for writing would, rather than at the final rename.
    const DWORD attributes = ::GetFileAttributesW(wideTarget.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return false;
    }
    // A target beyond the limits could never be put in place.
    if (!FitsLimits(wideTarget)) return false;
    const std::wstring wideTemporary = TemporaryNameFor(wideTarget);
    partial::Lock();
    const HANDLE handle = ::CreateFileW(wideTemporary.c_str(), GENERIC_WRITE | DELETE, 0, nullptr,
                                        CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle != INVALID_HANDLE_VALUE) slot_ = partial::Register(handle);
    partial::Unlock();
    if (handle == INVALID_HANDLE_VALUE) return false;
    // Without a stream over it the temporary goes at once.
    const auto abandon = [&](int fd) {
        partial::Lock();
        MarkForDeletion(handle);
        if (fd >= 0) {
            ::_close(fd);  // closes the handle as well
        } else {
            ::CloseHandle(handle);
        }
        partial::Unregister(slot_);
        slot_ = -1;
        partial::Unlock();
        return false;
    };
    const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_BINARY | _O_WRONLY);
    if (fd < 0) return abandon(-1);
    file_ = ::_fdopen(fd, "wb");
    if (!file_) return abandon(fd);
    temporary_ = Keep(wideTemporary);
    target_ = Keep(wideTarget);
    return true;
}

// In an open folder: the file is made with NtCreateFile relative to the
// folder's handle, new under its own name where nothing stands there, else as
// a temporary beside the target, renamed over it (relative to the same
// folder) once complete. Written straight through its handle.
bool OutputFileWriter::Create(const FolderHandle& folder, std::string_view name) {
    Discard();
    const std::wstring wideName = windows::FromUtf8(name);
    if (!folder.valid() || wideName.empty() || wideName == L"." || wideName == L".." ||
        wideName.find_first_of(std::wstring_view(L"\\/\0:", 4)) != std::wstring::npos) {
        return false;
    }
    const HANDLE root = static_cast<HANDLE>(folder.handle_);
    const ACCESS_MASK access = GENERIC_WRITE | DELETE;
    const ULONG options = windows::kNonDirectoryFile | windows::kOpenReparsePoint;
    HANDLE handle = nullptr;
    partial::Lock();
    LONG status =
        windows::OpenRelative(root, wideName, access, windows::kFileCreate, options, handle);
    if (status >= 0) {
        slot_ = partial::Register(handle);
        partial::Unlock();
        handle_ = handle;
        folder_ = root;
        inPlace_ = true;
        target_ = std::string(name);
        temporary_ = target_;
        return true;
    }
    partial::Unlock();
    if (status != windows::kStatusObjectNameCollision) return false;
    // An old file (or a link, which is replaced, not followed) stays until
    // the new one is complete; a folder, or a link to one, cannot be replaced.
    if (folder.Query(name, true).kind == EntryKind::kDirectory) return false;
    std::wstring wideTemporary;
    for (int attempt = 0; attempt < 100; ++attempt) {
        static std::atomic<unsigned> counter{0};
        wchar_t suffix[48];
        std::swprintf(suffix, sizeof suffix / sizeof suffix[0], L".qktmp-%lx-%x",
                      static_cast<unsigned long>(::GetCurrentProcessId()), counter.fetch_add(1));
        wideTemporary = wideName + suffix;
        if (wideTemporary.size() > folder.NameMax()) wideTemporary = suffix;
        partial::Lock();
        status = windows::OpenRelative(root, wideTemporary, access, windows::kFileCreate, options,
                                       handle);
        if (status >= 0) slot_ = partial::Register(handle);
        partial::Unlock();
        if (status != windows::kStatusObjectNameCollision) break;
    }
    if (status < 0) return false;
    handle_ = handle;
    folder_ = root;
    inPlace_ = false;
    target_ = std::string(name);
    temporary_ = windows::ToUtf8(wideTemporary);
    return true;
}

std::int64_t OutputFileWriter::Write(const void* data, std::int64_t count) {
    if (count <= 0) return 0;
    if (handle_) {
        const auto* bytes = static_cast<const std::uint8_t*>(data);
        std::int64_t done = 0;
        while (done < count) {
            const DWORD chunk = static_cast<DWORD>(std::min<std::int64_t>(count - done, 1 << 30));
            DWORD written = 0;
            if (!::WriteFile(static_cast<HANDLE>(handle_), bytes + done, chunk, &written,
                             nullptr) ||
                written == 0) {
                break;
            }
            done += written;
        }
        return done;
    }
    if (!file_) return 0;
    return static_cast<std::int64_t>(std::fwrite(data, 1, static_cast<std::size_t>(count), file_));
}

bool OutputFileWriter::CommitInFolder() {
    const HANDLE handle = static_cast<HANDLE>(handle_);
    bool placed = true;
    partial::Lock();
    // The temporary takes the target's name, relative to the same folder.
    if (!inPlace_) {
        placed = windows::RenameRelative(handle, static_cast<HANDLE>(folder_),
                                         windows::FromUtf8(target_));
    }
    if (!placed) MarkForDeletion(handle);
    placed = ::CloseHandle(handle) != 0 && placed;
    handle_ = nullptr;
    partial::Unregister(slot_);
    slot_ = -1;
    partial::Unlock();
    temporary_.clear();
    return placed;
}

bool OutputFileWriter::Commit() {
    if (handle_) return CommitInFolder();
    if (!file_) return false;
    partial::Lock();
    const bool flushed = std::fflush(file_) == 0;
    const bool closed = std::fclose(file_) == 0;
    file_ = nullptr;
    const std::wstring wideTemporary = Restore(temporary_);
    const bool moved = flushed && closed &&
                       ::MoveFileExW(wideTemporary.c_str(), Restore(target_).c_str(),
                                     MOVEFILE_REPLACE_EXISTING) != 0;
    if (!moved) ::DeleteFileW(wideTemporary.c_str());
    partial::Unregister(slot_);
    slot_ = -1;
    partial::Unlock();
    temporary_.clear();
    return moved;
}

void OutputFileWriter::Discard() {
    partial::Lock();
    if (handle_) {
        // Deleted when its handle closes, a new file under its name as well.
        MarkForDeletion(static_cast<HANDLE>(handle_));
        ::CloseHandle(static_cast<HANDLE>(handle_));
        handle_ = nullptr;
        temporary_.clear();
    }
    if (file_) {
        std::fclose(file_);
        file_ = nullptr;
    }
    if (!temporary_.empty()) {
        ::DeleteFileW(Restore(temporary_).c_str());
        temporary_.clear();
    }
    partial::Unregister(slot_);
    slot_ = -1;
    partial::Unlock();
}

}  // namespace qk::platform
