// The one argument parser of every command, on getopt_long: options may come
// before, between or after the operands; "--" ends them; "--name=VALUE" and
// "--name VALUE", "-C DIR" and "-CDIR" are the same.
#include <getopt.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "wpk.h"

namespace {

// The options every command takes.
const OptionDef COMMON_OPTIONS[] = {
    {"help", 'h', nullptr, "show this help"},
    {"quiet", 'q', nullptr, "no progress, no summary line: errors only"},
    {"verbose", 'v', nullptr, "name each member as it is handled"},
    {"version", 'V', nullptr, "show the version of wpk"},
    {nullptr, 0, nullptr, nullptr},
};

// Values that getopt_long returns for options without a short form.
constexpr int LONG_ONLY_BASE = 256;

std::vector<const OptionDef*> all_options(const CommandDef& command) {
    std::vector<const OptionDef*> all;
    for (const OptionDef* o = command.options; o && o->long_name; ++o) all.push_back(o);
    for (const OptionDef* o = COMMON_OPTIONS; o->long_name; ++o) all.push_back(o);
    return all;
}

std::string option_text(const OptionDef& o) {
    std::string text = "--" + std::string(o.long_name);
    if (o.short_name) text = "-" + std::string(1, o.short_name) + ", " + text;
    if (o.value_name) text += " " + std::string(o.value_name);
    return text;
}

void usage_error(const CommandDef& command, const std::string& message) {
    complain(std::string(command.name) + ": " + message);
    fprintf(stderr, "'wpk %s --help' describes the command.\n", command.name);
}

} // namespace

void print_command_help(const CommandDef& command, FILE* to) {
    fprintf(to, "usage: wpk %s [OPTIONS] %s\n\n%s\noptions:\n", command.name, command.operands,
            command.description);
    // Each help wrapped at word boundaries to fit 80 columns, continued under
    // its first line.
    constexpr size_t INDENT = 25;
    constexpr size_t WIDTH = 80 - INDENT;
    for (const OptionDef* o : all_options(command)) {
        const std::string name = option_text(*o);
        if (name.size() > INDENT - 3) // the help starts on a line of its own
            fprintf(to, "  %s\n%*s", name.c_str(), int(INDENT - 1), "");
        else
            fprintf(to, "  %-22s", name.c_str());
        std::string rest = o->help;
        while (!rest.empty()) {
            size_t cut = rest.size();
            if (cut > WIDTH) {
                cut = rest.rfind(' ', WIDTH);
                if (cut == std::string::npos) cut = WIDTH;
            }
            fprintf(to, " %s\n", rest.substr(0, cut).c_str());
            rest.erase(0, cut < rest.size() ? cut + 1 : cut);
            if (!rest.empty()) fprintf(to, "%*s", int(INDENT - 1), "");
        }
    }
}

int parse_invocation(const CommandDef& command, int argc, char** argv, Invocation* invocation,
                     bool* done) {
    const std::vector<const OptionDef*> defs = all_options(command);
    // ':' first: a missing value is told apart from an unknown option. No
    // '+': options may follow the operands, as in 'extract ARCHIVE -C DIR'.
    std::string short_options = ":";
    std::vector<option> long_options;
    for (size_t i = 0; i < defs.size(); ++i) {
        const OptionDef& o = *defs[i];
        const int code = o.short_name ? o.short_name : LONG_ONLY_BASE + int(i);
        if (o.short_name) short_options += std::string(1, o.short_name) + (o.value_name ? ":" : "");
        long_options.push_back(
            {o.long_name, o.value_name ? required_argument : no_argument, nullptr, code});
    }
    long_options.push_back({nullptr, 0, nullptr, 0});

    invocation->command = &command;
    *done = true;
    opterr = 0;
    optind = 0; // starts the scan afresh (glibc and mingw-w64 alike)
    const auto find = [&](int code) -> const OptionDef* {
        for (size_t i = 0; i < defs.size(); ++i)
            if (code == (defs[i]->short_name ? defs[i]->short_name : LONG_ONLY_BASE + int(i)))
                return defs[i];
        return nullptr;
    };
    for (;;) {
        const int code =
            getopt_long(argc, argv, short_options.c_str(), long_options.data(), nullptr);
        if (code == -1) break;
        if (code == ':') {
            // Named as it was typed: "-C" or "--directory".
            const OptionDef* o = find(optopt);
            const std::string typed = argv[optind - 1];
            std::string name = o ? "--" + std::string(o->long_name) : typed;
            if (o && o->short_name && typed == "-" + std::string(1, o->short_name)) name = typed;
            usage_error(command,
                        "option '" + name + "' needs a value" +
                            (o && o->value_name ? " (" + std::string(o->value_name) + ")" : ""));
            return EXIT_USAGE;
        }
        if (code == '?' && optopt >= LONG_ONLY_BASE && find(optopt)) {
            usage_error(command,
                        "option '--" + std::string(find(optopt)->long_name) + "' takes no value");
            return EXIT_USAGE;
        }
        const OptionDef* o = code == '?' ? nullptr : find(code);
        if (!o) {
            const std::string given = optopt > 0 && optopt < LONG_ONLY_BASE
                                          ? "-" + std::string(1, char(optopt))
                                          : std::string(argv[optind - 1]);
            usage_error(command, "unknown option '" + given + "'");
            return EXIT_USAGE;
        }
        invocation->options.push_back({o->long_name, o->value_name && optarg ? optarg : ""});
    }
    for (int i = optind; i < argc; ++i) invocation->operands.push_back(argv[i]);

    if (invocation->has("help")) {
        print_command_help(command, stdout);
        return EXIT_OK;
    }
    if (invocation->has("version")) {
        printf("wpk %s\n", WPK_VERSION);
        return EXIT_OK;
    }
    const int count = int(invocation->operands.size());
    if (count < command.min_operands) {
        usage_error(command, count == 0
                                 ? std::string("missing ") + command.operands
                                 : "too few operands: expected " + std::string(command.operands));
        return EXIT_USAGE;
    }
    if (command.max_operands >= 0 && count > command.max_operands) {
        usage_error(command,
                    "unexpected operand '" + invocation->operands[command.max_operands] + "'");
        return EXIT_USAGE;
    }
    if (invocation->has("quiet")) g_verbosity = -1;
    if (invocation->has("verbose")) g_verbosity = 1;
    *done = false;
    return EXIT_OK;
}
