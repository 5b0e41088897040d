// qk: list, test, extract, print and create qk1 archives.
#include <clocale>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "console/Console.h"
#include "platform/FileSystem.h"
#include "platform/Text.h"
#include "qk/Tool.h"

int main(int argc, char** argv) {
    // A closed standard input must not become the archive or a file that
    // answers the questions.
    qk::platform::GuardStandardStreams();
    // An interruption or a file-size limit leaves no half-written file.
    qk::platform::InstallInterruptHandlers();
    // The locale decides only how names are shown (--charset=auto).
    std::setlocale(LC_CTYPE, "");
    qk::platform::InitTextMode();
    const bool localeIsUtf8 = qk::platform::CurrentTextMode() == qk::platform::TextMode::kUtf8;
#ifndef _WIN32
    // The tool converts names itself (see tool/Charset.h): file names reach
    // the file system as the bytes it computed.
    qk::platform::SetTextMode(qk::platform::TextMode::kPassThrough);
#endif
    try {
#ifdef _WIN32
        // The wide command line, as qkdec takes it: names in any script
        // arrive whole, never as best-fit look-alikes of the ANSI code page.
        const std::vector<std::string> args = qk::platform::ProgramArguments(argc, argv);
#else
        // The bytes as given: the charset chosen on the command line decides
        // how names meet them (tool/Charset.h).
        const std::vector<std::string> args(argv + 1, argv + argc);
#endif
        return qk::tool::RunTool(args, localeIsUtf8);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "qk: %s\n", e.what());
        return 2;
    } catch (...) {
        std::fprintf(stderr, "qk: unexpected failure\n");
        return 2;
    }
}
