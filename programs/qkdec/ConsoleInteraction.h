// The console side of Interaction: every text goes to standard output under
// a short title of its own, answers come from standard input, the password
// from the keyboard.
#pragma once

#include "qkdec/Interaction.h"
#include "qkdec/Settings.h"

namespace qk {

class ConsoleInteraction final : public Interaction {
  public:
    explicit ConsoleInteraction(const Settings& settings) : settings_(settings) {}

    void Message(std::string_view text) override;
    void Information(std::string_view text) override;
    // "y/n": a line starting with n or N is no, any other line yes. At the end
    // of the input nothing can be answered, and no is the answer that leaves
    // existing files alone.
    int Question(std::string_view text) override;
    // The command-line password when there is one; otherwise typed with
    // masked echo at a terminal, or read as one line when the input is not a
    // terminal (so that scripts can pipe it). The result is program text.
    std::string InputPassword(std::string_view request) override;
    void ShowProgress(int mode) override;
    void Status(std::string_view text) override;
    int SetProgressRange(int range) override;
    int SetProgress(int percent) override;

  private:
    const Settings& settings_;
};

}  // namespace qk
