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

} // namespace

std::string shown_path(const std::string& path) {
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

namespace {

std::string shown(const std::string& path) {
    return shown_path(path);
}

// The first character Windows refuses in a name, in the name itself or in
// a component of the folder (whose backslashes separate components); 0 if
// none.
int forbidden_character(const PreflightMember& m) {
    for (const std::string* part : {&m.folder, &m.name})
        for (size_t i = 0; i < part->size(); ++i) {
            const unsigned char c = static_cast<unsigned char>((*part)[i]);
            if (c == '\\' && part == &m.folder) continue;
            if (c == ':' && i == 1 && part == &m.folder) continue; // a drive: see unsafe_path
            if (c < 0x20 || (c < 0x80 && strchr(FORBIDDEN, c))) return c;
        }
    return 0;
}

bool outside_printable_ascii(const std::string& path) {
    for (unsigned char c : path)
        if (c >= 0x7F) return true;
    return false;
}

// CON, PRN, AUX, NUL, COM1 to COM9 and LPT1 to LPT9, alone or before a dot:
// Windows opens the device, not a file.
bool reserved_name(const std::string& part) {
    const std::string stem = upper_ascii(part.substr(0, part.find('.')));
    for (const char* name : {"CON", "PRN", "AUX", "NUL"})
        if (stem == name) return true;
    return stem.size() == 4 && (stem.compare(0, 3, "COM") == 0 || stem.compare(0, 3, "LPT") == 0) &&
           stem[3] >= '1' && stem[3] <= '9';
}

std::vector<std::string> components(const PreflightMember& m) {
    std::vector<std::string> parts;
    std::string part;
    for (char c : m.folder + "\\") {
        if (c == '\\') {
            if (!part.empty()) parts.push_back(part);
            part.clear();
        } else {
            part += c;
        }
    }
    parts.push_back(m.name);
    return parts;
}

// Why extract refuses the member's path, or null.
const char* unsafe_path(const PreflightMember& m) {
    const std::string path = joined(m);
    if (m.name.empty()) return "has no name";
    if (path.size() >= 2 && path[1] == ':') return "names a drive";
    if (path[0] == '\\' || path[0] == '/') return "starts at the root";
    for (const std::string& part : components(m))
        if (part == "..") return "climbs out of the folder with '..'";
    return nullptr;
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
        for (const std::string& part : components(m)) {
            if (reserved_name(part)) {
                out.push_back({FindingKind::RESERVED_NAME, label,
                               "'" + shown(part) +
                                   "' is a device name on Windows: the installer cannot make it"});
                break;
            }
            if (!part.empty() && part != "." && part != ".." &&
                (part.back() == '.' || part.back() == ' ')) {
                out.push_back({FindingKind::TRAILING_DOT_SPACE, label,
                               "'" + shown(part) +
                                   "' ends in a dot or a space, which Windows drops from names"});
                break;
            }
        }
        if (const char* why = unsafe_path(m))
            out.push_back({FindingKind::UNSAFE_PATH, label,
                           std::string(why) + ": wpk extract refuses it (the installer writes "
                                              "it where it points)"});
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

bool finding_is_error(FindingKind kind) {
    return kind == FindingKind::SPECIAL_FILE;
}

bool installer_writes(const std::string& folder, const std::string& name) {
    const PreflightMember m = {folder, name};
    if (name.empty() || (!folder.empty() && folder.size() + 1 + name.size() > PATH_LIMIT))
        return false;
    for (unsigned char c : name)
        if (c < 0x20 || (c < 0x80 && strchr(FORBIDDEN, c))) return false;
    return true;
}
