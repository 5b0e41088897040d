// Archives written by the writer and read back: every form, passwords,
// self-extracting files, every level, entries read on demand, and data shaped
// to stress the rings (runs, repeats, binaries, many small and empty entries,
// entries longer than a ring's reach).
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

#include "encoder/CodeLengths.h"
#include "format/EntryTable.h"
#include "qk1/ArchiveReader.h"
#include "qk1/ArchiveWriter.h"
#include "support/ReferenceDecoder.h"
#include "support/TestSupport.h"

namespace qk {
namespace {

using test::Bytes;

// Text of ten words (one in Shift-JIS), random bytes, or runs of three values.
Bytes Data(char kind, std::size_t size, std::mt19937& rng) {
    static const char* kWords[] = {
        "the ", "archive ", "decoder ", "ring ", "\x83\x74\x83\x40\x83\x43\x83\x8b ",
        "\n",   "slot ",    "context ", "0123 ", "data "};
    Bytes out;
    while (out.size() < size) {
        const char* w = kWords[rng() % 10];
        if (kind == 't') out.insert(out.end(), w, w + std::strlen(w));
        if (kind == 'b') out.push_back(static_cast<std::uint8_t>(rng()));
        if (kind == 'r') out.insert(out.end(), 1 + rng() % 700, std::uint8_t(rng() % 3));
    }
    out.resize(size);
    return out;
}

std::vector<ArchiveEntry> MixedEntries(std::mt19937& rng) {
    std::vector<ArchiveEntry> e{{"readme.txt", 1, Data('t', 5000, rng)},
                                {"empty", 2, {}},
                                {"dir/sub\\bin.dat", 3, Data('b', 3000, rng)},
                                {"\x95\x5C\\runs.bin", 4, Data('r', 20000, rng)},
                                {"", 5, Data('t', 17, rng)}};
    for (int i = 0; i < 30; ++i)
        e.push_back(
            {"small/" + std::to_string(i), std::uint32_t(rng()), Data('t', rng() % 400, rng)});
    // Longer than any ring can reach back (256 or 512 entries per context).
    Bytes repeated = Data('t', 30000, rng);
    repeated.insert(repeated.end(), repeated.begin(), repeated.begin() + 20000);
    e.push_back({"long.txt", 0xFFFFFFFF, repeated});
    return e;
}

WriteOptions Form(int level, int form, bool choose = false) {
    WriteOptions o;
    o.level = level;
    o.largeModel = form & 1;
    o.insertInner = form & 2;
    o.usePassword = form & 4;
    o.password = "\x83\x70\x83\x58 word";  // Shift-JIS bytes enter the key as signed
    o.chooseModes = choose;
    return o;
}

// Writes, reads back and compares all the reader tells: header, names, times,
// bytes and the data's end (with a program before, bytes after); and decodes
// by both forms. Returns the archive.
Bytes ExpectRoundTrip(const std::vector<ArchiveEntry>& entries, const WriteOptions& options,
                      bool everyWay = false, std::size_t program = 0, std::size_t appended = 0) {
    Bytes archive, file;
    std::string error;
    EXPECT_EQ(WriteArchive(entries, options, archive, &error), Status::kOk) << error;
    // The same archive from entries read on demand a group of batches at a
    // time, parsed side by side and again while written, or taken over.
    WriteOptions grouped = options;
    grouped.threads = 4;
    grouped.groupBytes = 4096;
    grouped.keptParseBytes = 1;
    std::vector<EntrySource> sources;
    for (const ArchiveEntry& e : entries)
        sources.push_back(
            {e.name, e.time, std::int64_t(e.data.size()),
             [&e](std::int64_t at, std::uint8_t* buffer, std::int64_t n, std::string&) {
                 return std::copy_n(e.data.begin() + at, n, buffer), true;
             }});
    if (everyWay) {
        EXPECT_EQ(WriteArchiveFromSources(sources, grouped, file, &error), Status::kOk) << error;
        EXPECT_TRUE(file == archive);
        EXPECT_EQ(WriteArchive(std::vector(entries), grouped, file, &error), Status::kOk);
        EXPECT_TRUE(file == archive);
    }
    EXPECT_EQ(MakeSelfExtracting(Bytes(program, 0xCC), archive, file), Status::kOk);
    if (program == 0) file.resize(archive.size());  // no trailer
    file.resize(file.size() + appended, 0x55);
    ArchiveReader reader;
    EXPECT_EQ(reader.Open(file.data(), file.size()), Status::kOk);
    const ArchiveHeader& h = reader.header();
    EXPECT_EQ(h.offset, static_cast<std::int64_t>(program));
    if (!options.chooseModes || options.level < 7) {
        EXPECT_EQ(h.flags & 3, options.largeModel + 2 * options.insertInner);
    }
    EXPECT_EQ(h.passwordSet(), options.usePassword);
    if (h.passwordSet()) {
        EXPECT_EQ(reader.CheckPassword(options.password + "x"), Status::kWrongPassword);
        EXPECT_EQ(reader.CheckPassword(options.password), Status::kOk);
    }
    EXPECT_EQ(reader.ReadTable('\\'), Status::kOk);
    std::int64_t total = h.tableSize;
    for (const ArchiveEntry& e : entries) total += static_cast<std::int64_t>(e.data.size());
    EXPECT_EQ(h.totalSize, total);
    std::size_t visited = 0;
    const auto visit = [&](std::int32_t i, const std::uint8_t* data, std::int32_t size) {
        const ArchiveEntry& e = entries[static_cast<std::size_t>(i)];
        std::string name = e.name;
        NormaliseSeparators(name, '\\');
        EXPECT_EQ(reader.entries().names.Item(i), name);
        EXPECT_EQ(reader.entries().times[i], e.time);
        EXPECT_TRUE(Bytes(data, data + size) == e.data) << e.name;
        return ++visited, true;
    };
    EXPECT_EQ(reader.ForEachEntry(visit), Status::kOk);
    EXPECT_EQ(visited, entries.size());
    EXPECT_EQ(reader.dataEnd(), static_cast<std::int64_t>(program + archive.size()));
    test::Feed feed;
    feed.password = options.password;
    feed.chunk = 1 + static_cast<int>(total % 509);
    feed.maxStep = 1 + static_cast<std::uint32_t>(total % 7919);
    EXPECT_EQ(test::DecodeBothForms(archive, feed).result, 0);
    return archive;
}

TEST(RoundTrip, EveryFormAndEdgeShapes) {
    std::mt19937 rng(1);
    const auto entries = MixedEntries(rng);
    for (int form = 0; form < 8; ++form) {
        SCOPED_TRACE(form);
        ExpectRoundTrip(entries, Form(6, form), true, form == 5 ? 4567 : 0, form == 2 ? 100 : 0);
    }
    std::vector<ArchiveEntry> many;
    for (int i = 0; i < 2000; ++i)
        many.push_back({"f" + std::to_string(i), 0, Data('t', rng() % 50, rng)});
    const std::vector<std::vector<ArchiveEntry>> shapes = {
        {}, {{"only-empty", 0, {}}}, {{"a", 1, {'x'}}}, {{"run", 2, Bytes(100000, 'z')}}, many};
    for (const auto& shape : shapes) ExpectRoundTrip(shape, Form(3, 3));
    WriteOptions shallow = Form(6, 0);
    shallow.searchDepth = 4;  // newest slots only
    ExpectRoundTrip(entries, shallow);
}

// Every level reads back; the optimal parse (8 and 9, 128 KiB at a time)
// packs tighter, also across chunks; a level out of range is the nearest.
// From 7 on the writer picks the form unless fixed: the cheapest on bytes
// that do not compress.
TEST(Levels, EveryLevelRoundTripsDeeperLevelsPackTighterAndChooseTheForm) {
    std::mt19937 rng(12);
    const auto entries = MixedEntries(rng);
    const std::vector<ArchiveEntry> text{{"a", 0, Data('t', 100000, rng)},
                                         {"b", 0, Data('r', 30000, rng)}};
    std::size_t sizes[10] = {};
    for (int level = 1; level <= 9; ++level) {
        SCOPED_TRACE(level);
        ExpectRoundTrip(entries, Form(level, level % 4), level % 4 == 1);
        sizes[level] = ExpectRoundTrip(text, Form(level, 0)).size();
    }
    // On this text of ten words the lazy parse gains nothing over level 3.
    EXPECT_LT(sizes[1], 130000 / 3);
    EXPECT_LT(sizes[2], sizes[1]);
    EXPECT_LT(sizes[6], sizes[1]);
    EXPECT_LT(sizes[8], sizes[7]);
    EXPECT_LE(sizes[9], sizes[8]);

    Bytes mixed = Data('t', 120000, rng);
    for (const Bytes& part : {Data('r', 60000, rng), Data('b', 30000, rng),
                              Bytes(mixed.begin(), mixed.begin() + 90000), Bytes(70000, 0)})
        mixed.insert(mixed.end(), part.begin(), part.end());
    for (int form : {0, 3})
        ExpectRoundTrip({{"mixed", 0, mixed}, {"small", 0, Data('t', 3000, rng)}}, Form(9, form));

    const std::vector<ArchiveEntry> small{{"s", 0, Data('t', 20000, rng)}};
    Bytes outOfRange, nearest;
    for (const auto& [level, same] : {std::pair{42, 9}, std::pair{-3, 1}}) {
        ASSERT_EQ(WriteArchive(small, Form(level, 0), outOfRange, nullptr), Status::kOk);
        ASSERT_EQ(WriteArchive(small, Form(same, 0), nearest, nullptr), Status::kOk);
        EXPECT_TRUE(outOfRange == nearest) << level;
    }
    const std::vector<ArchiveEntry> binary{{"b", 0, Data('b', 60000, rng)}};
    const std::tuple<int, bool, std::uint8_t> rows[] = {
        {9, true, 0}, {7, true, 0}, {9, false, 3}, {6, true, 3}};
    for (const auto& [level, choose, flags] : rows)
        EXPECT_EQ(ExpectRoundTrip(binary, Form(level, 3, choose))[6], flags) << level << choose;
}

// What the writer refuses or what a source does wrong: a zero byte in a name,
// an empty password, an entry too large (refused before anything is read), a
// failed read (named), bytes that change between passes (the last ones are
// stored and checked).
TEST(Writer, RefusedEntriesAndSourcesThatFailOrChange) {
    Bytes out;
    std::string error;
    EXPECT_EQ(WriteArchive({{std::string("a\0b", 3), 0, {}}}, WriteOptions(), out, &error),
              Status::kInvalidArgument);
    WriteOptions noPassword = Form(6, 4);
    noPassword.password.clear();
    EXPECT_EQ(WriteArchive({{"a", 0, {}}}, noPassword, out, &error), Status::kInvalidArgument);

    int reads = 0;
    Bytes last;
    const auto read = [&](std::int64_t, std::uint8_t* buffer, std::int64_t count,
                          std::string& reason) {
        for (std::int64_t i = 0; i < count; ++i) buffer[i] = std::uint8_t('a' + (i * reads) % 23);
        last.assign(buffer, buffer + count);
        reason = "gone";
        return ++reads < 100;
    };
    EXPECT_EQ(WriteArchiveFromSources(
                  {{"small", 0, 10, read}, {"dir\\huge", 0, std::int64_t{3} << 30, read}},
                  WriteOptions(), out, &error),
              Status::kTooLarge);
    EXPECT_NE(error.find("dir\\huge"), std::string::npos) << error;
    EXPECT_EQ(reads, 0);
    ASSERT_EQ(WriteArchiveFromSources({{"moving", 0, 5000, read}}, WriteOptions(), out, &error),
              Status::kOk);
    EXPECT_GE(reads, 2) << "a sample, then the whole entry";
    const test::Decoded decoded = test::DecodeBothForms(out);
    EXPECT_TRUE(decoded.blocks.size() == 2 && decoded.blocks[1] == last);
    reads = 100;
    EXPECT_EQ(WriteArchiveFromSources({{"bad", 0, 10, read}}, WriteOptions(), out, &error),
              Status::kReadFailure);
    EXPECT_EQ(error, "cannot read bad: gone");
}

// Lengths within the limit and complete (Kraft sum 1), or the decoder's code
// construction would derive other lengths than the writer codes with.
TEST(ChooseCodeLengths, CompleteAndWithinTheLimitForAnyCounts) {
    std::vector<std::vector<std::uint64_t>> rows(2, std::vector<std::uint64_t>(768, 0));
    rows[1][600] = 1000;
    rows.emplace_back(128, 1);  // Fibonacci counts: a Huffman code would be deeper than 31
    for (std::size_t i = 2; i < 128; ++i)
        rows.back()[i] = std::min(rows.back()[i - 1] + rows.back()[i - 2], std::uint64_t{1} << 40);
    std::mt19937 rng(3);
    for (int round = 0; round < 20; ++round) {
        rows.emplace_back(1280);
        for (auto& c : rows.back()) c = rng() % 4 == 0 ? 0 : rng() % (1u << (rng() % 20));
    }
    for (std::size_t r = 0; r < rows.size(); ++r) {
        const std::vector<std::uint8_t> lengths = ChooseCodeLengths(rows[r], 31);
        double kraft = 0;
        for (std::uint8_t l : lengths) kraft += l >= 1 && l <= 31 ? std::ldexp(1.0, -l) : 2;
        EXPECT_DOUBLE_EQ(kraft, 1.0) << r;
        const test::PlainCode code = test::BuildPlainCode({lengths.begin(), lengths.end()});
        EXPECT_EQ(std::vector<std::uint8_t>(code.lengths.begin(), code.lengths.end()), lengths);
    }
    EXPECT_EQ(ChooseCodeLengths(rows[1], 31)[600], 1);
}

}  // namespace
}  // namespace qk
