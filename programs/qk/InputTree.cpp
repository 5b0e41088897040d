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

bool IsPathSeparator(char c) {
    return c == '/' || c == platform::kSeparator;
}

std::string JoinPath(const std::string& dir, const std::string& name) {
    if (dir.empty()) return name;
    if (IsPathSeparator(dir.back())) return dir + name;
    return dir + platform::kSeparator + name;
}

bool IsAbsolute(const std::string& path) {
    if (!path.empty() && IsPathSeparator(path[0])) return true;
    return path.size() >= 2 && path[1] == ':';
}

class Collector {
  public:
    Collector(const NameCodec& codec, bool quiet, std::vector<InputFile>& files)
        : codec_(codec), quiet_(quiet), files_(files) {}

    // Adds the file or tree at `path`, named `components` in the archive.
    void Add(const std::string& path, const std::vector<std::string>& components, bool followLink);
    bool failed() const { return failed_; }

  private:
    void AddFile(const std::string& path, const std::vector<std::string>& components);
    void AddTree(const std::string& path, const std::vector<std::string>& components);
    void Warn(const std::string& text) {
        if (!quiet_) Error("warning: " + text);
    }
    void Fail(const std::string& text) {
        Error(text);
        failed_ = true;
    }

    const NameCodec& codec_;
    bool quiet_;
    std::vector<InputFile>& files_;
    std::set<std::string> names_;
    bool failed_ = false;
};

void Collector::Add(const std::string& path, const std::vector<std::string>& components,
                    bool followLink) {
    const std::string shown = ShowNative(path);
    EntryKind kind = platform::QueryEntryKind(path);
    if (kind == EntryKind::kSymbolicLink) {
        const platform::FileStatus target = platform::QueryFile(path);
        if (!target.exists) return Fail(shown + ": cannot read it (a link to nothing)");
        if (target.isDirectory && !followLink) {
            return Warn(shown + ": left out (a symbolic link to a folder)");
        }
        kind = target.isDirectory ? EntryKind::kDirectory : EntryKind::kFile;
    }
    switch (kind) {
        case EntryKind::kMissing:
            return Fail(shown + ": no such file or folder");
        case EntryKind::kFile:
            return AddFile(path, components);
        case EntryKind::kDirectory:
            return AddTree(path, components);
        default:
            return Warn(shown + ": left out (not a regular file)");
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
            return Fail(shown + ": " + reason);
        }
        if (!file.name.empty()) file.name += '\\';
        file.name += cp932;
    }
    if (!names_.insert(file.name).second) {
        return Warn(shown + ": left out (an entry of the same name is already in)");
    }
    const platform::FileStatus status = platform::QueryFile(path);
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
                   const NameCodec& codec, bool quiet, std::vector<InputFile>& files) {
    Collector collector(codec, quiet, files);
    for (const std::string& operand : operands) {
        const std::string path =
            baseDir.empty() || IsAbsolute(operand) ? operand : JoinPath(baseDir, operand);
        collector.Add(path, OperandComponents(operand), true);
    }
    return !collector.failed();
}

}  // namespace qk::tool
