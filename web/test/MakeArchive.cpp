// Writes a small archive with entry names given as hex bytes, for the browser
// tests' archives that no file tree can give (names the page must refuse).
//   make-archive OUT [-p PASSWORD] NAMEHEX=TEXT...
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "qk1/ArchiveWriter.h"

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: make-archive OUT [-p PASSWORD] NAMEHEX=TEXT...\n");
        return 1;
    }
    std::vector<qk::ArchiveEntry> entries;
    qk::WriteOptions options;
    options.level = 1;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "-p" && i + 1 < argc) {
            options.usePassword = true;
            options.password = argv[++i];
            continue;
        }
        const std::size_t eq = arg.find('=');
        if (eq == std::string::npos || eq % 2) {
            std::fprintf(stderr, "make-archive: bad entry %s\n", arg.c_str());
            return 1;
        }
        qk::ArchiveEntry entry;
        for (std::size_t k = 0; k < eq; k += 2) {
            entry.name += static_cast<char>(std::stoi(arg.substr(k, 2), nullptr, 16));
        }
        entry.time = 1000000000 + static_cast<std::uint32_t>(i);
        entry.data.assign(arg.begin() + static_cast<long>(eq) + 1, arg.end());
        entries.push_back(std::move(entry));
    }
    std::vector<std::uint8_t> out;
    std::string error;
    if (qk::WriteArchive(entries, options, out, &error) != qk::Status::kOk) {
        std::fprintf(stderr, "make-archive: %s\n", error.c_str());
        return 1;
    }
    std::ofstream file(argv[1], std::ios::binary);
    file.write(reinterpret_cast<const char*>(out.data()), static_cast<std::streamsize>(out.size()));
    return file ? 0 : 1;
}
