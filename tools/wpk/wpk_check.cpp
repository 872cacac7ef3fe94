// The preflight in the tool: wpk check, and the findings wpk pack and wpk
// medium report before they write.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "wpk.h"
#include "wpk_members.h"
#include "wpk_reader.h"

namespace fs = std::filesystem;

namespace {

std::string backslashed(std::string path) {
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

// The folders below `tree` that hold nothing at all, relative to it.
std::vector<std::string> empty_folders(const std::string& tree) {
    std::vector<std::string> found;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(tree, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code ignored;
        if (it->is_directory(ignored) && !it->is_symlink(ignored) &&
            fs::is_empty(it->path(), ignored))
            found.push_back(backslashed(it->path().lexically_relative(tree).generic_string()));
    }
    std::sort(found.begin(), found.end());
    return found;
}

std::vector<PreflightMember> names_of(const std::vector<PackMember>& members) {
    std::vector<PreflightMember> names;
    for (const PackMember& m : members) names.push_back({m.folder, m.name});
    return names;
}

int run_check(const Invocation& invocation);

const OptionDef CHECK_OPTIONS[] = {
    {"strict", 0, nullptr, "treat every finding as an error (exit status 1)"},
    EXCLUDE_OPTION,
    {"trust", 0, "PEM",
     "trust the certificates in PEM for a medium's signature (default: the system's)"},
    {nullptr, 0, nullptr, nullptr},
};

} // namespace

size_t report_findings(const std::string& where, const std::vector<Finding>& findings,
                       bool strict) {
    for (const Finding& f : findings) {
        const bool error = strict || finding_is_error(f.kind);
        if (!error && g_verbosity < 0) continue; // -q: errors only
        const std::string line = where + ": " + finding_line(f);
        if (error)
            complain("error: " + line);
        else
            printf("warning: %s\n", line.c_str());
    }
    return findings.size();
}

bool preflight_members(std::vector<PackMember>* members, const std::vector<std::string>& trees,
                       const std::string& archive, bool strict) {
    drop_repeated_files(members);
    PreflightInput input;
    for (const std::string& tree : trees)
        for (const std::string& folder : empty_folders(tree)) input.empty_folders.push_back(folder);
    input.members = names_of(*members);
    std::vector<Finding> findings = g_tree_findings;
    for (const Finding& f : preflight(input)) findings.push_back(f);
    report_findings(archive, findings, strict);
    for (const Finding& f : findings)
        if (strict || finding_is_error(f.kind)) return false;
    return true;
}

const CommandDef CHECK_COMMAND = {
    "check",
    "ARCHIVE|TREE|MEDIUM...",
    1,
    -1,
    "preflight a tree or an archive; test an archive",
    "Reports, one line per finding and naming the member, what the installer\n"
    "would do otherwise than meant with the members of each TREE (as wpk pack\n"
    "would pack it) or ARCHIVE:\n"
    "  - folder and name over 255 characters: the member is skipped;\n"
    "  - a name holding .DL_: left out on the NT line (fine if intended);\n"
    "  - names differing only in case: one overwrites the other;\n"
    "  - characters Windows does not allow in names (<>:\"/\\|?* and control\n"
    "    characters);\n"
    "  - bytes outside printable ASCII: names are read in the ANSI code page;\n"
    "  - W_SETUP.WPK at the root: it overwrites the archive's copy mid-unpack;\n"
    "  - empty folders (TREE only): not stored, so never made;\n"
    "  - more than 3000 members: the installer refuses the archive;\n"
    "  - device names (CON, PRN, AUX, NUL, COM1-9, LPT1-9, any extension) and\n"
    "    names ending in a dot or a space: Windows cannot make them as named;\n"
    "  - paths wpk extract refuses: '..', a leading backslash, a drive, no name;\n"
    "  - (TREE only) symbolic links, links out of the tree, links left out,\n"
    "    and FIFOs, devices and sockets (errors in any case);\n"
    "  - (ARCHIVE only) a signature that is none wpk writes.\n"
    "An ARCHIVE is also tested as by 'wpk test', checksums included.\n"
    "A MEDIUM (a folder holding WBOOT.EXE and W_SETUP.WPK, or an ISO image of\n"
    "one, read through xorriso) is checked whole: the archive's test, whether\n"
    "WBOOT.EXE is one (its version information), whether it is signed, by\n"
    "whom and whether the signature verifies, and whether the archive is the\n"
    "one it is bound to. A signature or binding that does not match is an\n"
    "error; an unsigned or unbound program, or an untrusted certificate, is\n"
    "a finding.\n"
    "Findings are warnings on standard output (exit status 0) unless --strict\n"
    "makes them errors; errors and damage go to standard error, exit status 1.\n"
    "\n" LINK_POLICY_HELP,
    CHECK_OPTIONS,
    run_check,
};

namespace {

int run_check(const Invocation& invocation) {
    const bool strict = invocation.has("strict");
    int status = EXIT_OK;
    for (const std::string& operand : invocation.operands) {
        std::error_code ec;
        if (is_medium(operand)) {
            if (check_medium(operand, invocation.value("trust"), strict) != EXIT_OK)
                status = EXIT_DAMAGED;
            continue;
        }
        PreflightInput input;
        std::vector<Finding> findings;
        if (fs::is_directory(operand, ec)) {
            std::vector<PackMember> members;
            g_tree_findings.clear();
            if (!gather_dir(operand, false, &members)) {
                status = EXIT_DAMAGED;
                continue;
            }
            exclude_members(invocation.values("exclude"), &members);
            findings = g_tree_findings;
            input.members = names_of(members);
            input.empty_folders = empty_folders(operand);
        } else {
            ArchiveNames names;
            if (test_archive(operand, jobs_from_option(""), &names) != EXIT_OK)
                status = EXIT_DAMAGED;
            if (!names.opened) continue; // said why; no findings to count
            input.members = names.members;
            if (names.signature == SIGNATURE_FOREIGN && !names.members.empty())
                findings.push_back({FindingKind::UNKNOWN_SIGNATURE, "",
                                    "its first 54 bytes are no signature wpk writes: made "
                                    "elsewhere or damaged, and no checksums to verify"});
        }
        for (const Finding& f : preflight(input)) findings.push_back(f);
        const size_t found = report_findings(operand, findings, strict);
        for (const Finding& f : findings)
            if (strict || finding_is_error(f.kind)) status = EXIT_DAMAGED;
        if (g_verbosity >= 0)
            printf("%s: %s\n", operand.c_str(), count_of(found, "finding").c_str());
    }
    return status;
}

} // namespace
