// Writes the sample archive that the repository ships, with the writer's
// default options: MakeSample samples/sample.qk1. Shift-JIS names in nested
// folders, an empty file, a binary, and sizes that cut the entries into three
// batches: [1, 2, 3], [4], [5, 6].
#include <cstdio>
#include <fstream>
#include <string>

#include "format/EntryTable.h"
#include "qk1/ArchiveWriter.h"
#include "support/TestSupport.h"

namespace {

using qk::test::Bytes;
using qk::test::Sjis;

Bytes Of(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

// `line` (Shift-JIS) repeated, with a line number, up to `size` bytes, less
// one where the cut would fall inside a double-byte character.
Bytes Lines(const std::string& line, std::size_t size) {
    std::string text;
    for (int n = 1; text.size() < size; ++n) text += std::to_string(n) + ": " + line + "\r\n";
    std::size_t end = 0;
    while (end < size) {
        const std::size_t next =
            end + (qk::IsLeadByte(static_cast<std::uint8_t>(text[end])) ? 2 : 1);
        if (next > size) break;
        end = next;
    }
    text.resize(end);
    return Of(text);
}

// A small gray-scale ramp: bytes that do not repeat like text.
Bytes Ramp(std::size_t size) {
    Bytes data(size);
    std::uint32_t state = 12345;
    for (std::size_t i = 0; i < size; ++i) {
        state = state * 1103515245u + 12345u;
        data[i] = static_cast<std::uint8_t>((i % 256) ^ (state >> 28));
    }
    return data;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<qk::ArchiveEntry> tree = {
        {Sjis("はじめに.txt"), 946684800,
         Of(Sjis("このアーカイブは qkdec の見本です。\r\n"
                 "フォルダと日本語の名前、空のファイル、いくつかのバッチを含みます。\r\n"))},
        {Sjis("文書\\議事録\\2024年度.txt"), 1711929600,
         Lines(Sjis("議事録：表示と保存の確認を行った。"), 2000)},
        {Sjis("文書\\議事録\\空のメモ.txt"), 1711933200, {}},
        {Sjis("画像/表紙.bin"), 1234567890, Ramp(3000)},
        {"data/table.csv", 1500000000, Lines("id,name,size,time", 800)},
        {Sjis("ソース\\main.c"), 1600000000,
         Of("#include <stdio.h>\n\nint main(void)\n{\n    puts(\"qkdec sample\");\n"
            "    return 0;\n}\n")},
    };
    Bytes archive;
    std::string error;
    if (argc != 2 ||
        qk::WriteArchive(tree, qk::WriteOptions(), archive, &error) != qk::Status::kOk) {
        std::fprintf(stderr, "usage: MakeSample OUTPUT.qk1 %s\n", error.c_str());
        return 1;
    }
    std::ofstream out(argv[1], std::ios::binary);
    out.write(reinterpret_cast<const char*>(archive.data()),
              static_cast<std::streamsize>(archive.size()));
    return out ? 0 : 1;
}
