#include "qk/ProgressBar.h"

#include <algorithm>
#include <cstdio>

#include "platform/FileSystem.h"
#include "console/Terminal.h"
#include "qk/Output.h"

namespace qk::tool {

ProgressBar::ProgressBar(bool enabled, std::int64_t total)
    : enabled_(enabled && platform::IsTerminal(platform::StandardStream::kError)),
      total_(total),
      start_(Seconds()) {}

double ProgressBar::Seconds() const {
    const platform::ClockTime now = platform::Now();
    return static_cast<double>(now.seconds) + now.milliseconds / 1000.0;
}

void ProgressBar::Update(std::int64_t done, std::string_view label) {
    if (!enabled_) return;
    const double now = Seconds();
    if (done < total_ && lastDraw_ >= 0 && now - lastDraw_ < 0.1) return;
    lastDraw_ = now;

    const int width = std::max(40, platform::TerminalWidth()) - 1;
    const double share = total_ > 0 ? static_cast<double>(done) / static_cast<double>(total_) : 1;
    const int cells = 20;
    const int full = std::clamp(static_cast<int>(share * cells), 0, cells);
    const double elapsed = now - start_;
    std::string line = "\r ";
    char percent[8];
    std::snprintf(percent, sizeof percent, "%3d%%", static_cast<int>(share * 100));
    line += percent;
    line += " [";
    line.append(static_cast<std::size_t>(full), '#');
    line.append(static_cast<std::size_t>(cells - full), ' ');
    line += "] ";
    line += HumanBytes(static_cast<double>(done));
    if (elapsed > 0.05) line += "  " + HumanBytes(static_cast<double>(done) / elapsed) + "/s";
    line += "  ";
    // The name gets what is left of the line, cut at a character boundary.
    const std::size_t room = static_cast<std::size_t>(width) + 1 > line.size()
                                 ? static_cast<std::size_t>(width) + 1 - line.size()
                                 : 0;
    std::size_t cut = std::min(room, label.size());
    while (cut > 0 && cut < label.size() && (static_cast<unsigned char>(label[cut]) & 0xC0) == 0x80)
        --cut;
    line.append(label.substr(0, cut));
    line += "\x1b[K";
    Err(line);
    std::fflush(stderr);
    drawn_ = true;
}

void ProgressBar::Clear() {
    if (!drawn_) return;
    Err("\r\x1b[K");
    std::fflush(stderr);
    drawn_ = false;
    lastDraw_ = -1;
}

}  // namespace qk::tool
