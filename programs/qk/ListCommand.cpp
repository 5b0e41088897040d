// qk l: the entries of archives, as a table or as JSON.
#include <cstdio>

#include "platform/Text.h"
#include "qk/ArchiveSession.h"
#include "qk/Commands.h"
#include "qk/EntryPath.h"
#include "qk/Output.h"

namespace qk::tool {

namespace {

// JSON strings must be UTF-8: what is not valid UTF-8 is written as %XX.
bool IsValidUtf8(std::string_view s) {
    for (std::size_t i = 0; i < s.size();) {
        const unsigned char b = static_cast<unsigned char>(s[i]);
        std::size_t n = b < 0x80                  ? 1
                        : (b >= 0xC2 && b < 0xE0) ? 2
                        : (b >= 0xE0 && b < 0xF0) ? 3
                        : (b >= 0xF0 && b < 0xF5) ? 4
                                                  : 0;
        if (n == 0 || i + n > s.size()) return false;
        for (std::size_t k = 1; k < n; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
        i += n;
    }
    return true;
}

std::string JsonString(std::string_view text) {
    std::string out = "\"";
    const std::string safe = IsValidUtf8(text) ? std::string(text) : PercentEscape(text);
    for (unsigned char c : safe) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (c < 0x20) {
                    char u[8];
                    std::snprintf(u, sizeof u, "\\u%04x", c);
                    out += u;
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    return out + "\"";
}

std::string Hex(std::string_view bytes) {
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    for (unsigned char b : bytes) {
        out += kHex[b >> 4];
        out += kHex[b & 15];
    }
    return out;
}

std::string Flags(const ArchiveHeader& h) {
    std::string out;
    auto add = [&](bool on, const char* what) {
        if (!on) return;
        out += out.empty() ? " (" : ", ";
        out += what;
    };
    add(h.offset > 0, "self-extracting");
    add(h.passwordSet(), "password");
    add(h.largeModel(), "large model");
    add(h.insertInner(), "inner insertion");
    return out.empty() ? out : out + ")";
}

void ListAsTable(ArchiveSession& session, bool first) {
    std::string text = first ? "" : "\n";
    text += "Archive: " + session.shownPath() + Flags(session.header()) + "\n";
    text += "         Size  Date       Time      Name\n";
    text += "-------------  ---------- --------  --------\n";
    char line[64];
    for (std::int32_t i = 0; i < session.count(); ++i) {
        std::snprintf(line, sizeof line, "%13s  ", Grouped(session.entries().sizes[i]).c_str());
        text +=
            line + LocalDateTime(session.entries().times[i]) + "  " + session.DisplayName(i) + "\n";
    }
    text += "-------------                       --------\n";
    std::snprintf(line, sizeof line, "%13s  ", Grouped(session.TotalSize()).c_str());
    text += line + std::string(19, ' ') + "  " + Grouped(session.count()) +
            (session.count() == 1 ? " file\n" : " files\n");
    Out(text);
}

std::string ArchiveJson(ArchiveSession& session) {
    const ArchiveHeader& h = session.header();
    const NameCodec utf8(Charset::kUtf8, true);
    std::string out = "{\"path\":" + JsonString(session.shownPath()) + ",\"ok\":true";
    out += ",\"self_extracting\":" + std::string(h.offset > 0 ? "true" : "false");
    out += ",\"password\":" + std::string(h.passwordSet() ? "true" : "false");
    out += ",\"large_model\":" + std::string(h.largeModel() ? "true" : "false");
    out += ",\"insert_inner\":" + std::string(h.insertInner() ? "true" : "false");
    out += ",\"files\":" + std::to_string(session.count());
    out += ",\"size\":" + std::to_string(session.TotalSize());
    out += ",\"entries\":[";
    for (std::int32_t i = 0; i < session.count(); ++i) {
        const std::string_view stored = session.StoredName(i);
        const std::string shown = ShownName(stored, utf8);
        // Where the string is not the exact name (bad bytes, control
        // characters), the stored bytes go beside it.
        std::string exact;
        const bool valid = platform::Cp932ToUtf8(WithSlashes(stored), exact) && exact == shown;
        if (i) out += ",";
        out += "\n  {\"name\":" + JsonString(shown);
        if (!valid) out += ",\"name_hex\":\"" + Hex(stored) + "\"";
        out += ",\"size\":" + std::to_string(session.entries().sizes[i]);
        out += ",\"time\":" + std::to_string(session.entries().times[i]);
        out += ",\"mtime\":\"" + UtcDateTime(session.entries().times[i]) + "\"}";
    }
    return out + "]}";
}

}  // namespace

int RunList(const Options& options, const NameCodec& codec) {
    bool failed = false;
    std::string json = "{\"archives\":[";
    for (std::size_t k = 0; k < options.operands.size(); ++k) {
        ArchiveSession session(options, codec);
        const std::string path = platform::FromNative(options.operands[k]);
        if (k) json += ",\n";
        if (!session.Open(path)) {
            failed = true;
            json += "{\"path\":" + JsonString(options.operands[k]) +
                    ",\"ok\":false,\"error\":" + JsonString(session.error()) + "}";
            continue;
        }
        if (options.json) {
            json += ArchiveJson(session);
        } else {
            ListAsTable(session, k == 0);
        }
    }
    if (options.json) Out(json + "]}\n");
    return failed ? kExitFailure : kExitOk;
}

}  // namespace qk::tool
