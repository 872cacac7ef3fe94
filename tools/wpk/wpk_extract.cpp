// wpk extract: writes the members below a folder. A member is decoded into a
// temporary file beside its final name and renamed into place when whole, so
// a damaged member never leaves a partial file behind (unless asked), and an
// existing file is replaced only when asked.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#ifdef _WIN32
#include <sys/utime.h>
#else
#include <utime.h>
#endif

#include "archive/dos_time.h"
#include "wpk.h"
#include "wpk_members.h"
#include "wpk_reader.h"

namespace fs = std::filesystem;

namespace {

// The name a member is decoded under, beside its final name.
constexpr const char* PARTIAL_SUFFIX = ".wpk-part";

struct ExtractRun {
    std::string archive_path;
    fs::path target;
    bool allow_outside = false;
    bool overwrite = false;
    bool keep_damaged = false;
    fs::path scratch; // where workers decode ahead; empty when none do
    int failed = 0;
};

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

// The host file a member goes to; empty when it would land outside the
// target and that is not allowed.
fs::path destination(const ExtractRun& run, const ArchiveEntry& e) {
    std::vector<std::string> parts;
    bool rooted = false;
    if (!safe_components(e, run.allow_outside, &parts, &rooted)) return {};
    fs::path file = rooted ? fs::path("/") : run.target;
    for (const std::string& part : parts) file /= part;
    return file;
}

fs::path scratch_file(const ExtractRun& run, int i) {
    return run.scratch / std::to_string(i);
}

void set_modification_time(const fs::path& path, const uint8_t packed[4]) {
    const CalendarTime t = unpack_dos_date_time(read_dos_date_time(packed));
    if (!is_valid_calendar_time(t)) return; // no real time to give it
    struct utimbuf times;
    times.actime = times.modtime = time_t(unix_from_calendar(t));
    utime(path.string().c_str(), &times);
}

// Decodes member i into `file` (null: discard it); the fault, with a failed
// flush or close counted as a write failure.
DecodeFault decode_into(FILE* archive, int i, FILE* out) {
    DecodeFault fault = decode_member(archive, i, out);
    if (out && fflush(out) != 0 && fault == DecodeFault::NONE) fault = DecodeFault::WRITE_FAILED;
    if (out && fclose(out) != 0 && fault == DecodeFault::NONE) fault = DecodeFault::WRITE_FAILED;
    return fault;
}

void fail(ExtractRun& run, const std::string& name, const std::string& why) {
    end_progress();
    complain(run.archive_path + ": " + name + ": " + why);
    ++run.failed;
}

// Moves a member a worker decoded whole into place; false (and the scratch
// file gone) when that does not work out, so it is decoded here instead.
bool move_into_place(const fs::path& decoded, const fs::path& file, const ArchiveEntry& e) {
    std::error_code ec;
    fs::create_directories(file.parent_path(), ec);
    set_modification_time(decoded, e.dos_date_time);
    fs::rename(decoded, file, ec);
    if (!ec) return true;
    fs::remove(decoded, ec);
    return false;
}

// Decodes member i here, beside its final name, and renames it into place.
void extract_here(ExtractRun& run, const ArchiveReader& archive, int i, const fs::path& file) {
    const ArchiveEntry& e = g_entry_table[i];
    const std::string name = shown_member(e);
    std::error_code ec;
    fs::create_directories(file.parent_path(), ec);
    const fs::path partial = file.string() + PARTIAL_SUFFIX;
    FILE* out = fopen(partial.string().c_str(), "wb");
    if (!out) {
        const int error = errno;
        decode_into(archive.file, i, nullptr); // the next member may need its ring bytes
        fail(run, name, "cannot create " + partial.string() + ": " + strerror(error));
        return;
    }
    const DecodeFault fault = decode_into(archive.file, i, out);
    set_modification_time(partial, e.dos_date_time);
    if (fault != DecodeFault::NONE && !run.keep_damaged) {
        fs::remove(partial, ec);
        fail(run, name,
             std::string("damaged: ") + fault_text(fault) +
                 "; not written (--keep-damaged keeps what was decoded)");
        return;
    }
    fs::rename(partial, file, ec);
    if (ec) {
        std::error_code ignored;
        fs::remove(partial, ignored);
        fail(run, name, "cannot write " + file.string() + ": " + ec.message());
    } else if (fault != DecodeFault::NONE) {
        fail(run, name, std::string("damaged: ") + fault_text(fault) + "; written as decoded");
    } else if (g_verbosity > 0) {
        printf("%s\n", file.string().c_str());
    }
}

void extract_member(ExtractRun& run, const ArchiveReader& archive, int i,
                    const MemberOutcome* ahead) {
    const ArchiveEntry& e = g_entry_table[i];
    const std::string name = shown_member(e);
    show_progress(size_t(i) + 1, size_t(archive.count), name);
    const fs::path file = destination(run, e);
    std::error_code ec;
    const bool decoded = ahead && !file.empty();
    const bool whole = decoded && ahead->fault == DecodeFault::NONE;
    if (decoded && !whole) fs::remove(scratch_file(run, i), ec);

    std::string refusal;
    if (file.empty())
        refusal = "refused: would be written outside " + run.target.string();
    else if (!run.overwrite && fs::exists(fs::symlink_status(file, ec)))
        refusal = "refused: " + file.string() + " exists (--overwrite replaces it)";
    if (!refusal.empty()) {
        // Decoded all the same: the next member may read its ring bytes.
        if (!ahead) decode_into(archive.file, i, nullptr);
        if (whole) fs::remove(scratch_file(run, i), ec);
        fail(run, name, refusal);
        return;
    }
    if (whole && move_into_place(scratch_file(run, i), file, e)) {
        if (g_verbosity > 0) printf("%s\n", file.string().c_str());
        return;
    }
    extract_here(run, archive, i, file);
}

int run_extract(const Invocation& invocation) {
    ExtractRun run;
    run.archive_path = invocation.operands[0];
    run.target = invocation.value("directory", ".");
    run.allow_outside = invocation.has("allow-outside");
    run.overwrite = invocation.has("overwrite");
    run.keep_damaged = invocation.has("keep-damaged");
    int jobs = jobs_from_option(invocation.value("jobs"));
    if (jobs < 0) return EXIT_USAGE;
    ArchiveReader archive;
    if (!archive.open(run.archive_path)) return EXIT_DAMAGED;
    if (jobs > 1 && archive.count > 1) {
        run.scratch = make_scratch_folder(run.target);
        if (run.scratch.empty()) jobs = 1;
    }

    // On a worker: the member into its scratch file, or nowhere when it
    // will be refused for its path.
    const auto decode_ahead = [&](int i, FILE* archive_file) {
        if (destination(run, g_entry_table[i]).empty())
            return decode_into(archive_file, i, nullptr);
        FILE* out = fopen(scratch_file(run, i).string().c_str(), "wb");
        return out ? decode_into(archive_file, i, out) : DecodeFault::WRITE_FAILED;
    };
    for_each_member(archive, jobs, decode_ahead, [&](int i, const MemberOutcome* ahead) {
        extract_member(run, archive, i, ahead);
    });
    end_progress();
    if (!run.scratch.empty()) {
        std::error_code ec;
        fs::remove_all(run.scratch, ec);
    }
    return run.failed ? EXIT_DAMAGED : EXIT_OK;
}

const OptionDef EXTRACT_OPTIONS[] = {
    {"directory", 'C', "DIR", "write below DIR (default: the current folder)"},
    {"allow-outside", 0, nullptr, "write members whose path leaves DIR where they point"},
    {"overwrite", 0, nullptr, "replace files that exist (otherwise such a member is refused)"},
    {"keep-damaged", 0, nullptr, "keep what was decoded of a damaged member"},
    JOBS_OPTION,
    {nullptr, 0, nullptr, nullptr},
};

} // namespace

const CommandDef EXTRACT_COMMAND = {
    "extract",
    "ARCHIVE",
    1,
    1,
    "write the members below a folder (-C DIR)",
    "Writes every member below DIR (default: the current folder) with its\n"
    "folder and its stored modification time. Each member is decoded into\n"
    "NAME.wpk-part beside its place and renamed to NAME when whole; a damaged\n"
    "member is removed again unless --keep-damaged is given. A file that\n"
    "exists is not replaced unless --overwrite is given: the member is refused.\n"
    "Members whose folder or name would land outside DIR (a leading\n"
    "backslash, a drive, '..') are refused unless --allow-outside is given.\n"
    "A refused or damaged member makes the exit status 1.\n",
    EXTRACT_OPTIONS,
    run_extract,
};
