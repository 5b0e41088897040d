// qkdec: extracts qk1 archives, or the archive its own program file carries.
#include <clocale>
#include <exception>
#include <string>
#include <vector>

#include "qkdec/Program.h"
#include "console/Console.h"
#include "platform/FileSystem.h"
#include "platform/Text.h"

int main(int argc, char** argv) {
    // Before any file is opened: a closed standard input must not become
    // the archive that answers the questions.
    qk::platform::GuardStandardStreams();
    // An interruption or a file-size limit leaves no half-written file.
    qk::platform::InstallInterruptHandlers();
    // Only the character encoding follows the user's locale; numbers keep
    // their "." whatever the locale.
    std::setlocale(LC_CTYPE, "");
    qk::platform::InitTextMode();
    try {
        return qk::RunProgram(qk::platform::ProgramArguments(argc, argv));
    } catch (const std::exception&) {
        return 2;
    }
}
