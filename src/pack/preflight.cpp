#include "pack/preflight.h"

#include <cstdio>
#include <cstring>
#include <map>

#include "archive/archive_directory.h"

namespace {

constexpr size_t PATH_LIMIT = 255; // the installer's output path slot, without the terminator
const char FORBIDDEN[] = "<>:\"/\\|?*";

std::string upper_ascii(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
    return s;
}

std::string joined(const PreflightMember& m) {
    return m.folder.empty() ? m.name : m.folder + "\\" + m.name;
}

// The path for messages: control bytes as \xNN, the rest as stored.
std::string shown(const std::string& path) {
    std::string out;
    for (unsigned char c : path) {
        if (c < 0x20 || c == 0x7F) {
            char hex[8];
            snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        } else {
            out += char(c);
        }
    }
    return out;
}

// The first character Windows refuses in a name, in the name itself or in
// a component of the folder (whose backslashes separate components); 0 if
// none.
int forbidden_character(const PreflightMember& m) {
    for (const std::string* part : {&m.folder, &m.name})
        for (unsigned char c : *part) {
            if (c == '\\' && part == &m.folder) continue;
            if (c < 0x20 || (c < 0x80 && strchr(FORBIDDEN, c))) return c;
        }
    return 0;
}

bool outside_printable_ascii(const std::string& path) {
    for (unsigned char c : path)
        if (c >= 0x7F) return true;
    return false;
}

std::string character_text(int c) {
    char text[16];
    if (c < 0x20)
        snprintf(text, sizeof text, "byte 0x%02X", c);
    else
        snprintf(text, sizeof text, "'%c'", c);
    return text;
}

} // namespace

std::vector<Finding> preflight(const PreflightInput& input) {
    std::vector<Finding> out;
    if (input.members.size() > size_t(ENTRY_CAPACITY))
        out.push_back({FindingKind::TOO_MANY_MEMBERS, "",
                       std::to_string(input.members.size()) +
                           " members: the installer refuses an archive of more than " +
                           std::to_string(ENTRY_CAPACITY)});
    for (const std::string& path : input.archive_inside)
        out.push_back({FindingKind::ARCHIVE_INSIDE_TREE, shown(path),
                       "the archive being written lies inside a packed tree; its older copy "
                       "there is left out"});

    std::map<std::string, std::string> seen; // upper-cased path -> first path
    for (const PreflightMember& m : input.members) {
        const std::string path = joined(m);
        const std::string label = shown(path);
        if (path.size() > PATH_LIMIT || m.folder.size() > PATH_LIMIT || m.name.size() > PATH_LIMIT)
            out.push_back({FindingKind::PATH_TOO_LONG, label,
                           "folder and name are " + std::to_string(path.size()) +
                               " characters: the installer skips members over 255"});
        if (upper_ascii(m.name).find(".DL_") != std::string::npos)
            out.push_back({FindingKind::LEFT_OUT_ON_NT, label,
                           "the name holds .DL_: left out on the NT line (fine if intended)"});
        const auto first = seen.emplace(upper_ascii(path), path);
        if (!first.second)
            out.push_back({FindingKind::CASE_COLLISION, label,
                           "differs from " + shown(first.first->second) +
                               " only in case: one overwrites the other"});
        if (const int c = forbidden_character(m))
            out.push_back(
                {FindingKind::FORBIDDEN_CHARACTER, label,
                 "holds " + character_text(c) + ", which Windows does not allow in names"});
        if (outside_printable_ascii(path))
            out.push_back({FindingKind::NOT_PRINTABLE_ASCII, label,
                           "holds bytes outside printable ASCII: the installer reads names in "
                           "the ANSI code page (UTF-8 arrives garbled)"});
        if (m.folder.empty() && upper_ascii(m.name) == "W_SETUP.WPK")
            out.push_back({FindingKind::OVERWRITES_ARCHIVE, label,
                           "overwrites the archive's own copy while it is being unpacked"});
    }
    for (const std::string& folder : input.empty_folders)
        out.push_back({FindingKind::EMPTY_FOLDER, shown(folder),
                       "empty folder: not stored, the installer does not make it"});
    return out;
}

std::string finding_line(const Finding& finding) {
    return finding.member.empty() ? finding.detail : finding.member + ": " + finding.detail;
}
