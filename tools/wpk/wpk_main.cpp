// The command table and main.
#include <cstdio>
#include <cstring>
#include <string>

#include "wpk.h"
#include "wpk_output.h"

#ifdef _WIN32
#include <io.h>
#define isatty _isatty
#else
#include <unistd.h>
#endif

namespace {

// Every command wpk knows, in the order 'wpk --help' lists them.
const CommandDef* const COMMANDS[] = {
    &PACK_COMMAND, &LIST_COMMAND, &TEST_COMMAND, &EXTRACT_COMMAND, &CHECK_COMMAND, &MEDIUM_COMMAND,
};

void print_usage(FILE* to) {
    fputs("usage: wpk COMMAND [OPTIONS] ARGUMENTS\n"
          "\n"
          "Packs, lists, tests and extracts setup archives (W_SETUP.WPK).\n"
          "\n"
          "commands:\n",
          to);
    for (const CommandDef* c : COMMANDS) {
        const std::string usage = std::string(c->name) + " " + c->operands;
        fprintf(to, "  %-28s %s\n", usage.c_str(), c->summary);
    }
    fputs("\n"
          "'wpk COMMAND --help' describes each command and its options; every\n"
          "command takes -q (errors only), -v (each member named) and '--' (the\n"
          "end of the options). 'wpk help COMMAND' is 'wpk COMMAND --help';\n"
          "'wpk --version' (-V) shows the version.\n"
          "Exit status: 0 ok; 1 a damaged archive, a failed member or a preflight\n"
          "error; 2 a usage error. Interrupted, wpk removes what it was writing.\n",
          to);
}

} // namespace

int g_verbosity = 0;

void complain(const std::string& message) {
    fprintf(stderr, "wpk: %s\n", message.c_str());
}

int main(int argc, char** argv) {
    if (argc < 2) {
        print_usage(stderr);
        return EXIT_USAGE;
    }
    const char* name = argv[1];
    // 'wpk help COMMAND' is 'wpk COMMAND --help'.
    char help_option[] = "--help";
    char* help_argv[] = {argv[0], argc > 2 ? argv[2] : nullptr, help_option, nullptr};
    if (!strcmp(name, "help") && argc == 3) {
        name = argv[2];
        argc = 3;
        argv = help_argv;
    } else if (!strcmp(name, "--help") || !strcmp(name, "-h") || !strcmp(name, "help")) {
        print_usage(stdout);
        return EXIT_OK;
    }
    if (!strcmp(name, "--version") || !strcmp(name, "-V")) {
        printf("wpk %s\n", WPK_VERSION);
        return EXIT_OK;
    }
    for (const CommandDef* command : COMMANDS) {
        if (strcmp(name, command->name) != 0) continue;
        Invocation invocation;
        bool done = false;
        // The command's name stands in argv[0] for the parser.
        const int status = parse_invocation(*command, argc - 1, argv + 1, &invocation, &done);
        if (done) return status;
        install_cleanup_handlers();
        const int result = command->run(invocation);
        remove_temporaries(); // whatever a failure left
        return result;
    }
    complain(std::string("unknown command '") + name + "'");
    print_usage(stderr);
    return EXIT_USAGE;
}
