// Writes the sample archive: MakeSample samples/sample.qk1
#include <cstdio>
#include <fstream>
#include <string>

#include "SampleTree.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: MakeSample OUTPUT.qk1\n");
        return 1;
    }
    std::vector<std::uint8_t> archive;
    std::string error;
    if (qk::test::WriteSampleArchive(archive, &error) != qk::Status::kOk) {
        std::fprintf(stderr, "MakeSample: %s\n", error.c_str());
        return 1;
    }
    std::ofstream out(argv[1], std::ios::binary);
    out.write(reinterpret_cast<const char*>(archive.data()),
              static_cast<std::streamsize>(archive.size()));
    if (!out) {
        std::fprintf(stderr, "MakeSample: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
