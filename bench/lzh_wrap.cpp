// lzh_wrap: puts our encoder's coded bits into an ordinary .lzh archive, one
// -lh1- member per file, so an independent LHA tool can decode and check them.
//
// Each member is encode_member's output without its 4-byte size, behind a
// level-0 header:
//
//   0      header size: the header's length less these first two bytes
//   1      header checksum: sum of the header bytes from offset 2, mod 256
//   2..6   method "-lh1-"
//   7..10  packed size (little-endian, as every field)
//   11..14 original size
//   15..18 DOS time (time in the low word, date in the high word), local time
//   19     attribute (0x20, archive)
//   20     header level (0)
//   21     name length n, then n bytes of name ('\' between folders)
//   22+n   CRC-16 of the original data (poly 0xA001 reflected, init 0)
//
// and the archive ends with a single zero byte.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "pack/lzhuf_encoder.h"

namespace {

const char USAGE[] =
    "usage: lzh_wrap [--greedy | --lazy] OUT.lzh FILE...\n"
    "\n"
    "Encodes each FILE with the setup archive's LZHUF encoder and writes the\n"
    "coded bits as -lh1- members of a level-0 .lzh archive (names as given,\n"
    "'/' stored as '\\'), with the same parse as 'wpk pack' (the smaller of the\n"
    "greedy and the lazy one per file); --greedy or --lazy uses that parse alone.\n"
    "Prints the totals; 'lhasa -t OUT.lzh' then checks every member's CRC.\n";

constexpr size_t MAX_NAME = 255 - 22; // the header size must fit in a byte

uint16_t crc16(const uint8_t* data, size_t size) {
    static uint16_t table[256];
    static bool ready = false;
    if (!ready) {
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ 0xA001 : c >> 1;
            table[i] = uint16_t(c);
        }
        ready = true;
    }
    uint16_t crc = 0;
    for (size_t i = 0; i < size; ++i) crc = uint16_t(table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8));
    return crc;
}

uint32_t dos_time_of(const std::string& path) {
    struct stat st;
    time_t t = 0;
    if (stat(path.c_str(), &st) == 0) t = st.st_mtime;
    struct tm tm;
    if (!localtime_r(&t, &tm) || tm.tm_year < 80) {
        return (1u << 5 | 1u) << 16; // 1980-01-01 00:00:00
    }
    if (tm.tm_year > 207) tm.tm_year = 207;
    const uint32_t date =
        uint32_t(tm.tm_year - 80) << 9 | uint32_t(tm.tm_mon + 1) << 5 | uint32_t(tm.tm_mday);
    const uint32_t time =
        uint32_t(tm.tm_hour) << 11 | uint32_t(tm.tm_min) << 5 | uint32_t(tm.tm_sec / 2);
    return date << 16 | time;
}

bool read_file(const std::string& path, std::vector<uint8_t>* data) {
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) return false;
    data->clear();
    uint8_t block[65536];
    size_t n;
    while ((n = fread(block, 1, sizeof block, f)) > 0) data->insert(data->end(), block, block + n);
    const bool ok = !ferror(f);
    fclose(f);
    return ok;
}

std::string stored_name(std::string path) {
    while (path.compare(0, 2, "./") == 0) path.erase(0, 2);
    while (!path.empty() && path[0] == '/') path.erase(0, 1);
    for (char& c : path)
        if (c == '/') c = '\\';
    return path;
}

void put_u32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(uint8_t(v >> (8 * i)));
}

} // namespace

int main(int argc, char** argv) {
    ParseMode mode = ParseMode::SMALLEST;
    int first = 1;
    if (first < argc && (!strcmp(argv[first], "--help") || !strcmp(argv[first], "-h"))) {
        fputs(USAGE, stdout);
        return 0;
    }
    if (first < argc && !strcmp(argv[first], "--greedy")) {
        mode = ParseMode::GREEDY;
        ++first;
    } else if (first < argc && !strcmp(argv[first], "--lazy")) {
        mode = ParseMode::LAZY;
        ++first;
    }
    if (argc - first < 2) {
        fputs(USAGE, stderr);
        return 2;
    }
    const std::string out_path = argv[first];
    FILE* out = fopen(out_path.c_str(), "wb");
    if (!out) {
        fprintf(stderr, "lzh_wrap: %s: %s\n", out_path.c_str(), strerror(errno));
        return 1;
    }
    uint64_t original = 0, coded = 0;
    int members = 0;
    std::vector<uint8_t> data;
    for (int i = first + 1; i < argc; ++i) {
        const std::string path = argv[i];
        const std::string name = stored_name(path);
        if (!read_file(path, &data)) {
            fprintf(stderr, "lzh_wrap: %s: cannot read: %s\n", path.c_str(), strerror(errno));
            fclose(out);
            remove(out_path.c_str());
            return 1;
        }
        if (name.empty() || name.size() > MAX_NAME || data.size() > 0xFFFFFFFFu) {
            fprintf(stderr, "lzh_wrap: %s: name longer than %zu bytes or file of 4 GiB or more\n",
                    path.c_str(), MAX_NAME);
            fclose(out);
            remove(out_path.c_str());
            return 1;
        }
        const std::vector<uint8_t> stream = encode_member(data.data(), data.size(), mode);
        const size_t bits_size = stream.size() - 4; // drop our 4-byte size

        std::vector<uint8_t> header = {0, 0, '-', 'l', 'h', '1', '-'};
        put_u32(header, uint32_t(bits_size));
        put_u32(header, uint32_t(data.size()));
        put_u32(header, dos_time_of(path));
        header.push_back(0x20); // attribute: archive
        header.push_back(0);    // level 0
        header.push_back(uint8_t(name.size()));
        header.insert(header.end(), name.begin(), name.end());
        const uint16_t crc = crc16(data.data(), data.size());
        header.push_back(uint8_t(crc));
        header.push_back(uint8_t(crc >> 8));
        header[0] = uint8_t(header.size() - 2);
        uint32_t sum = 0;
        for (size_t k = 2; k < header.size(); ++k) sum += header[k];
        header[1] = uint8_t(sum);

        if (fwrite(header.data(), 1, header.size(), out) != header.size() ||
            fwrite(stream.data() + 4, 1, bits_size, out) != bits_size) {
            fprintf(stderr, "lzh_wrap: %s: write error\n", out_path.c_str());
            fclose(out);
            remove(out_path.c_str());
            return 1;
        }
        original += data.size();
        coded += bits_size;
        ++members;
    }
    const bool ok = fputc(0, out) != EOF; // end of archive
    if (fclose(out) != 0 || !ok) {
        fprintf(stderr, "lzh_wrap: %s: write error\n", out_path.c_str());
        remove(out_path.c_str());
        return 1;
    }
    printf("%s: %d members, %llu bytes coded into %llu bytes of -lh1- data (%.2f%%)\n",
           out_path.c_str(), members, (unsigned long long)original, (unsigned long long)coded,
           original ? 100.0 * double(coded) / double(original) : 0.0);
    return 0;
}
