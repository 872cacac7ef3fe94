// wpk medium: the whole medium in one step: WBOOT.EXE and W_SETUP.WPK packed
// from the trees, tested, and optionally an ISO 9660 image of them.
#ifdef _WIN32
#include <io.h>
#include <process.h>
#else
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "wpk.h"
#include "wpk_members.h"

namespace fs = std::filesystem;

namespace {

const char PROGRAM_NAME[] = "WBOOT.EXE";
const char ARCHIVE_FILE[] = "W_SETUP.WPK";
const char SETUP_PROGRAM[] = "W_SETUP.EXE";
const char ISO_TOOL[] = "xorriso";
// Started by Windows when the disc is inserted, where autorun is enabled.
const char AUTORUN_TEXT[] = "[autorun]\r\nopen=WBOOT.EXE\r\nicon=WBOOT.EXE,0\r\n";
const char ISO_VOLUME[] = "WENDLE_SETUP";

bool is_setup_program(const PackMember& m) {
    if (!m.folder.empty() || m.name.size() != sizeof SETUP_PROGRAM - 1) return false;
    for (size_t i = 0; i < m.name.size(); ++i)
        if (toupper(static_cast<unsigned char>(m.name[i])) != SETUP_PROGRAM[i]) return false;
    return true;
}

// The Windows program of this build: beside wpk, or where the build tree
// puts it (build/host/tools/wpk/wpk -> build/win/wboot.exe).
std::string find_program(std::vector<std::string>* looked) {
    std::error_code ec;
#ifdef _WIN32
    (void)looked; // wpk.exe on Windows takes --program
    return "";
#else
    const fs::path self = fs::read_symlink("/proc/self/exe", ec);
    if (ec) return "";
    const fs::path dir = self.parent_path();
    for (const fs::path& candidate :
         {dir / "wboot.exe", dir / "../share/wpk/wboot.exe", dir / "../../../win/wboot.exe"}) {
        const fs::path p = candidate.lexically_normal();
        looked->push_back(p.string());
        if (fs::is_regular_file(p, ec)) return p.string();
    }
    return "";
#endif
}

// Whether a directory of PATH holds `tool` (on Windows: assumed, and found
// out when it is run).
bool on_path(const char* tool) {
#ifdef _WIN32
    (void)tool;
    return true;
#else
    const char* path = getenv("PATH");
    std::string dirs = path ? path : "";
    for (size_t start = 0; start <= dirs.size();) {
        size_t end = dirs.find(':', start);
        if (end == std::string::npos) end = dirs.size();
        const std::string dir = end > start ? dirs.substr(start, end - start) : ".";
        if (access((dir + "/" + tool).c_str(), X_OK) == 0) return true;
        start = end + 1;
    }
    return false;
#endif
}

// Runs a program with its arguments, its standard output on ours and its
// messages into `messages` (always printing a banner, xorriso is shown only
// when it fails); its exit status, or -1 when it could not be started.
int run_program(const std::vector<std::string>& args, const std::string& messages) {
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
#ifdef _WIN32
    (void)messages;
    const intptr_t status = _spawnvp(_P_WAIT, argv[0], argv.data());
    return status < 0 ? -1 : int(status);
#else
    pid_t pid;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, messages.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return -1;
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
}

bool write_text(const fs::path& path, const char* text) {
    FILE* f = fopen(path.string().c_str(), "wb");
    if (!f) return false;
    const bool ok = fputs(text, f) >= 0;
    return fclose(f) == 0 && ok;
}

// The files being made; every one is removed unless the medium is done.
struct Scratch {
    std::vector<fs::path> files;
    fs::path made_folder; // OUTDIR when this run created it
    bool done = false;

    const fs::path& add(const fs::path& p) {
        files.push_back(p);
        return files.back();
    }
    ~Scratch() {
        if (done) return;
        std::error_code ec;
        for (const fs::path& p : files) fs::remove(p, ec);
        if (!made_folder.empty()) fs::remove(made_folder, ec); // only when left empty
    }
};

bool make_iso(const std::string& iso, const fs::path& program, const fs::path& archive,
              const fs::path& autorun) {
    const std::string messages = iso + ".log";
    const int status = run_program(
        {ISO_TOOL, "-report_about", "SORRY", "-as", "mkisofs", "-quiet", "-J", "-r", "-V",
         ISO_VOLUME, "-o", iso, "-graft-points", std::string(PROGRAM_NAME) + "=" + program.string(),
         std::string(ARCHIVE_FILE) + "=" + archive.string(), "AUTORUN.INF=" + autorun.string()},
        messages);
    if (status != 0) {
        if (FILE* f = fopen(messages.c_str(), "rb")) {
            char line[512];
            while (fgets(line, sizeof line, f)) fputs(line, stderr);
            fclose(f);
        }
        complain("medium: " + iso + ": " +
                 (status < 0 ? std::string("xorriso could not be run there")
                             : "xorriso failed (status " + std::to_string(status) + ")") +
                 "; no image written");
    }
    std::error_code ec;
    fs::remove(messages, ec);
    return status == 0;
}

int run_medium(const Invocation& invocation);

const OptionDef MEDIUM_OPTIONS[] = {
    {"program", 0, "PATH", "the Windows program to ship as WBOOT.EXE (default: the build's)"},
    {"iso", 0, "FILE", "also write an ISO 9660 image (Joliet, AUTORUN.INF) through xorriso"},
    MTIME_OPTION,
    STRICT_PACK_OPTION,
    {nullptr, 0, nullptr, nullptr},
};

} // namespace

const CommandDef MEDIUM_COMMAND = {
    "medium",
    "OUTDIR TREE...",
    2,
    -1,
    "make a whole medium: WBOOT.EXE and W_SETUP.WPK",
    "Makes a complete installation medium in OUTDIR: WBOOT.EXE (the Windows\n"
    "program of this build, found beside wpk or in the build tree, or the one\n"
    "--program names) and W_SETUP.WPK packed from the files below each TREE as\n"
    "wpk pack packs them, after the same preflight; then tests the archive.\n"
    "Refuses when the archive would have no W_SETUP.EXE at its root. Nothing\n"
    "is replaced in OUTDIR until everything was written and tested. With\n"
    "--iso FILE also writes an ISO 9660 image of the medium with Joliet names\n"
    "and an AUTORUN.INF that starts WBOOT.EXE (needs xorriso).\n",
    MEDIUM_OPTIONS,
    run_medium,
};

namespace {

int run_medium(const Invocation& invocation) {
    const fs::path outdir = invocation.operands[0];
    const std::vector<std::string> trees(invocation.operands.begin() + 1,
                                         invocation.operands.end());
    const std::string iso = invocation.value("iso");
    if (!fix_member_time(invocation)) return EXIT_USAGE;
    std::vector<PackMember> members;
    for (const std::string& tree : trees)
        if (!gather_dir(tree, false, &members)) return EXIT_DAMAGED;
    bool has_setup = false;
    for (const PackMember& m : members) has_setup = has_setup || is_setup_program(m);
    if (!has_setup) {
        complain("medium: no " + std::string(SETUP_PROGRAM) +
                 " at the root of the trees: the installer would have nothing to start; "
                 "nothing written");
        return EXIT_DAMAGED;
    }
    std::string program = invocation.value("program");
    std::error_code ec;
    if (program.empty()) {
        std::vector<std::string> looked;
        program = find_program(&looked);
        if (program.empty()) {
            std::string where;
            for (const std::string& l : looked) where += " " + l;
            complain("medium: the Windows program was not found (looked at" + where +
                     "); build it (scripts/build.sh win) or give --program PATH");
            return EXIT_DAMAGED;
        }
    } else if (!fs::is_regular_file(program, ec)) {
        complain("medium: --program " + program + ": no such file");
        return EXIT_DAMAGED;
    }
    if (!iso.empty() && !on_path(ISO_TOOL)) {
        complain("medium: --iso needs xorriso, which is not installed (Debian: apt-get install "
                 "xorriso); nothing written");
        return EXIT_DAMAGED;
    }
    const fs::path archive = outdir / ARCHIVE_FILE;
    if (!preflight_members(&members, trees, archive.string(), invocation.has("strict"))) {
        complain("medium: nothing written: the preflight found problems (--strict)");
        return EXIT_DAMAGED;
    }

    Scratch scratch;
    if (!fs::is_directory(outdir, ec)) {
        if (!fs::create_directories(outdir, ec)) {
            complain("medium: " + outdir.string() + ": " + ec.message());
            return EXIT_DAMAGED;
        }
        scratch.made_folder = outdir;
    }
    const fs::path new_archive = scratch.add(outdir / (std::string(ARCHIVE_FILE) + ".new"));
    const fs::path new_program = scratch.add(outdir / (std::string(PROGRAM_NAME) + ".new"));
    std::string error;
    PackTotals totals;
    if (!write_members(new_archive.string(), members, &error, &totals)) {
        complain("medium: " + archive.string() + ": not written: " + error);
        return EXIT_DAMAGED;
    }
    if (!fs::copy_file(program, new_program, fs::copy_options::overwrite_existing, ec)) {
        complain("medium: " + program + ": cannot copy: " + ec.message());
        return EXIT_DAMAGED;
    }
    const int verbosity = g_verbosity;
    g_verbosity = -1; // damage is still told; the summary below names the final file
    const int tested = test_archive(new_archive.string(), jobs_from_option(""), nullptr);
    g_verbosity = verbosity;
    if (tested != EXIT_OK) {
        complain("medium: the archive written does not test clean; nothing written");
        return EXIT_DAMAGED;
    }
    if (!iso.empty()) {
        const fs::path autorun = scratch.add(outdir / "AUTORUN.INF.new");
        const fs::path new_iso = scratch.add(iso + ".new");
        if (!write_text(autorun, AUTORUN_TEXT)) {
            complain("medium: " + autorun.string() + ": cannot write");
            return EXIT_DAMAGED;
        }
        fs::remove(new_iso, ec);
        if (!make_iso(new_iso.string(), new_program, new_archive, autorun)) return EXIT_DAMAGED;
        fs::rename(new_iso, iso, ec);
        if (ec) {
            complain("medium: " + iso + ": " + ec.message());
            return EXIT_DAMAGED;
        }
        fs::remove(autorun, ec);
    }
    fs::rename(new_program, outdir / PROGRAM_NAME, ec);
    if (!ec) fs::rename(new_archive, archive, ec);
    if (ec) {
        complain("medium: " + outdir.string() + ": " + ec.message());
        return EXIT_DAMAGED;
    }
    scratch.done = true;
    if (g_verbosity >= 0) {
        printf("%s: %s and %s, %zu members (tested, checksums verified), %llu bytes packed "
               "into %llu\n",
               outdir.string().c_str(), PROGRAM_NAME, ARCHIVE_FILE, members.size(),
               (unsigned long long)totals.original_bytes, (unsigned long long)totals.archive_bytes);
        if (!iso.empty()) printf("%s: ISO 9660 image of the medium\n", iso.c_str());
    }
    return EXIT_OK;
}

} // namespace
