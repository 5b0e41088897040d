// The files that `qk a` puts into an archive: the files named on the command
// line and every file of the folders named there, with the names they get in
// the archive.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "qk/Charset.h"

namespace qk::tool {

struct InputFile {
    std::string path;   // where to read it (program text)
    std::string name;   // its name in the archive: CP932, '\' between components
    std::string shown;  // its name for messages
    std::int64_t size = 0;
    std::uint32_t time = 0;
};

// The name an operand gets in the archive, components as typed: a leading
// root and "." are dropped, ".." takes back the component before it, and one
// with nothing before it is dropped ("/usr/include" -> usr, include;
// "../a/../b" -> b).
std::vector<std::string> OperandComponents(const std::string& operand);

// Checks one name component for the archive and converts it to CP932: false
// with a reason when CP932 cannot hold it, or when it holds a byte that the
// format would read as a separator.
bool ArchiveComponent(const NameCodec& codec, const std::string& native, std::string& cp932,
                      std::string& reason);

// How CollectInputs treats what it cannot take.
struct CollectRules {
    bool quiet = false;       // no warnings (errors still show)
    bool skipErrors = false;  // an input that cannot be taken is left out with a message
};

// Collects the files of `operands` (relative to `baseDir` unless absolute or
// `baseDir` is empty), folders walked in name order. Each thing not stored as
// it stands gets a warning naming it: a link to a file (the file is stored),
// a link to a folder inside a tree, an empty folder, a pipe, device or socket
// inside a tree (all left out), a name that looks like UTF-8 while names are
// read as CP932. Errors: an operand that is missing or no file or folder, a
// link to nothing, a name that cannot be stored, a file too large for the
// format, a folder that cannot be read. False after a message for every
// error; under `skipErrors` each is left out instead, counted in `skipped`,
// and the result is true.
bool CollectInputs(const std::vector<std::string>& operands, const std::string& baseDir,
                   const NameCodec& codec, const CollectRules& rules,
                   std::vector<InputFile>& files, int& skipped);

}  // namespace qk::tool
