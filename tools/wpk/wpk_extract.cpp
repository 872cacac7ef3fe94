// wpk extract: writes the members below a folder. A member is decoded into a
// temporary file beside its final name and renamed into place when whole, so
// a damaged member never leaves a partial file behind (unless asked), and an
// existing file is replaced only when asked.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <set>
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
#include "wpk_output.h"
#include "wpk_progress.h"
#include "wpk_reader.h"

namespace fs = std::filesystem;

namespace {

struct ExtractRun {
    std::string archive_path;
    fs::path target;
    bool allow_outside = false;
    bool overwrite = false;
    bool keep_damaged = false;
    fs::path scratch; // where workers decode ahead; empty when none do
    int failed = 0;
    int written = 0;
    uint64_t written_bytes = 0;
    std::set<std::string> written_files; // by this run: a later member replaces them
    std::set<std::string> wanted;        // the members named (FOLDER\NAME); empty: all
    std::set<std::string> found;         // those of them met
    bool to_standard_output = false;     // -O: the members' bytes, in order, on stdout
};

// Whether the run writes member i: every member, or those named.
bool is_wanted(ExtractRun& run, const ArchiveEntry& e) {
    if (run.wanted.empty()) return true;
    const std::string path = member_path(e);
    if (!run.wanted.count(path)) return false;
    run.found.insert(path);
    return true;
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
    return !parts->empty() && e.name_length != 0;
}

// The host file a member goes to; empty when it would land outside the
// target and that is not allowed. `link` names a folder on the way that is
// a symbolic link, which would take the file elsewhere.
fs::path destination(const ExtractRun& run, const ArchiveEntry& e, fs::path* link = nullptr) {
    std::vector<std::string> parts;
    bool rooted = false;
    if (!safe_components(e, run.allow_outside, &parts, &rooted)) return {};
    fs::path file = rooted ? fs::path("/") : run.target;
    for (size_t i = 0; i < parts.size(); ++i) {
        file /= parts[i];
        std::error_code ec;
        if (link && link->empty() && !run.allow_outside && i + 1 < parts.size() &&
            fs::symlink_status(file, ec).type() == fs::file_type::symlink)
            *link = file;
    }
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
// flush or close counted as a write failure, and `*error` the system's
// reason for one.
DecodeFault decode_into(FILE* archive, int i, FILE* out, int* error = nullptr) {
    errno = 0;
    DecodeFault fault = decode_member(archive, i, out);
    int reason = errno;
    if (out && fflush(out) != 0 && fault == DecodeFault::NONE) {
        fault = DecodeFault::WRITE_FAILED;
        reason = errno;
    }
    if (out && fclose(out) != 0 && fault == DecodeFault::NONE) {
        fault = DecodeFault::WRITE_FAILED;
        reason = errno;
    }
    if (error) *error = reason ? reason : EIO;
    return fault;
}

void fail(ExtractRun& run, const std::string& name, const std::string& why) {
    progress_end();
    complain(run.archive_path + ": " + name + ": " + why);
    ++run.failed;
}

void written(ExtractRun& run, const fs::path& file) {
    std::error_code ec;
    ++run.written;
    run.written_bytes += fs::file_size(file, ec);
    run.written_files.insert(file.string());
    if (g_verbosity > 0) printf("%s\n", file.string().c_str());
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

// Decodes member i here, into a temporary beside its final name, and
// renames it into place.
void extract_here(ExtractRun& run, const ArchiveReader& archive, int i, const fs::path& file) {
    const ArchiveEntry& e = g_entry_table[i];
    const std::string name = shown_member(e);
    std::error_code ec;
    fs::create_directories(file.parent_path(), ec);
    std::string partial, error;
    FILE* out = create_temporary(file.string(), &partial, &error);
    if (!out) {
        decode_into(archive.file, i, nullptr); // the next member may need its ring bytes
        fail(run, name, "not written: " + error);
        return;
    }
    int reason = 0;
    const DecodeFault fault = decode_into(archive.file, i, out, &reason);
    if (fault == DecodeFault::WRITE_FAILED) {
        remove_temporary(partial);
        fail(run, name, "not written: " + file.string() + ": " + reason_of(reason));
        return;
    }
    set_modification_time(partial, e.dos_date_time);
    if (fault != DecodeFault::NONE && !run.keep_damaged) {
        remove_temporary(partial);
        fail(run, name,
             std::string("damaged: ") + fault_text(fault) +
                 "; not written (--keep-damaged keeps what was decoded)");
        return;
    }
    if (rename(partial.c_str(), file.string().c_str()) != 0) {
        const int why = errno;
        remove_temporary(partial);
        fail(run, name, "not written: " + file.string() + ": " + reason_of(why));
        return;
    }
    keep_temporary(partial);
    if (fault != DecodeFault::NONE) {
        fail(run, name, std::string("damaged: ") + fault_text(fault) + "; written as decoded");
        run.written_files.insert(file.string());
    } else {
        written(run, file);
    }
}

// Handles member i as the installer would: a member it does not write is
// not decoded either, so the ring stays as the one before left it; a member
// refused here for safety is decoded all the same. Whether it was decoded.
bool extract_member(ExtractRun& run, const ArchiveReader& archive, int i,
                    const MemberOutcome* ahead) {
    const ArchiveEntry& e = g_entry_table[i];
    const std::string name = shown_member(e);
    progress_member(name);
    std::error_code ec;
    // What a worker decoded is moved into place below, or dropped here.
    const auto drop_scratch = [&]() {
        if (ahead) fs::remove(scratch_file(run, i), ec);
    };
    if (archive.starts_past_end(i)) { // the archive cut short was said once
        drop_scratch();
        ++run.failed;
        return false;
    }
    const bool writable = installer_writes(std::string(e.folder, e.folder_length),
                                           std::string(e.name, e.name_length));
    if (!is_wanted(run, e)) {
        // Not asked for: decoded all the same where the installer decodes
        // it, for the ring bytes the next member may read.
        if (writable && !ahead) decode_into(archive.file, i, nullptr);
        drop_scratch();
        return writable;
    }
    if (!writable) {
        drop_scratch();
        fail(run, name,
             "skipped: the installer cannot write it either (no name, a character Windows does "
             "not allow, or a path over 255 characters), so it is not decoded");
        return false;
    }
    if (run.to_standard_output) {
        const DecodeFault fault = decode_member(archive.file, i, stdout);
        if (fault != DecodeFault::NONE)
            fail(run, name, std::string("damaged: ") + fault_text(fault));
        else
            ++run.written;
        return true;
    }
    fs::path link;
    const fs::path file = destination(run, e, &link);
    const bool whole = ahead && !file.empty() && ahead->fault == DecodeFault::NONE;

    std::string refusal;
    const bool exists = !file.empty() && fs::exists(fs::symlink_status(file, ec));
    if (file.empty())
        refusal = "refused: would be written outside " + run.target.string();
    else if (!link.empty())
        refusal = "refused: " + link.string() + " is a symbolic link: would be written outside " +
                  run.target.string();
    else if (exists && !run.overwrite && !run.written_files.count(file.string()))
        refusal = "refused: " + file.string() + " exists (--overwrite replaces it)";
    if (!refusal.empty()) {
        // Decoded all the same: the next member may read its ring bytes.
        if (!ahead) decode_into(archive.file, i, nullptr);
        drop_scratch();
        fail(run, name, refusal);
        return true;
    }
    if (exists && run.written_files.count(file.string()) && g_verbosity >= 0) {
        progress_end();
        printf("warning: %s: %s: replaces the member of the same path before it, as the "
               "installer does\n",
               run.archive_path.c_str(), name.c_str());
    }
    if (whole && move_into_place(scratch_file(run, i), file, e)) {
        written(run, file);
        return true;
    }
    if (ahead && !whole) fs::remove(scratch_file(run, i), ec);
    extract_here(run, archive, i, file);
    return true;
}

int run_extract(const Invocation& invocation) {
    ExtractRun run;
    run.archive_path = invocation.operands[0];
    run.target = invocation.value("directory", ".");
    run.allow_outside = invocation.has("allow-outside");
    run.overwrite = invocation.has("overwrite");
    run.keep_damaged = invocation.has("keep-damaged");
    run.to_standard_output = invocation.has("to-stdout");
    for (size_t i = 1; i < invocation.operands.size(); ++i) {
        std::string path = invocation.operands[i];
        std::replace(path.begin(), path.end(), '/', '\\');
        run.wanted.insert(path);
    }
    int jobs = jobs_from_option(invocation.value("jobs"));
    if (jobs < 0) return EXIT_USAGE;
    if (run.to_standard_output) jobs = 1; // the bytes go out in order, as decoded
    std::error_code ec;
    if (fs::exists(run.target, ec) && !fs::is_directory(run.target, ec)) {
        complain(run.target.string() + ": not a folder, nothing written");
        return EXIT_DAMAGED;
    }
    ArchiveReader archive;
    if (!archive.open(run.archive_path)) return EXIT_DAMAGED;
    if (jobs > 1 && archive.count > 1) {
        run.scratch = make_scratch_folder(run.target);
        if (run.scratch.empty()) jobs = 1;
        if (!run.scratch.empty()) register_temporary(run.scratch.string(), archive.count);
    }

    // On a worker: the member into its scratch file, or nowhere when it
    // will be refused for its path.
    const auto decode_ahead = [&](int i, FILE* archive_file) {
        if (destination(run, g_entry_table[i]).empty() ||
            (!run.wanted.empty() && !run.wanted.count(member_path(g_entry_table[i]))))
            return decode_into(archive_file, i, nullptr);
        FILE* out = fopen(scratch_file(run, i).string().c_str(), "wb");
        return out ? decode_into(archive_file, i, out) : DecodeFault::WRITE_FAILED;
    };
    progress_start("extracted", archive.total_size());
    for_each_member(archive, jobs, decode_ahead, [&](int i, const MemberOutcome* ahead) {
        return extract_member(run, archive, i, ahead);
    });
    progress_end();
    if (!run.scratch.empty()) {
        fs::remove_all(run.scratch, ec);
        keep_temporary(run.scratch.string());
    }
    for (const std::string& path : run.wanted)
        if (!run.found.count(path)) {
            complain(run.archive_path + ": " + path + ": no such member");
            ++run.failed;
        }
    if (run.to_standard_output) return run.failed ? EXIT_DAMAGED : EXIT_OK;
    if (g_verbosity >= 0)
        printf("%s: %s written below %s (%s)%s\n", run.archive_path.c_str(),
               count_of(uint64_t(run.written), "member").c_str(), run.target.string().c_str(),
               human_size(run.written_bytes).c_str(),
               run.failed ? (", " + std::to_string(run.failed) + " not written").c_str() : "");
    return run.failed ? EXIT_DAMAGED : EXIT_OK;
}

const OptionDef EXTRACT_OPTIONS[] = {
    {"directory", 'C', "DIR", "write below DIR (default: the current folder)"},
    {"allow-outside", 0, nullptr, "write members whose path leaves DIR where they point"},
    {"overwrite", 0, nullptr, "replace files that exist (otherwise such a member is refused)"},
    {"keep-damaged", 0, nullptr, "keep what was decoded of a damaged member"},
    {"to-stdout", 'O', nullptr, "write the members' bytes to standard output instead, in order"},
    JOBS_OPTION,
    {nullptr, 0, nullptr, nullptr},
};

} // namespace

const CommandDef EXTRACT_COMMAND = {
    "extract",
    "ARCHIVE [MEMBER...]",
    1,
    -1,
    "write the members below a folder (-C DIR)",
    "Writes every member below DIR (default: the current folder) with its\n"
    "folder and its stored modification time. Each member is decoded into a\n"
    "temporary .NAME.XXXXXX beside its place and renamed to NAME when whole; a\n"
    "damaged member is removed again unless --keep-damaged is given. A file\n"
    "that existed before is not replaced unless --overwrite is given: the\n"
    "member is refused; a later member of the same path replaces an earlier\n"
    "one, with a warning, as the installer does. Members whose folder or name\n"
    "would land outside DIR (a leading backslash, a drive, '..', a folder in\n"
    "DIR that is a symbolic link) are refused unless --allow-outside is given.\n"
    "A member the installer does not write (no name, a character Windows does\n"
    "not allow) is skipped and, as there, not decoded. A refused, skipped or\n"
    "damaged member makes the exit status 1; one line sums up the run.\n"
    "With MEMBER operands (FOLDER\\NAME as 'wpk list' shows them, / also\n"
    "taken) only those are written; the others are still decoded where the\n"
    "installer decodes them. -O writes the members' bytes to standard output\n"
    "instead, one after the other; nothing is written below DIR.\n",
    EXTRACT_OPTIONS,
    run_extract,
};
