#include "qk/ArchiveSession.h"

#include "qk/EntryPath.h"
#include "qk/Output.h"
#include "qk/PasswordPrompt.h"

namespace qk::tool {

using Status = ArchiveReader::Status;

std::string DescribeStatus(Status status) {
    // A damaged archive may claim sizes that no memory holds.
    if (status == Status::kNoMemory) return "not enough memory (the archive may be damaged)";
    return StatusText(status);
}

void ArchiveSession::Fail(const std::string& reason) {
    error_ = reason;
    if (reportErrors_) Error(shownPath_ + ": " + reason);
}

bool ArchiveSession::SettlePassword() {
    const ArchiveHeader& h = reader_.header();
    if (!h.passwordSet()) return true;
    if (options_.passwordGiven) {
        if (reader_.CheckPassword(codec_.PasswordKey(options_.password)) == Status::kOk)
            return true;
        Fail(DescribeStatus(Status::kWrongPassword));
        return false;
    }
    for (int attempt = 0; attempt < 3; ++attempt) {
        const std::optional<std::string> typed = AskPassword("Password for " + shownPath_ + ": ");
        if (!typed) {
            Fail("the archive needs a password (give it with -p)");
            return false;
        }
        if (reader_.CheckPassword(codec_.PasswordKey(*typed)) == Status::kOk) return true;
        Error(shownPath_ + ": " + DescribeStatus(Status::kWrongPassword));
    }
    error_ = DescribeStatus(Status::kWrongPassword);
    return false;
}

bool ArchiveSession::Open(const std::string& path) {
    path_ = path;
    shownPath_ = ShowNative(path);
    Status status = reader_.Open(path);
    if (status == Status::kOk && !SettlePassword()) return false;
    if (status == Status::kOk) status = reader_.ReadTable('\\');
    if (status != Status::kOk) {
        Fail(DescribeStatus(status));
        return false;
    }
    return true;
}

std::string ArchiveSession::DisplayName(std::int32_t i) const {
    return ShownName(StoredName(i), codec_);
}

std::string ArchiveSession::BatchNames(std::int32_t i) const {
    constexpr std::int32_t kNamed = 5;
    for (const Batch& batch : reader_.batches()) {
        if (i < batch.first || i >= batch.first + batch.count) continue;
        std::string names = batch.count == 1 ? "entry " : "entries ";
        for (std::int32_t k = 0; k < batch.count && k < kNamed; ++k) {
            if (k) names += ", ";
            names += DisplayName(batch.first + k);
        }
        if (batch.count > kNamed) names += " and " + Grouped(batch.count - kNamed) + " more";
        return names;
    }
    return "entry " + DisplayName(i);
}

std::int64_t ArchiveSession::TotalSize() const {
    std::int64_t total = 0;
    for (std::int32_t size : entries().sizes) total += size;
    return total;
}

Status ArchiveSession::Walk(const Visit& visit, const std::function<void(std::int64_t)>& progress,
                            std::int32_t last) {
    constexpr std::int32_t kStep = 1 << 18;
    const auto report = [&](std::int64_t decoded) {
        if (progress) progress(decoded);
        return true;
    };
    const Status status = reader_.ForEachEntry(visit, kStep, report, last);
    if (status == Status::kOk && progress) {
        std::int64_t total = 0;
        for (const Batch& batch : reader_.batches()) {
            if (batch.first <= last) total += batch.total;
        }
        progress(total);
    }
    return status;
}

}  // namespace qk::tool
