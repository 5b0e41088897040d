#include "qk/PasswordPrompt.h"

#include "console/Console.h"
#include "qk/Output.h"

namespace qk::tool {

std::optional<std::string> AskPassword(std::string_view prompt) {
    if (!platform::InputIsTerminal()) return std::nullopt;
    std::string typed;
    bool ended = false;
    bool tooLong = false;
    {
        // Echo goes off before the prompt shows, so that no early key is seen.
        platform::KeyReader keys;
        Err(prompt);
        for (;;) {
            // No password is that long; the rest of the keys stay unread.
            if (typed.size() >= platform::kMaxConsoleLine) {
                tooLong = true;
                keys.DiscardPending();
                break;
            }
            const int key = keys.ReadKey();
            if (key < 0) {
                ended = true;
                break;
            }
            if (key == '\r' || key == '\n') break;
            if (key == 0x7F || key == 0x08) {
                // Drops the last character, with the continuation bytes of a
                // UTF-8 character.
                while (!typed.empty() && (static_cast<unsigned char>(typed.back()) & 0xC0) == 0x80)
                    typed.pop_back();
                if (!typed.empty()) typed.pop_back();
                continue;
            }
            if (key == 0x15) {  // Ctrl-U: start again
                typed.clear();
                continue;
            }
            typed += static_cast<char>(key);
        }
    }
    Err("\n");
    if (tooLong) Error("the password line is too long");
    if (ended || tooLong) return std::nullopt;
    return typed;
}

std::optional<std::string> AskNewPassword() {
    if (!platform::InputIsTerminal()) {
        Error("a password can only be asked for at a terminal; give it with -p");
        return std::nullopt;
    }
    const std::optional<std::string> first = AskPassword("New password: ");
    if (!first) return std::nullopt;
    if (first->empty()) {
        Error("the password must not be empty");
        return std::nullopt;
    }
    const std::optional<std::string> second = AskPassword("Repeat the password: ");
    if (!second) return std::nullopt;
    if (*first != *second) {
        Error("the two passwords differ");
        return std::nullopt;
    }
    return first;
}

}  // namespace qk::tool
