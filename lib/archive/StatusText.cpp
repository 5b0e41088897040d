#include "qk1/Status.h"

namespace qk {

const char* StatusText(Status status) {
    switch (status) {
        case Status::kOk:
            return "OK";
        case Status::kOpenFailure:
            return "cannot open the file";
        case Status::kReadFailure:
            return "cannot read the file (shorter than an archive header)";
        case Status::kNotArchive:
            return "not a qk1 archive";
        case Status::kWrongPassword:
            return "wrong password";
        case Status::kNoMemory:
            return "not enough memory";
        case Status::kOverrun:
            return "damaged data (a copy runs past the end of its block)";
        case Status::kBadReference:
            return "damaged data (a reference to data that is not there)";
        case Status::kBadTable:
            return "damaged entry table";
        case Status::kStopped:
            return "stopped";
        case Status::kInvalidArgument:
            return "invalid input";
        case Status::kTooLarge:
            return "too large for the format";
        case Status::kVerifyFailed:
            return "the written archive does not decode back to its input";
        case Status::kCutShort:
            return "the archive is cut short";
    }
    return "unknown failure";
}

}  // namespace qk
