// Entry names as qk shows them, and as it hands them to the library's
// extraction road (lib/extract), whose check keeps every extracted file
// inside the output folder.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "extract/Road.h"
#include "qk/Charset.h"

namespace qk::tool {

// The name with '/' between its components, as listings show it.
std::string WithSlashes(std::string_view name);

// The name as the user sees it: each component through the codec on its own
// (so that a broken character cannot take a separator with it), '/' between.
std::string ShownName(std::string_view name, const NameCodec& codec);

// The extraction road as qk takes it: names read with '\\' between
// components, converted for the file system as `codec` says (UTF-8 for
// --charset=utf-8; the stored bytes unchanged for cp932 and raw).
extract::RoadSettings RoadSettingsFor(const NameCodec& codec);

// Why a name is not extracted, in words ("drive letter").
std::string RefusalText(extract::Refusal refusal);

}  // namespace qk::tool
