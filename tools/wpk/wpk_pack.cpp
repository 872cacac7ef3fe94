// wpk pack: gathers files into members and writes the archive.
#include <fnmatch.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "archive/dos_time.h"
#include "pack/archive_writer.h"
#include "pack/preflight.h"
#include "wpk.h"
#include "wpk_output.h"
#include "wpk_progress.h"
#include "wpk_reader.h"

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
int64_t g_fixed_seconds = -1;

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

std::vector<Finding> g_tree_findings;
std::vector<LeftOut> g_outputs;

namespace {

void note(FindingKind kind, const std::string& relative, const std::string& detail) {
    g_tree_findings.push_back({kind, shown_path(backslashed(relative)), detail});
}

// What this run writes, when `id` is one of those files or folders.
const LeftOut* output_named(const FileIdentity& id) {
    for (const LeftOut& o : g_outputs)
        if (o.identity == id) return &o;
    return nullptr;
}

const char* special_kind(fs::file_type type) {
    switch (type) {
    case fs::file_type::fifo:
        return "a FIFO";
    case fs::file_type::socket:
        return "a socket";
    case fs::file_type::block:
    case fs::file_type::character:
        return "a device";
    default:
        return "not a regular file";
    }
}

struct TreeWalk {
    fs::path real_root;                     // the tree, links resolved
    std::vector<FileIdentity> open_folders; // from the tree down to the folder being read
    std::vector<std::pair<std::string, fs::path>> files; // relative path, path to read
    bool failed = false;
};

// Reports a symbolic link at `path` and whether it leads anywhere: each link
// is a finding, one leading out of the tree a second one.
bool follow_link(TreeWalk& walk, const fs::path& path, const std::string& relative) {
    std::error_code ec;
    const std::string to = fs::read_symlink(path, ec).string();
    const fs::path real = fs::canonical(path, ec);
    if (ec) {
        note(FindingKind::LINK_LEFT_OUT, relative,
             "a symbolic link to " + shown_path(to) + ", which is not there: left out");
        return false;
    }
    note(FindingKind::SYMBOLIC_LINK, relative,
         "a symbolic link to " + shown_path(to) + ": packed as what it points to");
    const fs::path inside = real.lexically_relative(walk.real_root);
    if (inside.empty() || *inside.begin() == "..")
        note(FindingKind::LINK_OUTSIDE_TREE, relative,
             "leads out of the tree, to " + shown_path(real.string()));
    return true;
}

void walk_folder(TreeWalk& walk, const fs::path& folder, const std::string& relative_folder) {
    std::error_code ec;
    std::vector<fs::path> entries;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
        entries.push_back(it->path());
    if (ec) {
        complain(folder.string() + ": " + ec.message());
        walk.failed = true;
        return;
    }
    for (const fs::path& path : entries) {
        const std::string name = path.filename().string();
        const std::string relative = relative_folder.empty() ? name : relative_folder + "/" + name;
        if (fs::symlink_status(path, ec).type() == fs::file_type::symlink &&
            !follow_link(walk, path, relative))
            continue;
        const FileIdentity id = identity_of(path.string());
        if (const LeftOut* output = output_named(id)) {
            note(FindingKind::ARCHIVE_INSIDE_TREE, relative,
                 output->what + " lies inside a packed tree: left out");
            continue;
        }
        const fs::file_type type = fs::status(path, ec).type();
        if (type == fs::file_type::directory) {
            if (std::find(walk.open_folders.begin(), walk.open_folders.end(), id) !=
                walk.open_folders.end()) {
                note(FindingKind::LINK_LEFT_OUT, relative,
                     "leads to a folder that holds it: left out, it would go round");
                continue;
            }
            walk.open_folders.push_back(id);
            walk_folder(walk, path, relative);
            walk.open_folders.pop_back();
        } else if (type == fs::file_type::regular) {
            walk.files.push_back({relative, path});
        } else {
            note(FindingKind::SPECIAL_FILE, relative,
                 std::string(special_kind(type)) + ", not a file: never read, an error");
        }
    }
}

} // namespace

bool gather_dir(const std::string& dir, bool flat, std::vector<PackMember>* members) {
    std::error_code ec;
    if (!fs::is_directory(dir, ec)) {
        complain(dir + ": not a folder");
        return false;
    }
    TreeWalk walk;
    walk.real_root = fs::canonical(dir, ec);
    walk.open_folders.push_back(identity_of(dir));
    walk_folder(walk, dir, "");
    if (walk.failed) return false;
    std::sort(walk.files.begin(), walk.files.end());
    for (const auto& file : walk.files)
        members->push_back(member_for(file.second, fs::path(file.first), flat));
    return true;
}

void drop_repeated_files(std::vector<PackMember>* members) {
    std::vector<std::pair<std::string, FileIdentity>> seen;
    std::vector<PackMember> kept;
    for (PackMember& m : *members) {
        const std::pair<std::string, FileIdentity> key = {m.folder + "\\" + m.name,
                                                          identity_of(m.source)};
        bool repeated = false;
        for (const auto& s : seen)
            repeated = repeated || (s.first == key.first && s.second == key.second);
        if (repeated) continue;
        seen.push_back(key);
        kept.push_back(std::move(m));
    }
    members->swap(kept);
}

namespace {

// Whether a member path ("DATA/SUB/A.TXT") or one of its folders matches a
// pattern, as tar's --exclude: the whole path, or its last component.
bool is_excluded(const std::string& path, const std::vector<std::string>& patterns) {
    for (size_t end = path.find('/');; end = path.find('/', end + 1)) {
        const std::string part = end == std::string::npos ? path : path.substr(0, end);
        const size_t slash = part.rfind('/');
        const std::string last = slash == std::string::npos ? part : part.substr(slash + 1);
        for (const std::string& p : patterns)
            if (fnmatch(p.c_str(), part.c_str(), 0) == 0 ||
                fnmatch(p.c_str(), last.c_str(), 0) == 0)
                return true;
        if (end == std::string::npos) return false;
    }
}

std::string slashed(const std::string& member) {
    std::string path = member;
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
}

} // namespace

void exclude_members(const std::vector<std::string>& patterns, std::vector<PackMember>* members) {
    if (patterns.empty()) return;
    std::vector<PackMember> kept;
    for (PackMember& m : *members)
        if (!is_excluded(slashed(m.folder.empty() ? m.name : m.folder + "\\" + m.name), patterns))
            kept.push_back(std::move(m));
    members->swap(kept);
    std::vector<Finding> findings;
    for (Finding& f : g_tree_findings)
        if (f.member.empty() || !is_excluded(slashed(f.member), patterns))
            findings.push_back(std::move(f));
    g_tree_findings.swap(findings);
}

namespace {

bool gather_list(const std::string& list, bool flat, std::vector<PackMember>* members) {
    std::error_code ec;
    std::ifstream file;
    if (list != "-") file.open(list);
    std::istream& in = list == "-" ? std::cin : file;
    if (!in || (list != "-" && fs::is_directory(list, ec))) {
        complain(list + ": cannot read the list: " +
                 (fs::is_directory(list, ec) ? "is a folder" : strerror(errno)));
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
        const std::string relative = path.generic_string();
        if (fs::symlink_status(path, ec).type() == fs::file_type::symlink)
            note(FindingKind::SYMBOLIC_LINK, relative,
                 "a symbolic link to " + shown_path(fs::read_symlink(path, ec).string()) +
                     ": packed as what it points to");
        const fs::file_status status = fs::status(path, ec);
        if (ec || status.type() == fs::file_type::directory) {
            complain(list + ": " + line + ": " + (ec ? ec.message() : "is a folder, not a file"));
            return false;
        }
        if (const LeftOut* output = output_named(identity_of(path.string()))) {
            note(FindingKind::ARCHIVE_INSIDE_TREE, relative, output->what + ": left out");
            continue;
        }
        if (status.type() != fs::file_type::regular) {
            note(FindingKind::SPECIAL_FILE, relative,
                 std::string(special_kind(status.type())) + ", not a file: never read, an error");
            continue;
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
                   std::string* error, PackTotals* totals, std::string* unrenamed) {
    std::string temporary;
    FILE* out = create_temporary(path, &temporary, error);
    if (!out) return false;
    uint64_t total = 0;
    for (const PackMember& m : members) {
        struct stat st;
        total += m.source.empty()                   ? m.data.size()
                 : stat(m.source.c_str(), &st) == 0 ? uint64_t(st.st_size)
                                                    : 0;
    }
    progress_start("packed", total);
    g_pack_read_progress = progress_add;
    bool ok = write_archive_to(out, members, error, totals, [&](size_t, const PackMember& m) {
        if (g_verbosity > 0) {
            progress_end();
            printf("%s\n", m.source.c_str());
        }
        progress_member(m.source);
    });
    g_pack_read_progress = nullptr;
    progress_end();
    if (fclose(out) != 0 && ok) {
        *error = temporary + ": " + reason_of(errno);
        ok = false;
    }
    if (ok && unrenamed) {
        *unrenamed = temporary;
        return true;
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
    g_fixed_seconds = seconds;
    return true;
}

int64_t fixed_time() {
    return g_fixed_seconds;
}

namespace {

int run_pack(const Invocation& invocation);

const OptionDef PACK_OPTIONS[] = {
    {"flat", 0, nullptr, "store every member without a folder"},
    {"list", 0, "FILE",
     "also pack the files named in FILE ('-': standard input), one relative path a line; its "
     "folder part becomes the member's folder"},
    EXCLUDE_OPTION,
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
    "The archive is written to a temporary file beside it (.NAME.XXXXXX) and\n"
    "renamed into place at the end; nothing is left behind on failure or when\n"
    "interrupted. An ARCHIVE that is a symbolic link is written where it points;\n"
    "a folder, device, FIFO or socket there is refused. An archive holds at most 3000\n"
    "members, folders and names of at most 255 bytes, members below 4 GiB.\n"
    "Each member's CRC-32 is stored, for wpk test and the installer to verify.\n"
    "\n"
    "Before packing, the preflight warns of what the installer would do\n"
    "otherwise than meant ('wpk check --help' lists it); --strict makes each\n"
    "warning an error.\n"
    "\n" LINK_POLICY_HELP,
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
    std::string archive;
    std::string error;
    if (!resolve_target(operands[0], &archive, &error)) {
        complain("pack: " + error);
        return EXIT_DAMAGED;
    }
    g_outputs.push_back({identity_of(archive), "the archive being written (an older copy)"});
    std::vector<PackMember> members;
    for (size_t i = 1; i < operands.size(); ++i)
        if (!gather_dir(operands[i], flat, &members)) return EXIT_DAMAGED;
    for (const std::string& list : lists)
        if (!gather_list(list, flat, &members)) return EXIT_DAMAGED;
    exclude_members(invocation.values("exclude"), &members);
    const std::vector<std::string> trees(operands.begin() + 1, operands.end());
    const bool strict = invocation.has("strict");
    if (!preflight_members(&members, trees, operands[0], strict)) {
        complain(operands[0] + ": not written: the preflight found " +
                 (strict ? "problems (--strict)" : "errors"));
        return EXIT_DAMAGED;
    }

    PackTotals totals;
    if (!write_members(archive, members, &error, &totals)) {
        complain(operands[0] + ": not written: " + error);
        return EXIT_DAMAGED;
    }
    if (g_verbosity >= 0)
        printf("%s: %s, %s packed into %s (%.1f%%)\n", operands[0].c_str(),
               count_of(members.size(), "member").c_str(),
               human_size(totals.original_bytes).c_str(), human_size(totals.archive_bytes).c_str(),
               totals.original_bytes
                   ? 100.0 * double(totals.archive_bytes) / double(totals.original_bytes)
                   : 0.0);
    return EXIT_OK;
}

} // namespace
