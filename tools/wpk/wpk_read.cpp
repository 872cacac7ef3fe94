// wpk list and test: read an archive with the installer's own directory
// reader and entry decoder.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "archive/archive_directory.h"
#include "archive/archive_signature.h"
#include "archive/dos_time.h"
#include "archive/entry_decoder.h"
#include "wpk.h"
#include "wpk_members.h"
#include "wpk_progress.h"
#include "wpk_reader.h"

namespace {

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
std::string json_string(const char* text, size_t length) {
    std::string out = "\"";
    for (size_t i = 0; i < length; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
        } else if (c < 0x20 || c >= 0x7F) {
            char escaped[8];
            snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += char(c);
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
    std::string fields = "{\"folder\": " + json_string(e.folder, e.folder_length) +
                         ", \"name\": " + json_string(e.name, e.name_length) +
                         ", \"size\": " + (size == "-" ? "null" : size) +
                         ", \"packed_size\": " + (packed == "-" ? "null" : packed) +
                         ", \"time\": " + time + ", \"stored_time\": " + std::to_string(stored) +
                         ", \"offset\": " + std::to_string(e.offset);
    char crc[16] = "null";
    if (g_member_crc_wanted) snprintf(crc, sizeof crc, "\"%08x\"", e.reserved);
    fields += ", \"checksum\": " + std::string(crc);
    printf("%s}", fields.c_str());
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
            if (!archive.starts_past_end(i))
                complain(path + ": " + shown_member(e) + ": damaged: size cut short");
            status = EXIT_DAMAGED;
        }
        if (json) {
            printf("%s\n", i ? "," : "");
            print_json_member(e, size, packed);
        } else {
            printf("%10s %10s  %-19s  %10u  %s\n", size.c_str(), packed.c_str(),
                   date_text(e.dos_date_time).c_str(), e.offset, shown_member(e).c_str());
        }
    }
    if (json) printf("%s]\n", archive.count > 0 ? "\n" : "");
    return status;
}

} // namespace

int test_archive(const std::string& path, int jobs, ArchiveNames* names,
                 const std::string& shown_as) {
    const std::string& shown = shown_as.empty() ? path : shown_as;
    ArchiveReader archive;
    if (!archive.open(path)) return EXIT_DAMAGED;
    if (names) {
        names->opened = true;
        names->signature = classify_signature(g_archive_signature, g_archive_unused);
        for (int i = 0; i < archive.count; ++i)
            names->members.push_back(
                {std::string(g_entry_table[i].folder, g_entry_table[i].folder_length),
                 std::string(g_entry_table[i].name, g_entry_table[i].name_length)});
    }
    int damaged = 0;
    progress_start("tested", archive.total_size());
    const auto decode_ahead = [&](int i, FILE* file) { return decode_member(file, i, nullptr); };
    for_each_member(archive, jobs, decode_ahead, [&](int i, const MemberOutcome* ahead) {
        const std::string name = shown_member(g_entry_table[i]);
        progress_member(name);
        const DecodeFault fault = ahead ? ahead->fault : decode_member(archive.file, i, nullptr);
        if (fault != DecodeFault::NONE) {
            progress_end();
            if (!archive.starts_past_end(i)) // the archive cut short was said once
                complain(shown + ": " + name + ": damaged: " + fault_text(fault));
            ++damaged;
        } else if (g_verbosity > 0) {
            printf("%s: ok\n", name.c_str());
        }
        return true;
    });
    progress_end();
    const int members = archive.count > 0 ? archive.count : 0;
    if (g_verbosity >= 0)
        printf("%s: %s, %d damaged%s\n", shown.c_str(),
               count_of(uint64_t(members), "member").c_str(), damaged,
               g_member_crc_wanted ? ", checksums verified" : "");
    return damaged ? EXIT_DAMAGED : EXIT_OK;
}

namespace {

int run_test(const Invocation& invocation) {
    const int jobs = jobs_from_option(invocation.value("jobs"));
    if (jobs < 0) return EXIT_USAGE;
    int status = EXIT_OK;
    for (const std::string& archive : invocation.operands)
        if (test_archive(archive, jobs, nullptr) != EXIT_OK) status = EXIT_DAMAGED;
    return status;
}

const OptionDef LIST_OPTIONS[] = {
    {"json", 0, nullptr, "one JSON object per member, in a JSON array"},
    {nullptr, 0, nullptr, nullptr},
};

const OptionDef TEST_OPTIONS[] = {
    JOBS_OPTION,
    {nullptr, 0, nullptr, nullptr},
};

} // namespace

const CommandDef LIST_COMMAND = {
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

const CommandDef TEST_COMMAND = {
    "test",
    "ARCHIVE...",
    1,
    -1,
    "decode every member and report damage",
    "Decodes every member without writing it and reports damage: a directory\n"
    "cut short, a size cut short, coded data past the end of the file, a match\n"
    "past the member's size, and, in archives that carry them (wpk pack writes\n"
    "them), a member whose CRC-32 differs from the one stored. A file with no\n"
    "members and no wpk signature is reported as no archive. Exit status 1\n"
    "when anything in any ARCHIVE is damaged. Members\n"
    "are decoded on every processor; messages come in member order, as on one.\n",
    TEST_OPTIONS,
    run_test,
};
