// Helpers shared by the fuzz targets: invariant checks that stop the run with
// a readable message, and a small independent walk over an archive directory
// used to keep member sizes within what one input may decode.
#pragma once

#include <climits>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace fuzz {

// A broken invariant: the message, then abort() so libFuzzer keeps the input.
//
// A finding that is already understood and waiting for its fix can be let
// through while fuzzing for others: WPK_FUZZ_KNOWN=tag1,tag2 names the tags
// to count instead of stopping on. The counts are printed when the process
// ends. Each finding prints its tag in brackets, e.g. "[escape]".
struct KnownFinding {
    const char* tag;
    unsigned long count;
};

inline std::vector<KnownFinding>& known_findings() {
    static std::vector<KnownFinding> list;
    return list;
}

inline bool tag_is_known(const char* tag) {
    const char* known = getenv("WPK_FUZZ_KNOWN");
    if (!known) return false;
    const size_t n = strlen(tag);
    for (const char* p = known; *p;) {
        const char* comma = strchr(p, ',');
        const size_t len = comma ? size_t(comma - p) : strlen(p);
        if (len == n && strncmp(p, tag, n) == 0) return true;
        if (!comma) break;
        p = comma + 1;
    }
    return false;
}

inline void report_known() {
    for (const KnownFinding& k : known_findings())
        fprintf(stderr, "wpk-fuzz: known finding '%s' seen %lu times\n", k.tag, k.count);
}

// Returns normally only for a known tag.
inline void fail(const char* tag, const char* format, ...) __attribute__((format(printf, 2, 3)));
inline void fail(const char* tag, const char* format, ...) {
    if (tag_is_known(tag)) {
        for (KnownFinding& k : known_findings())
            if (strcmp(k.tag, tag) == 0) {
                ++k.count;
                return;
            }
        if (known_findings().empty()) atexit(report_known);
        known_findings().push_back({tag, 1});
        return;
    }
    fprintf(stderr, "\nwpk-fuzz: invariant broken [%s]: ", tag);
    va_list args;
    va_start(args, format);
    vfprintf(stderr, format, args);
    va_end(args);
    fputc('\n', stderr);
    fflush(stderr);
    abort();
}

inline uint32_t le32(const uint8_t* b) {
    return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
}

inline void put_le32(uint8_t* b, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[i] = uint8_t(v >> (8 * i));
}

// Where each directory entry's member stream starts, read the same way the
// directory reader lays the archive out (signature, 2 unused bytes, signed
// 16-bit count, 14-byte records with their names, 32-bit data base). Empty
// when the directory is damaged or holds no entries: then nothing is decoded.
inline std::vector<uint32_t> member_starts(const std::vector<uint8_t>& a) {
    std::vector<uint32_t> starts;
    constexpr size_t COUNT_AT = 56, RECORDS_AT = 58, FIXED = 14, CAPACITY = 3000;
    if (a.size() < RECORDS_AT) return starts;
    const int16_t count = int16_t(uint16_t(a[COUNT_AT] | a[COUNT_AT + 1] << 8));
    if (count <= 0 || size_t(count) > CAPACITY) return starts;
    size_t at = RECORDS_AT;
    std::vector<uint32_t> offsets;
    for (int i = 0; i < count; ++i) {
        if (a.size() - at < FIXED) return starts;
        offsets.push_back(le32(&a[at]));
        const size_t names = size_t(a[at + 12]) + a[at + 13];
        at += FIXED;
        if (a.size() - at < names) return starts;
        at += names;
    }
    if (a.size() - at < 4) return starts;
    const uint32_t data_base = le32(&a[at]);
    for (uint32_t offset : offsets) starts.push_back(uint32_t(data_base + offset));
    return starts;
}

// Keeps one input's decoding work bounded: every member size field that lies
// inside the file is clamped to `per_member`, and the sum over all entries
// (entries may share a stream) must stay within `total`. Rewriting a size
// field can land inside the directory itself and change it, so the walk is
// repeated until nothing moves. False when the input should be skipped.
inline bool cap_member_sizes(std::vector<uint8_t>& a, uint32_t per_member, uint64_t total) {
    for (int round = 0; round < 8; ++round) {
        bool changed = false;
        uint64_t sum = 0;
        for (uint32_t start : member_starts(a)) {
            if (uint64_t(start) + 4 > a.size()) continue; // the decoder stops at the size
            uint32_t size = le32(&a[start]);
            if (size > per_member) {
                size = per_member;
                put_le32(&a[start], size);
                changed = true;
            }
            sum += size;
        }
        if (!changed) return sum <= total;
    }
    return false;
}

// A private scratch folder under $TMPDIR (or /tmp), removed with all it
// holds when the process ends normally. After a crash it stays behind, next
// to the input that caused it.
inline std::vector<std::string>& scratch_folders() {
    static std::vector<std::string> list;
    return list;
}

inline void remove_scratch_folders() {
    for (const std::string& path : scratch_folders()) {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
}

inline std::string make_scratch_folder(const char* what) {
    const char* tmp = getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/wpk-fuzz-" + what + "-XXXXXX";
    if (!mkdtemp(pattern.data())) {
        perror("mkdtemp");
        abort();
    }
    // Resolved, so that paths under it compare as the kernel reports them.
    char resolved[PATH_MAX];
    if (!realpath(pattern.c_str(), resolved)) {
        perror("realpath");
        abort();
    }
    if (scratch_folders().empty()) atexit(remove_scratch_folders);
    scratch_folders().push_back(resolved);
    return resolved;
}

} // namespace fuzz
