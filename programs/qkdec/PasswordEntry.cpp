#include "qkdec/PasswordEntry.h"

namespace qk {

namespace {

bool IsContinuation(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

}  // namespace

PasswordEntry::PasswordEntry(std::string_view request, bool wholeUtf8Characters)
    : request_(request), wholeUtf8Characters_(wholeUtf8Characters) {}

PasswordEntry::State PasswordEntry::Feed(int key) {
    if (state_ != State::kTyping) return state_;
    switch (key) {
        case 13:
        case 10:
            state_ = State::kEntered;
            break;
        case 8:
        case 127:
            // Nothing to remove: no echo at all. The asterisk of the removed
            // byte is not blanked out, the line is only written again shorter.
            if (typed_.empty()) break;
            if (wholeUtf8Characters_) {
                // Continuation bytes back to the lead byte of the character.
                while (typed_.size() > 1 && IsContinuation(typed_.back())) typed_.pop_back();
            }
            typed_.pop_back();
            echo_ += '\r';
            echo_ += request_;
            echo_ += "?:";
            echo_.append(typed_.size(), '*');
            break;
        case 27:
            typed_.clear();
            echo_ += '\n';
            state_ = State::kCancelled;
            break;
        case -1:
            typed_.clear();
            state_ = State::kCancelled;
            break;
        default:
            typed_ += static_cast<char>(key);
            echo_ += '*';
            break;
    }
    return state_;
}

std::string PasswordEntry::TakeEcho() {
    std::string echo;
    echo.swap(echo_);
    return echo;
}

}  // namespace qk
