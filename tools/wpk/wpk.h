// The wpk tool: packs, lists, tests and extracts setup archives.
//
// Every command is one CommandDef: its name, operands, help text, options
// and the function that runs it. The table of commands is in wpk_main.cpp;
// one parser (wpk_options.cpp) reads every command's arguments from its entry.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "archive/archive_signature.h"
#include "pack/archive_writer.h"
#include "pack/preflight.h"
#include "wpk_output.h"

constexpr int EXIT_OK = 0;
constexpr int EXIT_DAMAGED = 1; // damaged archive, or a member that failed
constexpr int EXIT_USAGE = 2;

// One option of a command. The options every command takes (--help, -q,
// -v, --version) are added by the parser and not declared here.
struct OptionDef {
    const char* long_name;  // "mtime" for --mtime; null ends a list
    char short_name;        // 'C' for -C, or 0
    const char* value_name; // "WHEN" when the option takes a value, else null
    const char* help;       // one line
};

struct Invocation;

struct CommandDef {
    const char* name;
    const char* operands; // "ARCHIVE DIR...", for the usage line
    int min_operands;
    int max_operands;         // -1: no limit
    const char* summary;      // one line for 'wpk --help'
    const char* description;  // the paragraphs of 'wpk COMMAND --help'
    const OptionDef* options; // ends with a null long_name
    int (*run)(const Invocation& invocation);
};

// A parsed command line: the operands in order, and every option given with
// its values in order (a flag has one empty value per occurrence).
struct Invocation {
    const CommandDef* command = nullptr;
    std::vector<std::string> operands;
    std::vector<std::pair<std::string, std::string>> options; // long name, value

    bool has(const char* name) const {
        for (const auto& option : options)
            if (option.first == name) return true;
        return false;
    }
    // The last value given for the option; `otherwise` when not given.
    std::string value(const char* name, const std::string& otherwise = "") const {
        std::string found = otherwise;
        for (const auto& option : options)
            if (option.first == name) found = option.second;
        return found;
    }
    std::vector<std::string> values(const char* name) const {
        std::vector<std::string> found;
        for (const auto& option : options)
            if (option.first == name) found.push_back(option.second);
        return found;
    }
};

// Parses argv[first..argc) for `command`. On --help prints the command's help
// and returns EXIT_OK with `*done` set; on a usage error names it on stderr
// and returns EXIT_USAGE with `*done` set. Otherwise fills `*invocation`.
int parse_invocation(const CommandDef& command, int argc, char** argv, Invocation* invocation,
                     bool* done);
// The help of one command, as 'wpk COMMAND --help' prints it.
void print_command_help(const CommandDef& command, FILE* to);

// The commands; each is defined beside the code that runs it.
extern const CommandDef PACK_COMMAND;
extern const CommandDef LIST_COMMAND;
extern const CommandDef TEST_COMMAND;
extern const CommandDef EXTRACT_COMMAND;
extern const CommandDef CHECK_COMMAND;
extern const CommandDef MEDIUM_COMMAND;

// What test_archive read of an archive's directory, for the preflight.
struct ArchiveNames {
    bool opened = false; // the file was read as an archive
    SignatureKind signature = SIGNATURE_FOREIGN;
    std::vector<PreflightMember> members;
};

// Decodes every member of the archive at `path` (on `jobs` processes, see
// wpk_members.h), verifying checksums where it has them, reports each damaged member on stderr and,
// unless quiet, the summary line on stdout. EXIT_OK or EXIT_DAMAGED. Fills `names` if given.
// Its lines name the archive `shown_as` when that is given.
int test_archive(const std::string& path, int jobs, ArchiveNames* names,
                 const std::string& shown_as = "");

// Whether `operand` is a finished medium: a folder holding WBOOT.EXE and
// W_SETUP.WPK, or an ISO 9660 image (which should hold them).
bool is_medium(const std::string& operand);
// Checks a medium: the archive's test, the program's version information,
// its signature (trusted against the PEM file `trust`, or the system's
// certificates when empty) and its binding. EXIT_OK or EXIT_DAMAGED.
int check_medium(const std::string& operand, const std::string& trust, bool strict);

// Adds the files below `dir` as members in sorted order (wpk pack's rules):
// symbolic links are followed to files and folders, a link to a folder that
// holds it and a link to nothing are left out, and FIFOs, devices and sockets
// are never opened; each of these is a finding in g_tree_findings, and so is
// one of this run's outputs (g_outputs) met in the tree, which is left out.
bool gather_dir(const std::string& dir, bool flat, std::vector<PackMember>* members);
// Keeps only the first of members that have the same path and are the same
// file (a tree or a list given twice).
void drop_repeated_files(std::vector<PackMember>* members);

// What reading the trees found, for the preflight to report.
extern std::vector<Finding> g_tree_findings;
// A file or folder this run writes, left out of the trees it packs.
struct LeftOut {
    FileIdentity identity;
    std::string what; // "the archive being written"
};
extern std::vector<LeftOut> g_outputs;
// Applies --mtime or SOURCE_DATE_EPOCH to the members gathered afterwards;
// false (after saying why) when the time given is no time.
bool fix_member_time(const Invocation& invocation);
// The time fix_member_time set, in seconds since 1970; -1 when none.
int64_t fixed_time();
// Writes `members` into the archive at `path` as wpk pack does, through a
// temporary beside it, showing progress (and each member's source with -v);
// false with `error` set. With `unrenamed`, the temporary is left in its
// place (still removed if the run fails) and named there. With `jobs` above
// 1, that many worker processes code the members ahead, each into a file of
// a scratch folder beside the archive, and the members are copied into the
// archive in order: the same bytes, and the same failures, as on one core.
bool write_members(const std::string& path, const std::vector<PackMember>& members, int jobs,
                   std::string* error, PackTotals* totals, std::string* unrenamed = nullptr);
// How the trees are read, for the help of pack, check and medium.
#define LINK_POLICY_HELP                                                                           \
    "Reading a tree: symbolic links to files and folders are followed (the\n"                      \
    "member is what the link points to), each one a warning, and a second one\n"                   \
    "when it leads out of the tree; a link to nothing, or to a folder holding\n"                   \
    "it, is left out with a warning. FIFOs, devices and sockets are never\n"                       \
    "opened: each is an error. This run's own outputs met in a tree (the same\n"                   \
    "file or folder, by device and inode) are left out with a warning, and a\n"                    \
    "file given twice under one name is packed once.\n"

// The options that wpk pack and wpk medium share.
constexpr OptionDef MTIME_OPTION = {
    "mtime", 0, "WHEN",
    "store WHEN as every member's time: seconds since 1970 (@N or N) or a UTC date "
    "YYYY-MM-DD[ HH:MM:SS]; without it SOURCE_DATE_EPOCH, when set, does the same"};
constexpr OptionDef EXCLUDE_OPTION = {
    "exclude", 0, "PATTERN",
    "leave out the files whose path in the tree, or one of its folders, matches the glob "
    "PATTERN (as tar's --exclude; repeatable)"};
// Leaves out the members (and the findings about them) that the patterns
// of --exclude name.
void exclude_members(const std::vector<std::string>& patterns, std::vector<PackMember>* members);
constexpr OptionDef STRICT_PACK_OPTION = {
    "strict", 0, nullptr, "treat the preflight's findings as errors: write nothing"};

// The preflight of members packed from `trees` into `archive`, with what
// reading the trees found: reports every finding as a warning, or as an
// error when `strict` or it is one in any case (finding_is_error), after
// dropping files given twice. False when an error was found.
bool preflight_members(std::vector<PackMember>* members, const std::vector<std::string>& trees,
                       const std::string& archive, bool strict);
// Reports findings about `where`: warnings on stdout (not with -q), errors
// on stderr; their number.
size_t report_findings(const std::string& where, const std::vector<Finding>& findings, bool strict);

// How much the tool says: -1 with -q (errors only), 0 by default, 1 with -v
// (each member as it is handled).
extern int g_verbosity;

// "wpk: " followed by the message, on stderr.
void complain(const std::string& message);
