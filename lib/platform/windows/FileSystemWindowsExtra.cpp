// Windows side of the start-up guard of the standard streams.
#include <io.h>

#include <cstdio>

#include "platform/FileSystem.h"

namespace qk::platform {

// A program started without one of its standard handles has a stream with
// no descriptor behind it (_fileno gives a negative value); the null device
// takes its place, so that reading an answer finds the end of the input.
void GuardStandardStreams() {
    struct Stream {
        std::FILE* file;
        const char* mode;
    };
    const Stream streams[] = {{stdin, "rb"}, {stdout, "wb"}, {stderr, "wb"}};
    for (const Stream& stream : streams) {
        if (::_fileno(stream.file) < 0) std::freopen("NUL", stream.mode, stream.file);
    }
}

}  // namespace qk::platform
