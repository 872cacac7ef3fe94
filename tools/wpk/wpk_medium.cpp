// wpk medium: the whole medium in one step: WBOOT.EXE and W_SETUP.WPK packed
// from the trees, tested, the program bound to the archive and signed, and
// optionally an ISO 9660 image of them.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "wpk.h"
#include "wpk_members.h"
#include "wpk_output.h"
#include "wpk_pe.h"
#include "wpk_reader.h"
#include "wpk_sign.h"

namespace fs = std::filesystem;

namespace {

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

// The folder wpk runs from.
fs::path own_folder() {
    std::error_code ec;
    const fs::path self = fs::read_symlink("/proc/self/exe", ec);
    return ec ? fs::path() : self.parent_path();
}

// The Windows program of this build: where an installed wpk has it
// (bin/wpk -> share/wpk/WBOOT.EXE), or where the build tree puts it
// (build/host/tools/wpk/wpk -> build/win/wboot.exe).
std::string find_program(std::vector<std::string>* looked) {
    std::error_code ec;
    const fs::path dir = own_folder();
    if (dir.empty()) return "";
    for (const fs::path& candidate :
         {dir / "../share/wpk/WBOOT.EXE", dir / "../../../win/wboot.exe"}) {
        const fs::path p = candidate.lexically_normal();
        looked->push_back(p.string());
        if (fs::is_regular_file(p, ec)) return p.string();
    }
    return "";
}

// Whether a directory of PATH holds `tool`.
bool on_path(const char* tool) {
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
}

// Writes `text`, or else a copy of `from_file`, to a new temporary beside
// `target`; its name, or empty after saying why.
std::string write_temporary(const std::string& target, const std::string& from_file,
                            const char* text) {
    std::string temporary, error;
    FILE* out = create_temporary(target, &temporary, &error);
    if (!out) {
        complain("medium: " + error);
        return "";
    }
    bool ok = true;
    if (text) {
        ok = fputs(text, out) >= 0;
    } else if (FILE* in = fopen(from_file.c_str(), "rb")) {
        char block[65536];
        size_t n;
        while (ok && (n = fread(block, 1, sizeof block, in)) > 0)
            ok = fwrite(block, 1, n, out) == n;
        ok = ok && !ferror(in);
        fclose(in);
    } else {
        ok = false;
    }
    const int why = errno;
    if (fclose(out) != 0) ok = false;
    if (!ok) {
        complain("medium: " + target + ": cannot write: " + reason_of(why));
        return "";
    }
    return temporary;
}

// Why `program` is no 32-bit Windows GUI program, or empty when it is one
// (PE, i386, GUI subsystem, an executable and no DLL), importing only what
// `allowed` lists ("DLL\tFUNCTION" lines, upper-case DLL names) when that
// list is not empty.
std::string program_fault(const std::string& program, const std::vector<std::string>& allowed) {
    PeImage image;
    const std::string fault = pe_load(program, &image);
    if (!fault.empty()) return fault;
    const uint32_t characteristics = pe_u16(image, image.pe + 22);
    if ((characteristics & 0x0002) == 0 || (characteristics & 0x2000) != 0)
        return "not an executable program (a DLL or an object)";
    const uint32_t subsystem = pe_u16(image, image.optional + 68);
    if (subsystem != 2) return "not a GUI program (subsystem " + std::to_string(subsystem) + ")";
    if (allowed.empty()) return "";
    const auto text_at = [&](size_t at) {
        std::string t;
        while (at && at < image.bytes.size() && image.bytes[at]) t += char(image.bytes[at++]);
        return t;
    };
    uint32_t imports, size;
    pe_directory(image, 1, &imports, &size);
    for (size_t d = imports ? pe_file_offset(image, imports) : 0; d && pe_u32(image, d + 12);
         d += 20) {
        std::string dll = text_at(pe_file_offset(image, pe_u32(image, d + 12)));
        for (char& c : dll) c = char(toupper(static_cast<unsigned char>(c)));
        const uint32_t thunks = pe_u32(image, d) ? pe_u32(image, d) : pe_u32(image, d + 16);
        for (size_t t = pe_file_offset(image, thunks); t && pe_u32(image, t); t += 4) {
            if (pe_u32(image, t) & 0x80000000u) return "imports from " + dll + " by ordinal";
            const std::string function = text_at(pe_file_offset(image, pe_u32(image, t)) + 2);
            if (std::find(allowed.begin(), allowed.end(), dll + "\t" + function) == allowed.end())
                return "imports " + dll + " " + function + ", which the installer may not use";
        }
    }
    return "";
}

// The allowed imports, read from the list the build names (one
// "DLL<TAB>FUNCTION<TAB>SOURCE" a line); empty when it is not there.
std::vector<std::string> allowed_imports() {
    std::vector<std::string> allowed;
    std::string list = (own_folder() / "../share/wpk/allowed_imports.tsv").string();
#ifdef WPK_ALLOWED_IMPORTS
    std::error_code ec;
    if (!fs::is_regular_file(list, ec)) list = WPK_ALLOWED_IMPORTS; // the build tree's
#endif
    if (FILE* f = fopen(list.c_str(), "rb")) {
        char line[512];
        while (fgets(line, sizeof line, f)) {
            if (line[0] == '#') continue;
            const char* tab = strchr(line, '\t');
            if (!tab) continue;
            const size_t end = strcspn(tab + 1, "\t\r\n");
            allowed.push_back(std::string(line, size_t(tab - line)) + "\t" +
                              std::string(tab + 1, end));
        }
        fclose(f);
    }
    return allowed;
}

// The ISO image; with a fixed time (`when`, seconds since 1970, or -1) the
// same files give the same image bytes: every date of the volume and of its
// files is that time, and so is the volume's UUID, which xorriso derives
// from the modification date.
bool make_iso(const std::string& iso, const std::string& program, const std::string& archive,
              const std::string& autorun, int64_t when) {
    const std::string messages = write_temporary(iso + ".log", "", "");
    if (messages.empty()) return false;
    std::vector<std::string> args = {ISO_TOOL,  "-report_about", "SORRY", "-as",
                                     "mkisofs", "-quiet",        "-J",    "-r",
                                     "-V",      ISO_VOLUME};
    if (when >= 0) {
        const time_t t = time_t(when);
        struct tm utc;
        gmtime_r(&t, &utc);
        char date[32];
        strftime(date, sizeof date, "%Y%m%d%H%M%S00", &utc);
        args.insert(args.end(),
                    {std::string("--modification-date=") + date, "--set_all_file_dates", date});
    }
    args.insert(args.end(),
                {"-o", iso, "-graft-points", std::string(MEDIUM_PROGRAM) + "=" + program,
                 std::string(MEDIUM_ARCHIVE) + "=" + archive, "AUTORUN.INF=" + autorun});
    const int status = run_tool(args, messages);
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
    remove_temporary(messages);
    return status == 0;
}

int run_medium(const Invocation& invocation);

const OptionDef MEDIUM_OPTIONS[] = {
    {"program", 0, "PATH", "the Windows program to ship as WBOOT.EXE (default: the build's)"},
    {"iso", 0, "FILE", "also write an ISO 9660 image (Joliet, AUTORUN.INF) through xorriso"},
    {"sign", 0, "PKCS12",
     "sign WBOOT.EXE (Authenticode, SHA-256) with the certificate and key in PKCS12, through "
     "osslsigncode"},
    {"sign-password-file", 0, "FILE", "read the key's password from FILE ('-': standard input)"},
    {"timestamp", 0, "URL", "have the signature time-stamped by the RFC 3161 server at URL"},
    {"no-bind", 0, nullptr, "leave WBOOT.EXE unbound: it then installs any archive beside it"},
    EXCLUDE_OPTION,
    MTIME_OPTION,
    STRICT_PACK_OPTION,
    {"jobs", 'j', "N",
     "pack and test the archive on N processes (default 0: one per processor; 1: all in this one)"},
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
    "and an AUTORUN.INF that starts WBOOT.EXE (needs xorriso). The program\n"
    "must be a 32-bit Windows GUI program that imports only what the installer\n"
    "may. OUTDIR, its files and the ISO are left out of the trees.\n"
    "\n"
    "WBOOT.EXE is bound to the archive: the archive's SHA-256 is written into\n"
    "its ARCHIVE_DIGEST resource, and it then unpacks no other archive\n"
    "(--no-bind leaves it empty, for a medium whose archive is replaced later).\n"
    "With --sign PKCS12 it is then signed (Authenticode, SHA-256) through\n"
    "osslsigncode, so the signature covers the archive too, and the signature\n"
    "is verified. A password is read from --sign-password-file, never taken\n"
    "as an argument. With --mtime or SOURCE_DATE_EPOCH the signing time and\n"
    "every date of the ISO are that time: the same inputs give the same bytes.\n"
    "\n" LINK_POLICY_HELP,
    MEDIUM_OPTIONS,
    run_medium,
};

namespace {

int run_medium(const Invocation& invocation) {
    const fs::path outdir = invocation.operands[0];
    const std::string iso = invocation.value("iso");
    const std::vector<std::string> trees(invocation.operands.begin() + 1,
                                         invocation.operands.end());
    if (!fix_member_time(invocation)) return EXIT_USAGE;
    const int jobs = jobs_from_option(invocation.value("jobs"));
    if (jobs < 0) return EXIT_USAGE;
    std::error_code ec;
    if (fs::exists(outdir, ec) && !fs::is_directory(outdir, ec)) {
        complain("medium: " + outdir.string() + ": not a folder; nothing written");
        return EXIT_DAMAGED;
    }
    // Each target checked before any work: written where a link points,
    // refused when it is no regular file.
    std::string archive, program_target, iso_target, error;
    if (!resolve_target((outdir / MEDIUM_ARCHIVE).string(), &archive, &error) ||
        !resolve_target((outdir / MEDIUM_PROGRAM).string(), &program_target, &error) ||
        (!iso.empty() && !resolve_target(iso, &iso_target, &error))) {
        complain("medium: " + error);
        return EXIT_DAMAGED;
    }
    g_outputs.push_back({identity_of(outdir.string()), "the output folder"});
    g_outputs.push_back({identity_of(archive), "the archive being written (an older copy)"});
    g_outputs.push_back({identity_of(program_target), "the program being written (an older copy)"});
    if (!iso.empty()) g_outputs.push_back({identity_of(iso_target), "the ISO image being written"});
    std::vector<PackMember> members;
    for (const std::string& tree : trees)
        if (!gather_dir(tree, false, &members)) return EXIT_DAMAGED;
    exclude_members(invocation.values("exclude"), &members);
    bool has_setup = false;
    for (const PackMember& m : members) has_setup = has_setup || is_setup_program(m);
    if (!has_setup) {
        complain("medium: no " + std::string(SETUP_PROGRAM) +
                 " at the root of the trees: the installer would have nothing to start; "
                 "nothing written");
        return EXIT_DAMAGED;
    }
    std::string program = invocation.value("program");
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
    SignRequest sign;
    sign.pkcs12 = invocation.value("sign");
    sign.password_file = invocation.value("sign-password-file");
    sign.timestamp_url = invocation.value("timestamp");
    sign.time = fixed_time();
    sign.fixed_time = sign.time >= 0;
    if (sign.pkcs12.empty() && (!sign.password_file.empty() || !sign.timestamp_url.empty())) {
        complain("medium: --sign-password-file and --timestamp go with --sign PKCS12");
        return EXIT_USAGE;
    }
    if (!sign.pkcs12.empty() && !on_path(SIGN_TOOL)) {
        complain("medium: --sign needs osslsigncode, which is not installed (Debian: apt-get "
                 "install osslsigncode); nothing written");
        return EXIT_DAMAGED;
    }
    if (!sign.pkcs12.empty() && !fs::is_regular_file(sign.pkcs12, ec)) {
        complain("medium: --sign " + sign.pkcs12 + ": no such file; nothing written");
        return EXIT_DAMAGED;
    }
    const std::string fault = program_fault(program, allowed_imports());
    if (!fault.empty()) {
        complain("medium: --program " + program + ": " + fault + "; nothing written");
        return EXIT_DAMAGED;
    }
    if (!preflight_members(&members, trees, (outdir / MEDIUM_ARCHIVE).string(),
                           invocation.has("strict"))) {
        complain("medium: nothing written: the preflight found " +
                 std::string(invocation.has("strict") ? "problems (--strict)" : "errors"));
        return EXIT_DAMAGED;
    }

    fs::path made_folder; // OUTDIR, when this run made it
    if (!fs::is_directory(outdir, ec)) {
        if (!fs::create_directories(outdir, ec)) {
            complain("medium: " + outdir.string() + ": " + ec.message());
            return EXIT_DAMAGED;
        }
        made_folder = outdir;
    }
    const auto give_up = [&]() {
        remove_temporaries();
        if (!made_folder.empty()) fs::remove(made_folder, ec); // only when left empty
        return EXIT_DAMAGED;
    };
    std::string new_archive;
    PackTotals totals;
    if (!write_members(archive, members, jobs, &error, &totals, &new_archive)) {
        complain("medium: " + archive + ": not written: " + error);
        return give_up();
    }
    const std::string new_program = write_temporary(program_target, program, nullptr);
    if (new_program.empty()) return give_up();
    const int verbosity = g_verbosity;
    g_verbosity = -1; // damage is still told; the summary below names the final file
    const int tested = test_archive(new_archive, jobs, nullptr);
    g_verbosity = verbosity;
    if (tested != EXIT_OK) {
        complain("medium: the archive written does not test clean; nothing written");
        return give_up();
    }
    const bool bind = !invocation.has("no-bind");
    if (bind) {
        uint8_t digest[SHA256_DIGEST_SIZE];
        if (!file_sha256(new_archive, digest, &error) ||
            !bind_program(new_program, digest, &error)) {
            complain("medium: " + error + " (--no-bind makes an unbound medium); nothing written");
            return give_up();
        }
    }
    std::string program_written = new_program;
    if (!sign.pkcs12.empty()) {
        FILE* signed_file = create_temporary(program_target, &program_written, &error);
        if (!signed_file) {
            complain("medium: " + error);
            return give_up();
        }
        fclose(signed_file);
        if (!sign_program(sign, new_program, program_written, &error)) {
            complain("medium: " + program_target + ": " + error + "; nothing written");
            return give_up();
        }
        remove_temporary(new_program);
    }
    if (!iso.empty()) {
        const std::string autorun =
            write_temporary((outdir / "AUTORUN.INF").string(), "", AUTORUN_TEXT);
        std::string new_iso;
        if (autorun.empty()) return give_up();
        FILE* image = create_temporary(iso_target, &new_iso, &error);
        if (!image) {
            complain("medium: " + error);
            return give_up();
        }
        fclose(image);
        if (!make_iso(new_iso, program_written, new_archive, autorun, fixed_time()))
            return give_up();
        if (rename(new_iso.c_str(), iso_target.c_str()) != 0) {
            complain("medium: " + iso + ": " + reason_of(errno));
            return give_up();
        }
        keep_temporary(new_iso);
        remove_temporary(autorun);
    }
    if (rename(program_written.c_str(), program_target.c_str()) != 0 ||
        rename(new_archive.c_str(), archive.c_str()) != 0) {
        complain("medium: " + outdir.string() + ": " + reason_of(errno));
        return give_up();
    }
    keep_temporary(program_written);
    keep_temporary(new_archive);
    if (g_verbosity >= 0) {
        printf("%s: %s (%s%s) and %s, %s (tested, checksums verified), %s packed into %s\n",
               outdir.string().c_str(), MEDIUM_PROGRAM, bind ? "bound to the archive" : "unbound",
               sign.pkcs12.empty() ? "" : ", signed", MEDIUM_ARCHIVE,
               count_of(members.size(), "member").c_str(),
               human_size(totals.original_bytes).c_str(), human_size(totals.archive_bytes).c_str());
        if (!iso.empty()) printf("%s: ISO 9660 image of the medium\n", iso.c_str());
    }
    return EXIT_OK;
}

} // namespace
