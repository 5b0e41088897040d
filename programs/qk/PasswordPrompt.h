// Asking for a password at the terminal, without echo.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qk::tool {

// Shows `prompt` on standard error and reads a line of keys without echo.
// Nothing when standard input is not a terminal or ends first, or when the
// line runs past platform::kMaxConsoleLine keys (with a message).
std::optional<std::string> AskPassword(std::string_view prompt);

// Asks twice for a new password; nothing when the two differ, either is
// empty, or no terminal answers (a message says which).
std::optional<std::string> AskNewPassword();

}  // namespace qk::tool
