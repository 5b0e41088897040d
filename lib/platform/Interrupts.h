// The signals that end a program (SIGINT, SIGTERM, SIGHUP, SIGQUIT) belong to
// the thread that writes the files: their handler removes the file being
// written (platform/PartialFile.h), so it must not run on another thread
// while that one is between making a file and registering it.
//
// InterruptsHeld holds them back in the calling thread while it lives. A
// thread started meanwhile inherits the mask and never takes them, so every
// thread the library starts is started under one. Held signals come in when
// it ends. Nothing to do on Windows, where a console event comes on a thread
// of its own.
#pragma once

#ifndef _WIN32
#include <pthread.h>
#include <signal.h>
#endif

namespace qk::platform {

class InterruptsHeld {
  public:
#ifdef _WIN32
    // User-provided, so that a holder that does nothing is still no unused variable.
    InterruptsHeld() {}
    ~InterruptsHeld() {}
#else
    InterruptsHeld() {
        sigset_t held;
        sigemptyset(&held);
        for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaddset(&held, signal);
        held_ = ::pthread_sigmask(SIG_BLOCK, &held, &previous_) == 0;
    }
    ~InterruptsHeld() {
        if (held_) ::pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
    }

  private:
    sigset_t previous_;
    bool held_ = false;

  public:
#endif
    InterruptsHeld(const InterruptsHeld&) = delete;
    InterruptsHeld& operator=(const InterruptsHeld&) = delete;
};

}  // namespace qk::platform
