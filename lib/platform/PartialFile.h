// The file being written at the moment, known to the handlers that end the
// program on a signal (POSIX) or a console event (Windows), so that an
// interrupted program leaves no half-written file and no temporary behind.
//
// OutputFileWriter registers its file (the temporary beside an old file, or a
// new file under its own name) when it creates it, and takes it back once the
// file is complete and in place, or removed. The programs install the handler
// (programs/console, InstallInterruptHandlers); the handler calls
// DiscardPartialFiles and ends the program.
#pragma once

namespace qk::platform {

// Removes every registered file. POSIX: async-signal-safe (atomics and
// unlinkat only), for a signal handler. Windows: for a console control
// handler, which runs on a thread of its own; it waits for a writer that is
// putting its file in place, and the files go once the process ends (they
// are marked for deletion on close), so call it only when the program ends
// right after.
void DiscardPartialFiles() noexcept;

namespace partial {

// For OutputFileWriter only. A slot number, or -1 when none is free (the file
// then goes unregistered).
#ifdef _WIN32
// `handle` (a HANDLE) has DELETE access and stays open while registered.
int Register(void* handle) noexcept;
// A writer putting its file in place or removing it holds the lock, so that
// the handler never sees a half-done step.
void Lock() noexcept;
void Unlock() noexcept;
#else
// `name` is relative to the open folder `folder` (or AT_FDCWD).
int Register(int folder, const char* name) noexcept;
#endif
void Unregister(int slot) noexcept;

}  // namespace partial

}  // namespace qk::platform
