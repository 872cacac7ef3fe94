// wpk pack: gathers files into members and writes the archive.
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "pack/archive_writer.h"
#include "wpk.h"

namespace fs = std::filesystem;

namespace {

const char HELP[] = "usage: wpk pack [--flat] [--list FILE] ARCHIVE [DIR...]\n"
                    "\n"
                    "Packs every file below each DIR into ARCHIVE. A member's folder is its\n"
                    "folder relative to DIR, with backslashes (SUB\\DIR); files directly in\n"
                    "DIR have no folder. Members are stored in sorted order with their\n"
                    "modification times (UTC).\n"
                    "\n"
                    "  --flat        store every member without a folder\n"
                    "  --list FILE   also pack the files named in FILE, one relative path per\n"
                    "                line; the path's folder part becomes the member's folder\n"
                    "\n"
                    "The archive is written to a temporary file and renamed into place at the\n"
                    "end; nothing is left behind on failure. An archive holds at most 3000\n"
                    "members, folders and names of at most 255 bytes, members below 4 GiB.\n";

uint32_t modification_time(const std::string& path) {
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

bool gather_dir(const std::string& dir, bool flat, std::vector<PackMember>* members) {
    std::error_code ec;
    if (!fs::is_directory(dir, ec)) {
        complain(dir + ": not a folder");
        return false;
    }
    std::vector<fs::path> files;
    for (fs::recursive_directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
        if (it->is_regular_file(ec)) files.push_back(it->path());
    if (ec) {
        complain(dir + ": " + ec.message());
        return false;
    }
    std::sort(files.begin(), files.end(), [](const fs::path& a, const fs::path& b) {
        return a.generic_string() < b.generic_string();
    });
    for (const fs::path& file : files)
        members->push_back(member_for(file, file.lexically_relative(dir), flat));
    return true;
}

bool gather_list(const std::string& list, bool flat, std::vector<PackMember>* members) {
    std::ifstream in(list);
    if (!in) {
        complain(list + ": cannot read the list");
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
        members->push_back(member_for(path, path, flat));
    }
    return true;
}

} // namespace

int command_pack(const std::vector<std::string>& args) {
    bool flat = false;
    std::vector<std::string> lists;
    std::vector<std::string> operands;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--help" || args[i] == "-h") {
            fputs(HELP, stdout);
            return EXIT_OK;
        } else if (args[i] == "--flat") {
            flat = true;
        } else if (args[i] == "--list" && i + 1 < args.size()) {
            lists.push_back(args[++i]);
        } else if (args[i].size() > 1 && args[i][0] == '-') {
            complain("pack: unknown option '" + args[i] + "'");
            fputs(HELP, stderr);
            return EXIT_USAGE;
        } else {
            operands.push_back(args[i]);
        }
    }
    if (operands.empty() || (operands.size() == 1 && lists.empty())) {
        fputs(HELP, stderr);
        return EXIT_USAGE;
    }
    const std::string archive = operands[0];
    std::vector<PackMember> members;
    for (size_t i = 1; i < operands.size(); ++i)
        if (!gather_dir(operands[i], flat, &members)) return EXIT_DAMAGED;
    for (const std::string& list : lists)
        if (!gather_list(list, flat, &members)) return EXIT_DAMAGED;

    std::string error;
    PackTotals totals;
    const bool ok =
        write_archive(archive, members, &error, &totals, [&](size_t i, const PackMember& m) {
            show_progress(i + 1, members.size(), m.source);
        });
    end_progress();
    if (!ok) {
        complain(archive + ": not written: " + error);
        return EXIT_DAMAGED;
    }
    printf(
        "%s: %zu members, %llu bytes packed into %llu (%.1f%%)\n", archive.c_str(), members.size(),
        (unsigned long long)totals.original_bytes, (unsigned long long)totals.archive_bytes,
        totals.original_bytes ? 100.0 * double(totals.archive_bytes) / double(totals.original_bytes)
                              : 0.0);
    return EXIT_OK;
}
