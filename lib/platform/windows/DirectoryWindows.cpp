// Windows side of the folder tree calls, through the wide API.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include "platform/Directory.h"
#include "platform/windows/WideText.h"

namespace qk::platform {

namespace {

using windows::IsSlash;
using windows::NameToWide;

// Symbolic links and junctions both lead elsewhere: a tree walk must not
// follow either.
bool IsLink(DWORD attributes, DWORD reparseTag) {
    return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
           (reparseTag == IO_REPARSE_TAG_SYMLINK || reparseTag == IO_REPARSE_TAG_MOUNT_POINT);
}

EntryKind KindOf(const WIN32_FIND_DATAW& found) {
    if (IsLink(found.dwFileAttributes, found.dwReserved0)) return EntryKind::kSymbolicLink;
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return EntryKind::kDirectory;
    return EntryKind::kFile;
}

// The entry's name as program text; a name that CP932 cannot hold is given
// by its short 8.3 form where that exists, else in its nearest form (which
// then cannot be opened, and the caller reports that).
std::string ProgramName(const WIN32_FIND_DATAW& found) {
    std::string name;
    if (windows::WideToProgramName(found.cFileName, name)) return name;
    std::string shortName;
    if (found.cAlternateFileName[0] != L'\0' &&
        windows::WideToProgramName(found.cAlternateFileName, shortName)) {
        return shortName;
    }
    return name;
}

}  // namespace

bool ListDirectory(const std::string& path, std::vector<DirectoryEntry>& entries) {
    entries.clear();
    if (path.empty()) return false;
    std::wstring pattern = NameToWide(path);
    if (!IsSlash(pattern.back())) pattern += L'\\';
    pattern += L'*';
    WIN32_FIND_DATAW found;
    const HANDLE search = ::FindFirstFileExW(pattern.c_str(), FindExInfoStandard, &found,
                                             FindExSearchNameMatch, nullptr, 0);
    if (search == INVALID_HANDLE_VALUE) {
        // An empty folder still lists "." and ".."; only a drive root can be
        // empty without them.
        return ::GetLastError() == ERROR_FILE_NOT_FOUND;
    }
    do {
        const std::wstring_view name = found.cFileName;
        if (name == L"." || name == L"..") continue;
        entries.push_back({ProgramName(found), KindOf(found)});
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
    return true;
}

EntryKind QueryEntryKind(const std::string& path) {
    std::wstring wide = NameToWide(path);
    if (wide.empty()) return EntryKind::kMissing;
    const DWORD attributes = ::GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return EntryKind::kMissing;
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        // The kind of reparse point is only told by a search for the name.
        while (wide.size() > 1 && IsSlash(wide.back())) wide.pop_back();
        WIN32_FIND_DATAW found;
        const HANDLE search = ::FindFirstFileW(wide.c_str(), &found);
        if (search != INVALID_HANDLE_VALUE) {
            ::FindClose(search);
            if (IsLink(found.dwFileAttributes, found.dwReserved0)) return EntryKind::kSymbolicLink;
        }
    }
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? EntryKind::kDirectory : EntryKind::kFile;
}

// Windows runs a program by its name, not by a permission bit.
bool MakeExecutable(const std::string& path) {
    const std::wstring wide = NameToWide(path);
    return !wide.empty() && ::GetFileAttributesW(wide.c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace qk::platform
