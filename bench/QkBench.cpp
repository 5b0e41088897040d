// qkbench: the benchmark driver behind bench/run.sh.
//
//   qkbench pack [-l level] [-j threads] [-large] [-inner] archive path...
//   qkbench test archive                                   decode every entry
//   qkbench extract archive folder                         decode and write files
//   qkbench measure [-i in] [-o out] -- program args...    run a program
//   qkbench smalltree source folder count                  make a tree of small files
//
// Every command prints one line "key=value ..." with its wall time in seconds
// and its peak resident memory in KiB (getrusage), so the script can take
// medians. `measure` reports the child's figures (with its processor time,
// user and system), the others their own.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "qk1/ArchiveReader.h"
#include "qk1/ArchiveWriter.h"

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

long PeakKiB(int who) {
    rusage usage{};
    getrusage(who, &usage);
    return usage.ru_maxrss;
}

int Usage() {
    std::fprintf(stderr,
                 "usage: qkbench pack [-l level] [-j threads] [-large] [-inner] archive path...\n"
                 "       qkbench test archive\n"
                 "       qkbench extract archive folder\n"
                 "       qkbench measure [-i in] [-o out] -- program args...\n"
                 "       qkbench smalltree source folder count\n");
    return 2;
}

bool ReadWhole(const fs::path& path, std::vector<std::uint8_t>& data) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    in.seekg(0);
    data.resize(static_cast<std::size_t>(size));
    return static_cast<bool>(in.read(reinterpret_cast<char*>(data.data()), size));
}

std::uint32_t ModificationTime(const fs::path& path) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) return 0;
    return static_cast<std::uint32_t>(info.st_mtime);
}

// A file argument enters under its own name; a folder enters with every
// regular file below it, named relative to the folder, in sorted order.
bool Collect(const fs::path& root, std::vector<qk::ArchiveEntry>& entries) {
    if (fs::is_regular_file(root)) {
        qk::ArchiveEntry e;
        e.name = root.filename().string();
        e.time = ModificationTime(root);
        if (!ReadWhole(root, e.data)) return false;
        entries.push_back(std::move(e));
        return true;
    }
    std::vector<fs::path> files;
    for (const auto& item : fs::recursive_directory_iterator(root)) {
        if (item.is_regular_file() && !item.is_symlink()) files.push_back(item.path());
    }
    std::sort(files.begin(), files.end());
    for (const fs::path& f : files) {
        qk::ArchiveEntry e;
        e.name = f.lexically_relative(root).generic_string();
        e.time = ModificationTime(f);
        if (!ReadWhole(f, e.data)) return false;
        entries.push_back(std::move(e));
    }
    return true;
}

int Pack(int argc, char** argv) {
    qk::WriteOptions options;
    int i = 0;
    for (; i < argc && argv[i][0] == '-'; ++i) {
        if (std::strcmp(argv[i], "-l") == 0 && i + 1 < argc) {
            options.level = std::atoi(argv[++i]);
        } else if (std::strcmp(argv[i], "-large") == 0) {
            options.largeModel = true;
            options.chooseModes = false;
        } else if (std::strcmp(argv[i], "-inner") == 0) {
            options.insertInner = true;
            options.chooseModes = false;
        } else if (std::strcmp(argv[i], "-j") == 0 && i + 1 < argc) {
            options.threads = std::atoi(argv[++i]);
        } else {
            return Usage();
        }
    }
    if (argc - i < 2) return Usage();
    const std::string archivePath = argv[i++];
    std::vector<qk::ArchiveEntry> entries;
    std::uint64_t bytes = 0;
    for (; i < argc; ++i) {
        if (!Collect(argv[i], entries)) {
            std::fprintf(stderr, "qkbench: cannot read %s\n", argv[i]);
            return 1;
        }
    }
    for (const auto& e : entries) bytes += e.data.size();

    const auto start = Clock::now();
    std::vector<std::uint8_t> archive;
    std::string error;
    if (qk::WriteArchive(entries, options, archive, &error) != qk::Status::kOk) {
        std::fprintf(stderr, "qkbench: %s\n", error.c_str());
        return 1;
    }
    const double seconds = Seconds(start);
    std::ofstream out(archivePath, std::ios::binary);
    out.write(reinterpret_cast<const char*>(archive.data()),
              static_cast<std::streamsize>(archive.size()));
    if (!out) return 1;
    std::printf("files=%zu bytes=%llu size=%zu seconds=%.4f peak_kib=%ld\n", entries.size(),
                static_cast<unsigned long long>(bytes), archive.size(), seconds,
                PeakKiB(RUSAGE_SELF));
    return 0;
}

int Decode(const char* archivePath, const char* folder) {
    const auto start = Clock::now();
    qk::ArchiveReader reader;
    if (reader.Open(archivePath) != qk::ArchiveReader::Status::kOk ||
        reader.ReadTable('/') != qk::ArchiveReader::Status::kOk) {
        std::fprintf(stderr, "qkbench: cannot read %s\n", archivePath);
        return 1;
    }
    std::uint64_t bytes = 0;
    bool written = true;
    const auto status =
        reader.ForEachEntry([&](std::int32_t i, const std::uint8_t* data, std::int32_t size) {
            bytes += static_cast<std::uint64_t>(size);
            if (!folder) return true;
            const fs::path target = fs::path(folder) / std::string(reader.entries().names.Item(i));
            std::error_code ec;
            fs::create_directories(target.parent_path(), ec);
            std::FILE* f = std::fopen(target.c_str(), "wb");
            if (!f) return written = false;
            written = std::fwrite(data, 1, static_cast<std::size_t>(size), f) ==
                      static_cast<std::size_t>(size);
            return (std::fclose(f) == 0) && written;
        });
    if (status != qk::ArchiveReader::Status::kOk || !written) {
        std::fprintf(stderr, "qkbench: decoding failed\n");
        return 1;
    }
    std::printf("bytes=%llu seconds=%.4f peak_kib=%ld\n", static_cast<unsigned long long>(bytes),
                Seconds(start), PeakKiB(RUSAGE_SELF));
    return 0;
}

int Measure(int argc, char** argv) {
    const char* in = nullptr;
    const char* out = nullptr;
    int i = 0;
    for (; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
        if (std::strcmp(argv[i], "-i") == 0 && i + 1 < argc) {
            in = argv[++i];
        } else if (std::strcmp(argv[i], "-o") == 0 && i + 1 < argc) {
            out = argv[++i];
        } else {
            return Usage();
        }
    }
    if (i + 1 >= argc) return Usage();
    char** program = argv + i + 1;
    const auto start = Clock::now();
    const pid_t child = fork();
    if (child < 0) return 1;
    if (child == 0) {
        if (in) {
            const int fd = open(in, O_RDONLY);
            if (fd < 0 || dup2(fd, 0) < 0) _exit(126);
        }
        if (out) {
            const int fd = open(out, O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (fd < 0 || dup2(fd, 1) < 0) _exit(126);
        }
        execvp(program[0], program);
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (wait4(child, &status, 0, &usage) < 0) return 1;
    const double seconds = Seconds(start);
    const double cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                       static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128;
    std::printf("exit=%d seconds=%.4f cpu=%.4f peak_kib=%ld\n", code, seconds, cpu,
                usage.ru_maxrss);
    return code;
}

// Cuts `source` into `count` files of 100 to 4,000 bytes (sizes from a fixed
// pseudo-random sequence, so every run makes the same tree), 100 per folder.
int SmallTree(const char* source, const char* folder, int count) {
    std::vector<std::uint8_t> data;
    if (!ReadWhole(source, data) || data.empty()) return 1;
    std::uint32_t state = 12345;
    std::size_t at = 0;
    for (int i = 0; i < count; ++i) {
        state = state * 1103515245u + 12345u;
        const std::size_t size = 100 + (state >> 8) % 3901;
        std::string dirName = "d", fileName = "f";
        dirName += std::to_string(i / 100);
        fileName += std::to_string(i);
        fileName += ".txt";
        const fs::path dir = fs::path(folder) / dirName;
        fs::create_directories(dir);
        std::ofstream out(dir / fileName, std::ios::binary);
        for (std::size_t k = 0; k < size; ++k) {
            out.put(static_cast<char>(data[at]));
            at = (at + 1) % data.size();
        }
        if (!out) return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return Usage();
    const std::string command = argv[1];
    if (command == "pack") return Pack(argc - 2, argv + 2);
    if (command == "test" && argc == 3) return Decode(argv[2], nullptr);
    if (command == "extract" && argc == 4) return Decode(argv[2], argv[3]);
    if (command == "measure") return Measure(argc - 2, argv + 2);
    if (command == "smalltree" && argc == 5) return SmallTree(argv[2], argv[3], std::atoi(argv[4]));
    return Usage();
}
