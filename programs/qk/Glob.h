// Selecting entries by name, as archivers do: a word names an entry, a folder
// (and everything under it) or a shell pattern.
#pragma once

#include <string>
#include <string_view>

namespace qk::tool {

// How many bytes make up the character at the start of a text.
enum class CharacterSet { kBytes, kUtf8, kCp932 };

// Shell-style pattern match of a whole name: '*' any run of characters
// (separators included, as tar does), '?' one character, "[abc]", "[a-z]",
// "[!abc]" one character of (or not of) a set. Anything else matches itself.
bool GlobMatch(std::string_view pattern, std::string_view name, CharacterSet set);

// True when `pattern` selects `name` (both with '/' between components): the
// pattern matches the whole name or one of its leading folders.
bool SelectsEntry(std::string_view pattern, std::string_view name, CharacterSet set);

}  // namespace qk::tool
