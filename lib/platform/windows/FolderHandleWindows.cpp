// Windows side of the folder handles: each folder opened with NtCreateFile
// relative to its parent's handle, as the reparse point itself where there is
// one (FILE_OPEN_REPARSE_POINT), so that a symbolic link, a junction or any
// other redirecting reparse point is seen and refused instead of followed.
#include "platform/windows/NtFiles.h"
// NtFiles.h brings windows.h, which the headers below rely on.
#include <fcntl.h>
#include <io.h>
#include <winternl.h>

#include <climits>
#include <cstring>
#include <vector>

#include "platform/FolderHandle.h"
#include "platform/windows/WideText.h"

namespace qk::platform {

namespace windows {

namespace {

using NtCreateFileFunction = LONG(NTAPI*)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES,
                                          PIO_STATUS_BLOCK, PLARGE_INTEGER, ULONG, ULONG, ULONG,
                                          ULONG, PVOID, ULONG);

using NtSetInformationFileFunction = LONG(NTAPI*)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, ULONG);

template <typename Function>
Function NtEntry(const char* name) {
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll
               ? reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(ntdll, name)))
               : nullptr;
}

NtCreateFileFunction NtCreateFileEntry() {
    static const auto entry = NtEntry<NtCreateFileFunction>("NtCreateFile");
    return entry;
}

NtSetInformationFileFunction NtSetInformationFileEntry() {
    static const auto entry = NtEntry<NtSetInformationFileFunction>("NtSetInformationFile");
    return entry;
}

// FILE_RENAME_INFORMATION of ntifs.h.
struct RenameInformation {
    BOOLEAN replaceIfExists;
    HANDLE rootDirectory;
    ULONG fileNameLength;
    WCHAR fileName[1];
};
constexpr ULONG kFileRenameInformation = 10;

// 100 ns steps from 1601 to 1970.
constexpr std::int64_t kEpochDifference = 116444736000000000LL;

}  // namespace

LONG OpenRelative(HANDLE root, std::wstring_view name, ACCESS_MASK access, ULONG disposition,
                  ULONG options, HANDLE& handle) {
    handle = nullptr;
    const NtCreateFileFunction create = NtCreateFileEntry();
    if (!create || name.empty() || name.size() > 32767) return kStatusObjectNameNotFound;
    UNICODE_STRING text;
    text.Buffer = const_cast<PWSTR>(name.data());
    text.Length = static_cast<USHORT>(name.size() * sizeof(wchar_t));
    text.MaximumLength = text.Length;
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &text, OBJ_CASE_INSENSITIVE, root, nullptr);
    IO_STATUS_BLOCK status;
    const LONG result =
        create(&handle, access | SYNCHRONIZE, &attributes, &status, nullptr, FILE_ATTRIBUTE_NORMAL,
               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, disposition,
               options | kSynchronousIo, nullptr, 0);
    if (result < 0) handle = nullptr;
    return result;
}

bool RenameRelative(HANDLE file, HANDLE root, std::wstring_view name) {
    const NtSetInformationFileFunction set = NtSetInformationFileEntry();
    if (!set || name.empty() || name.size() > 32767) return false;
    std::vector<std::uint8_t> buffer(sizeof(RenameInformation) + name.size() * sizeof(wchar_t));
    auto* rename = reinterpret_cast<RenameInformation*>(buffer.data());
    rename->replaceIfExists = TRUE;
    rename->rootDirectory = root;
    rename->fileNameLength = static_cast<ULONG>(name.size() * sizeof(wchar_t));
    std::memcpy(rename->fileName, name.data(), name.size() * sizeof(wchar_t));
    IO_STATUS_BLOCK status;
    return set(file, &status, rename, static_cast<ULONG>(buffer.size()), kFileRenameInformation) >=
           0;
}

std::wstring FromUtf8(std::string_view utf8) {
    return ToWide(utf8, CP_UTF8);
}

std::string ToUtf8(std::wstring_view wide) {
    return FromWide(wide, CP_UTF8);
}

FILETIME ToFileTime(std::int64_t seconds) {
    const std::uint64_t ticks = static_cast<std::uint64_t>(seconds * 10000000LL + kEpochDifference);
    FILETIME time;
    time.dwLowDateTime = static_cast<DWORD>(ticks);
    time.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return time;
}

std::int64_t FromFileTime(const FILETIME& time) {
    const std::int64_t ticks = static_cast<std::int64_t>(
        (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime);
    return (ticks - kEpochDifference) / 10000000LL;
}

}  // namespace windows

namespace {

using windows::FromUtf8;
using windows::OpenRelative;

// A name the file system takes as one name in a folder.
bool IsOneName(const std::wstring& name) {
    return !name.empty() && name != L"." && name != L".." &&
           name.find_first_of(std::wstring_view(L"\\/\0:", 4)) == std::wstring::npos;
}

bool Attributes(HANDLE handle, BY_HANDLE_FILE_INFORMATION& info) {
    return ::GetFileInformationByHandle(handle, &info) != 0;
}

}  // namespace

FolderHandle::~FolderHandle() {
    Close();
}

FolderHandle::FolderHandle(FolderHandle&& other) noexcept : handle_(other.handle_) {
    other.handle_ = nullptr;
}

FolderHandle& FolderHandle::operator=(FolderHandle&& other) noexcept {
    if (this != &other) {
        Close();
        handle_ = other.handle_;
        other.handle_ = nullptr;
    }
    return *this;
}

bool FolderHandle::valid() const {
    return handle_ != nullptr;
}

void FolderHandle::Close() {
    if (handle_) ::CloseHandle(static_cast<HANDLE>(handle_));
    handle_ = nullptr;
}

bool FolderHandle::OpenRoot(const std::string& path) {
    Close();
    const std::wstring wide = path.empty() ? std::wstring(L".") : windows::NameToWide(path);
    if (wide.empty()) return false;
    const HANDLE handle =
        ::CreateFileW(wide.c_str(), FILE_TRAVERSE | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION info;
    if (!Attributes(handle, info) || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        ::CloseHandle(handle);
        return false;
    }
    handle_ = handle;
    return true;
}

ChildResult FolderHandle::OpenChild(std::string_view name, bool make, FolderHandle& child) const {
    child.Close();
    const std::wstring wide = FromUtf8(name);
    if (!handle_ || !IsOneName(wide)) return ChildResult::kFailed;
    const HANDLE parent = static_cast<HANDLE>(handle_);
    HANDLE handle = nullptr;
    const LONG status = OpenRelative(parent, wide, FILE_TRAVERSE | FILE_READ_ATTRIBUTES,
                                     make ? windows::kFileOpenIf : windows::kFileOpen,
                                     windows::kDirectoryFile | windows::kOpenReparsePoint, handle);
    if (status >= 0) {
        BY_HANDLE_FILE_INFORMATION info;
        const bool known = Attributes(handle, info);
        if (known && (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 &&
            (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            child.handle_ = handle;
            return ChildResult::kOpened;
        }
        ::CloseHandle(handle);
        // Every reparse point leads somewhere else: a symbolic link, a
        // junction, or whatever a filter driver makes of it.
        if (known && (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
            return ChildResult::kLink;
        }
        return known ? ChildResult::kNotFolder : ChildResult::kFailed;
    }
    // What stands there, as itself.
    HANDLE probe = nullptr;
    const LONG probed = OpenRelative(parent, wide, FILE_READ_ATTRIBUTES, windows::kFileOpen,
                                     windows::kOpenReparsePoint, probe);
    if (probed < 0) {
        if (probed == windows::kStatusObjectNameNotFound ||
            probed == windows::kStatusObjectPathNotFound) {
            return make ? ChildResult::kMakeFailed : ChildResult::kMissing;
        }
        return ChildResult::kFailed;
    }
    BY_HANDLE_FILE_INFORMATION info;
    const bool known = Attributes(probe, info);
    ::CloseHandle(probe);
    if (!known) return ChildResult::kFailed;
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return ChildResult::kLink;
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return ChildResult::kNotFolder;
    return ChildResult::kFailed;
}

NameStatus FolderHandle::Query(std::string_view name, bool followLink) const {
    NameStatus status;
    const std::wstring wide = FromUtf8(name);
    if (!handle_ || !IsOneName(wide)) return status;
    HANDLE handle = nullptr;
    if (OpenRelative(static_cast<HANDLE>(handle_), wide, FILE_READ_ATTRIBUTES, windows::kFileOpen,
                     followLink ? 0 : windows::kOpenReparsePoint, handle) < 0) {
        return status;
    }
    BY_HANDLE_FILE_INFORMATION info;
    const bool known = Attributes(handle, info);
    ::CloseHandle(handle);
    if (!known) return status;
    const DWORD attributes = info.dwFileAttributes;
    if (!followLink && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        status.kind = EntryKind::kSymbolicLink;
    } else if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        status.kind = EntryKind::kDirectory;
    } else {
        status.kind = EntryKind::kFile;
        status.size = static_cast<std::int64_t>(
            (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow);
    }
    status.modifiedTime = windows::FromFileTime(info.ftLastWriteTime);
    return status;
}

bool FolderHandle::SetFileTime(std::string_view name, std::uint32_t time) const {
    const std::wstring wide = FromUtf8(name);
    if (!handle_ || !IsOneName(wide)) return false;
    HANDLE handle = nullptr;
    if (OpenRelative(static_cast<HANDLE>(handle_), wide, FILE_WRITE_ATTRIBUTES, windows::kFileOpen,
                     windows::kOpenReparsePoint, handle) < 0) {
        return false;
    }
    const FILETIME when = windows::ToFileTime(time);
    const bool set = ::SetFileTime(handle, nullptr, &when, &when) != 0;
    ::CloseHandle(handle);
    return set;
}

std::FILE* FolderHandle::OpenForRead(std::string_view name) const {
    const std::wstring wide = FromUtf8(name);
    if (!handle_ || !IsOneName(wide)) return nullptr;
    HANDLE handle = nullptr;
    if (OpenRelative(static_cast<HANDLE>(handle_), wide, GENERIC_READ, windows::kFileOpen,
                     windows::kNonDirectoryFile, handle) < 0) {
        return nullptr;
    }
    const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDONLY | _O_BINARY);
    if (fd < 0) {
        ::CloseHandle(handle);
        return nullptr;
    }
    std::FILE* file = ::_fdopen(fd, "rb");
    if (!file) ::_close(fd);
    return file;
}

bool FolderHandle::Duplicate(FolderHandle& copy) const {
    copy.Close();
    if (!handle_) return false;
    HANDLE duplicate = nullptr;
    const HANDLE self = ::GetCurrentProcess();
    if (!::DuplicateHandle(self, static_cast<HANDLE>(handle_), self, &duplicate, 0, FALSE,
                           DUPLICATE_SAME_ACCESS)) {
        return false;
    }
    copy.handle_ = duplicate;
    return true;
}

// The limits the system keeps without the "\\?\" prefix, so that whatever
// is extracted can be reached by every program by its path.
std::size_t FolderHandle::NameMax() const {
    return 255;
}

std::size_t PathMax() {
    return MAX_PATH - 1;
}

std::size_t RootPathLength(const std::string& path) {
    const std::wstring wide = path.empty() ? std::wstring(L".") : windows::NameToWide(path);
    if (wide.empty()) return 0;
    const DWORD full = ::GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (full == 0) return wide.size() + 1;
    std::wstring text(full, L'\0');
    const DWORD n = ::GetFullPathNameW(wide.c_str(), full, text.data(), nullptr);
    if (n == 0 || n >= full) return wide.size() + 1;
    text.resize(n);
    return text.size() + (windows::IsSlash(text.back()) ? 0 : 1);
}

// UTF-16 units of UTF-8 text: one per character, two for one beyond U+FFFF.
std::size_t NameUnits(std::string_view name) {
    std::size_t units = 0;
    for (char c : name) {
        const auto b = static_cast<unsigned char>(c);
        if ((b & 0xC0) != 0x80) ++units;
        if (b >= 0xF0) ++units;
    }
    return units;
}

std::string SameNameKey(std::string_view name) {
    std::wstring wide = FromUtf8(name);
    if (wide.empty() || wide.size() > INT_MAX) return std::string(name);
    std::wstring upper(wide.size(), L'\0');
    const int n = ::LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, wide.data(),
                                  static_cast<int>(wide.size()), upper.data(),
                                  static_cast<int>(upper.size()), nullptr, nullptr, 0);
    if (n <= 0) return windows::ToUtf8(wide);
    upper.resize(static_cast<std::size_t>(n));
    return windows::ToUtf8(upper);
}

}  // namespace qk::platform
