#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "wpk.h"

#ifdef _WIN32
#include <io.h>
#define isatty _isatty
#else
#include <unistd.h>
#endif

namespace {

const char USAGE[] = "usage: wpk COMMAND [OPTIONS] ARGUMENTS\n"
                     "\n"
                     "Packs, lists, tests and extracts setup archives (W_SETUP.WPK).\n"
                     "\n"
                     "commands:\n"
                     "  pack ARCHIVE DIR...          pack the files under each DIR\n"
                     "  list ARCHIVE                 list the members\n"
                     "  test ARCHIVE                 decode every member and report damage\n"
                     "  extract ARCHIVE [-C DIR]     write the members below DIR (default: .)\n"
                     "\n"
                     "'wpk COMMAND --help' describes each command.\n"
                     "Exit status: 0 ok, 1 damaged archive or failed member, 2 usage error.\n";

bool g_progress_shown = false;

} // namespace

void complain(const std::string& message) {
    fprintf(stderr, "wpk: %s\n", message.c_str());
}

void show_progress(size_t done, size_t total, const std::string& what) {
    if (!isatty(2)) return;
    fprintf(stderr, "\r\033[K[%zu/%zu] %s", done, total, what.c_str());
    g_progress_shown = true;
}

void end_progress() {
    if (g_progress_shown) fprintf(stderr, "\r\033[K");
    g_progress_shown = false;
}

int main(int argc, char** argv) {
    if (argc < 2) {
        fputs(USAGE, stderr);
        return EXIT_USAGE;
    }
    const std::string command = argv[1];
    const std::vector<std::string> args(argv + 2, argv + argc);
    if (command == "--help" || command == "-h" || command == "help") {
        fputs(USAGE, stdout);
        return EXIT_OK;
    }
    if (command == "pack") return command_pack(args);
    if (command == "list") return command_list(args);
    if (command == "test") return command_test(args);
    if (command == "extract") return command_extract(args);
    complain("unknown command '" + command + "'");
    fputs(USAGE, stderr);
    return EXIT_USAGE;
}
