// Entry names as places on disk: the checks that keep every extracted file
// inside the output folder.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "qk/Charset.h"

namespace qk::tool {

// The components of an entry name (CP932, separators already made '\' by the
// table reader), with "." and empty components dropped. False with a reason
// when the name must not be extracted: it is empty, absolute, starts with a
// drive letter or has a ".." component.
bool SplitEntryName(std::string_view name, std::vector<std::string>& components,
                    std::string& reason);

// The name with '/' between its components, as listings show it.
std::string WithSlashes(std::string_view name);

// The name as the user sees it: each component through the codec on its own
// (so that a broken character cannot take a separator with it), '/' between.
std::string ShownName(std::string_view name, const NameCodec& codec);

}  // namespace qk::tool
