// The whole archive read from untrusted bytes, as the console program does it:
// header (plain or through a self-extracting trailer), password, entry table,
// then every batch with progress steps. Besides the sanitizers it checks what
// the reader promises: statuses from the documented set, batches that cover
// every entry within the largest entry's size, progress that only rises, and
// walks over the entries that make the calls of the plain loop over batches.
//
// The archive lives in a memory-backed file descriptor so that the reader sees
// a real file size, which the self-extracting trailer needs.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "FuzzSupport.h"
#include "format/ArchiveHeader.h"
#include "qk1/ArchiveReader.h"

namespace {

using qk::ArchiveReader;
using Status = qk::ArchiveReader::Status;

// A claimed size is honoured up to this much here. Larger claims are a matter
// of memory, not of decoding: the format lets a few bytes expand to any size,
// so an archive that really produces gigabytes is legal and only slow.
constexpr std::int32_t kMaxClaim = 1 << 24;
// Decoded bytes per input, so that legal expansion cannot turn into a timeout.
constexpr std::int64_t kOutputBudget = std::int64_t{1} << 26;

std::FILE* MemoryFile(const std::uint8_t* data, std::size_t size) {
    const int fd = memfd_create("qk1", 0);
    if (fd < 0) return nullptr;
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = write(fd, data + done, size - done);
        if (n <= 0) {
            close(fd);
            return nullptr;
        }
        done += static_cast<std::size_t>(n);
    }
    std::FILE* file = fdopen(fd, "rb");
    if (!file) close(fd);
    return file;
}

bool IsDecodeStatus(Status s) {
    return s == Status::kOk || s == Status::kOverrun || s == Status::kBadReference ||
           s == Status::kCutShort;
}

std::int32_t BatchStep(unsigned selector) {
    return selector == 0 ? 0 : std::int32_t{1} << (2 * selector - 2);  // 1, 4, ..., 2^28
}

// The calls of a walk, folded into one hash; the 40th call asks to stop.
struct WalkLog {
    std::uint64_t hash = 1469598103934665603ull;
    int calls = 0;
    void Mix(std::uint64_t value) { hash = (hash ^ value) * 1099511628211ull; }
    bool Next() { return ++calls != 40; }
    bool Progress(std::int64_t decoded) {
        Mix(1);
        Mix(static_cast<std::uint64_t>(decoded));
        return Next();
    }
    bool Visit(std::int32_t index, const std::uint8_t* bytes, std::int32_t length) {
        Mix(2);
        Mix(static_cast<std::uint64_t>(index));
        for (std::int32_t i = 0; i < length; ++i) Mix(bytes[i]);
        return Next();
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::size_t passwordLength = data[0] & 15;
    const unsigned stepSelector = data[0] >> 4;
    if (size < 1 + passwordLength) return 0;
    const std::string password(reinterpret_cast<const char*>(data + 1), passwordLength);

    std::FILE* file = MemoryFile(data + 1 + passwordLength, size - 1 - passwordLength);
    if (!file) return 0;
    ArchiveReader reader;
    const Status opened = reader.Open(file);
    if (opened != Status::kOk) {
        QK_FUZZ_CHECK(opened == Status::kReadFailure || opened == Status::kNotArchive);
        return 0;
    }
    const qk::ArchiveHeader& header = reader.header();
    QK_FUZZ_CHECK(header.offset >= 0);
    // A wrong password only scrambles the stream further: decode on regardless.
    if (header.passwordSet()) reader.CheckPassword(password);
    if (header.tableSize > kMaxClaim) return 0;

    const Status table = reader.ReadTable(stepSelector & 1 ? '/' : '\\');
    if (table != Status::kOk) {
        QK_FUZZ_CHECK(IsDecodeStatus(table) || table == Status::kBadTable ||
                      table == Status::kNoMemory);
        return 0;
    }

    const qk::EntryTable& entries = reader.entries();
    QK_FUZZ_CHECK(entries.entryCount == header.entryCount);
    QK_FUZZ_CHECK(entries.names.Count() == entries.entryCount);
    std::int64_t sum = 0;
    std::int32_t largest = 0;
    for (std::int32_t size : entries.sizes) {
        QK_FUZZ_CHECK(size >= 0);
        sum += size;
        if (size > largest) largest = size;
    }
    QK_FUZZ_CHECK(largest == entries.largestSize);
    const std::vector<qk::Batch> batches = reader.batches();
    std::int32_t next = 0;
    for (const qk::Batch& b : batches) {
        QK_FUZZ_CHECK(b.first == next && b.count >= 1);
        std::int64_t total = 0;
        for (std::int32_t i = b.first; i < b.first + b.count; ++i) total += entries.sizes[i];
        QK_FUZZ_CHECK(total == b.total && b.total <= entries.largestSize);
        next = b.first + b.count;
    }
    QK_FUZZ_CHECK(next == entries.entryCount);
    if (entries.largestSize > kMaxClaim) return 0;

    // Some inputs go through ForEachEntry, which decodes ahead on a second
    // thread where batches are small, and must make the same calls as the
    // plain loop over DecodeBatch on a second reader of the same bytes; the
    // others batch by batch with progress steps.
    if (stepSelector >= 14 && sum <= kOutputBudget) {
        const std::int32_t walkStep = stepSelector == 15 ? 0 : 4096;
        const std::int32_t last = entries.entryCount - 1 - (entries.entryCount > 2 ? 1 : 0);
        WalkLog walked;
        const Status s = reader.ForEachEntry(
            [&](std::int32_t index, const std::uint8_t* bytes, std::int32_t length) {
                QK_FUZZ_CHECK(length == entries.sizes[index]);
                return walked.Visit(index, bytes, length);
            },
            walkStep, [&](std::int64_t decoded) { return walked.Progress(decoded); }, last);
        QK_FUZZ_CHECK(IsDecodeStatus(s) || s == Status::kStopped);

        std::FILE* again = MemoryFile(data + 1 + passwordLength, size - 1 - passwordLength);
        if (!again) return 0;
        ArchiveReader plain;
        QK_FUZZ_CHECK(plain.Open(again) == Status::kOk);
        if (header.passwordSet()) plain.CheckPassword(password);
        QK_FUZZ_CHECK(plain.ReadTable(stepSelector & 1 ? '/' : '\\') == Status::kOk);
        std::unique_ptr<std::uint8_t[]> buffer(
            new std::uint8_t[entries.largestSize > 0 ? entries.largestSize : 1]);
        WalkLog looped;
        Status p = Status::kOk;
        std::int64_t done = 0;
        for (const qk::Batch& b : batches) {
            if (b.first > last) break;
            p = plain.DecodeBatch(
                b, buffer.get(), walkStep > 0 ? walkStep : b.total,
                [&](std::int32_t requested) { return looped.Progress(done + requested); });
            // A batch cut short decoded in full and is still handed out.
            const bool cutShort = p == Status::kCutShort;
            if (p != Status::kOk && !cutShort) break;
            std::int32_t offset = 0;
            for (std::int32_t i = b.first; i < b.first + b.count && p != Status::kStopped; ++i) {
                if (!looped.Visit(i, buffer.get() + offset, entries.sizes[i])) p = Status::kStopped;
                offset += entries.sizes[i];
            }
            if (p != Status::kOk) break;
            done += b.total;
        }
        QK_FUZZ_CHECK(p == s);
        QK_FUZZ_CHECK(looped.hash == walked.hash && looped.calls == walked.calls);
        return 0;
    }

    std::unique_ptr<std::uint8_t[]> buffer(
        new std::uint8_t[entries.largestSize > 0 ? entries.largestSize : 1]);
    const std::int32_t step = BatchStep(stepSelector & 14);
    std::int64_t spent = 0;
    for (const qk::Batch& b : batches) {
        spent += b.total;
        if (spent > kOutputBudget) break;
        std::int64_t last = -1;
        const Status s = reader.DecodeBatch(b, buffer.get(), step, [&](std::int32_t requested) {
            QK_FUZZ_CHECK(requested > last && requested < b.total);
            last = requested;
            return true;
        });
        QK_FUZZ_CHECK(IsDecodeStatus(s));
        if (s != Status::kOk) break;
        unsigned sink = 0;
        for (std::int32_t i = 0; i < b.total; i += 97) sink += buffer[i];
        if (sink == 0xFFFFFFFFu) std::fputc(' ', stderr);
    }
    return 0;
}
