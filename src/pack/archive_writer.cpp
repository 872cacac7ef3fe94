#include "pack/archive_writer.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "archive/archive_directory.h"
#include "archive/archive_signature.h"
#include "archive/crc32.h"
#include "archive/dos_time.h"
#include "pack/lzhuf_encoder.h"

namespace {

constexpr uint64_t FOUR_GIB = uint64_t(1) << 32;

void put_u16(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(uint8_t(v));
    out.push_back(uint8_t(v >> 8));
}

void put_u32(std::vector<uint8_t>& out, uint32_t v) {
    put_u16(out, v & 0xFFFF);
    put_u16(out, v >> 16);
}

bool read_whole_file(const std::string& path, std::vector<uint8_t>* data, std::string* error) {
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) {
        *error = path + ": " + strerror(errno);
        return false;
    }
    data->clear();
    uint8_t block[65536];
    size_t n;
    while ((n = fread(block, 1, sizeof block, f)) > 0) {
        data->insert(data->end(), block, block + n);
        if (data->size() >= FOUR_GIB) break;
    }
    const bool failed = ferror(f);
    fclose(f);
    if (failed) {
        *error = path + ": read error";
        return false;
    }
    return true;
}

std::string member_label(const PackMember& m) {
    return m.folder.empty() ? m.name : m.folder + "\\" + m.name;
}

bool check_members(const std::vector<PackMember>& members, std::string* error) {
    if (members.size() > size_t(ENTRY_CAPACITY)) {
        *error = "too many files: " + std::to_string(members.size()) +
                 " (an archive holds at most " + std::to_string(ENTRY_CAPACITY) + ")";
        return false;
    }
    for (const PackMember& m : members) {
        if (m.folder.size() > 255 || m.name.size() > 255) {
            *error = member_label(m) + ": folder or name longer than 255 bytes";
            return false;
        }
    }
    return true;
}

// The header and directory, marked for checksums, with each record's offset
// and CRC-32 taken from `offsets` and `crcs`.
std::vector<uint8_t> make_directory(const std::vector<PackMember>& members,
                                    const std::vector<uint32_t>& offsets,
                                    const std::vector<uint32_t>& crcs, uint32_t data_base) {
    std::vector<uint8_t> out(SIGNATURE_SIZE + 2);
    make_archive_signature(out.data(), true);
    put_u16(out, uint32_t(members.size())); // entry count
    for (size_t i = 0; i < members.size(); ++i) {
        const PackMember& m = members[i];
        put_u32(out, offsets[i]);
        put_u32(out, crcs[i]); // reserved: the member's CRC-32
        put_u32(out, m.dos_date_time);
        out.push_back(uint8_t(m.folder.size()));
        out.push_back(uint8_t(m.name.size()));
        out.insert(out.end(), m.folder.begin(), m.folder.end());
        out.insert(out.end(), m.name.begin(), m.name.end());
    }
    put_u32(out, data_base);
    return out;
}

// Writes the whole archive to `out`; the directory is written first with
// zero offsets and rewritten once the member streams are placed.
bool write_to_stream(FILE* out, const std::vector<PackMember>& members, std::string* error,
                     PackTotals* totals,
                     const std::function<void(size_t, const PackMember&)>& progress) {
    std::vector<uint32_t> offsets(members.size(), 0);
    std::vector<uint32_t> crcs(members.size(), 0);
    std::vector<uint8_t> directory = make_directory(members, offsets, crcs, 0);
    const uint64_t data_base = directory.size();
    if (fwrite(directory.data(), 1, directory.size(), out) != directory.size()) {
        *error = "write error";
        return false;
    }
    uint64_t position = data_base;
    std::vector<uint8_t> content;
    for (size_t i = 0; i < members.size(); ++i) {
        const PackMember& m = members[i];
        if (progress) progress(i, m);
        const std::vector<uint8_t>* data = &m.data;
        if (!m.source.empty()) {
            if (!read_whole_file(m.source, &content, error)) return false;
            data = &content;
        }
        if (data->size() >= FOUR_GIB) {
            *error = member_label(m) + ": larger than 4 GiB - 1 bytes";
            return false;
        }
        const std::vector<uint8_t> stream = encode_member(data->data(), data->size());
        if (position - data_base >= FOUR_GIB || position + stream.size() > FOUR_GIB) {
            *error = "the archive would be larger than 4 GiB";
            return false;
        }
        offsets[i] = uint32_t(position - data_base);
        crcs[i] = crc32_update(0, data->data(), data->size());
        if (fwrite(stream.data(), 1, stream.size(), out) != stream.size()) {
            *error = "write error";
            return false;
        }
        position += stream.size();
        if (totals) totals->original_bytes += data->size();
    }
    directory = make_directory(members, offsets, crcs, uint32_t(data_base));
    if (fseek(out, 0, SEEK_SET) != 0 ||
        fwrite(directory.data(), 1, directory.size(), out) != directory.size()) {
        *error = "write error";
        return false;
    }
    if (totals) totals->archive_bytes = position;
    return true;
}

} // namespace

uint32_t dos_date_time_from_unix(int64_t seconds) {
    const int64_t earliest = 315532800;  // 1980-01-01 00:00:00
    const int64_t latest = 4354819198LL; // 2107-12-31 23:59:58
    if (seconds < earliest) seconds = earliest;
    if (seconds > latest) seconds = latest;
    return pack_dos_date_time(calendar_from_unix(seconds));
}

bool write_archive(const std::string& path, const std::vector<PackMember>& members,
                   std::string* error, PackTotals* totals,
                   const std::function<void(size_t, const PackMember&)>& progress) {
    if (!check_members(members, error)) return false;
    const std::string temporary = path + ".tmp";
    FILE* out = fopen(temporary.c_str(), "wb");
    if (!out) {
        *error = temporary + ": " + strerror(errno);
        return false;
    }
    bool ok = write_to_stream(out, members, error, totals, progress);
    if (fflush(out) != 0 && ok) {
        *error = temporary + ": " + strerror(errno);
        ok = false;
    }
    if (fclose(out) != 0 && ok) {
        *error = temporary + ": " + strerror(errno);
        ok = false;
    }
    if (ok && rename(temporary.c_str(), path.c_str()) != 0) {
        *error = path + ": " + strerror(errno);
        ok = false;
    }
    if (!ok) remove(temporary.c_str());
    return ok;
}

std::vector<uint8_t> build_archive(const std::vector<PackMember>& members, std::string* error) {
    std::vector<uint8_t> bytes;
    if (!check_members(members, error)) return bytes;
    FILE* out = tmpfile();
    if (!out) {
        *error = "no temporary file";
        return bytes;
    }
    if (write_to_stream(out, members, error, nullptr, {})) {
        fseek(out, 0, SEEK_END);
        bytes.resize(size_t(ftell(out)));
        rewind(out);
        if (fread(bytes.data(), 1, bytes.size(), out) != bytes.size()) bytes.clear();
    }
    fclose(out);
    return bytes;
}
