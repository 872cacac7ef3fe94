#include "pack/archive_writer.h"

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "archive/archive_directory.h"
#include "archive/archive_signature.h"
#include "archive/crc32.h"
#include "archive/dos_time.h"
#include "pack/lzhuf_encoder.h"

void (*g_pack_read_progress)(uint64_t bytes) = nullptr;

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

// Opens a member's source for reading, only when it is a regular file (a
// FIFO or a device is never opened: opening a FIFO would wait for a writer),
// and gives its size.
FILE* open_source(const std::string& path, uint64_t* size, std::string* error) {
#ifdef _WIN32
    struct _stat64 st;
    if (_stat64(path.c_str(), &st) != 0 || !(st.st_mode & _S_IFREG)) {
        *error = path + ": " + (errno ? strerror(errno) : "not a regular file");
        return nullptr;
    }
    FILE* f = fopen(path.c_str(), "rb");
#else
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat st;
    if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        *error = path + ": " + (fd < 0 ? strerror(errno) : "not a regular file, not packed");
        if (fd >= 0) close(fd);
        return nullptr;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    FILE* f = fdopen(fd, "rb");
    if (!f) close(fd);
#endif
    if (!f) *error = path + ": " + strerror(errno);
    *size = uint64_t(st.st_size);
    return f;
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
        // Refused from its size alone, before anything is read.
        struct stat st;
        if (!m.source.empty() && stat(m.source.c_str(), &st) == 0 &&
            uint64_t(st.st_size) >= FOUR_GIB) {
            *error = m.source + ": " + std::to_string(uint64_t(st.st_size)) +
                     " bytes: a member holds at most 4 GiB - 1 bytes";
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
    store_directory_checksum(out.data(), crc32_update(0, out.data() + SIGNATURE_SIZE + 2,
                                                      out.size() - SIGNATURE_SIZE - 2));
    return out;
}

// Why coding a member failed, in the words the archive's writer reports.
struct CodeFailure {
    bool too_large = false; // the archive would pass 4 GiB
    int write_error = 0;
    int read_error = 0;
};

// Codes member `m` through `write`, the stream as the archive holds it;
// `crc` and `size` are the CRC-32 and size of what was read. False with
// `error` set (as `failure` says, when given, or the source's).
bool code_member(const PackMember& m, const WriteBytes& write, const CodeFailure& failure,
                 uint32_t* crc, uint64_t* size, std::string* error) {
    *size = m.data.size();
    FILE* source = nullptr;
    if (!m.source.empty() && !(source = open_source(m.source, size, error))) return false;
    if (*size >= FOUR_GIB) {
        if (source) fclose(source);
        *error = member_label(m) + ": larger than 4 GiB - 1 bytes";
        return false;
    }
    *crc = 0;
    size_t at = 0;
    const ReadBytes read = [&](uint8_t* buffer, size_t want) {
        size_t n = 0;
        if (source) {
            n = fread(buffer, 1, want, source);
        } else {
            n = std::min(want, m.data.size() - at);
            memcpy(buffer, m.data.data() + at, n);
            at += n;
        }
        *crc = crc32_update(*crc, buffer, n);
        if (g_pack_read_progress) g_pack_read_progress(n);
        return n;
    };
    const bool encoded = encode_member_streaming(*size, read, write);
    const int read_error = source && ferror(source) ? errno : 0;
    const bool grew = source && encoded && fgetc(source) != EOF;
    if (source) fclose(source);
    if (encoded && !grew) return true;
    if (failure.too_large)
        *error = "the archive would be larger than 4 GiB";
    else if (failure.write_error)
        *error = std::string("write error: ") + strerror(failure.write_error);
    else if (read_error)
        *error = m.source + ": " + strerror(read_error);
    else
        *error = m.source + ": changed while being packed (not the size it had)";
    return false;
}

// Copies a stream coded ahead to `out` at `position`, which it advances.
bool copy_coded(const CodedAhead& coded, FILE* out, uint64_t* position, std::string* error) {
    const uint64_t stream_start = *position;
    uint8_t buffer[1 << 16];
    for (uint64_t left = coded.coded_size; left > 0;) {
        const size_t n =
            fread(buffer, 1, size_t(std::min<uint64_t>(left, sizeof buffer)), coded.stream);
        if (n == 0) break;
        left -= n;
        *position += n;
        if (*position > FOUR_GIB) {
            *error = "the archive would be larger than 4 GiB";
            return false;
        }
        if (fwrite(buffer, 1, n, out) != n) {
            *error = std::string("write error: ") + strerror(errno ? errno : EIO);
            return false;
        }
    }
    if (*position - stream_start != coded.coded_size) {
        *error = std::string("a member coded ahead: ") +
                 (ferror(coded.stream) ? strerror(errno ? errno : EIO) : "cut short");
        return false;
    }
    return true;
}

// Writes the whole archive to `out`; the directory is written first with
// zero offsets and rewritten once the member streams are placed.
bool write_to_stream(FILE* out, const std::vector<PackMember>& members, std::string* error,
                     PackTotals* totals,
                     const std::function<void(size_t, const PackMember&)>& progress,
                     const TakeCodedAhead& take_ahead) {
    std::vector<uint32_t> offsets(members.size(), 0);
    std::vector<uint32_t> crcs(members.size(), 0);
    std::vector<uint8_t> directory = make_directory(members, offsets, crcs, 0);
    const uint64_t data_base = directory.size();
    if (fwrite(directory.data(), 1, directory.size(), out) != directory.size()) {
        *error = std::string("write error: ") + strerror(errno);
        return false;
    }
    uint64_t position = data_base;
    for (size_t i = 0; i < members.size(); ++i) {
        const PackMember& m = members[i];
        if (progress) progress(i, m);
        const uint64_t stream_start = position;
        uint32_t crc = 0;
        uint64_t size = 0;
        CodedAhead ahead;
        if (take_ahead && take_ahead(i, &ahead)) {
            if (!copy_coded(ahead, out, &position, error)) return false;
            crc = ahead.crc;
            size = ahead.original_size;
        } else {
            CodeFailure failure;
            const WriteBytes write = [&](const uint8_t* coded, size_t n) {
                position += n;
                failure.too_large = position > FOUR_GIB;
                if (!failure.too_large && fwrite(coded, 1, n, out) != n)
                    failure.write_error = errno ? errno : EIO;
                return !failure.too_large && failure.write_error == 0;
            };
            if (!code_member(m, write, failure, &crc, &size, error)) return false;
        }
        offsets[i] = uint32_t(stream_start - data_base);
        crcs[i] = crc;
        if (totals) totals->original_bytes += size;
    }
    directory = make_directory(members, offsets, crcs, uint32_t(data_base));
    if (fseek(out, 0, SEEK_SET) != 0 ||
        fwrite(directory.data(), 1, directory.size(), out) != directory.size()) {
        *error = std::string("write error: ") + strerror(errno);
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

bool write_archive_to(FILE* out, const std::vector<PackMember>& members, std::string* error,
                      PackTotals* totals,
                      const std::function<void(size_t, const PackMember&)>& progress,
                      const TakeCodedAhead& take_ahead) {
    if (!check_members(members, error) ||
        !write_to_stream(out, members, error, totals, progress, take_ahead))
        return false;
    if (fflush(out) != 0) {
        *error = std::string("write error: ") + strerror(errno);
        return false;
    }
    return true;
}

bool write_archive(const std::string& path, const std::vector<PackMember>& members,
                   std::string* error, PackTotals* totals,
                   const std::function<void(size_t, const PackMember&)>& progress) {
    if (!check_members(members, error)) return false;
    const size_t slash = path.find_last_of('/');
    std::string temporary = (slash == std::string::npos ? "" : path.substr(0, slash + 1)) + "." +
                            path.substr(slash == std::string::npos ? 0 : slash + 1) + ".XXXXXX";
    const int fd = mkstemp(&temporary[0]);
    FILE* out = fd >= 0 ? fdopen(fd, "wb") : nullptr;
    if (!out) {
        *error = temporary + ": " + strerror(errno);
        if (fd >= 0) close(fd);
        return false;
    }
    bool ok = write_archive_to(out, members, error, totals, progress, {});
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

bool code_member_to(FILE* out, const PackMember& member, uint32_t* crc, uint64_t* original_size) {
    CodeFailure failure;
    const WriteBytes write = [&](const uint8_t* coded, size_t n) {
        return fwrite(coded, 1, n, out) == n;
    };
    std::string error;
    return code_member(member, write, failure, crc, original_size, &error) && fflush(out) == 0;
}

std::vector<uint8_t> build_archive(const std::vector<PackMember>& members, std::string* error) {
    std::vector<uint8_t> bytes;
    if (!check_members(members, error)) return bytes;
    FILE* out = tmpfile();
    if (!out) {
        *error = "no temporary file";
        return bytes;
    }
    if (write_to_stream(out, members, error, nullptr, {}, {})) {
        fseek(out, 0, SEEK_END);
        bytes.resize(size_t(ftell(out)));
        rewind(out);
        if (fread(bytes.data(), 1, bytes.size(), out) != bytes.size()) bytes.clear();
    }
    fclose(out);
    return bytes;
}
