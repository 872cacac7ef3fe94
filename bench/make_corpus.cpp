// make_corpus: writes the benchmark corpus (or the edge-case inputs of the
// lhasa check) as files into a folder.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "corpus.h"

namespace {

const char USAGE[] =
    "usage: make_corpus [--seed N] [--size-mb MB | --size BYTES] [--text-only] DIR\n"
    "       make_corpus --edge [--seed N] DIR\n"
    "       make_corpus --digest [the same options, no DIR]\n"
    "\n"
    "Writes the seeded benchmark corpus below DIR: text/, bin/ and data/, about\n"
    "40% text, 40% binary-like and 20% already-compressed bytes (20 MB unless\n"
    "told otherwise). --text-only writes just its text files. --edge writes the\n"
    "small awkward inputs of the lhasa check instead. The same seed and size\n"
    "give the same bytes on every machine; --digest prints their fingerprint\n"
    "(FNV-1a 64 over paths, sizes and bytes) and writes nothing.\n";

bool parse_u64(const char* text, uint64_t* value) {
    char* end = nullptr;
    errno = 0;
    const unsigned long long v = strtoull(text, &end, 0);
    if (errno || !end || *end || end == text) return false;
    *value = v;
    return true;
}

} // namespace

int main(int argc, char** argv) {
    corpus::Options options;
    bool edge = false;
    bool digest_only = false;
    std::string dir;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            fputs(USAGE, stdout);
            return 0;
        } else if (a == "--seed" && i + 1 < argc) {
            if (!parse_u64(argv[++i], &options.seed)) return fputs(USAGE, stderr), 2;
        } else if (a == "--size" && i + 1 < argc) {
            if (!parse_u64(argv[++i], &options.total_bytes)) return fputs(USAGE, stderr), 2;
        } else if (a == "--size-mb" && i + 1 < argc) {
            // Tenths of a megabyte at most, parsed without floating point.
            const std::string v = argv[++i];
            const size_t dot = v.find('.');
            uint64_t whole = 0, tenths = 0;
            if (!parse_u64(v.substr(0, dot).c_str(), &whole) ||
                (dot != std::string::npos &&
                 (v.size() != dot + 2 || !parse_u64(v.substr(dot + 1).c_str(), &tenths))))
                return fputs(USAGE, stderr), 2;
            options.total_bytes = whole * 1000000 + tenths * 100000;
        } else if (a == "--text-only") {
            options.text_only = true;
        } else if (a == "--edge") {
            edge = true;
        } else if (a == "--digest") {
            digest_only = true;
        } else if (dir.empty() && a[0] != '-') {
            dir = a;
        } else {
            fputs(USAGE, stderr);
            return 2;
        }
    }
    if (dir.empty() == !digest_only) {
        fputs(USAGE, stderr);
        return 2;
    }
    const std::vector<corpus::File> files =
        edge ? corpus::edge_inputs(options.seed) : corpus::generate(options);
    if (digest_only) {
        printf("%016llx\n", (unsigned long long)corpus::digest(files));
        return 0;
    }
    std::string error;
    if (!corpus::write_files(dir, files, &error)) {
        fprintf(stderr, "make_corpus: %s\n", error.c_str());
        return 1;
    }
    uint64_t by_kind[3] = {0, 0, 0};
    for (const corpus::File& f : files) by_kind[int(f.kind)] += f.data.size();
    const uint64_t total = corpus::total_size(files);
    printf("%s: %zu files, %llu bytes (text %llu, binary %llu, compressed %llu)\n", dir.c_str(),
           files.size(), (unsigned long long)total, (unsigned long long)by_kind[0],
           (unsigned long long)by_kind[1], (unsigned long long)by_kind[2]);
    return 0;
}
