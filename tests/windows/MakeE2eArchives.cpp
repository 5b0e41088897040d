// Writes the archives that the Windows end-to-end runs extract, each with a
// manifest of the files a run must leave behind, and a manifest for every
// reference archive.
//
//   qk_windows_e2e_fixtures FOLDER
//
// For each case NAME: NAME.qk1 and NAME.manifest, one line per file:
//   path (UTF-8, '/' between folders) TAB size TAB time TAB sha256
// The names are written here in UTF-8 and stored in the archives in
// Shift-JIS, so the manifest gives the characters the file system must show,
// independently of the program's own conversion. The self-extracting case
// also gets sfx.len, the 4-byte trailer to put behind program and archive.
//
// vectors.list has one line per reference archive:
//   file TAB outcome TAB password (hex, or "-")
// and vector-NAME.manifest its files (names through the Windows name rule).
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "format/ArchiveHeader.h"
#include "qk1/ArchiveWriter.h"
#include "platform/Text.h"
#include "platform/windows/WideText.h"
#include "support/TestSupport.h"

namespace qk {
namespace {

using test::Bytes;

struct FixtureEntry {
    std::string utf8Name;  // '/' between folders
    std::uint32_t time;
    Bytes data;
};

// Deterministic contents: words from a small vocabulary, so that the LZ
// coder finds matches, with some noise so that it also codes literals.
Bytes Text(std::uint32_t seed, std::size_t size) {
    static const char* const kWords[] = {"archive ", "entry ",  "folder ", "name ",
                                         "time ",    "batch ",  "decode ", "\r\n",
                                         "0123 ",    "window ", "ring ",   "code "};
    Bytes out;
    out.reserve(size);
    std::uint32_t x = seed * 2654435761u + 1;
    while (out.size() < size) {
        x = x * 1664525u + 1013904223u;
        if ((x >> 28) == 0) {
            out.push_back(static_cast<std::uint8_t>(x >> 8));
            continue;
        }
        for (const char* w = kWords[(x >> 16) % 12]; *w && out.size() < size; ++w) {
            out.push_back(static_cast<std::uint8_t>(*w));
        }
    }
    return out;
}

bool Fail(const std::string& what) {
    std::fprintf(stderr, "qk_windows_e2e_fixtures: %s\n", what.c_str());
    return false;
}

bool Save(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out) || Fail("cannot write " + path);
}

bool SaveText(const std::string& path, const std::string& text) {
    return Save(path, Bytes(text.begin(), text.end()));
}

// The self-extracting trailer: the archive's length, 4 bytes big-endian.
Bytes Trailer(std::size_t archiveSize) {
    const auto n = static_cast<std::uint32_t>(archiveSize);
    return {static_cast<std::uint8_t>(n >> 24), static_cast<std::uint8_t>(n >> 16),
            static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n)};
}

std::string ManifestLine(const std::string& utf8Name, std::int64_t size, std::int64_t time,
                         const std::string& sha256) {
    std::ostringstream line;
    line << utf8Name << '\t' << size << '\t' << time << '\t' << sha256 << '\n';
    return line.str();
}

// Writes NAME.qk1 and NAME.manifest; `archive` receives the archive's bytes.
bool WriteCase(const std::string& folder, const std::string& name,
               const std::vector<FixtureEntry>& items, const WriteOptions& options,
               Bytes* archive = nullptr) {
    std::vector<ArchiveEntry> entries;
    std::string manifest;
    for (const FixtureEntry& item : items) {
        ArchiveEntry entry;
        if (!platform::Utf8ToCp932(item.utf8Name, entry.name)) return Fail("name " + item.utf8Name);
        // '/' (0x2F) is never the second byte of a Shift-JIS character.
        for (char& c : entry.name) {
            if (c == '/') c = '\\';
        }
        entry.time = item.time;
        entry.data = item.data;
        entries.push_back(entry);
        manifest += ManifestLine(item.utf8Name, static_cast<std::int64_t>(item.data.size()),
                                 item.time, test::Sha256Hex(item.data.data(), item.data.size()));
    }
    Bytes bytes;
    std::string error;
    if (WriteArchive(entries, options, bytes, &error) != Status::kOk) return Fail(name + ": " + error);
    if (archive) *archive = bytes;
    return Save(folder + "\\" + name + ".qk1", bytes) &&
           SaveText(folder + "\\" + name + ".manifest", manifest);
}

std::vector<FixtureEntry> PlainEntries() {
    return {
        {"readme.txt", 946684800u, Text(1, 2000)},
        {"docs/guide.txt", 1234567890u, Text(2, 40000)},
        {"docs/img/data.bin", 1500000000u, Text(3, 300000)},
        {"empty.dat", 315532800u, {}},
        {"docs/sub/deep/last.txt", 2000000000u, Text(4, 777)},
    };
}

// Every folder and file name holds characters whose second byte is 0x5C
// (ソ, 表, 能, 十, 予), next to half-width katakana and plain ASCII.
std::vector<FixtureEntry> SjisEntries() {
    return {
        {"日本語/ソフト/表示.txt", 1000000000u, Text(5, 5000)},
        {"日本語/能力.csv", 1100000000u, Text(6, 1200)},
        {"十字/ポート.bin", 1200000000u, Text(7, 70000)},
        {"ﾊﾝｶｸ/ｶﾅ.txt", 1300000000u, Text(8, 300)},
        {"日本語/予定表.txt", 1400000000u, Text(9, 64)},
        {"ドキュメント/空.txt", 1600000000u, {}},
    };
}

bool WriteVectors(const std::string& folder) {
    std::string list;
    for (const std::string& name : test::VectorNames()) {
        std::ifstream in(test::VectorsDir() + "/" + name + ".expect.json");
        std::stringstream text;
        text << in.rdbuf();
        const test::Json expect = test::ParseJson(text.str());
        const std::string password =
            expect["password_hex"].IsNull() ? "-" : expect["password_hex"].text;
        list += name + ".qk1\t" + expect["outcome"].text + "\t" + password + "\n";
        std::string manifest;
        const test::Json& decoded = expect["entries_decoded"];
        for (std::size_t i = 0; i < decoded.items.size(); ++i) {
            const test::Json& e = decoded[i];
            const Bytes raw = test::FromHex(e["name_hex"].text);
            std::wstring wide = platform::windows::NameToWide(std::string(raw.begin(), raw.end()));
            for (wchar_t& c : wide) {
                if (c == L'\\') c = L'/';
            }
            manifest += ManifestLine(platform::windows::FromWide(wide, 65001), e["size"].Int(),
                                     e["time"].Int(), e["sha256"].text);
        }
        if (!SaveText(folder + "\\vector-" + name + ".manifest", manifest)) return false;
    }
    return SaveText(folder + "\\vectors.list", list);
}

int Run(const std::string& folder) {
    WriteOptions plain;
    if (!WriteCase(folder, "plain", PlainEntries(), plain)) return 1;
    if (!WriteCase(folder, "sjis", SjisEntries(), plain)) return 1;

    WriteOptions password;
    password.usePassword = true;
    password.password = "secret-pw";
    password.insertInner = true;
    if (!WriteCase(folder, "password", PlainEntries(), password)) return 1;

    WriteOptions sjisPassword;
    sjisPassword.usePassword = true;
    // パス表 (the last character ends in 0x5C)
    if (!platform::Utf8ToCp932("パス表", sjisPassword.password)) return 1;
    sjisPassword.largeModel = true;
    if (!WriteCase(folder, "password_sjis", SjisEntries(), sjisPassword)) return 1;

    // Names that Windows would take for a device, a stream or another name.
    const std::vector<FixtureEntry> unfit = {{"ok.txt", 946684800u, Text(5, 100)},
                                             {"docs/CON.txt", 946684800u, Text(6, 100)},
                                             {"a:b.txt", 946684800u, Text(7, 100)},
                                             {"dot.", 946684800u, Text(8, 100)}};
    if (!WriteCase(folder, "unfit", unfit, plain)) return 1;

    // Pairs of names that are one file to Windows, which compares names in
    // any case of any script: the later entry wins, with a notice.
    std::vector<FixtureEntry> samefile;
    for (const char* utf8 :
         {"a.txt", "A.TXT", "ａ.txt", "Ａ.txt", "α", "Α", "д", "Д", "d/f.txt", "./d//F.txt"}) {
        samefile.push_back(
            {utf8, 946684800u, Text(static_cast<std::uint32_t>(samefile.size()), 10)});
    }
    if (!WriteCase(folder, "samefile", samefile, plain)) return 1;

    // The self-extracting case: the shell puts program, archive and trailer
    // together as "copy /b" does.
    Bytes sfx;
    std::vector<FixtureEntry> sfxEntries = SjisEntries();
    sfxEntries.push_back({"setup.ini", 1700000000u, Text(10, 900)});
    if (!WriteCase(folder, "sfx", sfxEntries, plain, &sfx)) return 1;
    if (!Save(folder + "\\sfx.len", Trailer(sfx.size()))) return 1;

    Bytes sfxPassword;
    if (!WriteCase(folder, "sfx_password", PlainEntries(), password, &sfxPassword)) return 1;
    if (!Save(folder + "\\sfx_password.len", Trailer(sfxPassword.size()))) return 1;

    return WriteVectors(folder) ? 0 : 1;
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
