// A seeded, deterministic test corpus for the codec benchmark and the lhasa
// check: prose, INI and source-like text, x86-like code, integer tables and
// bitmaps, and high-entropy "already compressed" data.
//
// Everything is built from our own splitmix64 generator with integer
// arithmetic only, so the same seed and size give byte-identical files on
// every machine and every standard library.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace corpus {

enum class Kind { TEXT, BINARY, COMPRESSED };

const char* kind_name(Kind kind);

struct File {
    std::string path; // relative, '/'-separated (e.g. "text/manual.txt")
    Kind kind;
    std::vector<uint8_t> data;
};

constexpr uint64_t DEFAULT_SEED = 0x5EED1994;
// The nominal size of the full mixed corpus (about 20 MB).
constexpr uint64_t NOMINAL_BYTES = 20966000;

struct Options {
    uint64_t seed = DEFAULT_SEED;
    uint64_t total_bytes = NOMINAL_BYTES; // every file scales with this
    bool text_only = false;               // just the text files of the same corpus
};

// The mixed corpus: about 40% text, 40% binary-like and 20% compressed-like
// bytes over a couple of dozen files from a few KB to a few MB. Each file has
// its own generator seeded from the corpus seed and its path, so the text-only
// corpus holds exactly the text files of the mixed one.
std::vector<File> generate(const Options& options);

// Small and awkward inputs for checking the encoder against another decoder:
// empty, one byte, runs, pattern repeats around the window size, matches at
// the full window distance, text large enough to rebuild the code tree many
// times, random bytes. Flat names.
std::vector<File> edge_inputs(uint64_t seed = DEFAULT_SEED);

uint64_t total_size(const std::vector<File>& files);

// FNV-1a (64-bit) over every file's path, size and bytes in order: a short
// fingerprint to confirm two machines generated the same corpus.
uint64_t digest(const std::vector<File>& files);

// Writes every file below `dir` (creating folders). False with `error` set on
// failure.
bool write_files(const std::string& dir, const std::vector<File>& files, std::string* error);

// The generator itself, exposed for tests of determinism.
class Rng {
  public:
    explicit Rng(uint64_t seed) : state_(seed) {}
    uint64_t next() {
        uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // 0 to n - 1 (n > 0), by a 32x32 multiply: tiny bias, fully portable.
    uint32_t below(uint32_t n) { return uint32_t((uint64_t(uint32_t(next() >> 32)) * n) >> 32); }
    uint32_t range(uint32_t lo, uint32_t hi) { return lo + below(hi - lo + 1); }
    bool chance(uint32_t num, uint32_t den) { return below(den) < num; }
    uint8_t byte() { return uint8_t(next() >> 56); }

  private:
    uint64_t state_;
};

} // namespace corpus
