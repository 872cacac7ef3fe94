// wpk pack: gathers files into members and writes the archive.
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "archive/dos_time.h"
#include "pack/archive_writer.h"
#include "wpk.h"
#include "wpk_output.h"

namespace fs = std::filesystem;

namespace {

// The range of a member's stored time: 1980-01-01 00:00:00 to 2107-12-31
// 23:59:58 UTC.
constexpr int64_t DOS_EARLIEST = 315532800;
constexpr int64_t DOS_LATEST = 4354819198LL;

// The stored time of every member when one is asked for (--mtime or
// SOURCE_DATE_EPOCH); unset: each file's own modification time.
bool g_fixed_time_set = false;
uint32_t g_fixed_time = 0;

uint32_t modification_time(const std::string& path) {
    if (g_fixed_time_set) return g_fixed_time;
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return dos_date_time_from_unix(0);
    return dos_date_time_from_unix(int64_t(st.st_mtime));
}

std::string backslashed(std::string path) {
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

PackMember member_for(const fs::path& file, const fs::path& relative, bool flat) {
    PackMember m;
    m.source = file.string();
    m.name = relative.filename().string();
    if (!flat && relative.has_parent_path())
        m.folder = backslashed(relative.parent_path().generic_string());
    m.dos_date_time = modification_time(m.source);
    return m;
}

} // namespace

bool gather_dir(const std::string& dir, bool flat, std::vector<PackMember>* members) {
    std::error_code ec;
    if (!fs::is_directory(dir, ec)) {
        complain(dir + ": not a folder");
        return false;
    }
    std::vector<fs::path> files;
    for (fs::recursive_directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
        if (it->is_regular_file(ec)) files.push_back(it->path());
    if (ec) {
        complain(dir + ": " + ec.message());
        return false;
    }
    std::sort(files.begin(), files.end(), [](const fs::path& a, const fs::path& b) {
        return a.generic_string() < b.generic_string();
    });
    for (const fs::path& file : files)
        members->push_back(member_for(file, file.lexically_relative(dir), flat));
    return true;
}

namespace {

bool gather_list(const std::string& list, bool flat, std::vector<PackMember>* members) {
    std::ifstream in(list);
    if (!in) {
        complain(list + ": cannot read the list");
        return false;
    }
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) continue;
        const fs::path path = fs::path(line).lexically_normal();
        if (path.is_absolute() || path.has_root_name() || *path.begin() == "..") {
            complain(list + ": " + line + ": not a path below the current folder");
            return false;
        }
        members->push_back(member_for(path, path, flat));
    }
    return true;
}

// Reads WHEN: seconds since 1970 ("1700000000" or "@1700000000") or a UTC
// date "YYYY-MM-DD", "YYYY-MM-DD HH:MM:SS" or "YYYY-MM-DDTHH:MM:SS[Z]". False
// when it is neither, or lies outside what a member's time can hold.
bool parse_when(const std::string& when, int64_t* seconds) {
    const std::string text = when.substr(when[0] == '@' ? 1 : 0);
    if (!text.empty() && text.find_first_not_of("0123456789") == std::string::npos) {
        if (text.size() > 12) return false;
        *seconds = strtoll(text.c_str(), nullptr, 10);
    } else {
        CalendarTime t{0, 0, 0, 0, 0, 0};
        int date_end = -1;
        int time_end = -1;
        if (sscanf(text.c_str(), "%4d-%2d-%2d%n", &t.year, &t.month, &t.day, &date_end) != 3)
            return false;
        const char* rest = text.c_str() + date_end;
        if ((*rest == ' ' || *rest == 'T') &&
            sscanf(rest + 1, "%2d:%2d:%2d%n", &t.hour, &t.minute, &t.second, &time_end) == 3)
            rest += 1 + time_end;
        if (*rest == 'Z') ++rest;
        if (*rest != '\0' || !is_valid_calendar_time(t)) return false;
        *seconds = unix_from_calendar(t);
    }
    return *seconds >= DOS_EARLIEST && *seconds <= DOS_LATEST;
}

} // namespace

bool write_members(const std::string& path, const std::vector<PackMember>& members,
                   std::string* error, PackTotals* totals) {
    std::string temporary;
    FILE* out = create_temporary(path, &temporary, error);
    if (!out) return false;
    bool ok = write_archive_to(out, members, error, totals, [&](size_t i, const PackMember& m) {
        if (g_verbosity > 0) printf("%s\n", m.source.c_str());
        show_progress(i + 1, members.size(), m.source);
    });
    end_progress();
    if (fclose(out) != 0 && ok) {
        *error = temporary + ": " + reason_of(errno);
        ok = false;
    }
    if (ok && rename(temporary.c_str(), path.c_str()) != 0) {
        *error = path + ": " + reason_of(errno);
        ok = false;
    }
    if (ok)
        keep_temporary(temporary);
    else
        remove_temporary(temporary);
    return ok;
}

// Sets the members' time from --mtime, or else from SOURCE_DATE_EPOCH.
bool fix_member_time(const Invocation& invocation) {
    const char* epoch = getenv("SOURCE_DATE_EPOCH");
    std::string when;
    std::string origin;
    if (invocation.has("mtime")) {
        when = invocation.value("mtime");
        origin = "--mtime";
    } else if (epoch && *epoch) {
        when = epoch;
        origin = "SOURCE_DATE_EPOCH";
        if (when.find_first_not_of("0123456789") != std::string::npos) when = "?";
    } else {
        return true;
    }
    int64_t seconds = 0;
    if (when.empty() || !parse_when(when, &seconds)) {
        complain("pack: " + origin + " '" + (origin == "--mtime" ? when : epoch) +
                 "': not a time from 1980 to 2107 (seconds since 1970, or YYYY-MM-DD[ HH:MM:SS] "
                 "UTC)");
        return false;
    }
    g_fixed_time = dos_date_time_from_unix(seconds);
    g_fixed_time_set = true;
    return true;
}

namespace {

int run_pack(const Invocation& invocation);

const OptionDef PACK_OPTIONS[] = {
    {"flat", 0, nullptr, "store every member without a folder"},
    {"list", 0, "FILE",
     "also pack the files named in FILE, one relative path a line; its folder part becomes the "
     "member's folder"},
    MTIME_OPTION,
    STRICT_PACK_OPTION,
    {nullptr, 0, nullptr, nullptr},
};

} // namespace

const CommandDef PACK_COMMAND = {
    "pack",
    "ARCHIVE [DIR...]",
    1,
    -1,
    "pack the files under each DIR",
    "Packs every file below each DIR into ARCHIVE. A member's folder is its\n"
    "folder relative to DIR, with backslashes (SUB\\DIR); files directly in\n"
    "DIR have no folder. Members are stored in sorted order (by bytes, the same\n"
    "everywhere) with their modification times (UTC, even seconds). With --mtime\n"
    "or SOURCE_DATE_EPOCH the same files give the same archive bytes anywhere.\n"
    "\n"
    "The archive is written to a temporary file and renamed into place at the\n"
    "end; nothing is left behind on failure. An archive holds at most 3000\n"
    "members, folders and names of at most 255 bytes, members below 4 GiB.\n"
    "Each member's CRC-32 is stored, for wpk test and the installer to verify.\n"
    "\n"
    "Before packing, the preflight warns of what the installer would do\n"
    "otherwise than meant ('wpk check --help' lists it); --strict makes each\n"
    "warning an error.\n",
    PACK_OPTIONS,
    run_pack,
};

namespace {

int run_pack(const Invocation& invocation) {
    const bool flat = invocation.has("flat");
    const std::vector<std::string> lists = invocation.values("list");
    const std::vector<std::string>& operands = invocation.operands;
    if (operands.size() == 1 && lists.empty()) {
        complain("pack: nothing to pack: give a DIR or --list FILE");
        return EXIT_USAGE;
    }
    if (!fix_member_time(invocation)) return EXIT_USAGE;
    const std::string archive = operands[0];
    std::vector<PackMember> members;
    for (size_t i = 1; i < operands.size(); ++i)
        if (!gather_dir(operands[i], flat, &members)) return EXIT_DAMAGED;
    for (const std::string& list : lists)
        if (!gather_list(list, flat, &members)) return EXIT_DAMAGED;
    const std::vector<std::string> trees(operands.begin() + 1, operands.end());
    if (!preflight_members(&members, trees, archive, invocation.has("strict"))) {
        complain(archive + ": not written: the preflight found problems (--strict)");
        return EXIT_DAMAGED;
    }

    std::string error;
    PackTotals totals;
    if (!write_members(archive, members, &error, &totals)) {
        complain(archive + ": not written: " + error);
        return EXIT_DAMAGED;
    }
    if (g_verbosity >= 0)
        printf("%s: %zu members, %llu bytes packed into %llu (%.1f%%)\n", archive.c_str(),
               members.size(), (unsigned long long)totals.original_bytes,
               (unsigned long long)totals.archive_bytes,
               totals.original_bytes
                   ? 100.0 * double(totals.archive_bytes) / double(totals.original_bytes)
                   : 0.0);
    return EXIT_OK;
}

} // namespace
