#include "qk/InputTree.h"

#include <algorithm>
#include <cstdint>
#include <set>

#include "format/EntryTable.h"
#include "platform/Directory.h"
#include "platform/FileSystem.h"
#include "qk/Output.h"

namespace qk::tool {

namespace {

using platform::EntryKind;

// The largest entry the format holds: its size is a signed 32-bit field.
constexpr std::int64_t kEntryLimit = 2147483647;

bool IsPathSeparator(char c) {
    return c == '/' || c == platform::kSeparator;
}

// True when `text` ends in a separator of its own, not in the second byte
// of a double-byte character: on Windows names are CP932, where 0x5C can be one.
bool EndsInSeparator(const std::string& text) {
    bool second = false;
    for (std::size_t i = 0; platform::kSeparator == '\\' && i + 1 < text.size(); ++i) {
        second = !second && IsLeadByte(static_cast<std::uint8_t>(text[i]));
    }
    return !text.empty() && IsPathSeparator(text.back()) && !second;
}

std::string JoinPath(const std::string& dir, const std::string& name) {
    if (dir.empty()) return name;
    if (EndsInSeparator(dir)) return dir + name;
    return dir + platform::kSeparator + name;
}

bool IsAbsolute(const std::string& path) {
    if (!path.empty() && IsPathSeparator(path[0])) return true;
    return path.size() >= 2 && path[1] == ':';
}

// True when `name` holds bytes above 0x7F and all of them form UTF-8
// sequences: most likely a UTF-8 name read as CP932 bytes.
bool LooksLikeUtf8(const std::string& name) {
    bool wide = false;
    for (std::size_t i = 0; i < name.size();) {
        const auto b = static_cast<std::uint8_t>(name[i]);
        const std::size_t length = b < 0x80                 ? 1
                                   : b >= 0xC2 && b <= 0xDF ? 2
                                   : b >= 0xE0 && b <= 0xEF ? 3
                                   : b >= 0xF0 && b <= 0xF4 ? 4
                                                            : 0;
        if (length == 0 || i + length > name.size()) return false;
        for (std::size_t k = 1; k < length; ++k) {
            if ((static_cast<std::uint8_t>(name[i + k]) & 0xC0) != 0x80) return false;
        }
        wide = wide || length > 1;
        i += length;
    }
    return wide;
}

class Collector {
  public:
    Collector(const NameCodec& codec, const CollectRules& rules, std::vector<InputFile>& files)
        : codec_(codec), rules_(rules), files_(files) {}

    // Adds the file or tree at `path`, named `components` in the archive;
    // `operand` when the user named it.
    void Add(const std::string& path, const std::vector<std::string>& components, bool operand);
    bool failed() const { return failed_; }
    int skipped() const { return skipped_; }

  private:
    void AddFile(const std::string& path, const std::vector<std::string>& components);
    void AddTree(const std::string& path, const std::vector<std::string>& components);
    void Warn(const std::string& text) {
        if (!rules_.quiet) Error("warning: " + text);
    }
    void Fail(const std::string& text) {
        if (rules_.skipErrors) {
            Error(text + "; left out");
            ++skipped_;
            return;
        }
        Error(text);
        failed_ = true;
    }
    // Names are read as CP932 bytes (a locale that is not UTF-8): the user
    // may have meant UTF-8.
    std::string CharsetHint() const {
        return codec_.charset() == Charset::kCp932 ? " (if names are UTF-8: --charset=utf-8)" : "";
    }

    const NameCodec& codec_;
    const CollectRules& rules_;
    std::vector<InputFile>& files_;
    std::set<std::string> names_;
    bool failed_ = false;
    int skipped_ = 0;
};

void Collector::Add(const std::string& path, const std::vector<std::string>& components,
                    bool operand) {
    const std::string shown = ShowNative(path);
    EntryKind kind = platform::QueryEntryKind(path);
    if (kind == EntryKind::kSymbolicLink) {
        const platform::FileStatus target = platform::QueryFile(path);
        if (!target.exists) return Fail(shown + ": a link to nothing");
        if (target.isDirectory && !operand) {
            return Warn(shown + ": left out (a symbolic link to a folder)");
        }
        if (target.isRegular) Warn(shown + ": a symbolic link; the file it leads to is stored");
        kind = target.isDirectory ? EntryKind::kDirectory
               : target.isRegular ? EntryKind::kFile
                                  : EntryKind::kOther;
    }
    switch (kind) {
        case EntryKind::kMissing:
            return Fail(shown + ": no such file or folder");
        case EntryKind::kFile:
            return AddFile(path, components);
        case EntryKind::kDirectory:
            return AddTree(path, components);
        default:
            // A pipe, device or socket: reading it could wait for ever.
            if (operand) return Fail(shown + ": not a file or folder (a pipe, device or socket)");
            return Warn(shown + ": left out (a pipe, device or socket)");
    }
}

void Collector::AddFile(const std::string& path, const std::vector<std::string>& components) {
    const std::string shown = ShowNative(path);
    if (components.empty()) return Fail(shown + ": no name to store it under");
    InputFile file;
    file.path = path;
    file.shown = shown;
    for (const std::string& component : components) {
        std::string cp932, reason;
        if (!ArchiveComponent(codec_, component, cp932, reason)) {
            return Fail(shown + ": " + reason + CharsetHint());
        }
        if (codec_.charset() == Charset::kCp932 && LooksLikeUtf8(component)) {
            Warn(shown + ": the name looks like UTF-8 but is stored as Shift-JIS bytes" +
                 CharsetHint());
        }
        if (!file.name.empty()) file.name += '\\';
        file.name += cp932;
    }
    if (!names_.insert(file.name).second) {
        return Warn(shown + ": left out (an entry of the same name is already in)");
    }
    const platform::FileStatus status = platform::QueryFile(path);
    if (status.size > kEntryLimit) {
        return Fail(shown + ": too large for the format (" + Grouped(status.size) +
                    " bytes; an entry holds at most " + Grouped(kEntryLimit) + ")");
    }
    file.size = status.size;
    file.time = static_cast<std::uint32_t>(
        std::clamp<std::int64_t>(status.modifiedTime, 0, std::int64_t{UINT32_MAX}));
    files_.push_back(std::move(file));
}

void Collector::AddTree(const std::string& path, const std::vector<std::string>& components) {
    std::vector<platform::DirectoryEntry> entries;
    if (!platform::ListDirectory(path, entries)) {
        return Fail(ShowNative(path) + ": cannot read the folder");
    }
    if (entries.empty()) {
        Warn(ShowNative(path) + ": left out (an empty folder; archives hold only files)");
    }
    std::sort(entries.begin(), entries.end(),
              [](const auto& a, const auto& b) { return a.name < b.name; });
    for (const platform::DirectoryEntry& entry : entries) {
        std::vector<std::string> child = components;
        child.push_back(entry.name);
        Add(JoinPath(path, entry.name), child, false);
    }
}

}  // namespace

std::vector<std::string> OperandComponents(const std::string& operand) {
    std::vector<std::string> components;
    std::string part;
    std::size_t start = operand.size() >= 2 && operand[1] == ':' ? 2 : 0;
    for (std::size_t i = start; i <= operand.size(); ++i) {
        if (i == operand.size() || IsPathSeparator(operand[i])) {
            if (part == "..") {
                // Resolved against the components before it; one that would
                // climb above the start is dropped.
                if (!components.empty()) components.pop_back();
            } else if (!part.empty() && part != ".") {
                components.push_back(part);
            }
            part.clear();
        } else {
            part += operand[i];
            // The byte after a lead byte belongs to its character (see EndsInSeparator).
            if (platform::kSeparator == '\\' && IsLeadByte(static_cast<std::uint8_t>(operand[i])) &&
                i + 1 < operand.size()) {
                part += operand[++i];
            }
        }
    }
    return components;
}

bool ArchiveComponent(const NameCodec& codec, const std::string& native, std::string& cp932,
                      std::string& reason) {
    if (native.find('\\') != std::string::npos && platform::kSeparator != '\\') {
        reason = "the name holds a backslash, which archives read as a folder separator";
        return false;
    }
    if (!codec.FromNative(native, cp932)) {
        reason = "the name cannot be written in CP932 (Shift-JIS)";
        return false;
    }
    // The format skips only the byte after 0x80-0x9F and 0xE0-0xEF; the
    // second byte of a character led by 0xF0-0xFC is read on its own, and a
    // 0x5C there would split the name.
    for (std::size_t i = 0; i < cp932.size(); ++i) {
        const auto b = static_cast<std::uint8_t>(cp932[i]);
        if (b == '\\' || b == '/') {
            reason = "a character of the name ends in a byte that archives read as a separator";
            return false;
        }
        if (IsLeadByte(b)) ++i;
    }
    return true;
}

bool CollectInputs(const std::vector<std::string>& operands, const std::string& baseDir,
                   const NameCodec& codec, const CollectRules& rules, std::vector<InputFile>& files,
                   int& skipped) {
    Collector collector(codec, rules, files);
    for (const std::string& operand : operands) {
        const std::string path =
            baseDir.empty() || IsAbsolute(operand) ? operand : JoinPath(baseDir, operand);
        collector.Add(path, OperandComponents(operand), true);
    }
    skipped = collector.skipped();
    return !collector.failed();
}

}  // namespace qk::tool
