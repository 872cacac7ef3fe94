// wpk pack: gathers files into members and writes the archive.
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#ifndef _WIN32
#include <sys/mman.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
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
#include "wpk_members.h"
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

namespace {

// The size of each member's source as it stands (0 where it cannot be read).
std::vector<uint64_t> member_sizes(const std::vector<PackMember>& members) {
    std::vector<uint64_t> sizes;
    for (const PackMember& m : members) {
        struct stat st;
        sizes.push_back(m.source.empty()                   ? m.data.size()
                        : stat(m.source.c_str(), &st) == 0 ? uint64_t(st.st_size)
                                                           : 0);
    }
    return sizes;
}

#ifndef _WIN32

// A member's state in the memory shared with the workers.
constexpr int32_t TO_CODE = 0;
constexpr int32_t CODED = 1; // in the worker's scratch file
constexpr int32_t NOT_CODED = 2;

struct PackOutcome {
    std::atomic<int32_t> state;
    int32_t worker;      // whose scratch file holds it
    uint64_t offset;     // where it starts there
    uint64_t coded_size; // its length there
    uint32_t crc;
    uint64_t original_size;
};

// How many members the workers have taken (in the order of largest_first),
// the member the parent waits for (-1: none), whether a worker failed, then
// the outcomes in member order.
struct SharedPack {
    std::atomic<int32_t> next;
    std::atomic<int32_t> awaited;
    std::atomic<int32_t> failed;
    PackOutcome outcome[1]; // as many as there are members
};

// Whether the disk of `folder` holds the members twice over, each an eighth
// larger than it is (more than coding ever adds): in the workers' files and
// in the archive. Workers on a disk that could run full would take space the
// archive needs; packing on one process needs it once.
bool room_for_scratch(const fs::path& folder, const std::vector<uint64_t>& sizes) {
    uint64_t total = 0;
    for (const uint64_t size : sizes) total += size;
    struct statvfs disk;
    return statvfs(folder.c_str(), &disk) == 0 &&
           uint64_t(disk.f_bavail) * uint64_t(disk.f_frsize) / 2 >=
               total + total / 8 + (uint64_t(1) << 20);
}

// The members from the largest to the smallest: the last a worker takes is
// a small one, so the workers finish nearly together.
std::vector<int> largest_first(const std::vector<uint64_t>& sizes) {
    std::vector<int> order(sizes.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = int(i);
    std::stable_sort(order.begin(), order.end(),
                     [&](int a, int b) { return sizes[size_t(a)] > sizes[size_t(b)]; });
    return order;
}

std::string scratch_file(const std::string& scratch, int worker) {
    return scratch + "/" + std::to_string(worker);
}

// Codes the members it takes one after the other into its own scratch file.
[[noreturn]] void code_on_worker(const std::vector<PackMember>& members,
                                 const std::vector<int>& order, SharedPack* shared,
                                 const std::string& file, int worker, int wake) {
    FILE* out = fopen(file.c_str(), "wb");
    uint64_t at = 0;
    for (int k;
         out && !shared->failed.load() && (k = shared->next.fetch_add(1)) < int(members.size());) {
        const int i = order[size_t(k)];
        PackOutcome& o = shared->outcome[i];
        progress_member(members[size_t(i)].source); // the line names what is being coded
        const bool coded = code_member_to(out, members[size_t(i)], &o.crc, &o.original_size);
        const off_t end = ftello(out);
        if (!coded || end < 0) {
            o.state.store(NOT_CODED);
            shared->failed.store(1);
            const ssize_t told = write(wake, &i, sizeof i); // the parent waits no longer
            (void)told;
            break;
        }
        o.worker = worker;
        o.offset = at;
        o.coded_size = uint64_t(end) - at;
        at = uint64_t(end);
        o.state.store(CODED);
        // The parent sleeps only on the member it needs next.
        if (shared->awaited.load() == i && write(wake, &i, sizeof i) != sizeof i) break;
    }
    _exit(0); // leaves the parent's stdio buffers and objects alone
}

// Workers coding the members ahead, each into its own file of a scratch
// folder beside the archive, from which the writer copies them into the
// archive in order.
struct PackWorkers {
    SharedPack* shared = nullptr;
    size_t bytes = 0;
    std::string scratch;
    int wake = -1;
    bool running = false;
    std::vector<pid_t> pids;
    std::vector<FILE*> files;            // the workers' files, opened for reading when first needed
    const PackOutcome* copied = nullptr; // the member last given, its space to free
};

// Starts up to `jobs` workers on `members`; none (false) with one job, one
// member, too little room on the disk, or when the scratch folder or the
// shared memory cannot be had: the members are then all coded here.
bool start_workers(PackWorkers* w, const std::string& archive,
                   const std::vector<PackMember>& members, const std::vector<uint64_t>& sizes,
                   int jobs) {
    if (jobs < 2 || members.size() < 2) return false;
    const int count = std::min(jobs, int(members.size()));
    const fs::path where = archive;
    const fs::path folder = where.has_parent_path() ? where.parent_path() : fs::path(".");
    if (!room_for_scratch(folder, sizes)) return false;
    std::string name = (folder / ("." + where.filename().string() + ".XXXXXX")).string();
    if (!mkdtemp(&name[0])) return false;
    register_temporary(name, count);
    w->scratch = name;
    w->bytes = sizeof(SharedPack) + sizeof(PackOutcome) * members.size();
    void* memory =
        mmap(nullptr, w->bytes, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    int wake[2] = {-1, -1};
    if (memory == MAP_FAILED || pipe(wake) != 0) {
        if (memory != MAP_FAILED) munmap(memory, w->bytes);
        remove_temporary(w->scratch);
        return false;
    }
    w->shared = static_cast<SharedPack*>(memory); // zero-filled: all TO_CODE
    w->shared->awaited.store(-1);
    w->files.assign(size_t(count), nullptr);
    const std::vector<int> order = largest_first(sizes);
    fflush(stdout);
    fflush(stderr);
    for (int j = 0; j < count; ++j) {
        const pid_t pid = fork();
        if (pid == 0) {
            become_worker();
            close(wake[0]);
            code_on_worker(members, order, w->shared, scratch_file(w->scratch, j), j, wake[1]);
        }
        if (pid > 0) {
            register_worker(int(pid));
            w->pids.push_back(pid);
        }
    }
    close(wake[1]);
    w->wake = wake[0];
    w->running = !w->pids.empty();
    return true;
}

// Frees the disk space of the member last given, copied into the archive.
void free_copied(PackWorkers* w) {
#ifdef FALLOC_FL_PUNCH_HOLE
    const PackOutcome* o = w->copied;
    if (o && o->coded_size > 0)
        fallocate(fileno(w->files[size_t(o->worker)]), FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE,
                  off_t(o->offset), off_t(o->coded_size));
#endif
    w->copied = nullptr;
}

void stop_workers(PackWorkers* w, bool at_once);

// Member i as a worker coded it, once it is there; false when the workers
// are gone before coding it: it is then coded here. When a worker failed
// (a file it could not read, a full disk), the workers are ended and their
// files removed at once, and this member and the rest are coded here, in
// order: what fails then fails as on one process, with the disk holding what
// it would hold then.
bool take_coded(PackWorkers* w, size_t index, CodedAhead* coded) {
    if (w->shared == nullptr) return false;
    free_copied(w);
    const int i = int(index);
    PackOutcome& o = w->shared->outcome[i];
    // The worker stores the state before it reads `awaited`, and this
    // stores `awaited` before it reads the state again (both sequentially
    // consistent): either the worker sees it is awaited and writes, or this
    // sees the state and does not sleep.
    w->shared->awaited.store(i);
    int finished;
    while (w->running && o.state.load() == TO_CODE && !w->shared->failed.load()) {
        const ssize_t n = read(w->wake, &finished, sizeof finished);
        w->running = n > 0 || (n < 0 && errno == EINTR);
    }
    if (w->shared->failed.load()) {
        stop_workers(w, true);
        return false;
    }
    if (o.state.load() != CODED) return false;
    FILE*& file = w->files[size_t(o.worker)];
    if (!file) file = fopen(scratch_file(w->scratch, o.worker).c_str(), "r+b"); // to free space
    if (!file || fseeko(file, off_t(o.offset), SEEK_SET) != 0) return false;
    coded->stream = file;
    coded->coded_size = o.coded_size;
    coded->crc = o.crc;
    coded->original_size = o.original_size;
    w->copied = &o;
    return true;
}

// Ends the workers (at once, or when they are done) and removes the scratch
// folder.
void stop_workers(PackWorkers* w, bool at_once) {
    if (w->shared == nullptr) return;
    for (const pid_t pid : w->pids) {
        if (at_once) kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    forget_workers();
    w->copied = nullptr;
    for (FILE* file : w->files)
        if (file) fclose(file);
    close(w->wake);
    munmap(w->shared, w->bytes);
    remove_temporary(w->scratch);
    w->shared = nullptr;
}

#endif

} // namespace

bool write_members(const std::string& path, const std::vector<PackMember>& members, int jobs,
                   std::string* error, PackTotals* totals, std::string* unrenamed) {
    std::string temporary;
    FILE* out = create_temporary(path, &temporary, error);
    if (!out) return false;
    const std::vector<uint64_t> sizes = member_sizes(members);
    uint64_t total = 0;
    for (const uint64_t size : sizes) total += size;
    progress_start("packed", total);
    g_pack_read_progress = progress_add; // workers add what they read to the same count
    TakeCodedAhead take_ahead;
#ifndef _WIN32
    PackWorkers workers;
    if (start_workers(&workers, path, members, sizes, jobs))
        take_ahead = [&](size_t i, CodedAhead* coded) { return take_coded(&workers, i, coded); };
#else
    (void)jobs;
#endif
    bool ok = write_archive_to(
        out, members, error, totals,
        [&](size_t, const PackMember& m) {
            if (g_verbosity > 0) {
                progress_end();
                printf("%s\n", m.source.c_str());
            }
            progress_member(m.source);
        },
        take_ahead);
#ifndef _WIN32
    stop_workers(&workers, !ok);
#endif
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
    PACK_JOBS_OPTION,
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
    "With -j N (default: one per processor) N processes code the members, each\n"
    "into a file of a scratch folder beside the archive (.NAME.XXXXXX, removed\n"
    "at the end), and they are copied into the archive in order: the same bytes\n"
    "as -j 1. When a process fails on a member (a file it cannot read, a full\n"
    "disk), the others are stopped, their files removed, and the rest is packed\n"
    "on one process, so a failure is reported as -j 1 reports it. Where the disk\n"
    "has no room for the files twice over, one process packs them all.\n"
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
    const int jobs = jobs_from_option(invocation.value("jobs"));
    if (jobs < 0) return EXIT_USAGE;
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
    if (!write_members(archive, members, jobs, &error, &totals)) {
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
