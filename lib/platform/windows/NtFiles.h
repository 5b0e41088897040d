// Opening files and folders relative to an open folder on Windows: the
// native NtCreateFile with a root directory handle, the closest the system
// comes to POSIX's openat. The Win32 file API only takes whole paths.
//
// NtCreateFile is looked up in ntdll.dll at run time, so that the programs
// keep importing nothing but the DLLs they always did.
#pragma once

#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace qk::platform::windows {

// Values of the native API (ntifs.h, ntstatus.h) under names of their own.
constexpr ULONG kFileOpen = 1;
constexpr ULONG kFileCreate = 2;
constexpr ULONG kFileOpenIf = 3;
constexpr ULONG kDirectoryFile = 0x00000001;
constexpr ULONG kSynchronousIo = 0x00000020;
constexpr ULONG kNonDirectoryFile = 0x00000040;
constexpr ULONG kOpenReparsePoint = 0x00200000;

constexpr LONG kStatusObjectNameNotFound = static_cast<LONG>(0xC0000034);
constexpr LONG kStatusObjectPathNotFound = static_cast<LONG>(0xC000003A);
constexpr LONG kStatusObjectNameCollision = static_cast<LONG>(0xC0000035);
constexpr LONG kStatusNotADirectory = static_cast<LONG>(0xC0000103);
constexpr LONG kStatusFileIsADirectory = static_cast<LONG>(0xC00000BA);

// Opens or creates `name` (one UTF-16 name, no separator) in the folder
// `root` with NtCreateFile; the NTSTATUS comes back (negative on failure),
// the handle in `handle`.
LONG OpenRelative(HANDLE root, std::wstring_view name, ACCESS_MASK access, ULONG disposition,
                  ULONG options, HANDLE& handle);

// Renames the open file `file` (DELETE access) to `name` in the folder
// `root`, replacing what stands there: NtSetInformationFile with
// FileRenameInformation, whose root directory handle the Win32 call does not
// honour everywhere. True on success.
bool RenameRelative(HANDLE file, HANDLE root, std::wstring_view name);

// UTF-8 (the native names of FolderHandle.h) <-> UTF-16.
std::wstring FromUtf8(std::string_view utf8);
std::string ToUtf8(std::wstring_view wide);

// Seconds since 1970 <-> FILETIME.
FILETIME ToFileTime(std::int64_t seconds);
std::int64_t FromFileTime(const FILETIME& time);

}  // namespace qk::platform::windows
