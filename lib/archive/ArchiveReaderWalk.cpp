// Walking the entries of an archive: batch by batch, in turn or with the
// decoding of the next batches on a second thread.
//
// Decoding ahead changes nothing the caller can see but the time. The decoder
// runs on its own thread and only counts the progress calls a walk in turn
// would make before each of its Decode steps; the calling thread makes those
// calls, then the visits, batch after batch. A decoding failure is reported
// after the progress calls that came before the failing step, a stop asked by
// a progress call before the step it would have started.
#ifndef _WIN32
#endif

#include <algorithm>
#include <condition_variable>
#include <initializer_list>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

#include "archive/ReaderState.h"
#include "platform/Interrupts.h"
#include "qk1/ArchiveReader.h"

namespace qk {

namespace {

// Batches are decoded ahead when none is larger than this: the two buffers
// then stay within a few MiB.
constexpr std::int32_t kAheadLargest = 4 << 20;
// A buffer takes at least this much, so that small batches pass from one
// thread to the other many at a time.
constexpr std::int32_t kAheadChunk = 1 << 20;

std::int32_t StepOf(const Batch& batch, std::int32_t step) {
    return step > 0 ? step : batch.total;
}

}  // namespace

Status ArchiveReader::PrepareWalk() {
    if (!state_) return Status::kBadTable;
    if (state_->walkBuffers[0]) return Status::kOk;
    const std::int32_t largest = entries_.largestSize;
    const bool ahead = largest <= kAheadLargest && batches().size() > 1;
    state_->walkCapacity = ahead ? std::max(largest, kAheadChunk) : std::max(largest, 1);
    for (int b = 0; b < (ahead ? 2 : 1); ++b) {
        state_->walkBuffers[b].reset(new (std::nothrow)
                                  platform::LargeBlock(static_cast<std::size_t>(state_->walkCapacity)));
        if (!state_->walkBuffers[b] || !state_->walkBuffers[b]->valid()) {
            state_->walkBuffers[0].reset();
            state_->walkBuffers[1].reset();
            return Status::kNoMemory;
        }
    }
    return Status::kOk;
}

Status ArchiveReader::ForEachEntry(const Visit& visit) {
    return ForEachEntry(visit, 0, nullptr, entries_.entryCount - 1);
}

Status ArchiveReader::ForEachEntry(const Visit& visit, std::int32_t step,
                                                  const WalkProgress& progress, std::int32_t last) {
    Status status = PrepareWalk();
    if (status != Status::kOk) return status;
    std::vector<Batch> wanted = batches();
    while (!wanted.empty() && wanted.back().first > last) wanted.pop_back();
    status = state_->walkBuffers[1] && wanted.size() > 1 ? WalkAhead(wanted, visit, step, progress)
                                                  : WalkInTurn(wanted, visit, step, progress);
    state_->walkBuffers[0].reset();
    state_->walkBuffers[1].reset();
    return status;
}

Status ArchiveReader::WalkInTurn(const std::vector<Batch>& wanted,
                                                const Visit& visit, std::int32_t step,
                                                const WalkProgress& progress) {
    std::uint8_t* const buffer = state_->walkBuffers[0]->get();
    std::int64_t done = 0;
    for (const Batch& batch : wanted) {
        const Status status = DecodeBatch(
            batch, buffer, StepOf(batch, step),
            [&](std::int32_t requested) { return !progress || progress(done + requested); });
        if (status != Status::kOk && status != Status::kCutShort) return status;
        std::int32_t offset = 0;
        for (std::int32_t i = batch.first; i < batch.first + batch.count; ++i) {
            if (!visit(i, buffer + offset, entries_.sizes[i])) return Status::kStopped;
            offset += entries_.sizes[i];
        }
        if (status == Status::kCutShort) return status;
        done += batch.total;
    }
    return Status::kOk;
}

Status ArchiveReader::WalkAhead(const std::vector<Batch>& wanted, const Visit& visit,
                                               std::int32_t step, const WalkProgress& progress) {
    // What the decoding thread did with one batch.
    struct Decoded {
        std::size_t batch;    // index in `wanted`
        std::int64_t offset;  // where it starts in its buffer
        Status status;
        std::int64_t calls;  // progress calls a walk in turn would have made
    };
    // A buffer and the batches in it; `full` hands it over to the caller's
    // thread, clearing it hands it back.
    struct Part {
        std::vector<Decoded> batches;
        bool full = false;
    };
    Part parts[2];
    std::mutex mutex;
    std::condition_variable changed;
    bool quit = false;
    bool finished = false;  // the decoding thread has nothing more to hand over

    auto decodeAll = [&] {
        struct Finish {
            std::mutex& mutex;
            std::condition_variable& changed;
            bool& finished;
            ~Finish() {
                {
                    std::lock_guard<std::mutex> lock(mutex);
                    finished = true;
                }
                changed.notify_all();
            }
        } finish{mutex, changed, finished};
        std::size_t next = 0;
        for (int b = 0; next < wanted.size(); b ^= 1) {
            {
                std::unique_lock<std::mutex> lock(mutex);
                changed.wait(lock, [&] { return quit || !parts[b].full; });
                if (quit) return;
            }
            std::vector<Decoded> decoded;
            std::int64_t offset = 0;
            bool failed = false;
            while (next < wanted.size()) {
                const Batch& batch = wanted[next];
                if (!decoded.empty() && offset + batch.total > state_->walkCapacity) break;
                std::int64_t calls = 0;
                const Status status = DecodeBatch(batch, state_->walkBuffers[b]->get() + offset,
                                                  StepOf(batch, step), [&](std::int32_t) {
                                                      ++calls;
                                                      return true;
                                                  });
                decoded.push_back({next, offset, status, calls});
                ++next;
                offset += batch.total;
                if (status != Status::kOk) {
                    failed = true;
                    break;
                }
            }
            {
                std::lock_guard<std::mutex> lock(mutex);
                parts[b].batches = std::move(decoded);
                parts[b].full = true;
            }
            changed.notify_all();
            if (failed) return;
        }
    };

    // Ends the decoding thread however this function is left.
    struct Joiner {
        std::thread thread;
        std::mutex& mutex;
        std::condition_variable& changed;
        bool& quit;
        ~Joiner() {
            if (!thread.joinable()) return;
            {
                std::lock_guard<std::mutex> lock(mutex);
                quit = true;
            }
            changed.notify_all();
            thread.join();
        }
    } joiner{std::thread(), mutex, changed, quit};
    bool started = true;
    {
        const platform::InterruptsHeld held;  // the decoding thread never takes them
        try {
            joiner.thread = std::thread(decodeAll);
        } catch (const std::system_error&) {
            started = false;
        }
    }
    if (!started) return WalkInTurn(wanted, visit, step, progress);  // no second thread: in turn

    std::int64_t done = 0;
    for (int b = 0;; b ^= 1) {
        {
            std::unique_lock<std::mutex> lock(mutex);
            changed.wait(lock, [&] { return parts[b].full || finished; });
            // Every batch asked for is handed over before the thread ends,
            // up to a failing one; anything else would be a fault here, and
            // must not leave the caller waiting.
            if (!parts[b].full) return Status::kBadTable;
        }
        const std::uint8_t* const buffer = state_->walkBuffers[b]->get();
        for (const Decoded& d : parts[b].batches) {
            const Batch& batch = wanted[d.batch];
            const std::int64_t batchStep = StepOf(batch, step);
            for (std::int64_t call = 0; call < d.calls; ++call) {
                if (progress && !progress(done + call * batchStep)) return Status::kStopped;
            }
            if (d.status != Status::kOk && d.status != Status::kCutShort) return d.status;
            std::int64_t offset = d.offset;
            for (std::int32_t i = batch.first; i < batch.first + batch.count; ++i) {
                if (!visit(i, buffer + offset, entries_.sizes[i])) return Status::kStopped;
                offset += entries_.sizes[i];
            }
            // The decoding thread stopped after this batch.
            if (d.status == Status::kCutShort) return d.status;
            done += batch.total;
            if (d.batch + 1 == wanted.size()) return Status::kOk;
        }
        {
            std::lock_guard<std::mutex> lock(mutex);
            parts[b].batches.clear();
            parts[b].full = false;
        }
        changed.notify_all();
    }
}

}  // namespace qk
