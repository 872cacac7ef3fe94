// wpk list, test and extract: read an archive with the installer's own
// directory reader and entry decoder.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#ifdef _WIN32
#include <sys/utime.h>
#else
#include <utime.h>
#endif

#include "archive/archive_directory.h"
#include "archive/archive_signature.h"
#include "archive/dos_time.h"
#include "archive/entry_decoder.h"
#include "archive/fatal_error.h"
#include "wpk.h"

namespace fs = std::filesystem;

namespace {

// The directory of one open archive; the entry table lives while it does.
struct ArchiveReader {
    FILE* file = nullptr;
    uint64_t file_size = 0;
    int32_t count = 0;

    bool open(const std::string& path) {
        file = fopen(path.c_str(), "rb");
        if (!file) {
            complain(path + ": " + strerror(errno));
            return false;
        }
        fseek(file, 0, SEEK_END);
        file_size = uint64_t(ftell(file));
        rewind(file);
        g_entry_table = static_cast<ArchiveEntry*>(calloc(ENTRY_CAPACITY, sizeof(ArchiveEntry)));
        count = read_archive_directory(file);
        if (count == DIRECTORY_DAMAGED) {
            complain(path + ": damaged archive: directory cut short or more than " +
                     std::to_string(ENTRY_CAPACITY) + " entries");
            return false;
        }
        const SignatureKind kind = classify_signature(g_archive_signature, g_archive_unused);
        if (count <= 0 && kind == SIGNATURE_FOREIGN) {
            complain(path + ": not a wpk archive: no members, and its first 54 bytes are no " +
                     "signature wpk writes");
            return false;
        }
        g_member_crc_wanted = kind == SIGNATURE_WPK_CHECKSUMS;
        return true;
    }

    ~ArchiveReader() {
        if (g_entry_table) {
            release_entry_names();
            free(g_entry_table);
            g_entry_table = nullptr;
        }
        if (file) fclose(file);
    }

    uint32_t member_start(int i) const { return uint32_t(g_data_base + g_entry_table[i].offset); }
};

std::string member_path(const ArchiveEntry& e) {
    return e.folder[0] ? std::string(e.folder) + "\\" + e.name : std::string(e.name);
}

const char* fault_text(DecodeFault fault) {
    switch (fault) {
    case DecodeFault::SIZE_CUT_SHORT:
        return "size cut short";
    case DecodeFault::DATA_PAST_END:
        return "coded data past the end of the file";
    case DecodeFault::WRITE_FAILED:
        return "cannot write the file";
    case DecodeFault::MATCH_PAST_SIZE:
        return "last match past the member's size";
    case DecodeFault::NONE:
        break;
    }
    return "ok";
}

// Decodes member i into `out` (null: discard); what is wrong with it, empty
// when it is clean (and matches its checksum, in an archive that has them).
std::string decode_member(ArchiveReader& archive, int i, FILE* out) {
    g_fatal_error_shows_box = false;
    FatalJumpScope armed;
    if (fseek(archive.file, long(archive.member_start(i)), SEEK_SET) != 0)
        return fault_text(DecodeFault::SIZE_CUT_SHORT);
    try {
        decode_entry(archive.file, out);
    } catch (const FatalUnpackExit&) {
    }
    if (g_decode_fault != DecodeFault::NONE) return fault_text(g_decode_fault);
    if (g_member_crc_wanted && g_member_crc != g_entry_table[i].reserved) {
        char text[64];
        snprintf(text, sizeof text, "checksum mismatch (CRC-32 %08X, stored %08X)", g_member_crc,
                 g_entry_table[i].reserved);
        return text;
    }
    return "";
}

std::string date_text(const uint8_t packed[4]) {
    const CalendarTime t = unpack_dos_date_time(read_dos_date_time(packed));
    char text[32];
    snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d%s", t.year, t.month, t.day, t.hour,
             t.minute, t.second, is_valid_calendar_time(t) ? "" : "?");
    return text;
}

// A stored name as a JSON string. Names are bytes in the ANSI code page, not
// UTF-8: each byte from 0x80 up is written as the code point of the same
// number (\u0080 to \u00ff), so the stored bytes can be read back exactly.
std::string json_string(const char* text) {
    std::string out = "\"";
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) {
        if (*p == '"' || *p == '\\') {
            out += '\\';
            out += char(*p);
        } else if (*p < 0x20 || *p >= 0x7F) {
            char escaped[8];
            snprintf(escaped, sizeof escaped, "\\u%04x", *p);
            out += escaped;
        } else {
            out += char(*p);
        }
    }
    return out + "\"";
}

// One member as a JSON object on one line. `size` and `packed` are numbers,
// or "-" when unknown (written as null); the time is ISO 8601 UTC, or null
// when the stored value names no real moment (then "stored_time" keeps it).
void print_json_member(const ArchiveEntry& e, const std::string& size, const std::string& packed) {
    const uint32_t stored = read_dos_date_time(e.dos_date_time);
    const CalendarTime t = unpack_dos_date_time(stored);
    char time[40] = "null";
    if (is_valid_calendar_time(t))
        snprintf(time, sizeof time, "\"%04d-%02d-%02dT%02d:%02d:%02dZ\"", t.year, t.month, t.day,
                 t.hour, t.minute, t.second);
    std::string fields = "{\"folder\": " + json_string(e.folder) +
                         ", \"name\": " + json_string(e.name) +
                         ", \"size\": " + (size == "-" ? "null" : size) +
                         ", \"packed_size\": " + (packed == "-" ? "null" : packed) +
                         ", \"time\": " + time + ", \"stored_time\": " + std::to_string(stored) +
                         ", \"offset\": " + std::to_string(e.offset);
    if (g_member_crc_wanted) {
        char crc[16];
        snprintf(crc, sizeof crc, "%08x", e.reserved);
        fields += ", \"checksum\": \"" + std::string(crc) + "\"";
    }
    printf("%s}", fields.c_str());
}

// Splits a stored folder and name into the components of a path below the
// extraction folder; false when it would leave it.
bool safe_components(const ArchiveEntry& e, bool allow_outside, std::vector<std::string>* parts,
                     bool* rooted) {
    std::string whole = member_path(e);
    *rooted = false;
    if (whole.size() >= 2 && whole[1] == ':') {
        if (!allow_outside) return false;
        whole.erase(0, 2);
    }
    if (!whole.empty() && (whole[0] == '\\' || whole[0] == '/')) {
        if (!allow_outside) return false;
        *rooted = true;
    }
    std::string part;
    for (size_t i = 0; i <= whole.size(); ++i) {
        if (i == whole.size() || whole[i] == '\\' || whole[i] == '/') {
            if (part == "..") {
                if (!allow_outside) return false;
                parts->push_back(part);
            } else if (!part.empty() && part != ".") {
                parts->push_back(part);
            }
            part.clear();
        } else {
            part += whole[i];
        }
    }
    return !parts->empty() && e.name[0] != '\0';
}

void set_modification_time(const fs::path& path, const uint8_t packed[4]) {
    const CalendarTime t = unpack_dos_date_time(read_dos_date_time(packed));
    if (!is_valid_calendar_time(t)) return; // no real time to give it
    struct utimbuf times;
    times.actime = times.modtime = time_t(unix_from_calendar(t));
    utime(path.string().c_str(), &times);
}

int run_list(const Invocation& invocation) {
    const std::string& path = invocation.operands[0];
    const bool json = invocation.has("json");
    ArchiveReader archive;
    if (!archive.open(path)) return EXIT_DAMAGED;
    std::vector<uint64_t> starts;
    for (int i = 0; i < archive.count; ++i) starts.push_back(archive.member_start(i));
    std::sort(starts.begin(), starts.end());

    int status = EXIT_OK;
    if (json)
        printf("[");
    else
        printf("%10s %10s  %-19s  %10s  %s\n", "size", "packed", "date (UTC)", "offset", "member");
    for (int i = 0; i < archive.count; ++i) {
        const ArchiveEntry& e = g_entry_table[i];
        const uint64_t start = archive.member_start(i);
        uint8_t b[4];
        std::string size = "-";
        std::string packed = "-";
        if (fseek(archive.file, long(start), SEEK_SET) == 0 && fread(b, 1, 4, archive.file) == 4) {
            size = std::to_string(uint32_t(b[0] | b[1] << 8 | b[2] << 16 | uint32_t(b[3]) << 24));
            const auto next = std::upper_bound(starts.begin(), starts.end(), start);
            const uint64_t end = next == starts.end() ? archive.file_size : *next;
            if (end <= archive.file_size) packed = std::to_string(end - start);
        } else {
            complain(path + ": " + member_path(e) + ": damaged: size cut short");
            status = EXIT_DAMAGED;
        }
        if (json) {
            printf("%s\n", i ? "," : "");
            print_json_member(e, size, packed);
        } else {
            printf("%10s %10s  %-19s  %10u  %s\n", size.c_str(), packed.c_str(),
                   date_text(e.dos_date_time).c_str(), e.offset, member_path(e).c_str());
        }
    }
    if (json) printf("%s]\n", archive.count > 0 ? "\n" : "");
    return status;
}

} // namespace

int test_archive(const std::string& path, ArchiveNames* names) {
    ArchiveReader archive;
    if (!archive.open(path)) return EXIT_DAMAGED;
    if (names) {
        names->signature = classify_signature(g_archive_signature, g_archive_unused);
        for (int i = 0; i < archive.count; ++i)
            names->members.push_back({g_entry_table[i].folder, g_entry_table[i].name});
    }
    int damaged = 0;
    for (int i = 0; i < archive.count; ++i) {
        const std::string name = member_path(g_entry_table[i]);
        show_progress(i + 1, size_t(archive.count), name);
        const std::string damage = decode_member(archive, i, nullptr);
        if (!damage.empty()) {
            end_progress();
            complain(path + ": " + name + ": damaged: " + damage);
            ++damaged;
        }
    }
    end_progress();
    const int members = archive.count > 0 ? archive.count : 0;
    if (g_verbosity >= 0)
        printf("%s: %d members, %d damaged%s\n", path.c_str(), members, damaged,
               g_member_crc_wanted ? ", checksums verified" : "");
    return damaged ? EXIT_DAMAGED : EXIT_OK;
}

namespace {

int run_test(const Invocation& invocation) {
    return test_archive(invocation.operands[0], nullptr);
}

int run_extract(const Invocation& invocation) {
    const std::string& path = invocation.operands[0];
    const std::string target = invocation.value("directory", ".");
    const bool allow_outside = invocation.has("allow-outside");
    ArchiveReader archive;
    if (!archive.open(path)) return EXIT_DAMAGED;
    int failed = 0;
    for (int i = 0; i < archive.count; ++i) {
        const ArchiveEntry& e = g_entry_table[i];
        const std::string name = member_path(e);
        show_progress(i + 1, size_t(archive.count), name);
        std::vector<std::string> parts;
        bool rooted = false;
        if (!safe_components(e, allow_outside, &parts, &rooted)) {
            end_progress();
            complain(path + ": " + name + ": refused: would be written outside " + target);
            ++failed;
            continue;
        }
        fs::path file = rooted ? fs::path("/") : fs::path(target);
        for (const std::string& part : parts) file /= part;
        std::error_code ec;
        fs::create_directories(file.parent_path(), ec);
        FILE* out = fopen(file.string().c_str(), "wb");
        if (!out) {
            end_progress();
            complain(path + ": " + name + ": cannot create " + file.string() + ": " +
                     strerror(errno));
            ++failed;
            continue;
        }
        std::string damage = decode_member(archive, i, out);
        const bool flushed = fflush(out) == 0;
        if (fclose(out) != 0 || !flushed)
            if (damage.empty()) damage = fault_text(DecodeFault::WRITE_FAILED);
        set_modification_time(file, e.dos_date_time);
        if (!damage.empty()) {
            end_progress();
            complain(path + ": " + name + ": damaged: " + damage);
            ++failed;
        }
    }
    end_progress();
    return failed ? EXIT_DAMAGED : EXIT_OK;
}

const OptionSpec LIST_OPTIONS[] = {
    {"json", 0, nullptr, "one JSON object per member, in a JSON array"},
    {nullptr, 0, nullptr, nullptr},
};

const OptionSpec NO_OPTIONS[] = {
    {nullptr, 0, nullptr, nullptr},
};

const OptionSpec EXTRACT_OPTIONS[] = {
    {"directory", 'C', "DIR", "write below DIR (default: the current folder)"},
    {"allow-outside", 0, nullptr, "write members whose path leaves DIR where they point"},
    {nullptr, 0, nullptr, nullptr},
};

} // namespace

const CommandSpec LIST_COMMAND = {
    "list",
    "ARCHIVE",
    1,
    1,
    "list the members",
    "Lists each member: uncompressed size, packed size (up to the next member\n"
    "or the end of the file; '-' where unknown), date and time (UTC), offset\n"
    "from the data base, and folder\\name. With --json, an array of objects\n"
    "with folder, name, size, packed_size, time, stored_time and offset (null\n"
    "where unknown; name bytes from 0x80 up as \\u0080 to \\u00ff).\n",
    LIST_OPTIONS,
    run_list,
};

const CommandSpec TEST_COMMAND = {
    "test",
    "ARCHIVE",
    1,
    1,
    "decode every member and report damage",
    "Decodes every member without writing it and reports damage: a directory\n"
    "cut short, a size cut short, coded data past the end of the file, a match\n"
    "past the member's size, and, in archives that carry them (wpk pack writes\n"
    "them), a member whose CRC-32 differs from the one stored. A file with no\n"
    "members and no wpk signature is reported as no archive. Exit status 1 when\n"
    "anything is damaged.\n",
    NO_OPTIONS,
    run_test,
};

const CommandSpec EXTRACT_COMMAND = {
    "extract",
    "ARCHIVE",
    1,
    1,
    "write the members below a folder (-C DIR)",
    "Writes every member below DIR (default: the current folder) with its\n"
    "folder and its stored modification time. Members whose folder or name\n"
    "would land outside DIR (a leading backslash, a drive, '..') are refused\n"
    "unless --allow-outside is given. Members are checked against their stored\n"
    "CRC-32 where the archive carries checksums; a mismatch is reported as damage.\n",
    EXTRACT_OPTIONS,
    run_extract,
};
