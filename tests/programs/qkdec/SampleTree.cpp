#include "SampleTree.h"

#include <string>

#include "format/EntryTable.h"
#include "platform/Text.h"

namespace qk::test {

namespace {

std::string Sjis(const std::string& utf8) {
    std::string cp932;
    platform::Utf8ToCp932(utf8, cp932);
    return cp932;
}

std::vector<std::uint8_t> Bytes(const std::string& text) {
    return std::vector<std::uint8_t>(text.begin(), text.end());
}

// `line` (Shift-JIS) repeated, with a line number, up to `size` bytes, less
// one where the cut would fall inside a double-byte character.
std::vector<std::uint8_t> Lines(const std::string& line, std::size_t size) {
    std::string text;
    for (int n = 1; text.size() < size; ++n) text += std::to_string(n) + ": " + line + "\r\n";
    std::size_t end = 0;
    while (end < size) {
        const std::size_t next = end + (IsLeadByte(static_cast<std::uint8_t>(text[end])) ? 2 : 1);
        if (next > size) break;
        end = next;
    }
    text.resize(end);
    return Bytes(text);
}

// A small gray-scale ramp: bytes that do not repeat like text.
std::vector<std::uint8_t> Ramp(std::size_t size) {
    std::vector<std::uint8_t> data(size);
    std::uint32_t state = 12345;
    for (std::size_t i = 0; i < size; ++i) {
        state = state * 1103515245u + 12345u;
        data[i] = static_cast<std::uint8_t>((i % 256) ^ (state >> 28));
    }
    return data;
}

}  // namespace

std::vector<ArchiveEntry> SampleTree() {
    return {
        {Sjis("はじめに.txt"), 946684800,
         Bytes(Sjis("このアーカイブは qkdec の見本です。\r\n"
                    "フォルダと日本語の名前、空のファイル、いくつかのバッチを含みます。\r\n"))},
        {Sjis("文書\\議事録\\2024年度.txt"), 1711929600,
         Lines(Sjis("議事録：表示と保存の確認を行った。"), 2000)},
        {Sjis("文書\\議事録\\空のメモ.txt"), 1711933200, {}},
        {Sjis("画像/表紙.bin"), 1234567890, Ramp(3000)},
        {"data/table.csv", 1500000000, Lines("id,name,size,time", 800)},
        {Sjis("ソース\\main.c"), 1600000000,
         Bytes("#include <stdio.h>\n\nint main(void)\n{\n    puts(\"qkdec sample\");\n"
               "    return 0;\n}\n")},
    };
}

Status WriteSampleArchive(std::vector<std::uint8_t>& archive, std::string* error) {
    return WriteArchive(SampleTree(), WriteOptions(), archive, error);
}

}  // namespace qk::test
