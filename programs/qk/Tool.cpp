#include "qk/Tool.h"

#include "qk/Commands.h"
#include "qk/Output.h"

#ifndef QK_VERSION
#define QK_VERSION "unknown"
#endif

namespace qk::tool {

namespace {

const char kGeneralHelp[] =
    "Usage: qk COMMAND [OPTIONS] ARCHIVE [NAMES...]\n"
    "\n"
    "Commands:\n"
    "  l, list     ARCHIVE...               list the entries of archives\n"
    "  t, test     ARCHIVE...               decode everything, write nothing\n"
    "  x, extract  ARCHIVE [NAME...]        extract all or the named entries\n"
    "  p, print    ARCHIVE NAME...          write entries to standard output\n"
    "  a, add      ARCHIVE FILE|FOLDER...   create an archive\n"
    "\n"
    "Options of every command:\n"
    "  --charset=auto|cp932|utf-8|raw   how names are shown and written (auto:\n"
    "                                   utf-8 under a UTF-8 locale, else cp932)\n"
    "  -q, --quiet                      only errors\n"
    "  -h, --help                       help (qk help COMMAND for one command)\n"
    "  --version                        the version\n"
    "\n"
    "A NAME selects an entry, a folder of entries, or entries by a pattern with\n"
    "*, ? and [...] (quote it from the shell). Exit status: 0 all good, 1 wrong\n"
    "usage, 2 an archive or file failed.\n";

const char kListHelp[] =
    "Usage: qk l [--json] [-p PASSWORD] ARCHIVE...\n"
    "\n"
    "Lists size, date and time (local) and name of every entry, with totals.\n"
    "  --json             one JSON document: per archive its flags and entries\n"
    "                     (name as UTF-8, name_hex with the stored bytes where\n"
    "                     the name is not plain CP932, size, time, mtime in UTC)\n"
    "  -p, --password=PW  the password of a protected archive (else asked)\n";

const char kTestHelp[] =
    "Usage: qk t [-p PASSWORD] ARCHIVE...\n"
    "\n"
    "Decodes every entry without writing anything and says per archive OK or\n"
    "what is wrong. Exit status 2 when any archive failed. A warning tells of\n"
    "bytes after the end of the data (an archive cut out of a larger file, or\n"
    "something appended).\n"
    "\n"
    "The format holds no checksum: OK means that the header, the entry table\n"
    "and every entry decode to their stated sizes without a reference to\n"
    "missing data. It cannot promise that the bytes are those that were packed:\n"
    "damage that still decodes goes unnoticed. Compare with the originals (qkdec\n"
    "offers that when the files exist) when it matters.\n"
    "  -p, --password=PW  the password of a protected archive (else asked)\n";

const char kExtractHelp[] =
    "Usage: qk x [OPTIONS] ARCHIVE [NAME...]\n"
    "\n"
    "Extracts all entries, or those the NAMEs select, with their dates. Names\n"
    "that would leave the output folder (absolute, drive letter, \"..\", through\n"
    "a symbolic link) are refused, and on Windows names that it would read as\n"
    "something else (a device such as CON, a ':', a trailing dot or blank).\n"
    "  -o, --output=DIR      the folder to extract into (default: the current one)\n"
    "  --existing=POLICY     for a file that exists: ask (default), overwrite,\n"
    "                        skip or rename (keep both, the new one as \"name (1)\")\n"
    "  -f, --overwrite       --existing=overwrite\n"
    "  -n, --skip            --existing=skip\n"
    "  -k, --keep-both       --existing=rename\n"
    "  -p, --password=PW     the password of a protected archive (else asked)\n"
    "  -q, --quiet           no file list and no progress bar\n";

const char kPrintHelp[] =
    "Usage: qk p [-p PASSWORD] ARCHIVE NAME...\n"
    "\n"
    "Writes the bytes of the selected entries to standard output, in archive\n"
    "order, e.g. qk p old.qk1 readme.txt | less\n"
    "  -p, --password=PW  the password of a protected archive (else asked)\n";

const char kAddHelp[] =
    "Usage: qk a [OPTIONS] ARCHIVE FILE|FOLDER...\n"
    "\n"
    "Creates ARCHIVE (replacing it) from files and whole folders. Names are\n"
    "stored as given, made relative (a leading / and . dropped, .. resolved), with\n"
    "their modification times, converted to Shift-JIS (CP932).\n"
    "  -C, --directory=DIR   read the FILEs and FOLDERs relative to DIR\n"
    "  -l, --large           the large model (bigger alphabet and rings)\n"
    "  -i, --inner           also offer positions inside copies to the rings\n"
    "  --level=N             1 (fastest) to 9 (smallest), default 6\n"
    "  --depth=N             search only the N newest positions (0: as the level does)\n"
    "  -p, --password=PW     scramble the archive under this password\n"
    "  -P, --ask-password    ask for the password twice, without echo\n"
    "  --sfx                 write a self-extracting program (qkdec + archive)\n"
    "  --sfx-program=PATH    the qkdec program to use (default: the small qkdec-sfx\n"
    "                        beside qk, else qkdec beside qk)\n"
    "  --skip-errors         leave out what cannot be read or named, with a message,\n"
    "                        write the rest and exit with status 2\n"
    "\n"
    "Every input is named when it is left out or taken differently from what it\n"
    "looks like: a pipe, device or socket (an error when named directly), a link\n"
    "to nothing (an error), an empty folder (archives hold only files), a link to\n"
    "a file (its file is stored). Without --skip-errors a name that cannot be\n"
    "stored, a link to nothing or an unreadable file stops the command and\n"
    "nothing is written. Inputs are read a few batches at a time.\n";

const char* HelpFor(Command command) {
    switch (command) {
        case Command::kList:
            return kListHelp;
        case Command::kTest:
            return kTestHelp;
        case Command::kExtract:
            return kExtractHelp;
        case Command::kPrint:
            return kPrintHelp;
        case Command::kAdd:
            return kAddHelp;
        default:
            return kGeneralHelp;
    }
}

}  // namespace

int RunTool(const std::vector<std::string>& args, bool localeIsUtf8) {
    Options options;
    std::string error;
    if (!ParseCommandLine(args, options, error)) {
        Error(error);
        Err("Try 'qk --help'.\n");
        return kExitUsage;
    }
    if (options.version) {
        Out("qk " QK_VERSION "\n");
        return kExitOk;
    }
    if (options.command == Command::kHelp) {
        Command topic = Command::kNone;
        if (!options.operands.empty()) {
            std::vector<std::string> words = {options.operands[0], "--help"};
            Options inner;
            std::string ignored;
            if (!ParseCommandLine(words, inner, ignored)) {
                Error("no such command: '" + options.operands[0] + "'");
                Err("Try 'qk --help'.\n");
                return kExitUsage;
            }
            topic = inner.command;
        }
        Out(HelpFor(topic));
        return kExitOk;
    }
    if (options.help) {
        Out(HelpFor(options.command));
        return kExitOk;
    }
    const NameCodec codec(options.charset, localeIsUtf8);
    switch (options.command) {
        case Command::kList:
            return RunList(options, codec);
        case Command::kTest:
            return RunTest(options, codec);
        case Command::kExtract:
            return RunExtract(options, codec);
        case Command::kPrint:
            return RunPrint(options, codec);
        case Command::kAdd:
            return RunAdd(options, codec);
        default:
            Out(kGeneralHelp);
            return kExitUsage;
    }
}

}  // namespace qk::tool
