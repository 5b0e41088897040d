// The tool's two output streams: results on standard output, messages and the
// progress bar on standard error. Texts are already in the user's charset.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qk::tool {

void Out(std::string_view text);
void Err(std::string_view text);
// "qk: " + text + "\n" on standard error.
void Error(std::string_view text);

// 1234567 -> "1,234,567".
std::string Grouped(std::int64_t value);
// 1536 -> "1.5 KiB".
std::string HumanBytes(double bytes);
// Seconds since 1970 as local "YYYY-MM-DD HH:MM:SS", or as UTC with a 'T'
// and a 'Z' ("2000-01-01T00:00:00Z") for scripts.
std::string LocalDateTime(std::uint32_t time);
std::string UtcDateTime(std::uint32_t time);

}  // namespace qk::tool
