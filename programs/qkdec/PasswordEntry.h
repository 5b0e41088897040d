// The masked password entry: the keys go in one by one, the echo comes out.
#pragma once

#include <string>
#include <string_view>

namespace qk {

// Enter (CR or LF) ends the entry; Backspace (8 or 127) removes the last
// byte and rewrites the prompt line as "\r<request>?:" with one "*" per byte
// left; Esc ends it with the empty text; any other code is kept and masked
// with one "*". A key that sends two codes is simply two keys.
class PasswordEntry {
  public:
    enum class State { kTyping, kEntered, kCancelled };

    // `request` is the prompt text (program text). With `wholeUtf8Characters`
    // a Backspace removes the whole UTF-8 character that was typed last, not
    // just its last byte.
    PasswordEntry(std::string_view request, bool wholeUtf8Characters);

    // Handles one key code (-1: the input has ended, taken as Esc without echo).
    State Feed(int key);

    // The bytes typed so far, as the keyboard delivered them.
    const std::string& typed() const { return typed_; }

    // The echo produced since the last call (program text).
    std::string TakeEcho();

  private:
    std::string request_;
    bool wholeUtf8Characters_;
    std::string typed_;
    std::string echo_;
    State state_ = State::kTyping;
};

}  // namespace qk
