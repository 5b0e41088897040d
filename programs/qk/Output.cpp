#include "qk/Output.h"

#include <cstdio>
#include <ctime>

namespace qk::tool {

void Out(std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
}

void Err(std::string_view text) {
    std::fflush(stdout);
    std::fwrite(text.data(), 1, text.size(), stderr);
}

void Error(std::string_view text) {
    std::string line = "qk: ";
    line.append(text).append("\n");
    Err(line);
}

std::string Grouped(std::int64_t value) {
    std::string digits = std::to_string(value < 0 ? -value : value);
    std::string out;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i && (digits.size() - i) % 3 == 0) out += ',';
        out += digits[i];
    }
    return value < 0 ? "-" + out : out;
}

std::string HumanBytes(double bytes) {
    static const char* const kUnits[] = {"B", "KiB", "MiB", "GiB", "TiB"};
    int unit = 0;
    while (bytes >= 1024 && unit < 4) {
        bytes /= 1024;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, unit == 0 ? "%.0f %s" : "%.1f %s", bytes, kUnits[unit]);
    return text;
}

namespace {

std::string Format(const std::tm* tm, const char* format) {
    if (!tm) return "---------- --------";
    char text[40];
    std::strftime(text, sizeof text, format, tm);
    return text;
}

}  // namespace

std::string LocalDateTime(std::uint32_t time) {
    const std::time_t t = static_cast<std::time_t>(time);
    return Format(std::localtime(&t), "%Y-%m-%d %H:%M:%S");
}

std::string UtcDateTime(std::uint32_t time) {
    const std::time_t t = static_cast<std::time_t>(time);
    return Format(std::gmtime(&t), "%Y-%m-%dT%H:%M:%SZ");
}

}  // namespace qk::tool
