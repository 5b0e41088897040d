#include "qk1/ArchiveWriter.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <new>
#include <stdexcept>
#include <string_view>
#include <system_error>
#include <thread>

#include "codec/InputStream.h"
#include "codec/LzDecoder.h"
#include "encoder/BitPacker.h"
#include "encoder/CodeLengths.h"
#include "encoder/LzParser.h"
#include "format/ArchiveHeader.h"
#include "format/ByteOrder.h"
#include "format/CodeModel.h"
#include "format/EntryTable.h"
#include "platform/Interrupts.h"
#include "platform/Memory.h"

namespace qk {

namespace {

constexpr int kMaxCodeLength = 31;
constexpr int kLengthSymbols = 128;
constexpr std::uint32_t kEscape = 127;
constexpr std::int64_t kFormatLimit = std::numeric_limits<std::int32_t>::max();

Status Fail(std::string* error, Status status, const std::string& reason) {
    if (error) *error = reason;
    return status;
}

// The decoder's view of the compressed bytes during verification: the bytes
// the emitter has written so far, waited for until it says it is done. The
// buffer is reserved in full before the emitter starts, so its address holds.
class EmittedStream : public InputStream {
  public:
    explicit EmittedStream(const std::uint8_t* data) : data_(data) {}

    // Called by the emitter: `size` bytes are final; `done`: no more follow.
    void Publish(std::size_t size, bool done) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            available_ = size;
            done_ = done;
        }
        changed_.notify_one();
    }

    int Read(std::uint8_t* buffer, int count) override {
        std::size_t available;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            changed_.wait(lock, [&] {
                return done_ || available_ - pos_ >= static_cast<std::size_t>(count);
            });
            available = available_;
        }
        const std::size_t n = std::min(available - pos_, static_cast<std::size_t>(count));
        std::memcpy(buffer, data_ + pos_, n);
        pos_ += n;
        return static_cast<int>(n);
    }

  private:
    const std::uint8_t* data_;
    std::size_t pos_ = 0;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::size_t available_ = 0;
    bool done_ = false;
};

// A 64-bit digest of a block's bytes. The self-check compares each decoded
// block with its input through it, after the input itself is released. Every
// step maps the state one to one for a given word, and each word one to one
// for a given state, so any one differing word always changes the result.
std::uint64_t Digest(const std::uint8_t* data, std::size_t size) {
    std::uint64_t h = 0x9E3779B97F4A7C15u ^ size;
    std::size_t i = 0;
    for (; i + 8 <= size; i += 8) {
        std::uint64_t word;
        std::memcpy(&word, data + i, 8);
        h = (h ^ word) * 0xFF51AFD7ED558CCDu;
        h ^= h >> 32;
    }
    for (; i < size; ++i) {
        h = (h ^ data[i]) * 0x100000001B3u;
        h ^= h >> 29;
    }
    return h;
}

// One LZ block: the table, or the entries of one batch back to back. `data`
// is valid only while the block's group is read in; `digest` stays.
struct Block {
    const std::uint8_t* data;
    std::int32_t size;
    std::uint64_t digest = 0;
};

// Decodes the stream block by block and compares each with its input's digest.
bool DecodesBack(InputStream& stream, const WriteOptions& options,
                 const std::vector<Block>& blocks) {
    std::unique_ptr<LzDecoder> decoder(
        new (std::nothrow) LzDecoder(&stream, options.insertInner, options.largeModel));
    if (!decoder || !decoder->valid()) return false;
    std::int32_t largest = 0;
    for (const Block& b : blocks) largest = std::max(largest, b.size);
    platform::LargeBlock buffer(static_cast<std::size_t>(largest > 0 ? largest : 1));
    if (!buffer.valid()) return false;
    for (const Block& b : blocks) {
        decoder->Reset(buffer.get(), b.size);
        if (decoder->Decode(b.size) != LzDecoder::kDone) return false;
        if (Digest(buffer.get(), static_cast<std::size_t>(b.size)) != b.digest) return false;
    }
    return true;
}

struct TokenCounts {
    std::vector<std::uint64_t> symbols;
    std::vector<std::uint64_t> lengths;
    std::uint64_t escapeBits = 0;  // size fields and values behind escapes
};

// Adds the counts of another part of the input.
void AddCounts(TokenCounts& sum, const TokenCounts& part) {
    if (sum.symbols.empty()) {
        sum = part;
        return;
    }
    for (std::size_t i = 0; i < sum.symbols.size(); ++i) sum.symbols[i] += part.symbols[i];
    for (std::size_t i = 0; i < sum.lengths.size(); ++i) sum.lengths[i] += part.lengths[i];
    sum.escapeBits += part.escapeBits;
}

TokenCounts CountTokens(const std::vector<TokenList>& tokens, bool largeModel) {
    const unsigned slotCount = largeModel ? 512 : 256;
    TokenCounts counts;
    counts.symbols.assign(largeModel ? 1280 : 768, 0);
    counts.lengths.assign(kLengthSymbols, 0);
    for (const TokenList& block : tokens) {
        block.ForEach([&](Token t) {
            ++counts.symbols[t.symbol];
            if (t.symbol >= slotCount) return;
            ++counts.lengths[std::min<std::uint32_t>(t.lengthValue, kEscape)];
            if (t.lengthValue >= kEscape)
                counts.escapeBits +=
                    5 +
                    std::max<unsigned>(1u, static_cast<unsigned>(std::bit_width(t.lengthValue)));
        });
    }
    return counts;
}

struct CodeSet {
    std::vector<std::uint8_t> symbolLengths;
    std::vector<std::uint8_t> lengthLengths;
};

CodeSet ChooseCodes(const TokenCounts& counts) {
    return {ChooseCodeLengths(counts.symbols, kMaxCodeLength),
            ChooseCodeLengths(counts.lengths, kMaxCodeLength)};
}

// Size of the coded tokens in bits under the codes their counts give.
std::uint64_t CodedBits(const TokenCounts& counts) {
    const CodeSet codes = ChooseCodes(counts);
    std::uint64_t bits = counts.escapeBits + 5 * (counts.symbols.size() + kLengthSymbols);
    for (std::size_t i = 0; i < counts.symbols.size(); ++i)
        bits += counts.symbols[i] * codes.symbolLengths[i];
    for (std::size_t i = 0; i < counts.lengths.size(); ++i)
        bits += counts.lengths[i] * codes.lengthLengths[i];
    return bits;
}

// Search effort and parse style of each level.
struct LevelPlan {
    ParserSettings settings;
    int pricePasses;  // 0: default prices; 1: from a sample; n >= 2: n - 1 full parses
    // Optimal parses of a sample that refine the prices before the last parse
    // (levels with settings.optimal).
    int refinePasses;
    bool chooseModes;
};

LevelPlan PlanFor(const WriteOptions& options) {
    const int level = std::clamp(options.level, 1, 9);
    LevelPlan plan{};
    ParserSettings& s = plan.settings;
    static constexpr struct {
        std::uint32_t depth;
        int lazy;
        std::uint32_t nice;
        bool oneByte;
        std::uint32_t minMatch;
        int pricePasses;
        bool optimal;
        int refinePasses;
        bool chooseModes;
    } kLevels[9] = {
        // depth, lazy, nice, oneByte, minMatch, pricePasses, optimal, refinePasses, chooseModes
        {32, 0, 64, false, 3, 0, false, 0, false}, {0, 0, 128, false, 3, 1, false, 0, false},
        {0, 0, 128, false, 2, 1, false, 0, false}, {0, 1, 128, false, 2, 1, false, 0, false},
        {0, 1, 256, false, 2, 1, false, 0, false}, {0, 1, 512, true, 2, 1, false, 0, false},
        {0, 1, 512, true, 2, 1, false, 0, true},   {0, 0, 256, true, 2, 1, true, 1, true},
        {0, 0, 1024, true, 2, 1, true, 2, true},
    };
    const auto& l = kLevels[level - 1];
    s.searchDepth = l.depth;
    s.lazySteps = l.lazy;
    s.niceLength = l.nice;
    s.oneByteRepeats = l.oneByte;
    s.minMatch = l.minMatch;
    plan.pricePasses = l.pricePasses;
    plan.refinePasses = l.optimal ? l.refinePasses : 0;
    s.optimal = l.optimal;
    s.optimalRounds = level == 9 ? 2 : 1;
    plan.chooseModes = l.chooseModes && options.chooseModes;
    if (options.searchDepth > 0) s.searchDepth = static_cast<std::uint32_t>(options.searchDepth);
    return plan;
}

int ThreadCount(const WriteOptions& options) {
    if (options.threads > 0) return std::min(options.threads, 64);
    const unsigned n = std::thread::hardware_concurrency();
    return n == 0 ? 1 : static_cast<int>(std::min(n, 64u));
}

// Runs task(index, worker) for every index below `count` on up to `threads`
// threads; worker numbers are 0..threads-1, so per-worker state needs no lock.
// A task that throws (memory ran out) stops the others from taking more work;
// the first exception is thrown again in the caller once every thread is
// joined, where the writer turns it into its status.
template <class Task>
void RunTasks(std::size_t count, int threads, const Task& task) {
    const int workers = static_cast<int>(std::min<std::size_t>(count, std::max(threads, 1)));
    std::atomic<std::size_t> next{0};
    std::mutex failedLock;
    std::exception_ptr failed;
    auto work = [&](int worker) {
        try {
            for (std::size_t i = next++; i < count; i = next++) task(i, worker);
        } catch (...) {
            next = count;
            const std::lock_guard<std::mutex> lock(failedLock);
            if (!failed) failed = std::current_exception();
        }
    };
    std::vector<std::thread> pool;
    {
        const platform::InterruptsHeld held;  // the helpers never take them
        for (int w = 1; w < workers; ++w) {
            try {
                pool.emplace_back(work, w);
            } catch (const std::system_error&) {
                break;  // fewer threads; the others take the work
            }
        }
    }
    work(0);
    for (std::thread& t : pool) t.join();
    if (failed) std::rethrow_exception(failed);
}

// Parses every block with fresh rings, blocks side by side on `threads`
// threads (batches restart the history, so they are independent).
bool ParseBlocks(const std::vector<Block>& blocks, const ParserSettings& settings,
                 const PriceTable& prices, int threads, std::vector<TokenList>& tokens) {
    tokens.assign(blocks.size(), {});
    const int workers =
        static_cast<int>(std::min<std::size_t>(blocks.size(), std::max(threads, 1)));
    std::vector<std::unique_ptr<LzParser>> parsers;
    for (int w = 0; w < std::max(workers, 1); ++w) {
        parsers.emplace_back(new (std::nothrow) LzParser(settings));
        if (!parsers.back() || !parsers.back()->valid()) return false;
        parsers.back()->SetPrices(prices);
    }
    RunTasks(blocks.size(), workers, [&](std::size_t i, int worker) {
        tokens[i].reserve(static_cast<std::size_t>(blocks[i].size) / 4 + 16);
        parsers[static_cast<std::size_t>(worker)]->ParseBlock(blocks[i].data, blocks[i].size,
                                                              tokens[i]);
    });
    return true;
}

// ===========================================================================
// The input: the table and the batches, read a group of blocks at a time
// ===========================================================================

// The blocks of the archive as they are read: block 0 is the table, held by
// the writer; block k > 0 is batch k - 1, read from its entries' sources.
class InputBlocks {
  public:
    InputBlocks(const std::vector<EntrySource>& entries, const std::vector<std::uint8_t>& table,
                const std::vector<Batch>& batches)
        : entries_(entries), table_(table), batches_(batches) {}

    std::size_t count() const { return batches_.size() + 1; }
    std::int32_t size(std::size_t block) const {
        return block == 0 ? static_cast<std::int32_t>(table_.size()) : batches_[block - 1].total;
    }

    // Places the first `count` bytes of `block` at `out`.
    Status Read(std::size_t block, std::int32_t count, std::uint8_t* out,
                std::string* error) const {
        if (block == 0) {
            if (count > 0) std::memcpy(out, table_.data(), static_cast<std::size_t>(count));
            return Status::kOk;
        }
        const Batch& batch = batches_[block - 1];
        for (std::int32_t i = 0; i < batch.count && count > 0; ++i) {
            const EntrySource& entry = entries_[static_cast<std::size_t>(batch.first + i)];
            const std::int64_t n = std::min<std::int64_t>(entry.size, count);
            std::string reason;
            if (n > 0 && (!entry.read || !entry.read(0, out, n, reason))) {
                return Fail(error, Status::kReadFailure,
                            "cannot read " + entry.name + (reason.empty() ? "" : ": " + reason));
            }
            out += n;
            count -= static_cast<std::int32_t>(n);
        }
        return Status::kOk;
    }

  private:
    const std::vector<EntrySource>& entries_;
    const std::vector<std::uint8_t>& table_;
    const std::vector<Batch>& batches_;
};

// Slices from the start of the blocks, spread over all of them, for quick
// trial parses: about an eighth of the input and at most 8 MiB. Read into
// `bytes`, which the returned blocks point into.
Status ReadSample(const InputBlocks& input, std::vector<std::uint8_t>& bytes,
                  std::vector<Block>& sample, std::string* error) {
    std::int64_t total = 0;
    for (std::size_t k = 0; k < input.count(); ++k) total += input.size(k);
    const std::int64_t budget = std::min<std::int64_t>(
        std::max<std::int64_t>(total / 8, std::min<std::int64_t>(total, 1 << 20)), 8 << 20);
    const std::int64_t share = std::max<std::int64_t>(
        64 << 10, budget / std::max<std::int64_t>(1, static_cast<std::int64_t>(input.count())));
    std::vector<std::pair<std::size_t, std::int32_t>> slices;  // block, bytes
    std::int64_t taken = 0;
    for (std::size_t k = 0; k < input.count() && taken < budget; ++k) {
        const std::int32_t size =
            static_cast<std::int32_t>(std::min<std::int64_t>(input.size(k), share));
        if (size > 0) slices.emplace_back(k, size);
        taken += size;
    }
    bytes.resize(static_cast<std::size_t>(taken));
    sample.clear();
    std::size_t at = 0;
    for (const auto& [block, size] : slices) {
        const Status status = input.Read(block, size, bytes.data() + at, error);
        if (status != Status::kOk) return status;
        sample.push_back({bytes.data() + at, size});
        at += static_cast<std::size_t>(size);
    }
    return Status::kOk;
}

constexpr std::int64_t kDefaultGroupBytes = 8 << 20;

constexpr std::int64_t kDefaultKeptParseBytes = 64 << 20;

// Reads the blocks group by group, consecutive blocks of at most `budget`
// bytes together (a larger block alone), and hands each group to `parse`
// (its blocks, the indices of its first block and of the block after it);
// its bytes are released before the next group is read. Each block's digest
// is set in `blocks`. False from `parse` stops with kNoMemory.
template <class Parse>
Status ForEachGroup(const InputBlocks& input, std::int64_t budget, std::vector<Block>& blocks,
                    std::string* error, const Parse& parse) {
    std::vector<std::uint8_t> bytes;
    std::size_t k = 0;
    while (k < input.count()) {
        std::int64_t total = 0;
        std::size_t end = k;
        while (end < input.count() && (end == k || total + input.size(end) <= budget)) {
            total += input.size(end);
            ++end;
        }
        bytes.resize(static_cast<std::size_t>(total));
        std::vector<Block> group;
        std::size_t at = 0;
        for (std::size_t b = k; b < end; ++b) {
            const std::int32_t size = input.size(b);
            const Status status = input.Read(b, size, bytes.data() + at, error);
            if (status != Status::kOk) return status;
            const std::uint8_t* data = bytes.data() + at;
            group.push_back({data, size, Digest(data, static_cast<std::size_t>(size))});
            blocks[b].digest = group.back().digest;
            at += static_cast<std::size_t>(size);
        }
        if (!parse(group, k, end)) return Fail(error, Status::kNoMemory, "not enough memory");
        k = end;
    }
    return Status::kOk;
}

// Hands the tokens of every block, in order, to `emit`: kOk, or what stopped
// them (the input read again may fail).
using TokenBlocks = std::function<Status(const std::function<void(const TokenList&)>& emit)>;

Status Emit(std::size_t entryCount, const WriteOptions& options,
            const std::vector<std::uint8_t>& table, std::int64_t total,
            const std::vector<Block>& blocks, const TokenCounts& counts, const TokenBlocks& tokens,
            std::vector<std::uint8_t>& out, std::string* error) {
    // Code lengths from the counts; the codewords are the decoder's own.
    const int symbolCount = options.largeModel ? 1280 : 768;
    const unsigned slotCount = options.largeModel ? 512 : 256;
    const CodeSet codeSet = ChooseCodes(counts);
    const std::vector<std::uint8_t>& symbolLengths = codeSet.symbolLengths;
    const std::vector<std::uint8_t>& lengthLengths = codeSet.lengthLengths;
    std::vector<std::uint32_t> symbolCodes(symbolLengths.size()), lengthCodes(lengthLengths.size());
    std::vector<std::uint16_t> symbolBits(symbolLengths.size()), lengthBits(lengthLengths.size());
    if (!BuildCodeFromLengths(symbolLengths.data(), symbolCount, symbolCodes.data(),
                              symbolBits.data()) ||
        !BuildCodeFromLengths(lengthLengths.data(), kLengthSymbols, lengthCodes.data(),
                              lengthBits.data())) {
        return Fail(error, Status::kNoMemory, "not enough memory");
    }
    for (int i = 0; i < symbolCount; ++i) {
        if (symbolBits[i] != symbolLengths[i])
            return Fail(error, Status::kVerifyFailed, "internal error: code lengths not complete");
    }

    // Header, code-length block, then every token.
    ArchiveHeader header;
    header.flags =
        static_cast<std::uint8_t>((options.largeModel ? 1 : 0) | (options.insertInner ? 2 : 0) |
                                  (options.usePassword ? 4 : 0));
    PasswordKey key{{0, 0, 0, 0}, 0};
    if (options.usePassword) key = DeriveKey(options.password);
    header.passwordCheck = key.check;
    header.totalSize = static_cast<std::int32_t>(total);
    header.tableSize = static_cast<std::int32_t>(table.size());
    header.entryCount = static_cast<std::int32_t>(entryCount);

    // The archive's exact size is known from the counts, so the buffer is
    // reserved once and the verification decodes beside the emitter, a chunk
    // behind it.
    std::uint64_t codedBits = counts.escapeBits + 5 * (symbolLengths.size() + kLengthSymbols);
    for (std::size_t i = 0; i < counts.symbols.size(); ++i)
        codedBits += counts.symbols[i] * symbolBits[i];
    for (std::size_t i = 0; i < counts.lengths.size(); ++i)
        codedBits += counts.lengths[i] * lengthBits[i];
    const std::size_t archiveSize = kHeaderSize + static_cast<std::size_t>((codedBits + 7) / 8);
    out.clear();
    out.reserve(archiveSize);
    out.assign(kHeaderSize, 0);
    FormatHeader(header, out.data());
    const std::uint8_t* const emittedStart = out.data() + kHeaderSize;
    EmittedStream emitted(emittedStart);
    bool decodedBack = false;
    std::thread verifier;
    if (options.verify) {
        const platform::InterruptsHeld held;  // the verifier never takes them
        try {
            verifier = std::thread([&] { decodedBack = DecodesBack(emitted, options, blocks); });
        } catch (const std::system_error&) {
        }
    }
    // Every way out of here, early or not, lets the verifier finish.
    struct Join {
        EmittedStream& emitted;
        std::vector<std::uint8_t>& out;
        std::thread& verifier;
        ~Join() {
            if (verifier.joinable()) {
                emitted.Publish(out.size() - kHeaderSize, true);
                verifier.join();
            }
        }
    } join{emitted, out, verifier};
    constexpr std::size_t kPublishEvery = std::size_t{1} << 16;
    std::size_t published = 0;
    BitPacker bits(out);
    for (std::uint8_t l : symbolLengths) bits.Put(l, 5);
    for (std::uint8_t l : lengthLengths) bits.Put(l, 5);
    const Status produced = tokens([&](const TokenList& block) {
        block.ForEach([&](Token t) {
            bits.PutCode(symbolCodes[t.symbol], symbolBits[t.symbol]);
            if (t.symbol >= slotCount) return;
            if (t.lengthValue < kEscape) {
                bits.PutCode(lengthCodes[t.lengthValue], lengthBits[t.lengthValue]);
            } else {
                const unsigned n =
                    std::max<unsigned>(1u, static_cast<unsigned>(std::bit_width(t.lengthValue)));
                bits.PutCode(lengthCodes[kEscape], lengthBits[kEscape]);
                bits.Put(n - 1, 5);
                bits.Put(t.lengthValue, n);
            }
        });
        if (verifier.joinable() && out.size() - published >= kPublishEvery) {
            published = out.size();
            emitted.Publish(published - kHeaderSize, false);
        }
    });
    const auto finishVerifier = [&] {
        if (!verifier.joinable()) return;
        emitted.Publish(out.size() - kHeaderSize, true);
        verifier.join();
    };
    if (produced != Status::kOk) {
        finishVerifier();
        out.clear();
        return produced;
    }
    bits.Flush();
    if (out.size() != archiveSize || out.data() + kHeaderSize != emittedStart) {
        finishVerifier();
        out.clear();
        return Fail(error, Status::kVerifyFailed,
                    "internal error: the archive's size was misjudged");
    }
    if (verifier.joinable()) {
        finishVerifier();
    } else if (options.verify) {
        EmittedStream whole(out.data() + kHeaderSize);
        whole.Publish(out.size() - kHeaderSize, true);
        decodedBack = DecodesBack(whole, options, blocks);
    }

    if (options.verify && !decodedBack) {
        out.clear();
        return Fail(error, Status::kVerifyFailed,
                    "internal error: the archive does not decode back to its input");
    }
    if (options.usePassword) {
        for (std::size_t i = kHeaderSize; i < out.size(); ++i)
            out[i] ^= key.key[(i - kHeaderSize) & 3];
    }
    return Status::kOk;
}

Status Write(const std::vector<EntrySource>& entries, const WriteOptions& options,
             std::vector<std::uint8_t>& out, std::string* error) {
    if (entries.size() > static_cast<std::size_t>(kFormatLimit / 8))
        return Fail(error, Status::kTooLarge, "too many entries");
    if (options.usePassword && options.password.empty())
        return Fail(error, Status::kInvalidArgument, "the password is empty");

    // The entry table: sizes, times, then the names with their zero bytes.
    // Every size is checked before any entry is read.
    std::vector<std::uint8_t> table;
    std::vector<std::int32_t> sizes;
    std::int64_t total = 0;
    for (const EntrySource& e : entries) {
        if (e.size < 0 || e.size > kFormatLimit) {
            return Fail(error, Status::kTooLarge,
                        "entry too large for the format (at most 2,147,483,647 bytes): " + e.name);
        }
        if (e.name.find('\0') != std::string::npos)
            return Fail(error, Status::kInvalidArgument, "a name holds a zero byte");
        sizes.push_back(static_cast<std::int32_t>(e.size));
        total += e.size;
    }
    std::vector<std::uint32_t> times;
    std::vector<std::string_view> names;
    for (const EntrySource& e : entries) {
        times.push_back(e.time);
        names.push_back(e.name);
    }
    FormatEntryTable(sizes, times, names, table);
    total += static_cast<std::int64_t>(table.size());
    if (total > kFormatLimit)
        return Fail(error, Status::kTooLarge, "archive content too large for the format (2 GiB)");

    // LZ blocks: the table, then every batch by the decoder's batch rule.
    const std::int32_t largest = sizes.empty() ? 0 : *std::max_element(sizes.begin(), sizes.end());
    const std::vector<Batch> batches = FormBatches(sizes, largest);
    const InputBlocks input(entries, table, batches);
    std::vector<Block> blocks;
    for (std::size_t k = 0; k < input.count(); ++k) blocks.push_back({nullptr, input.size(k)});

    const LevelPlan plan = PlanFor(options);
    ParserSettings settings = plan.settings;
    settings.largeModel = options.largeModel;
    settings.insertInner = options.insertInner;
    const int threads = ThreadCount(options);
    const std::int64_t groupBytes =
        options.groupBytes > 0 ? options.groupBytes : kDefaultGroupBytes;
    std::vector<TokenList> tokens;

    std::vector<std::uint8_t> sampleBytes;
    std::vector<Block> sample;
    if (plan.chooseModes || plan.pricePasses == 1) {
        const Status status = ReadSample(input, sampleBytes, sample, error);
        if (status != Status::kOk) return status;
    }

    if (plan.chooseModes) {
        // The four forms on a sample, side by side; the smallest wins.
        std::uint64_t bits[4] = {};
        bool ok[4] = {};
        RunTasks(4, threads, [&](std::size_t form, int) {
            ParserSettings s = settings;
            s.largeModel = form & 1;
            s.insertInner = form & 2;
            // The forms are compared under the quicker lazy parse.
            s.optimal = false;
            s.lazySteps = 1;
            std::vector<TokenList> t;
            ok[form] = ParseBlocks(sample, s, PriceTable::Default(s.largeModel), 1, t);
            if (ok[form]) bits[form] = CodedBits(CountTokens(t, s.largeModel));
        });
        // Forms in the order of their decoding cost: the large model has twice
        // the ring memory, inner positions cost a ring check per copied byte.
        // A costlier form must save 1% (inner positions 3%) to be taken.
        int best = -1;
        for (int form : {0, 1, 2, 3}) {
            const std::uint64_t margin = bits[form] / ((form & 2) ? 33 : 100);
            if (ok[form] && (best < 0 || bits[form] + margin < bits[best])) best = form;
        }
        if (best < 0) return Fail(error, Status::kNoMemory, "not enough memory");
        settings.largeModel = best & 1;
        settings.insertInner = best & 2;
    }

    // Prices: the code lengths of an earlier parse, of a sample or of everything.
    PriceTable prices = PriceTable::Default(settings.largeModel);
    const auto pricesFrom = [&](const TokenCounts& counts) {
        const CodeSet codes = ChooseCodes(counts);
        prices = PriceTable::FromCodeLengths(settings.largeModel, codes.symbolLengths,
                                             codes.lengthLengths, counts.symbols);
    };
    // The optimal parse starts from the prices of a quick parse of the
    // sample, then parses the sample again with the prices its own last
    // parse gave.
    if (plan.pricePasses == 1) {
        for (int pass = 0; pass <= plan.refinePasses; ++pass) {
            ParserSettings passSettings = settings;
            passSettings.optimal = settings.optimal && pass > 0;
            if (!ParseBlocks(sample, passSettings, prices, threads, tokens))
                return Fail(error, Status::kNoMemory, "not enough memory");
            pricesFrom(CountTokens(tokens, settings.largeModel));
        }
    }
    for (int pass = 0; pass + 1 < plan.pricePasses; ++pass) {
        TokenCounts counts;
        const Status status =
            ForEachGroup(input, groupBytes, blocks, error,
                         [&](const std::vector<Block>& group, std::size_t, std::size_t) {
                             if (!ParseBlocks(group, settings, prices, threads, tokens))
                                 return false;
                             AddCounts(counts, CountTokens(tokens, settings.largeModel));
                             return true;
                         });
        if (status != Status::kOk) return status;
        pricesFrom(counts);
    }
    sampleBytes = {};
    sample.clear();

    // The last parse. The codes are chosen from the counts of all of it
    // before the first token is written, so its tokens are kept for the
    // emission while they fit keptParseBytes; beyond that they are dropped and
    // the input is read and parsed once more as it is written, which keeps
    // the memory of a large archive bounded at the price of a second parse.
    const std::size_t keptParseBytes = static_cast<std::size_t>(
        options.keptParseBytes > 0 ? options.keptParseBytes : kDefaultKeptParseBytes);
    TokenCounts counts;
    std::vector<TokenList> kept;
    std::size_t keptBytes = 0;
    bool keeping = true;
    const Status status =
        ForEachGroup(input, groupBytes, blocks, error,
                     [&](const std::vector<Block>& group, std::size_t, std::size_t) {
                         if (!ParseBlocks(group, settings, prices, threads, tokens)) return false;
                         AddCounts(counts, CountTokens(tokens, settings.largeModel));
                         for (TokenList& t : tokens) {
                             keptBytes += t.bytes();
                             if (keeping) kept.push_back(std::move(t));
                         }
                         if (keeping && keptBytes > keptParseBytes) {
                             keeping = false;
                             std::vector<TokenList>().swap(kept);
                         }
                         return true;
                     });
    if (status != Status::kOk) return status;
    std::vector<TokenList>().swap(tokens);
    const TokenBlocks produce = [&](const std::function<void(const TokenList&)>& emit) {
        if (keeping) {
            for (const TokenList& t : kept) emit(t);
            return Status::kOk;
        }
        return ForEachGroup(input, groupBytes, blocks, error,
                            [&](const std::vector<Block>& group, std::size_t, std::size_t) {
                                if (!ParseBlocks(group, settings, prices, threads, tokens))
                                    return false;
                                for (const TokenList& t : tokens) emit(t);
                                return true;
                            });
    };

    WriteOptions used = options;
    used.largeModel = settings.largeModel;
    used.insertInner = settings.insertInner;
    return Emit(entries.size(), used, table, total, blocks, counts, produce, out, error);
}

// Vectors that cannot grow throw; the writer's promise is a status.
Status WriteCaught(const std::vector<EntrySource>& entries, const WriteOptions& options,
                   std::vector<std::uint8_t>& out, std::string* error) {
    try {
        return Write(entries, options, out, error);
    } catch (const std::bad_alloc&) {
    } catch (const std::length_error&) {
    }
    out.clear();
    return Fail(error, Status::kNoMemory, "not enough memory");
}

// Sources over entries held in memory.
std::vector<EntrySource> SourcesOf(const std::vector<ArchiveEntry>& entries) {
    std::vector<EntrySource> sources;
    sources.reserve(entries.size());
    for (const ArchiveEntry& e : entries) {
        const std::vector<std::uint8_t>* data = &e.data;
        sources.push_back(
            {e.name, e.time, static_cast<std::int64_t>(e.data.size()),
             [data](std::int64_t offset, std::uint8_t* buffer, std::int64_t count, std::string&) {
                 std::memcpy(buffer, data->data() + offset, static_cast<std::size_t>(count));
                 return true;
             }});
    }
    return sources;
}

}  // namespace

Status WriteArchive(const std::vector<ArchiveEntry>& entries, const WriteOptions& options,
                    std::vector<std::uint8_t>& out, std::string* error) {
    try {
        return WriteCaught(SourcesOf(entries), options, out, error);
    } catch (const std::bad_alloc&) {
        return Fail(error, Status::kNoMemory, "not enough memory");
    }
}

Status WriteArchive(std::vector<ArchiveEntry>&& entries, const WriteOptions& options,
                    std::vector<std::uint8_t>& out, std::string* error) {
    const std::vector<ArchiveEntry> taken = std::move(entries);
    return WriteArchive(taken, options, out, error);
}

Status WriteArchiveFromSources(const std::vector<EntrySource>& entries, const WriteOptions& options,
                               std::vector<std::uint8_t>& out, std::string* error) {
    return WriteCaught(entries, options, out, error);
}

Status MakeSelfExtracting(const std::vector<std::uint8_t>& programImage,
                          const std::vector<std::uint8_t>& archive,
                          std::vector<std::uint8_t>& out) {
    try {
        out.clear();
        out.reserve(programImage.size() + archive.size() + kTrailerSize);
        out.insert(out.end(), programImage.begin(), programImage.end());
        out.insert(out.end(), archive.begin(), archive.end());
        AppendBigEndian32(out, static_cast<std::uint32_t>(archive.size()));
    } catch (const std::bad_alloc&) {
        out.clear();
        return Status::kNoMemory;
    }
    return Status::kOk;
}

}  // namespace qk
