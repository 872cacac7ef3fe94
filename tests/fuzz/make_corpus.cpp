// Writes the seed corpora of the fuzz targets under the folder given (the
// committed ones live in tests/fuzz/corpus/<target>/). Every archive is made
// by the packer itself (build_archive, encode_member); a few are then cut or
// patched to start the fuzzers near the damaged cases. Output is
// deterministic, so rerunning it leaves the committed files unchanged.
//
//   make_corpus tests/fuzz/corpus
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "pack/lzhuf_encoder.h"
#include "test_data.h"

namespace fs = std::filesystem;

namespace {

fs::path g_root;
int g_failures = 0;

Bytes text(size_t size, uint32_t seed) {
    static const char* const WORDS[] = {"setup ", "file ", "COM1 ", "9600 ",
                                        "data ",  "the ",  "\r\n",  "window "};
    Bytes out;
    uint32_t s = seed | 1;
    while (out.size() < size) {
        s ^= s << 13, s ^= s >> 17, s ^= s << 5;
        for (const char* w = WORDS[s % 8]; *w && out.size() < size; ++w) out.push_back(uint8_t(*w));
    }
    return out;
}

Bytes repeated(const std::string& unit, size_t size) {
    Bytes out;
    while (out.size() < size) out.push_back(uint8_t(unit[out.size() % unit.size()]));
    return out;
}

Bytes bytes(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

Bytes archive(const std::vector<PackMember>& members) {
    std::string error;
    Bytes a = build_archive(members, &error);
    if (a.empty()) {
        fprintf(stderr, "make_corpus: %s\n", error.c_str());
        ++g_failures;
    }
    return a;
}

void put(const std::string& target, const std::string& name, const Bytes& data) {
    const fs::path folder = g_root / target;
    fs::create_directories(folder);
    FILE* f = fopen((folder / name).string().c_str(), "wb");
    if (!f || (!data.empty() && fwrite(data.data(), 1, data.size(), f) != data.size()) ||
        fclose(f) != 0) {
        fprintf(stderr, "make_corpus: cannot write %s\n", (folder / name).string().c_str());
        ++g_failures;
    }
}

Bytes cut(const Bytes& b, size_t size) {
    return Bytes(b.begin(), b.begin() + std::min(size, b.size()));
}

// The directory's length: the header, every record, the data base.
size_t directory_size(const Bytes& a) {
    size_t at = 58;
    const int count = int16_t(uint16_t(a[56] | a[57] << 8));
    for (int i = 0; i < count; ++i) at += 14 + a[at + 12] + a[at + 13];
    return at + 4;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: make_corpus CORPUS_FOLDER\n");
        return 2;
    }
    g_root = argv[1];

    // ---- Archives ----
    const Bytes one = archive({member("", "README.TXT", text(200, 1))});
    const Bytes folders = archive(
        {member("", "README.TXT", text(120, 2)), member("SUB\\DEEP", "A.BIN", random_bytes(300, 3)),
         member("SUB", "EMPTY.DAT", {}), member("SUB\\..\\UP", "B.TXT", bytes("up\r\n"))});
    const Bytes rooted = archive({member("\\ROOTED\\DIR", "R.TXT", bytes("rooted")),
                                  member("", "AFTER.TXT", bytes("after"))});
    const std::vector<PackMember> nt_members = {
        member("", "UTIL.DL_", {1}), member("", "util.Dl_", {2}),    member("", "A.DL_X", {3}),
        member("", "UTIL.DLL", {4}), member("X.DL_", "IN.TXT", {6}), member("", "LAST.TXT", {7})};
    const Bytes nt = archive(nt_members);
    Bytes nt_on_95 = nt; // the unused byte 54 picks the Windows 95 line in fuzz_unpack
    nt_on_95[54] = 1;
    const Bytes none = archive({});
    const Bytes empties =
        archive({member("", "A.DAT", {}), member("E", "B.DAT", {}), member("", "C.DAT", {})});
    const Bytes matches = archive({member("", "WRAP.TXT", text(5000, 4)),
                                   member("", "SPACES.TXT", repeated(" ", 200)),
                                   member("", "ABC.TXT", repeated("abc", 500))});
    const Bytes long_names = archive(
        {member(std::string(200, 'F'), std::string(60, 'N'), {1}), member("", "OK.TXT", {2})});
    Bytes bad_time = archive({member("", "T.TXT", bytes("t"), 20u << 25 | 13u << 21 | 17u << 16)});
    Bytes shared =
        archive({member("", "ONE.TXT", text(100, 5)), member("", "TWO.TXT", text(100, 6))});
    // The second entry's offset (after the header and the first record) made
    // equal to the first: two members from one stream.
    for (int i = 0; i < 4; ++i) shared[58 + 14 + 7 + i] = shared[58 + i];
    Bytes negative = none;
    negative[56] = negative[57] = 0xFF; // a count of -1

    put("unpack", "one.wpk", one);
    put("unpack", "folders.wpk", folders);
    put("unpack", "rooted.wpk", rooted);
    put("unpack", "nt_filter.wpk", nt);
    put("unpack", "nt_filter_on_95.wpk", nt_on_95);
    put("unpack", "no_members.wpk", none);
    put("unpack", "empty_members.wpk", empties);
    put("unpack", "matches.wpk", matches);
    put("unpack", "long_names.wpk", long_names);
    put("unpack", "bad_time.wpk", bad_time);
    put("unpack", "cut_data.wpk", cut(folders, folders.size() - 40));
    // ".." above the root of drive C: Windows stays at the root; the host
    // stand-in must too. Either way these land inside the scratch folder.
    put("unpack", "rooted_parent.wpk", archive({member("\\..", "UP.TXT", bytes("up"))}));
    put("unpack", "parent_name.wpk", archive({member("", "..\\..\\..\\UP.TXT", bytes("up"))}));

    put("wpk_test", "folders.wpk", folders);
    put("wpk_test", "shared_stream.wpk", shared);
    put("wpk_test", "matches.wpk", matches);
    put("wpk_test", "cut_data.wpk", cut(matches, matches.size() - 100));
    put("wpk_test", "empty_members.wpk", empties);
    put("wpk_test", "negative_count.wpk", negative);

    put("directory", "folders.wpk", cut(folders, directory_size(folders)));
    put("directory", "rooted.wpk", cut(rooted, directory_size(rooted)));
    put("directory", "nt_filter.wpk", cut(nt, directory_size(nt)));
    put("directory", "long_names.wpk", cut(long_names, directory_size(long_names)));
    put("directory", "no_members.wpk", none);
    put("directory", "negative_count.wpk", negative);
    put("directory", "cut_in_record.wpk", cut(folders, 58 + 10));
    put("directory", "cut_in_name.wpk", cut(folders, 58 + 14 + 5)); // 5 of README.TXT's 10 bytes
    put("directory", "cut_before_data_base.wpk", cut(one, directory_size(one) - 2));

    // ---- Member streams ----
    const Bytes text_stream = encode_member(text(100, 7).data(), 100);
    const Bytes pattern_stream = encode_member(repeated("0123456789", 300).data(), 300);
    put("decoder", "empty.bin", encode_member(nullptr, 0));
    put("decoder", "one_byte.bin", encode_member(reinterpret_cast<const uint8_t*>("A"), 1));
    put("decoder", "text.bin", text_stream);
    put("decoder", "pattern.bin", pattern_stream);
    put("decoder", "noise.bin", encode_member(random_bytes(200, 8).data(), 200));
    put("decoder", "spaces_greedy.bin",
        encode_member(repeated(" ", 100).data(), 100, ParseMode::GREEDY));
    Bytes match_past_size = pattern_stream; // the last match now reaches past the size
    match_past_size[0] = uint8_t(300 - 5);
    put("decoder", "match_past_size.bin", match_past_size);
    put("decoder", "data_past_end.bin", cut(text_stream, text_stream.size() / 2));
    put("decoder", "size_cut_short.bin", Bytes{0x05, 0x00});

    // ---- Data for the encoder ----
    put("roundtrip", "text.txt", text(500, 9));
    put("roundtrip", "wrap.txt", text(6000, 10));
    put("roundtrip", "zeros.bin", Bytes(100, 0));
    put("roundtrip", "spaces.txt", repeated(" ", 150));
    put("roundtrip", "abc.txt", repeated("abc", 400));
    put("roundtrip", "noise.bin", random_bytes(256, 11));
    put("roundtrip", "long_runs.bin", repeated(std::string(70, 'x') + "y", 700));

    return g_failures ? 1 : 0;
}
