// Fuzz target for the extraction road (lib/extract) over a scratch folder.
//
// Input layout: one flag byte, then either an archive (flag bit 3) or entry
// names, one per line ('\n' between them; a name's bytes are its content
// too). Flag bit 0: names converted to UTF-8 (else passed unchanged); bit 1: a
// link "L" to the sentinel folder stands in the output folder before; bit 2:
// a link "%80" to it; bit 4: a file "F" stands there; bit 5: every name is
// read with '\\' instead of '/'.
//
// Each input is extracted as the programs do it (every name checked, the
// existing targets counted, every entry reached, written and dated) into a
// fresh output folder. Afterwards the sentinel folder beside it must be
// empty, nothing but the output folder may stand in the scratch folder, and
// every path below the output folder (links not followed) must lie in a
// folder that resolves inside it.
#include <ftw.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "extract/Road.h"
#include "format/EntryTable.h"
#include "qk1/ArchiveReader.h"

namespace {

namespace fs = std::filesystem;

struct Scratch {
    std::string root;      // realpath of the scratch folder
    std::string out;       // root + "/out"
    std::string sentinel;  // root + "/sentinel"
    std::string outReal;
};

const Scratch& TheScratch() {
    static const Scratch scratch = [] {
        Scratch s;
        std::string pattern = (fs::temp_directory_path() / "qkfuzz-extract-XXXXXX").string();
        QK_FUZZ_CHECK(::mkdtemp(pattern.data()) != nullptr);
        char real[PATH_MAX];
        QK_FUZZ_CHECK(::realpath(pattern.c_str(), real) != nullptr);
        s.root = real;
        s.out = s.root + "/out";
        s.sentinel = s.root + "/sentinel";
        s.outReal = s.out;
        return s;
    }();
    return scratch;
}

std::vector<std::string> gPaths;

int Collect(const char* path, const struct stat*, int, struct FTW*) {
    gPaths.emplace_back(path);
    return 0;
}

// The folder holding `path`, resolved, lies inside the output folder.
bool ResolvesInside(const std::string& path, const std::string& outReal) {
    const std::string parent = fs::path(path).parent_path().string();
    char real[PATH_MAX];
    if (::realpath(parent.c_str(), real) == nullptr) return false;
    const std::string resolved = real;
    return resolved == outReal || resolved.rfind(outReal + "/", 0) == 0;
}

void Extract(qk::extract::Road& road, const qk::NameList& names,
             const std::vector<std::vector<std::uint8_t>>& contents) {
    if (!road.Plan(names, nullptr, 4).empty()) return;
    road.CountExisting(names, nullptr);
    for (int i = 0; i < names.Count(); ++i) {
        if (road.Reach(names.Item(i), qk::extract::Road::Mode::kMake) !=
            qk::extract::Road::Step::kDone) {
            continue;
        }
        const std::vector<std::uint8_t>& data = contents[static_cast<std::size_t>(i)];
        if (road.Write(data.data(), static_cast<std::int64_t>(data.size())) ==
            qk::extract::Road::Step::kDone) {
            road.SetTime(1000000000u);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::uint8_t flags = data[0];
    const Scratch& scratch = TheScratch();
    std::error_code error;
    fs::remove_all(scratch.out, error);
    fs::remove_all(scratch.sentinel, error);
    QK_FUZZ_CHECK(fs::create_directory(scratch.out));
    QK_FUZZ_CHECK(fs::create_directory(scratch.sentinel));
    if (flags & 2) fs::create_directory_symlink(scratch.sentinel, scratch.out + "/L");
    if (flags & 4) fs::create_directory_symlink(scratch.sentinel, scratch.out + "/%80");
    if (flags & 16) {
        FILE* file = std::fopen((scratch.out + "/F").c_str(), "wb");
        if (file) std::fclose(file);
    }

    const char separator = (flags & 32) ? '\\' : '/';
    qk::extract::RoadSettings settings;
    settings.separator = separator;
    settings.textMode =
        (flags & 1) ? qk::platform::TextMode::kUtf8 : qk::platform::TextMode::kPassThrough;
    qk::extract::Road road(settings);
    road.Open(scratch.out + "/");

    if (flags & 8) {
        qk::ArchiveReader reader;
        if (reader.Open(data + 1, size - 1) == qk::Status::kOk && !reader.header().passwordSet() &&
            reader.ReadTable(separator) == qk::Status::kOk && reader.entries().entryCount <= 256) {
            const qk::NameList& names = reader.entries().names;
            if (road.Plan(names, nullptr, 1).empty()) {
                road.CountExisting(names, nullptr);
                reader.ForEachEntry([&](std::int32_t i, const std::uint8_t* bytes, std::int32_t n) {
                    if (road.Reach(names.Item(i), qk::extract::Road::Mode::kMake) ==
                        qk::extract::Road::Step::kDone) {
                        road.Write(bytes, n);
                    }
                    return true;
                });
            }
        }
    } else {
        qk::NameList names;
        std::vector<std::vector<std::uint8_t>> contents;
        std::size_t start = 1;
        for (std::size_t i = 1; i <= size && names.Count() < 64; ++i) {
            if (i < size && data[i] != '\n') continue;
            std::string name(reinterpret_cast<const char*>(data) + start, i - start);
            start = i + 1;
            if (name.find('\0') != std::string::npos) continue;
            qk::NormaliseSeparators(name, separator);
            contents.emplace_back(name.begin(), name.end());
            names.Add(std::move(name));
        }
        Extract(road, names, contents);
    }

    // Nothing beside the output folder, nothing in the sentinel, nothing
    // below the output folder in a folder that resolves elsewhere.
    QK_FUZZ_CHECK(fs::is_empty(scratch.sentinel));
    for (const auto& entry : fs::directory_iterator(scratch.root)) {
        const std::string name = entry.path().filename().string();
        QK_FUZZ_CHECK(name == "out" || name == "sentinel");
    }
    gPaths.clear();
    ::nftw(scratch.out.c_str(), Collect, 16, FTW_PHYS);
    for (const std::string& path : gPaths) {
        if (path == scratch.out) continue;
        QK_FUZZ_CHECK(ResolvesInside(path, scratch.outReal));
    }
    return 0;
}
