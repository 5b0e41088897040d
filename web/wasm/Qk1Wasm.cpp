// The library's reading side for JavaScript, through embind.
//
// One Archive object holds one archive's bytes in the wasm heap. Every walk
// over the entries starts a fresh ArchiveReader on those bytes (the entry data
// is one stream that is only read front to back), so that saving one entry
// after another works without keeping anything decoded. Each entry's bytes are
// handed to JavaScript as a view into the heap while its batch is decoded;
// JavaScript copies what it keeps, and nothing else of the entry stays here.
//
// Only ArchiveReader and what its header brings are used. Batches are decoded
// one by one here rather than through ForEachEntry, whose decoding ahead wants
// a second thread that a build without threads does not have.
#include <emscripten/bind.h>
#include <emscripten/val.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "extract/EntryName.h"
#include "format/EntryTable.h"
#include "platform/Text.h"
#include "qk1/ArchiveReader.h"

using emscripten::val;
using qk::ArchiveReader;
using Status = ArchiveReader::Status;

namespace {

// Opens the reader over archive bytes in memory; the bytes stay owned by the
// caller and must outlive the reader.
Status OpenFromBytes(ArchiveReader& reader, const std::uint8_t* data, std::size_t size) {
    return reader.Open(data, size);
}

// Why a name must not become a path under the chosen folder, or "" when it
// may: the library's extraction check, the one qkdec and qk x make, on the
// names as a UTF-8 file system gets them. "." and empty components are
// dropped from `kept`.
std::string Refusal(const std::string& name, const std::vector<std::string>& parts,
                    std::vector<std::string>& kept) {
    kept.clear();
    qk::extract::EntryName checked;
    qk::extract::NameLimits limits;
    limits.pathMax = 1u << 20;  // a browser's folder has no path limit of its own
    switch (checked.Parse(name, '\\', qk::platform::TextMode::kUtf8, limits)) {
        case qk::extract::Refusal::kNone:
            break;
        case qk::extract::Refusal::kAbsolute:
            return "absolute";
        case qk::extract::Refusal::kDriveLetter:
            return "drive";
        case qk::extract::Refusal::kParentFolder:
            return "dotdot";
        case qk::extract::Refusal::kNoFileName:
            return "empty";
        case qk::extract::Refusal::kNameTooLong:
        case qk::extract::Refusal::kPathTooLong:
            return "long";
        default:
            return "unfit";
    }
    for (const std::string& part : parts) {
        if (!part.empty() && part != ".") kept.push_back(part);
    }
    return "";
}

val Bytes(const std::string& s) {
    // A copy, so that the value outlives any growth of the heap.
    return val::global("Uint8Array")
        .new_(emscripten::typed_memory_view(s.size(), reinterpret_cast<const std::uint8_t*>(s.data())));
}

val BytesList(const std::vector<std::string>& list) {
    val out = val::array();
    for (const std::string& s : list) out.call<void>("push", Bytes(s));
    return out;
}

class Archive {
  public:
    ~Archive() { std::free(data_); }

    // Takes over `size` bytes that JavaScript wrote at `data` (from malloc)
    // and reads the header.
    int Open(std::uintptr_t data, double size) {
        std::free(data_);
        data_ = reinterpret_cast<std::uint8_t*>(data);
        size_ = static_cast<std::size_t>(size);
        reader_ = std::make_unique<ArchiveReader>();
        return static_cast<int>(OpenFromBytes(*reader_, data_, size_));
    }

    val Header() const {
        const qk::ArchiveHeader& h = reader_->header();
        val out = val::object();
        out.set("offset", static_cast<double>(h.offset));
        out.set("flags", h.flags);
        out.set("largeModel", h.largeModel());
        out.set("insertInner", h.insertInner());
        out.set("passwordSet", h.passwordSet());
        out.set("totalSize", h.totalSize);
        out.set("tableSize", h.tableSize);
        out.set("entryCount", h.entryCount);
        out.set("dataSize", h.dataSize());
        return out;
    }

    // The password as CP932 bytes; kept for the walks when it is right.
    bool CheckPassword(const std::string& password) {
        if (reader_->CheckPassword(password) != Status::kOk) return false;
        password_ = password;
        return true;
    }

    int ReadTable() { return static_cast<int>(reader_->ReadTable('\\')); }

    // Every entry: {name (stored bytes, '\' between folders), parts (the
    // components as the format cuts them), path (the components a saved file
    // gets), refused ("" or why not), size, time}.
    val Entries() const {
        const qk::EntryTable& table = reader_->entries();
        val out = val::array();
        std::vector<std::string> kept;
        for (std::int32_t i = 0; i < table.entryCount; ++i) {
            const std::string name(table.names.Item(i));
            const std::vector<std::string> parts = qk::SplitAtSeparators(name, '\\');
            val entry = val::object();
            entry.set("name", Bytes(name));
            entry.set("parts", BytesList(parts));
            entry.set("refused", Refusal(name, parts, kept));
            entry.set("path", BytesList(kept));
            entry.set("size", table.sizes[i]);
            entry.set("time", static_cast<double>(table.times[i]));
            out.call<void>("push", entry);
        }
        return out;
    }

    val Batches() const {
        val out = val::array();
        for (const qk::Batch& b : reader_->batches()) {
            val batch = val::array();
            batch.call<void>("push", b.first);
            batch.call<void>("push", b.count);
            batch.call<void>("push", b.total);
            out.call<void>("push", batch);
        }
        return out;
    }

    // Decodes from the first batch through the one that holds entry `last`
    // (all when negative). visit(index, bytes) gets a view into the heap,
    // valid during the call, for every entry whose flag in `wanted` is set
    // (all when `wanted` is undefined); progress(done) gets the entry bytes
    // decoded so far before each step of `step` bytes. Either returning false
    // stops with kStopped. Returns {status, entry}: the first entry that was
    // not handed out (the failing batch starts there).
    val Walk(val wanted, std::int32_t last, std::int32_t step, val visit, val progress) {
        std::int32_t next = 0;
        const Status status = WalkBatches(wanted, last, step, visit, progress, next);
        val out = val::object();
        out.set("status", static_cast<int>(status));
        out.set("entry", next);
        return out;
    }

  private:
    Status WalkBatches(val& wanted, std::int32_t last, std::int32_t step, val& visit,
                       val& progress, std::int32_t& next) {
        ArchiveReader reader;
        Status status = OpenFromBytes(reader, data_, size_);
        if (status != Status::kOk) return status;
        if (reader.header().passwordSet() && reader.CheckPassword(password_) != Status::kOk) {
            return Status::kWrongPassword;
        }
        status = reader.ReadTable('\\');
        if (status != Status::kOk) return status;
        const qk::EntryTable& table = reader.entries();
        if (last < 0 || last >= table.entryCount) last = table.entryCount - 1;
        // One buffer of the largest entry's size holds any batch.
        std::unique_ptr<std::uint8_t[]> buffer(
            new (std::nothrow) std::uint8_t[table.largestSize > 0 ? table.largestSize : 1]);
        if (!buffer) return Status::kNoMemory;
        const bool all = wanted.isUndefined() || wanted.isNull();
        double done = 0;
        for (const qk::Batch& batch : reader.batches()) {
            if (batch.first > last) break;
            status = reader.DecodeBatch(batch, buffer.get(), step, [&](std::int32_t requested) {
                return progress.isUndefined() || progress(done + requested).as<bool>();
            });
            // A batch cut short decoded in full, from bytes the file does not
            // hold: it is still handed out, as the library's walk does.
            const bool cutShort = status == Status::kCutShort;
            if (status != Status::kOk && !cutShort) return status;
            std::int32_t offset = 0;
            for (std::int32_t i = batch.first; i < batch.first + batch.count; ++i) {
                const std::int32_t size = table.sizes[i];
                if (all || wanted[i].as<bool>()) {
                    const val bytes = val(emscripten::typed_memory_view(
                        static_cast<std::size_t>(size), buffer.get() + offset));
                    if (!visit(i, bytes).as<bool>()) return Status::kStopped;
                }
                offset += size;
                next = i + 1;
            }
            done += batch.total;
            if (cutShort) return status;
        }
        if (!progress.isUndefined()) progress(done);
        return Status::kOk;
    }

    std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
    std::unique_ptr<ArchiveReader> reader_;
    std::string password_;
};

}  // namespace

EMSCRIPTEN_BINDINGS(qk1) {
    emscripten::class_<Archive>("Archive")
        .constructor<>()
        .function("open", &Archive::Open)
        .function("header", &Archive::Header)
        .function("checkPassword", &Archive::CheckPassword)
        .function("readTable", &Archive::ReadTable)
        .function("entries", &Archive::Entries)
        .function("batches", &Archive::Batches)
        .function("walk", &Archive::Walk);
}
