// The one error model of the qk1 library: every operation that can fail
// returns a Status, and StatusText says what it means in a few words.
#pragma once

namespace qk {

enum class Status {
    kOk,
    kOpenFailure,      // the archive file cannot be opened
    kReadFailure,      // fewer than 20 bytes could be read at its start; a writer's entry could not be read
    kNotArchive,       // no signature at the start nor through a self-extracting trailer
    kWrongPassword,    // the password's check value differs from the archive's
    kNoMemory,         // a table, ring or buffer cannot be allocated
    kOverrun,          // damaged data: a copy would run past the end of its block
    kBadReference,     // damaged data: a reference to data that is not there
    kBadTable,         // the decoded entry table is inconsistent
    kStopped,          // a callback asked to stop
    kInvalidArgument,  // the caller's input cannot be stored (a name with a zero byte, an empty password)
    kTooLarge,         // beyond the format's limits (2 GiB per entry and per archive)
    kVerifyFailed,     // a written archive did not decode to its input
    kCutShort,         // the file ends early: a batch was decoded from bits past its end
};

// A short English text for `status`, without a closing full stop.
const char* StatusText(Status status);

}  // namespace qk
