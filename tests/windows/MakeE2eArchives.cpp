// Writes the archives that the Windows end-to-end runs extract, each with a
// manifest of the files a run must leave behind.
//
//   qk_windows_e2e_fixtures FOLDER
//
// For each case NAME: NAME.qk1 and NAME.manifest, one line per file:
//   path (UTF-8, '/' between folders) TAB size TAB time TAB sha256
// The names are written here in UTF-8 and stored in the archives in
// Shift-JIS, so the manifest gives the characters the file system must show,
// independently of the program's own conversion. The self-extracting cases
// also get NAME.len, the 4-byte trailer to put behind program and archive.
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "platform/Text.h"
#include "qk1/ArchiveWriter.h"
#include "support/TestSupport.h"

namespace qk {
namespace {

using test::Bytes;

struct Item {
    std::string utf8Name;  // '/' between folders
    std::uint32_t time;
    Bytes data;
};

// Words from a small vocabulary, so that the coder finds matches, and now
// and then a byte of noise, so that it also codes literals.
Bytes Text(std::uint32_t seed, std::size_t size) {
    static const char* const kWords[] = {"archive ", "entry ", "folder ", "name ", "time ",
                                         "batch ",   "\r\n",   "0123 ",   "ring ", "code "};
    Bytes out;
    for (std::uint32_t x = seed * 2654435761u + 1; out.size() < size;) {
        x = x * 1664525u + 1013904223u;
        if ((x >> 28) == 0) out.push_back(static_cast<std::uint8_t>(x >> 8));
        for (const char* w = kWords[(x >> 16) % 10]; (x >> 28) && *w && out.size() < size; ++w)
            out.push_back(static_cast<std::uint8_t>(*w));
    }
    return out;
}

bool Save(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    if (out << bytes) return true;
    std::fprintf(stderr, "qk_windows_e2e_fixtures: cannot write %s\n", path.c_str());
    return false;
}

std::string Line(const std::string& name, std::int64_t size, std::int64_t time,
                 const std::string& sha256) {
    return name + '\t' + std::to_string(size) + '\t' + std::to_string(time) + '\t' + sha256 + '\n';
}

// NAME.qk1 and NAME.manifest, and with `trailer` NAME.len.
bool WriteCase(const std::string& folder, const std::string& name, const std::vector<Item>& items,
               const WriteOptions& options, bool trailer = false) {
    std::vector<ArchiveEntry> entries;
    std::string manifest;
    for (const Item& item : items) {
        ArchiveEntry entry{"", item.time, item.data};
        if (!platform::Utf8ToCp932(item.utf8Name, entry.name)) return false;
        // '/' (0x2F) is never the second byte of a Shift-JIS character.
        for (char& c : entry.name) c = c == '/' ? '\\' : c;
        entries.push_back(entry);
        manifest += Line(item.utf8Name, static_cast<std::int64_t>(item.data.size()), item.time,
                         test::Sha256Hex(item.data.data(), item.data.size()));
    }
    Bytes archive;
    if (WriteArchive(entries, options, archive, nullptr) != Status::kOk) return false;
    const auto n = static_cast<std::uint32_t>(archive.size());
    const char length[] = {static_cast<char>(n >> 24), static_cast<char>(n >> 16),
                           static_cast<char>(n >> 8), static_cast<char>(n)};
    return Save(folder + "\\" + name + ".qk1", std::string(archive.begin(), archive.end())) &&
           Save(folder + "\\" + name + ".manifest", manifest) &&
           (!trailer || Save(folder + "\\" + name + ".len", std::string(length, 4)));
}

int Run(const std::string& folder) {
    const std::vector<Item> plain = {
        {"readme.txt", 946684800u, Text(1, 2000)},
        {"docs/guide.txt", 1234567890u, Text(2, 40000)},
        {"docs/img/data.bin", 1500000000u, Text(3, 300000)},
        {"empty.dat", 315532800u, {}},
        {"docs/sub/deep/last.txt", 4026531840u, Text(4, 777)},  // in 2097
    };
    // Every folder and file name holds characters whose second byte is 0x5C
    // (ソ, 表, 能, 十, 予), next to half-width katakana and plain ASCII.
    const std::vector<Item> sjis = {
        {"日本語/ソフト/表示.txt", 1000000000u, Text(5, 5000)},
        {"日本語/能力.csv", 1100000000u, Text(6, 1200)},
        {"十字/ポート.bin", 1200000000u, Text(7, 70000)},
        {"ﾊﾝｶｸ/ｶﾅ.txt", 1300000000u, Text(8, 300)},
        {"日本語/予定表.txt", 1400000000u, Text(9, 64)},
        {"ドキュメント/空.txt", 1600000000u, {}},
    };
    // Names that Windows would take for a device, a stream or another name.
    const std::vector<Item> unfit = {{"ok.txt", 946684800u, Text(5, 100)},
                                     {"docs/CON.txt", 946684800u, Text(6, 100)},
                                     {"a:b.txt", 946684800u, Text(7, 100)},
                                     {"dot.", 946684800u, Text(8, 100)}};
    // Pairs of names that are one file to Windows, which compares names in
    // any case of any script: the later entry wins, with a notice.
    std::vector<Item> samefile;
    for (const char* utf8 :
         {"a.txt", "A.TXT", "ａ.txt", "Ａ.txt", "α", "Α", "д", "Д", "d/f.txt", "./d//F.txt"}) {
        samefile.push_back(
            {utf8, 946684800u, Text(static_cast<std::uint32_t>(samefile.size()), 10)});
    }
    std::vector<Item> sfx = sjis;
    sfx.push_back({"setup.ini", 1700000000u, Text(10, 900)});

    WriteOptions none, password, sjisPassword;
    password.usePassword = true;
    password.password = "secret-pw";
    password.insertInner = true;
    sjisPassword.usePassword = true;
    sjisPassword.largeModel = true;
    // パス表 (the last character ends in 0x5C)
    if (!platform::Utf8ToCp932("パス表", sjisPassword.password)) return 1;
    const bool written =
        WriteCase(folder, "plain", plain, none) && WriteCase(folder, "sjis", sjis, none) &&
        WriteCase(folder, "password", plain, password) &&
        WriteCase(folder, "password_sjis", sjis, sjisPassword) &&
        WriteCase(folder, "unfit", unfit, none) && WriteCase(folder, "samefile", samefile, none) &&
        WriteCase(folder, "sfx", sfx, none, true) &&
        WriteCase(folder, "sfx_password", plain, password, true);
    return written ? 0 : 1;
}

}  // namespace
}  // namespace qk

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: qk_windows_e2e_fixtures FOLDER\n");
        return 2;
    }
    return qk::Run(argv[1]);
}
