// The program's entry: banner, options, the mode, then the archive loop.
#include "qkdec/Program.h"

#include <initializer_list>

#include "qkdec/ArchiveLoop.h"
#include "qkdec/CommandLine.h"
#include "qkdec/ConsoleInteraction.h"
#include "qk1/ArchiveReader.h"
#include "qkdec/MessageText.h"
#include "console/Console.h"
#include "platform/FileSystem.h"

namespace qk {

namespace {

constexpr char kBanner[] =
    "\n"
    " qkdec  : QuillKnot Decode Program for Windows95/NT Console\n"
    "        : Version 1.04 (Mar 10 1998)\n"
    "\n";

constexpr char kIllegalOption[] = " Illegal Option!! : %s\n\n";

constexpr char kUsage1[] = " usage  : A> qkdec [-d|-dOutDirName] [-pPassWord] [-y] <FileName.qk1>";

//         : A> qkdec FileName.qk1           (ファイル'FileName.qk1'を解凍)
constexpr char kUsage2[] =
    "        : A> qkdec FileName.qk1           "
    "(\x83\x74\x83\x40\x83\x43\x83\x8B'FileName.qk1'\x82\xF0\x89\xF0\x93\x80)";

//         : A> qkdec -d FileName.qk1        (解凍して選択したディレクトリに出力)
constexpr char kUsage3[] =
    "        : A> qkdec -d FileName.qk1        "
    "(\x89\xF0\x93\x80\x82\xB5\x82\xC4\x91\x49\x91\xF0\x82\xB5\x82\xBD\x83\x66\x83\x42\x83\x8C\x83"
    "\x4E\x83\x67\x83\x8A\x82\xC9\x8F\x6F\x97\xCD)";

//         : A> qkdec -dC:\TMP\ FileName.qk1 (解凍してディレクトリ'C:\TMP\'に出力)
constexpr char kUsage4[] =
    "        : A> qkdec -dC:\\TMP\\ FileName.qk1 "
    "(\x89\xF0\x93\x80\x82\xB5\x82\xC4\x83\x66\x83\x42\x83\x8C\x83\x4E\x83\x67\x83\x8A'C:\\TMP\\'"
    "\x82\xC9\x8F\x6F\x97\xCD)";

//         : A> qkdec -pPASSWD FileName.qk1  (パスワードに'PASSWD'を指定して解凍)
constexpr char kUsage5[] =
    "        : A> qkdec -pPASSWD FileName.qk1  "
    "(\x83\x70\x83\x58\x83\x8F\x81\x5B\x83\x68\x82\xC9'PASSWD'"
    "\x82\xF0\x8E\x77\x92\xE8\x82\xB5\x82\xC4\x89\xF0\x93\x80)";

//         : A> qkdec -y FileName.qk1        (Yes/No Question にて YES を選択)
constexpr char kUsage6[] =
    "        : A> qkdec -y FileName.qk1        (Yes/No Question \x82\xC9\x82\xC4 YES "
    "\x82\xF0\x91\x49\x91\xF0)";

// 解凍ファイルの出力フォルダを選んでください。
constexpr char kFolderPrompt[] =
    "\x89\xF0\x93\x80\x83\x74\x83\x40\x83\x43\x83\x8B\x82\xCC\x8F\x6F\x97\xCD\x83\x74\x83\x48\x83"
    "\x8B\x83\x5F\x82\xF0\x91\x49\x82\xF1\x82\xC5\x82\xAD\x82\xBE\x82\xB3\x82\xA2\x81\x42";

void WriteUsage() {
    for (const char* line : {kUsage1, kUsage2, kUsage3, kUsage4, kUsage5, kUsage6}) {
        platform::WriteConsole(line);
        platform::WriteConsole("\n");
    }
}

// True when the program's own file carries an archive at its end: its last
// four bytes give a length at whose position the signature stands.
bool CarriesArchive(const std::string& programFile) {
    ArchiveReader reader;
    return reader.Open(programFile) == ArchiveReader::Status::kOk;
}

}  // namespace

std::optional<std::string> InputDirName(std::string_view prompt) {
    std::string text = "QK InputDirName:\n";
    text.append(prompt).append("?:");
    platform::WriteConsole(text);
    platform::FlushConsole();
    std::string line;
    if (!platform::ReadConsoleLine(line)) return std::nullopt;
    return line;
}

int RunProgram(const std::vector<std::string>& args) {
    platform::WriteConsole(kBanner);

    CommandLine line = ReadCommandLine(args, [] { return InputDirName(kFolderPrompt); });
    if (line.illegalOption) {
        platform::WriteConsole(MessageText(kIllegalOption, line.illegalOption->c_str()).str());
        WriteUsage();
        platform::FlushConsole();
        return 1;
    }

    // The program's own file is found through the system, not through the
    // name it was started by.
    const std::string programFile = platform::ProgramFilePath();
    const bool selfExtracting = !programFile.empty() && CarriesArchive(programFile);
    if (selfExtracting) {
        // Every plain word is a password; the last one wins, over -p too.
        for (const std::string& word : line.plainWords) line.settings.commandLinePassword = word;
    } else if (args.empty()) {
        WriteUsage();
        platform::FlushConsole();
        return 1;
    }

    ConsoleInteraction interaction(line.settings);
    int exitCode;
    if (selfExtracting) {
        // The folder of -d, given or asked for, receives the entries; without
        // -d they go beside the program file.
        exitCode = RunArchives(interaction, line.outputDir, {programFile});
    } else {
        exitCode = RunArchives(interaction, line.outputDir, line.plainWords);
    }
    platform::FlushConsole();
    return exitCode;
}

}  // namespace qk
