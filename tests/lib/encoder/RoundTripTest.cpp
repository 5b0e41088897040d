// Archives written by the writer and read back by the library's reader: every
// flag combination, passwords, self-extracting files, and data shaped to
// stress the rings (runs, repeats, binaries, many small and empty entries,
// entries longer than a ring's reach).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>

#include "format/ArchiveHeader.h"
#include "format/EntryTable.h"
#include "qk1/ArchiveReader.h"
#include "qk1/ArchiveWriter.h"
#include "support/ReferenceDecoder.h"
#include "support/TestSupport.h"

namespace qk {
namespace {

using test::Bytes;

Bytes Text(std::size_t size, std::mt19937& rng) {
    static const char* kWords[] = {
        "the ", "archive ", "decoder ", "ring ", "\x83\x74\x83\x40\x83\x43\x83\x8b ",
        "\n",   "slot ",    "context ", "0123 ", "data "};
    Bytes out;
    while (out.size() < size) {
        const char* w = kWords[rng() % 10];
        out.insert(out.end(), w, w + std::strlen(w));
    }
    out.resize(size);
    return out;
}

Bytes Binary(std::size_t size, std::mt19937& rng) {
    Bytes out(size);
    for (auto& b : out) b = static_cast<std::uint8_t>(rng());
    return out;
}

Bytes Runs(std::size_t size, std::mt19937& rng) {
    Bytes out;
    while (out.size() < size)
        out.insert(out.end(), 1 + rng() % 700, static_cast<std::uint8_t>(rng() % 3));
    out.resize(size);
    return out;
}

std::vector<ArchiveEntry> MixedEntries(std::mt19937& rng) {
    std::vector<ArchiveEntry> entries;
    auto add = [&](std::string name, Bytes data) {
        entries.push_back({std::move(name), static_cast<std::uint32_t>(rng()), std::move(data)});
    };
    add("readme.txt", Text(5000, rng));
    add("empty", {});
    add("dir/sub\\bin.dat", Binary(3000, rng));
    add("\x95\x5C\\runs.bin", Runs(20000, rng));
    add("", Text(17, rng));
    for (int i = 0; i < 30; ++i) add("small/" + std::to_string(i), Text(rng() % 400, rng));
    add("empty2", {});
    // Longer than any ring can reach back (256 or 512 entries per context).
    Bytes repeated = Text(30000, rng);
    const Bytes copy(repeated.begin(), repeated.begin() + 20000);
    repeated.insert(repeated.end(), copy.begin(), copy.end());
    add("long.txt", repeated);
    return entries;
}

void ExpectRoundTrip(const std::vector<ArchiveEntry>& entries, const WriteOptions& options,
                     bool selfExtracting = false) {
    Bytes archive;
    std::string error;
    ASSERT_EQ(WriteArchive(entries, options, archive, &error), Status::kOk) << error;
    if (selfExtracting) {
        std::vector<std::uint8_t> program;
        ASSERT_EQ(MakeSelfExtracting(Bytes(4567, 0xCC), archive, program), Status::kOk);
        archive = std::move(program);
    }
    test::TempDir dir;
    const std::string path = dir.path() + "/t.qk1";
    test::WriteFileBytes(path, archive);

    ArchiveReader reader;
    ASSERT_EQ(reader.Open(path), ArchiveReader::Status::kOk);
    EXPECT_EQ(reader.header().offset, selfExtracting ? 4567 : 0);
    EXPECT_EQ(reader.header().largeModel(), options.largeModel);
    EXPECT_EQ(reader.header().insertInner(), options.insertInner);
    ASSERT_EQ(reader.header().passwordSet(), options.usePassword);
    if (options.usePassword) {
        ASSERT_EQ(reader.CheckPassword(options.password), Status::kOk);
    }
    ASSERT_EQ(reader.ReadTable('\\'), ArchiveReader::Status::kOk);
    const EntryTable& table = reader.entries();
    ASSERT_EQ(table.entryCount, static_cast<std::int32_t>(entries.size()));
    std::size_t visited = 0;
    const auto status =
        reader.ForEachEntry([&](std::int32_t i, const std::uint8_t* data, std::int32_t size) {
            const ArchiveEntry& e = entries[static_cast<std::size_t>(i)];
            std::string name = e.name;
            NormaliseSeparators(name, '\\');
            EXPECT_EQ(table.names.Item(i), name);
            EXPECT_EQ(table.times[i], e.time);
            EXPECT_EQ(Bytes(data, data + size), e.data) << e.name;
            ++visited;
            return true;
        });
    EXPECT_EQ(status, ArchiveReader::Status::kOk);
    EXPECT_EQ(visited, entries.size());
}

TEST(RoundTrip, EveryFlagCombinationAndPassword) {
    std::mt19937 rng(1);
    const auto entries = MixedEntries(rng);
    for (int flags = 0; flags < 8; ++flags) {
        WriteOptions o;
        o.largeModel = flags & 1;
        o.insertInner = flags & 2;
        o.usePassword = flags & 4;
        o.password = "\x83\x70\x83\x58 word";  // Shift-JIS bytes enter as signed
        SCOPED_TRACE(flags);
        ExpectRoundTrip(entries, o, flags == 5);
    }
}

TEST(RoundTrip, EdgeShapedArchives) {
    std::mt19937 rng(2);
    WriteOptions o;
    ExpectRoundTrip({}, o);                              // no entries at all
    ExpectRoundTrip({{"only-empty", 0, {}}}, o);         // largest size 0
    ExpectRoundTrip({{"a", 1, {'x'}}}, o);               // a one-byte block
    ExpectRoundTrip({{"r", 2, Bytes(100000, 'z')}}, o);  // one long run: escaped lengths
    std::vector<ArchiveEntry> many;
    for (int i = 0; i < 2000; ++i)
        many.push_back({"f" + std::to_string(i), 0, Text(rng() % 50, rng)});
    ExpectRoundTrip(many, o);  // many batches
    o.searchDepth = 4;
    ExpectRoundTrip(MixedEntries(rng), o);
}

TEST(RoundTrip, RandomEntriesInRandomModes) {
    std::mt19937 rng(9);
    for (int round = 0; round < 25; ++round) {
        std::vector<ArchiveEntry> entries;
        const int count = static_cast<int>(rng() % 12);
        for (int i = 0; i < count; ++i) {
            const std::size_t size = rng() % 3 == 0 ? 0 : rng() % 6000;
            Bytes data = rng() % 3 == 0 ? Binary(size, rng)
                         : rng() % 2    ? Text(size, rng)
                                        : Runs(size, rng);
            entries.push_back({"e" + std::to_string(i), static_cast<std::uint32_t>(rng()), data});
        }
        WriteOptions o;
        o.largeModel = rng() & 1;
        o.insertInner = rng() & 1;
        o.usePassword = rng() & 1;
        o.password = std::to_string(rng());
        ExpectRoundTrip(entries, o);
    }
}

TEST(RoundTrip, WalkWithProgressStopsWhereAsked) {
    // Five entries of 3,000 bytes: one batch each (a batch holds no more
    // than the largest entry).
    std::mt19937 rng(7);
    std::vector<ArchiveEntry> entries;
    for (int i = 0; i < 5; ++i) entries.push_back({"e" + std::to_string(i), 0, Text(3000, rng)});
    Bytes archive;
    ASSERT_EQ(WriteArchive(entries, WriteOptions(), archive, nullptr), Status::kOk);
    test::TempDir dir;
    const std::string path = dir.path() + "/walk.qk1";
    test::WriteFileBytes(path, archive);

    const auto open = [&](ArchiveReader& reader) {
        ASSERT_EQ(reader.Open(path), ArchiveReader::Status::kOk);
        ASSERT_EQ(reader.ReadTable('\\'), ArchiveReader::Status::kOk);
        ASSERT_EQ(reader.batches().size(), 5u);
    };
    // Steps of 1,000 bytes: three reports a batch, rising through the walk;
    // the walk ends after the batch of entry `last`.
    ArchiveReader reader;
    open(reader);
    std::vector<std::int64_t> reports;
    std::vector<std::int32_t> visited;
    const auto visit = [&](std::int32_t i, const std::uint8_t* data, std::int32_t size) {
        EXPECT_EQ(Bytes(data, data + size), entries[static_cast<std::size_t>(i)].data);
        visited.push_back(i);
        return true;
    };
    const auto report = [&](std::int64_t decoded) {
        reports.push_back(decoded);
        return true;
    };
    EXPECT_EQ(reader.ForEachEntry(visit, 1000, report, 2), ArchiveReader::Status::kOk);
    EXPECT_EQ(visited, (std::vector<std::int32_t>{0, 1, 2}));
    EXPECT_EQ(reports,
              (std::vector<std::int64_t>{0, 1000, 2000, 3000, 4000, 5000, 6000, 7000, 8000}));

    // A report answered false stops before that step: nothing of its batch
    // is visited.
    ArchiveReader stopped;
    open(stopped);
    visited.clear();
    EXPECT_EQ(stopped.ForEachEntry(
                  visit, 1000, [](std::int64_t decoded) { return decoded < 4000; }, 4),
              ArchiveReader::Status::kStopped);
    EXPECT_EQ(visited, (std::vector<std::int32_t>{0}));
}

TEST(Writer, EntriesTakenOverGiveTheSameArchive) {
    std::mt19937 rng(11);
    const auto entries = MixedEntries(rng);
    for (int level : {1, 6, 9}) {
        WriteOptions options;
        options.level = level;
        Bytes copied, taken;
        ASSERT_EQ(WriteArchive(entries, options, copied, nullptr), Status::kOk);
        std::vector<ArchiveEntry> handed = entries;
        ASSERT_EQ(WriteArchive(std::move(handed), options, taken, nullptr), Status::kOk);
        EXPECT_EQ(taken, copied) << "level " << level;
    }
}

TEST(Writer, RefusesWhatTheFormatCannotHold) {
    Bytes out;
    std::string error;
    WriteOptions o;
    EXPECT_NE(WriteArchive({{std::string("a\0b", 3), 0, {}}}, o, out, &error), Status::kOk);
    EXPECT_FALSE(error.empty());
    o.usePassword = true;
    EXPECT_NE(WriteArchive({{"a", 0, {}}}, o, out, &error), Status::kOk);
}

// Entries read through callbacks, each read recorded.
struct Sources {
    std::vector<EntrySource> entries;
    std::vector<std::pair<std::size_t, std::int64_t>> reads;  // entry, bytes asked for
};

Sources SourcesOver(const std::vector<ArchiveEntry>& entries) {
    Sources sources;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const ArchiveEntry* entry = &entries[i];
        auto* reads = &sources.reads;
        sources.entries.push_back(
            {entry->name, entry->time, static_cast<std::int64_t>(entry->data.size()),
             [entry, reads, i](std::int64_t offset, std::uint8_t* buffer, std::int64_t count,
                               std::string&) {
                 reads->emplace_back(i, count);
                 std::memcpy(buffer, entry->data.data() + offset, static_cast<std::size_t>(count));
                 return true;
             }});
    }
    return sources;
}

// Entries read on demand, a group of batches at a time, give the archive
// that the same entries in memory give, at a level of each parse style.
TEST(Writer, EntriesReadOnDemandGiveTheSameArchive) {
    std::mt19937 rng(12);
    const std::vector<ArchiveEntry> entries = MixedEntries(rng);
    for (const int level : {1, 6, 9}) {
        WriteOptions options;
        options.level = level;
        Bytes fromMemory, fromSources;
        ASSERT_EQ(WriteArchive(entries, options, fromMemory, nullptr), Status::kOk);
        options.groupBytes = 4096;   // many groups
        options.keptParseBytes = 1;  // parsed again while written
        Sources sources = SourcesOver(entries);
        std::string error;
        ASSERT_EQ(WriteArchiveFromSources(sources.entries, options, fromSources, &error),
                  Status::kOk)
            << error;
        EXPECT_TRUE(fromSources == fromMemory) << "level " << level;
        // The last pass reads every entry whole (an empty one not at all), in order.
        const auto filled = std::count_if(entries.begin(), entries.end(),
                                          [](const ArchiveEntry& e) { return !e.data.empty(); });
        std::vector<std::size_t> lastPass;
        for (auto it = sources.reads.end() - filled; it != sources.reads.end(); ++it) {
            lastPass.push_back(it->first);
            EXPECT_EQ(it->second, static_cast<std::int64_t>(entries[it->first].data.size()));
        }
        EXPECT_TRUE(std::is_sorted(lastPass.begin(), lastPass.end())) << "level " << level;
    }
}

// What a source does wrong: too large (refused before anything is read), a
// failed read (named), bytes that change between passes (the last ones are
// stored and checked).
TEST(Writer, SourcesThatFailOrChange) {
    int calls = 0;
    const auto counting = [&calls](std::int64_t, std::uint8_t* buffer, std::int64_t count,
                                   std::string&) {
        ++calls;
        std::memset(buffer, 'x', static_cast<std::size_t>(count));
        return true;
    };
    Bytes out;
    std::string error;
    const std::vector<EntrySource> huge = {{"small", 0, 10, counting},
                                           {"dir\\huge", 0, std::int64_t{3} << 30, counting}};
    EXPECT_EQ(WriteArchiveFromSources(huge, WriteOptions(), out, &error), Status::kTooLarge);
    EXPECT_NE(error.find("dir\\huge"), std::string::npos) << error;
    EXPECT_NE(error.find("2,147,483,647"), std::string::npos) << error;
    EXPECT_EQ(calls, 0);

    const std::vector<EntrySource> failing = {
        {"good", 0, 10, counting},
        {"bad", 0, 10, [](std::int64_t, std::uint8_t*, std::int64_t, std::string& reason) {
             reason = "gone";
             return false;
         }}};
    EXPECT_EQ(WriteArchiveFromSources(failing, WriteOptions(), out, &error), Status::kReadFailure);
    EXPECT_EQ(error, "cannot read bad: gone");

    // Every read gives other bytes: the archive holds those of the last pass.
    Bytes last;
    int reads = 0;
    const std::vector<EntrySource> changing = {
        {"moving", 0, 5000,
         [&](std::int64_t, std::uint8_t* buffer, std::int64_t count, std::string&) {
             ++reads;
             for (std::int64_t i = 0; i < count; ++i)
                 buffer[i] = static_cast<std::uint8_t>('a' + (i * reads) % 23);
             last.assign(buffer, buffer + count);
             return true;
         }}};
    ASSERT_EQ(WriteArchiveFromSources(changing, WriteOptions(), out, &error), Status::kOk) << error;
    EXPECT_GE(reads, 2) << "a sample, then the whole entry";
    ArchiveReader reader;
    ASSERT_EQ(reader.Open(out.data(), out.size()), Status::kOk);
    ASSERT_EQ(reader.ReadTable('/'), Status::kOk);
    Bytes decoded;
    ASSERT_EQ(reader.ForEachEntry([&](std::int32_t, const std::uint8_t* data, std::int32_t size) {
        decoded.assign(data, data + size);
        return true;
    }),
              Status::kOk);
    EXPECT_TRUE(decoded == last);
}

TEST(Writer, CompressesText) {
    std::mt19937 rng(4);
    const Bytes text = Text(200000, rng);
    Bytes out;
    ASSERT_EQ(WriteArchive({{"t", 0, text}}, WriteOptions{}, out, nullptr), Status::kOk);
    EXPECT_LT(out.size(), text.size() / 3);
}

// Every level writes an archive that reads back, in every form; deeper levels
// never come out larger on text, and level 9 picks its own form.
TEST(Levels, EveryLevelRoundTripsAndDeeperLevelsPackTighter) {
    std::mt19937 rng(12);
    const auto entries = MixedEntries(rng);
    std::vector<ArchiveEntry> text{{"a", 0, Text(150000, rng)}, {"b", 0, Runs(50000, rng)}};
    std::size_t sizes[10] = {};
    for (int level = 1; level <= 9; ++level) {
        SCOPED_TRACE(level);
        WriteOptions o;
        o.level = level;
        o.largeModel = level % 2 == 0;
        o.insertInner = level % 3 == 0;
        o.chooseModes = false;
        ExpectRoundTrip(entries, o);
        WriteOptions same;
        same.level = level;
        same.chooseModes = false;
        Bytes archive;
        ASSERT_EQ(WriteArchive(text, same, archive, nullptr), Status::kOk);
        sizes[level] = archive.size();
    }
    EXPECT_LT(sizes[3], sizes[1]);
    EXPECT_LT(sizes[6], sizes[1]);
    EXPECT_LE(sizes[9], sizes[6] + sizes[6] / 100);

    WriteOptions outOfRange;
    outOfRange.level = 42;  // taken as the deepest level
    ExpectRoundTrip(entries, outOfRange);
    outOfRange.level = -3;  // and as the fastest
    ExpectRoundTrip(entries, outOfRange);
}

// Batches are parsed on several threads; the archive must not depend on how
// many, or on which thread finished first.
TEST(Levels, ThreadCountDoesNotChangeTheArchive) {
    std::mt19937 rng(13);
    std::vector<ArchiveEntry> entries;
    for (int i = 0; i < 60; ++i) {
        entries.push_back({"f" + std::to_string(i), 0,
                           i % 5 == 0 ? Binary(rng() % 9000, rng) : Text(rng() % 9000, rng)});
    }
    for (int level : {1, 6, 9}) {
        Bytes one, four;
        WriteOptions o;
        o.level = level;
        o.threads = 1;
        ASSERT_EQ(WriteArchive(entries, o, one, nullptr), Status::kOk);
        o.threads = 4;
        ASSERT_EQ(WriteArchive(entries, o, four, nullptr), Status::kOk);
        EXPECT_EQ(one, four) << level;
    }
}

// At level 9 the form is chosen per archive unless the caller fixes it.
TEST(Levels, ChosenFormIsRecordedInTheHeader) {
    std::mt19937 rng(14);
    const Bytes text = Text(300000, rng);
    WriteOptions o;
    o.level = 9;
    Bytes chosen, fixed;
    ASSERT_EQ(WriteArchive({{"t", 0, text}}, o, chosen, nullptr), Status::kOk);
    o.chooseModes = false;
    ASSERT_EQ(WriteArchive({{"t", 0, text}}, o, fixed, nullptr), Status::kOk);
    EXPECT_EQ(fixed[6], 0);  // small model, no inner positions, as asked
    EXPECT_LE(chosen.size(), fixed.size() + fixed.size() / 100);
    ExpectRoundTrip({{"t", 0, text}}, o);
}

// Enough text that every ring fills and wraps many times over, in both
// insertion modes and model sizes: the writer and the production decoder share
// the rings, so only the plain form, which keeps its own, can tell a fault in
// them (such as counting a full ring again after each wrap).
TEST(RoundTrip, LargeTextDecodesByThePlainFormInEveryMode) {
    // Words of common letters, each with one byte of its own from 0x80 up:
    // the letters' rings wrap all the time, while a word's own byte has a
    // ring that fills slowly, from positions inside copied words.
    std::mt19937 rng(11);
    std::vector<Bytes> words(128);
    for (std::size_t w = 0; w < words.size(); ++w) {
        for (int i = 0; i < 3 + static_cast<int>(rng() % 6); ++i)
            words[w].push_back(static_cast<std::uint8_t>('a' + rng() % 26));
        words[w].insert(words[w].begin() + static_cast<long>(rng() % words[w].size()),
                        static_cast<std::uint8_t>(0x80 + w));
    }
    Bytes text;
    while (text.size() < (1u << 20)) {
        const Bytes& w = words[rng() % words.size()];
        text.insert(text.end(), w.begin(), w.end());
        text.push_back(rng() % 8 ? ' ' : '\n');
    }
    for (int mode = 0; mode < 4; ++mode) {
        WriteOptions options;
        options.level = 2;
        options.chooseModes = false;
        options.largeModel = mode & 1;
        options.insertInner = mode & 2;
        Bytes archive;
        ASSERT_EQ(WriteArchive({{"big.txt", 0, text}}, options, archive, nullptr), Status::kOk);
        const test::PlainArchive plain = test::DecodeWithPlainForm(archive);
        ASSERT_EQ(plain.result, 0) << "mode " << mode;
        ASSERT_EQ(plain.batches.size(), 1u);
        EXPECT_TRUE(plain.batches[0] == text) << "mode " << mode;
    }
}

// The optimal parse (levels 8 and 9) works a chunk of 128 KiB at a time with
// a look-ahead after it and two passes over copies of the rings: blocks that
// cross several chunks, in every form, with the self-check on; and it codes
// them in no more bytes than the lazy parse of level 7. (On this made-up text
// of ten words the two come close; on real text level 9 saves some 5%.)
TEST(Levels, OptimalParseRoundTripsAcrossChunksAndBeatsTheLazyParse) {
    std::mt19937 rng(77);
    Bytes mixed = Text(200000, rng);
    const Bytes runs = Runs(150000, rng), binary = Binary(90000, rng);
    mixed.insert(mixed.end(), runs.begin(), runs.end());
    mixed.insert(mixed.end(), binary.begin(), binary.end());
    const Bytes again(mixed.begin() + 1000, mixed.begin() + 150000);
    mixed.insert(mixed.end(), again.begin(), again.end());  // long repeats
    mixed.insert(mixed.end(), 70000, 0);                    // escaped lengths
    const std::vector<ArchiveEntry> entries{{"mixed", 0, mixed}, {"small", 0, Text(3000, rng)}};
    for (int form = 0; form < 4; ++form) {
        SCOPED_TRACE(form);
        std::size_t sizes[10] = {};
        for (int level : {7, 8, 9}) {
            WriteOptions o;
            o.level = level;
            o.largeModel = form & 1;
            o.insertInner = form & 2;
            o.chooseModes = false;
            ExpectRoundTrip(entries, o);
            Bytes archive;
            ASSERT_EQ(WriteArchive(entries, o, archive, nullptr), Status::kOk);
            sizes[level] = archive.size();
        }
        EXPECT_LE(sizes[8], sizes[7]);
        EXPECT_LE(sizes[9], sizes[7]);
    }
}

}  // namespace
}  // namespace qk
