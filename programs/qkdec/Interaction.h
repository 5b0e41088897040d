// Every exchange with the user while an archive is processed: messages,
// yes/no questions, the password, status lines and progress. The archive
// decoder knows only this interface; the console program supplies
// ConsoleInteraction, the tests a scripted one.
//
// All texts are program text (Shift-JIS).
#pragma once

#include <string>
#include <string_view>

namespace qk {

class Interaction {
  public:
    // An error that stops the processing of an archive.
    virtual void Message(std::string_view text) = 0;
    // A notice: no or wrong password, nothing written, a date not set, and
    // the closing lines of an extraction or comparison.
    virtual void Information(std::string_view text) = 0;
    // A yes/no question: 0 for yes, 1 for no, nothing else.
    virtual int Question(std::string_view text) = 0;
    // The archive's password; the empty text when none was entered.
    virtual std::string InputPassword(std::string_view request) = 0;
    // Announces that entries are about to be processed (callers pass 1).
    virtual void ShowProgress(int mode) = 0;
    // One status line: the archive, the output folder, the current entry.
    virtual void Status(std::string_view text) = 0;
    // The scale of the progress figures (callers pass 100); result unused.
    virtual int SetProgressRange(int range) = 0;
    // Progress in percent, 0 to 100: 0 to go on, anything else stops the
    // archive at once.
    virtual int SetProgress(int percent) = 0;

  protected:
    ~Interaction() = default;
};

}  // namespace qk
