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

// Collects the files of `operands` (relative to `baseDir` unless absolute or
// `baseDir` is empty), folders walked in name order. Links to files are
// followed; links to folders, and anything that is neither file nor folder,
// are left out with a warning. False after a message for every operand or
// name that cannot be taken; the caller then writes nothing.
bool CollectInputs(const std::vector<std::string>& operands, const std::string& baseDir,
                   const NameCodec& codec, bool quiet, std::vector<InputFile>& files);

}  // namespace qk::tool
