// repack: lists a qk1 archive and writes its entries again into a new
// archive with the large model, through the installed qk1 library.
//
//   repack [-p PASSWORD] OLD.qk1 NEW.qk1
//
// It shows the three steps of the library: open an archive and read its
// entry table (ArchiveReader), stream every entry's bytes through a callback
// (ArchiveReader::ForEachEntry), and write an archive (WriteArchive).
#include <cstdio>
#include <string>
#include <vector>

#include "qk1/ArchiveReader.h"
#include "qk1/ArchiveWriter.h"

namespace {

int Fail(const std::string& what) {
    std::fprintf(stderr, "repack: %s\n", what.c_str());
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::string password;
    int arg = 1;
    if (argc > 2 && std::string(argv[1]) == "-p") {
        password = argv[2];
        arg = 3;
    }
    if (argc - arg != 2) {
        std::fprintf(stderr, "usage: repack [-p PASSWORD] OLD.qk1 NEW.qk1\n");
        return 1;
    }
    const std::string oldPath = argv[arg], newPath = argv[arg + 1];

    // 1. Open, settle the password, read the entry table ('/' between folders).
    qk::ArchiveReader reader;
    using Status = qk::ArchiveReader::Status;
    if (reader.Open(oldPath) != Status::kOk) return Fail(oldPath + ": not a readable archive");
    if (reader.header().passwordSet() && reader.CheckPassword(password) != Status::kOk) {
        return Fail(oldPath + ": wrong or missing password");
    }
    if (reader.ReadTable('/') != Status::kOk) return Fail(oldPath + ": damaged entry table");

    // 2. Every entry's bytes, in order, handed to the callback.
    const qk::EntryTable& table = reader.entries();
    std::vector<qk::ArchiveEntry> entries;
    const Status walked =
        reader.ForEachEntry([&](std::int32_t i, const std::uint8_t* data, std::int32_t size) {
            qk::ArchiveEntry entry;
            entry.name = std::string(table.names.Item(i));
            entry.time = table.times[static_cast<std::size_t>(i)];
            entry.data.assign(data, data + size);
            std::printf("%10d  %s\n", size, entry.name.c_str());
            entries.push_back(std::move(entry));
            return true;
        });
    if (walked != Status::kOk) return Fail(oldPath + ": damaged data");

    // 3. A new archive of the same entries; the writer checks that it decodes.
    qk::WriteOptions options;
    options.largeModel = true;
    std::vector<std::uint8_t> archive;
    std::string error;
    if (qk::WriteArchive(entries, options, archive, &error) != qk::Status::kOk) return Fail(error);
    std::FILE* out = std::fopen(newPath.c_str(), "wb");
    if (!out) return Fail(newPath + ": cannot create");
    const bool written = std::fwrite(archive.data(), 1, archive.size(), out) == archive.size();
    if (std::fclose(out) != 0 || !written) return Fail(newPath + ": cannot write");
    std::printf("%zu entries -> %s (%zu bytes)\n", entries.size(), newPath.c_str(), archive.size());
    return 0;
}
