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
#include "archive/dos_time.h"
#include "archive/entry_decoder.h"
#include "archive/fatal_error.h"
#include "wpk.h"

namespace fs = std::filesystem;

namespace {

const char LIST_HELP[] =
    "usage: wpk list ARCHIVE\n"
    "\n"
    "Lists each member: uncompressed size, packed size (up to the next member\n"
    "or the end of the file; '-' where unknown), date and time (UTC), offset\n"
    "from the data base, and folder\\name.\n";

const char TEST_HELP[] =
    "usage: wpk test ARCHIVE\n"
    "\n"
    "Decodes every member without writing it and reports damage: a directory\n"
    "cut short, a size cut short, coded data past the end of the file, a match\n"
    "past the member's size. Exit status 1 when anything is damaged.\n";

const char EXTRACT_HELP[] =
    "usage: wpk extract ARCHIVE [-C DIR] [--allow-outside]\n"
    "\n"
    "Writes every member below DIR (default: the current folder) with its\n"
    "folder and its stored modification time. Members whose folder or name\n"
    "would land outside DIR (a leading backslash, a drive, '..') are refused\n"
    "unless --allow-outside is given.\n";

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

// Decodes member i into `out` (null: discard); the fault, NONE when clean.
DecodeFault decode_member(ArchiveReader& archive, int i, FILE* out) {
    g_fatal_error_shows_box = false;
    FatalJumpScope armed;
    if (fseek(archive.file, long(archive.member_start(i)), SEEK_SET) != 0)
        return DecodeFault::SIZE_CUT_SHORT;
    if (!FATAL_JUMP_SAVE()) decode_entry(archive.file, out);
    return g_decode_fault;
}

bool single_archive(const std::vector<std::string>& args, const char* help, std::string* archive) {
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
        fputs(help, stdout);
        exit(EXIT_OK);
    }
    if (args.size() != 1 || (args[0].size() > 1 && args[0][0] == '-')) {
        fputs(help, stderr);
        return false;
    }
    *archive = args[0];
    return true;
}

std::string date_text(const uint8_t packed[4]) {
    const CalendarTime t = unpack_dos_date_time(read_dos_date_time(packed));
    char text[32];
    snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d%s", t.year, t.month, t.day, t.hour,
             t.minute, t.second, is_valid_calendar_time(t) ? "" : "?");
    return text;
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

} // namespace

int command_list(const std::vector<std::string>& args) {
    std::string path;
    if (!single_archive(args, LIST_HELP, &path)) return EXIT_USAGE;
    ArchiveReader archive;
    if (!archive.open(path)) return EXIT_DAMAGED;
    std::vector<uint64_t> starts;
    for (int i = 0; i < archive.count; ++i) starts.push_back(archive.member_start(i));
    std::sort(starts.begin(), starts.end());

    int status = EXIT_OK;
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
        printf("%10s %10s  %-19s  %10u  %s\n", size.c_str(), packed.c_str(),
               date_text(e.dos_date_time).c_str(), e.offset, member_path(e).c_str());
    }
    return status;
}

int command_test(const std::vector<std::string>& args) {
    std::string path;
    if (!single_archive(args, TEST_HELP, &path)) return EXIT_USAGE;
    ArchiveReader archive;
    if (!archive.open(path)) return EXIT_DAMAGED;
    int damaged = 0;
    for (int i = 0; i < archive.count; ++i) {
        const std::string name = member_path(g_entry_table[i]);
        show_progress(i + 1, size_t(archive.count), name);
        const DecodeFault fault = decode_member(archive, i, nullptr);
        if (fault != DecodeFault::NONE) {
            end_progress();
            complain(path + ": " + name + ": damaged: " + fault_text(fault));
            ++damaged;
        }
    }
    end_progress();
    const int members = archive.count > 0 ? archive.count : 0;
    printf("%s: %d members, %d damaged\n", path.c_str(), members, damaged);
    return damaged ? EXIT_DAMAGED : EXIT_OK;
}

int command_extract(const std::vector<std::string>& args) {
    std::string path;
    std::string target = ".";
    bool allow_outside = false;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--help" || args[i] == "-h") {
            fputs(EXTRACT_HELP, stdout);
            return EXIT_OK;
        } else if (args[i] == "-C" && i + 1 < args.size()) {
            target = args[++i];
        } else if (args[i] == "--allow-outside") {
            allow_outside = true;
        } else if (path.empty() && !(args[i].size() > 1 && args[i][0] == '-')) {
            path = args[i];
        } else {
            fputs(EXTRACT_HELP, stderr);
            return EXIT_USAGE;
        }
    }
    if (path.empty()) {
        fputs(EXTRACT_HELP, stderr);
        return EXIT_USAGE;
    }
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
        DecodeFault fault = decode_member(archive, i, out);
        if (fflush(out) != 0 && fault == DecodeFault::NONE) fault = DecodeFault::WRITE_FAILED;
        if (fclose(out) != 0 && fault == DecodeFault::NONE) fault = DecodeFault::WRITE_FAILED;
        set_modification_time(file, e.dos_date_time);
        if (fault != DecodeFault::NONE) {
            end_progress();
            complain(path + ": " + name + ": damaged: " + fault_text(fault));
            ++failed;
        }
    }
    end_progress();
    return failed ? EXIT_DAMAGED : EXIT_OK;
}
