// Writes the seed corpus of the fuzz targets into the folder given on the
// command line (fuzz/corpus): the small reference archives and archives of the
// project's writer in every flag combination, with and without a password, one
// self-extracting. Each archive becomes one seed per target, in that target's
// input layout (FuzzSupport.h).
//
//   qk_fuzz_seeds fuzz/corpus
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "archive/ArchiveStream.h"
#include "codec/LzDecoder.h"
#include "format/ArchiveHeader.h"
#include "format/EntryTable.h"
#include "qk1/ArchiveWriter.h"
#include "support/TestSupport.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

struct Seed {
    std::string name;
    Bytes archive;
    Bytes password;
};

// The compressed stream of an archive, unscrambled, and the sizes of its LZ
// blocks (the table, then every batch) as the decoder finds them.
bool StreamAndBlocks(const Seed& seed, Bytes& stream, std::vector<std::int32_t>& blocks,
                     bool& large, bool& inner) {
    qk::ArchiveHeader header;
    if (seed.archive.size() < qk::kHeaderSize || !qk::ParseHeader(seed.archive.data(), header)) {
        return false;
    }
    large = header.largeModel();
    inner = header.insertInner();
    stream.assign(seed.archive.begin() + qk::kHeaderSize, seed.archive.end());
    if (header.passwordSet()) {
        const qk::PasswordKey key =
            qk::DeriveKey(std::string(seed.password.begin(), seed.password.end()));
        for (std::size_t i = 0; i < stream.size(); ++i) stream[i] ^= key.key[i % 4];
    }
    qk::test::MemoryStream input(stream);
    qk::LzDecoder decoder(&input, inner, large);
    Bytes table(static_cast<std::size_t>(header.tableSize));
    decoder.Reset(table.data(), header.tableSize);
    if (decoder.Decode(header.tableSize) != 0) return false;
    qk::EntryTable entries;
    if (!ParseEntryTable(table.data(), header.tableSize, header.entryCount, '\\', entries))
        return false;
    blocks.push_back(header.tableSize);
    for (const qk::Batch& b : qk::FormBatches(entries.sizes, entries.largestSize)) {
        blocks.push_back(b.total);
    }
    return true;
}

Bytes Text(std::size_t size, std::mt19937& rng) {
    static const char* kWords[] = {"ring ", "slot ",    "\x83\x74\x83\x40\x83\x43\x83\x8b ",
                                   "\n",    "aaaaaaaa", "0123 "};
    Bytes out;
    while (out.size() < size) {
        const char* w = kWords[rng() % 6];
        out.insert(out.end(), w, w + std::char_traits<char>::length(w));
    }
    out.resize(size);
    return out;
}

std::vector<Seed> WriterSeeds() {
    std::vector<Seed> seeds;
    std::mt19937 rng(11);
    for (int flags = 0; flags < 8; ++flags) {
        std::vector<qk::ArchiveEntry> entries;
        entries.push_back({"dir/a.txt", 1000000, Text(300 + 100 * flags, rng)});
        entries.push_back({"empty", 7, {}});
        Bytes binary(64);
        for (auto& b : binary) b = static_cast<std::uint8_t>(rng());
        entries.push_back({"\x95\x5c/b.bin", 0x7FFFFFFF, binary});
        qk::WriteOptions options;
        options.largeModel = flags & 1;
        options.insertInner = flags & 2;
        options.usePassword = flags & 4;
        options.password = "\x83\x70\x83\x58";
        Seed seed;
        seed.name = "writer_flags" + std::to_string(flags);
        std::string error;
        if (qk::WriteArchive(entries, options, seed.archive, &error) != qk::Status::kOk) {
            std::fprintf(stderr, "writer: %s\n", error.c_str());
            continue;
        }
        if (options.usePassword)
            seed.password.assign(options.password.begin(), options.password.end());
        seeds.push_back(seed);
    }
    {
        Seed seed;
        seed.name = "writer_empty";
        std::string error;
        if (qk::WriteArchive({}, qk::WriteOptions{}, seed.archive, &error) == qk::Status::kOk)
            seeds.push_back(seed);
    }
    {
        Seed seed;
        seed.name = "writer_sfx";
        std::string error;
        Bytes archive;
        if (qk::WriteArchive({{"x", 1, Text(200, rng)}}, qk::WriteOptions{}, archive, &error) ==
            qk::Status::kOk) {
            qk::MakeSelfExtracting(Bytes(37, 0x4D), archive, seed.archive);
            seeds.push_back(seed);
        }
    }
    // Text of a few letters: literals of a few bits, two of them decided by
    // one table read of the decoder (its pair entries), at both ends of the
    // levels.
    for (int level : {1, 9}) {
        Bytes letters(3000);
        for (auto& b : letters) b = static_cast<std::uint8_t>('a' + rng() % 6);
        qk::WriteOptions options;
        options.level = level;
        Seed seed;
        seed.name = "writer_letters" + std::to_string(level);
        std::string error;
        if (qk::WriteArchive({{"letters", 0, letters}}, options, seed.archive, &error) ==
            qk::Status::kOk)
            seeds.push_back(seed);
    }
    return seeds;
}

std::vector<Seed> VectorSeeds() {
    std::vector<Seed> seeds;
    for (const std::string& name : qk::test::VectorNames()) {
        const std::string dir = qk::test::VectorsDir() + "/" + name;
        Seed seed;
        seed.name = "vector_" + name;
        seed.archive = qk::test::ReadFileBytes(dir + ".qk1");
        if (seed.archive.size() > 8192) continue;
        const qk::test::Json expect = [&] {
            const Bytes text = qk::test::ReadFileBytes(dir + ".expect.json");
            return qk::test::ParseJson(std::string(text.begin(), text.end()));
        }();
        if (!expect["password_hex"].IsNull())
            seed.password = qk::test::FromHex(expect["password_hex"].text);
        seeds.push_back(seed);
    }
    return seeds;
}

void Write(const std::filesystem::path& path, const Bytes& bytes) {
    std::filesystem::create_directories(path.parent_path());
    qk::test::WriteFileBytes(path.string(), bytes);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: qk_fuzz_seeds CORPUS_DIR\n");
        return 2;
    }
    const std::filesystem::path root = argv[1];
    std::vector<Seed> seeds = VectorSeeds();
    for (Seed& s : WriterSeeds()) seeds.push_back(std::move(s));

    std::mt19937 rng(5);
    unsigned step = 0;
    for (const Seed& seed : seeds) {
        Write(root / "archive" / seed.name,
              qk::fuzz::ArchiveInput(seed.password, step++ % 16, seed.archive));

        Bytes stream;
        std::vector<std::int32_t> blocks;
        bool large = false, inner = false;
        if (!StreamAndBlocks(seed, stream, blocks, large, inner)) continue;

        std::vector<qk::fuzz::LzBlock> lzBlocks;
        for (std::int32_t size : blocks) {
            if (size > qk::fuzz::kMaxBlock) break;
            lzBlocks.push_back({size, static_cast<std::uint8_t>(rng() & 7)});
        }
        Write(root / "lz_differential" / seed.name,
              qk::fuzz::LzInput(large, inner, lzBlocks, stream));

        // A run of symbols with a few lengths and bit steps between them.
        Bytes ops(200);
        for (auto& op : ops) op = static_cast<std::uint8_t>(rng() % 8 < 6 ? 0 : rng());
        Write(root / "prefix_codes" / seed.name, qk::fuzz::PrefixCodesInput(large, ops, stream));
    }
    std::printf("%zu archives written as seeds under %s\n", seeds.size(), root.string().c_str());
    return 0;
}
