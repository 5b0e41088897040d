#include "qkdec/ConsoleInteraction.h"

#include <cstdio>
#include <initializer_list>
#include <string>

#include "qkdec/PasswordEntry.h"
#include "console/Console.h"
#include "platform/Text.h"

namespace qk {

namespace {

// Writes the pieces of one dialogue as one piece of console text.
void Write(std::initializer_list<std::string_view> pieces) {
    std::string text;
    for (std::string_view piece : pieces) text.append(piece);
    platform::WriteConsole(text);
}

}  // namespace

void ConsoleInteraction::Message(std::string_view text) {
    Write({"QK Message: \n", text, "\n"});
}

void ConsoleInteraction::Information(std::string_view text) {
    Write({"QK Information:\n", text, "\n"});
}

int ConsoleInteraction::Question(std::string_view text) {
    Write({"QK Question:\n", text, " [y/n]:"});
    if (settings_.answerAllYes) {
        platform::WriteConsole("All YES.\n");
        return 0;
    }
    platform::FlushConsole();
    std::string answer;
    if (!platform::ReadConsoleLine(answer)) return 1;
    return (!answer.empty() && (answer[0] == 'n' || answer[0] == 'N')) ? 1 : 0;
}

std::string ConsoleInteraction::InputPassword(std::string_view request) {
    if (settings_.commandLinePassword) return *settings_.commandLinePassword;

    if (!platform::InputIsTerminal()) {
        Write({"QK InputPassword:\n", request, "?:"});
        platform::FlushConsole();
        // A line too long for a password counts as none entered.
        std::string line;
        return platform::ReadConsoleLine(line) ? line : std::string();
    }

    // The terminal stops echoing before the prompt shows, so that no key
    // typed right after it can appear in clear.
    platform::KeyReader keys;
    Write({"QK InputPassword:\n", request, "?:"});
    platform::FlushConsole();
    // The keys arrive in the console's encoding; the typed text is converted
    // once it is complete, and its key bytes are chosen by the decoder.
    PasswordEntry entry(request, platform::CurrentTextMode() == platform::TextMode::kUtf8);
    PasswordEntry::State state = PasswordEntry::State::kTyping;
    while (state == PasswordEntry::State::kTyping) {
        // No password is that long: taken as none entered, with the rest of
        // the keys left unread.
        if (entry.typed().size() >= platform::kMaxConsoleLine) {
            state = PasswordEntry::State::kCancelled;
            break;
        }
        state = entry.Feed(keys.ReadKey());
        platform::WriteConsole(entry.TakeEcho());
        platform::FlushConsole();
    }
    if (state == PasswordEntry::State::kCancelled) {
        // An Esc may be the start of a cursor key's sequence; drop the rest.
        keys.DiscardPending();
        return {};
    }
    return platform::FromNative(entry.typed());
}

void ConsoleInteraction::ShowProgress(int) {}

void ConsoleInteraction::Status(std::string_view text) {
    Write({text, "\n"});
    platform::FlushConsole();
}

int ConsoleInteraction::SetProgressRange(int range) {
    return SetProgress(range);
}

int ConsoleInteraction::SetProgress(int percent) {
    char line[32];
    std::snprintf(line, sizeof line, " %3d%%%c", percent, 13);
    platform::WriteConsole(line);
    platform::FlushConsole();
    return 0;
}

}  // namespace qk
