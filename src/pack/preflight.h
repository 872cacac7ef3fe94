// The preflight: what the installer would do with an archive's members other
// than the vendor meant. Pure code over the names; the caller gathers them
// from a tree or reads them from an archive.
#pragma once

#include <string>
#include <vector>

enum class FindingKind {
    PATH_TOO_LONG,       // folder and name over 255 characters: skipped
    LEFT_OUT_ON_NT,      // the name holds ".DL_": left out on the NT line
    CASE_COLLISION,      // differs from another member only in case
    FORBIDDEN_CHARACTER, // a character Windows does not allow in names
    NOT_PRINTABLE_ASCII, // bytes read in the ANSI code page
    OVERWRITES_ARCHIVE,  // W_SETUP.WPK at the root
    EMPTY_FOLDER,        // not stored, so not made
    ARCHIVE_INSIDE_TREE, // the archive being written lies in a packed tree
    TOO_MANY_MEMBERS,    // more than the installer's table holds
    UNKNOWN_SIGNATURE,   // an archive not written by wpk (wpk check)
    RESERVED_NAME,       // CON, PRN, AUX, NUL, COM1-9, LPT1-9, with any extension
    TRAILING_DOT_SPACE,  // a name or folder ending in a dot or a space: Windows drops it
    UNSAFE_PATH,         // leaves the folder, rooted, a drive, or no name: extract refuses it
    // Found while reading a tree (wpk's gathering, not this function):
    SYMBOLIC_LINK,     // followed: packed as what it points to
    LINK_OUTSIDE_TREE, // a link leading out of its tree
    LINK_LEFT_OUT,     // a dangling link, or a link to a folder that encloses it
    SPECIAL_FILE,      // a FIFO, a device or a socket: never opened, an error
};

// Whether a finding is an error even without --strict: nothing is written.
bool finding_is_error(FindingKind kind);

// Whether the installer writes (and so decodes) this member: false when its
// path is too long for its slot or its file cannot be created there (no
// name, or a character Windows does not allow in one).
bool installer_writes(const std::string& folder, const std::string& name);

struct PreflightMember {
    std::string folder; // backslash-separated
    std::string name;
};

struct PreflightInput {
    std::vector<PreflightMember> members;
    std::vector<std::string> empty_folders;  // backslash-separated, relative to their tree
    std::vector<std::string> archive_inside; // the archive's own path in a packed tree
};

struct Finding {
    FindingKind kind;
    std::string member; // folder\name as stored (control bytes escaped); empty: the archive
    std::string detail; // what the installer does
};

// Every finding, members in order, one or more per member.
std::vector<Finding> preflight(const PreflightInput& input);

// A path for messages: control bytes (and DEL) as \xNN, the rest as stored.
std::string shown_path(const std::string& path);

// One line: "MEMBER: DETAIL" (or the detail alone for the whole archive).
std::string finding_line(const Finding& finding);
