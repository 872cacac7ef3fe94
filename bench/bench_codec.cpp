// Codec benchmark: decode and pack throughput over the seeded corpus (mixed
// and text alone), the packed/original ratio, and the packed size (the
// priced parse of `wpk pack`) against a greedy longest-match parse on every
// corpus file. "model/" replays the decoded symbols through the adaptive
// tree alone, as the decoder updates it: what of a decode's time is the
// model's.
//
//   bench_codec                       the full ~20 MB corpus
//   bench_codec --smoke               a 1 MB corpus, one iteration each (seconds)
//   WPK_BENCH_CORPUS_MB=5 bench_codec another corpus size
//   WPK_BENCH_SEED=7 bench_codec      another corpus
//   bench_codec --benchmark_filter=decode   any Google Benchmark flag
//
// Throughput counters are MB/s with MB = 10^6 bytes of uncompressed data, on
// wall-clock time; "packed_pct" is packed/original in percent (member streams
// including their 4-byte sizes).
#include <benchmark/benchmark.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "archive/entry_decoder.h"
#include "archive/fatal_error.h"
#include "archive/lzhuf_model.h"
#include "corpus.h"
#include "pack/lzhuf_encoder.h"

namespace {

using Bytes = std::vector<uint8_t>;

bool g_smoke = false;
bool g_failed = false; // a member failed to round-trip or decode

uint64_t corpus_bytes() {
    if (const char* mb = getenv("WPK_BENCH_CORPUS_MB")) {
        const double v = strtod(mb, nullptr);
        if (v > 0) return uint64_t(v * 1e6);
    }
    return g_smoke ? 1000000 : corpus::NOMINAL_BYTES;
}

uint64_t corpus_seed() {
    if (const char* s = getenv("WPK_BENCH_SEED")) return strtoull(s, nullptr, 0);
    return corpus::DEFAULT_SEED;
}

// One corpus with its lazily made member streams, laid back to back in a
// temporary file for the decode benchmark.
struct Prepared {
    std::vector<const corpus::File*> files;
    uint64_t original = 0;
    std::vector<Bytes> streams;
    uint64_t packed = 0;
    FILE* stream_file = nullptr;
    std::vector<long> offsets;
    std::string error; // set when a member failed to round-trip

    ~Prepared() {
        if (stream_file) fclose(stream_file);
    }
};

const std::vector<corpus::File>& mixed_files() {
    static const std::vector<corpus::File> files = [] {
        corpus::Options options;
        options.seed = corpus_seed();
        options.total_bytes = corpus_bytes();
        return corpus::generate(options);
    }();
    return files;
}

// Decodes one member stream from `in` at its present position; false with
// `error` set on a fault.
bool decode_one(FILE* in, FILE* out, std::string* error) {
    g_fatal_error_shows_box = false;
    FatalJumpScope armed;
    if (FATAL_JUMP_SAVE()) {
        *error = g_fatal_jump.text;
        return false;
    }
    decode_entry(in, out);
    if (g_decode_fault != DecodeFault::NONE) {
        *error = "decode fault " + std::to_string(int(g_decode_fault));
        return false;
    }
    return true;
}

void build_stream_file(Prepared& p) {
    p.stream_file = tmpfile();
    if (!p.stream_file) {
        p.error = std::string("tmpfile: ") + strerror(errno);
        return;
    }
    for (const Bytes& s : p.streams) {
        p.offsets.push_back(ftell(p.stream_file));
        fwrite(s.data(), 1, s.size(), p.stream_file);
    }
    fflush(p.stream_file);
    // Check every member once: decode to a scratch file and compare.
    for (size_t i = 0; i < p.files.size() && p.error.empty(); ++i) {
        FILE* scratch = tmpfile();
        fseek(p.stream_file, p.offsets[i], SEEK_SET);
        std::string error;
        if (!decode_one(p.stream_file, scratch, &error)) {
            p.error = p.files[i]->path + ": " + error;
        } else {
            fflush(scratch);
            rewind(scratch);
            Bytes back(p.files[i]->data.size() + 1);
            const size_t n = fread(back.data(), 1, back.size(), scratch);
            back.resize(n);
            if (back != p.files[i]->data) p.error = p.files[i]->path + ": decoded bytes differ";
        }
        fclose(scratch);
    }
}

Prepared& prepared(bool text_only) {
    static std::map<bool, std::unique_ptr<Prepared>> cache;
    std::unique_ptr<Prepared>& slot = cache[text_only];
    if (!slot) {
        slot = std::make_unique<Prepared>();
        for (const corpus::File& f : mixed_files()) {
            if (text_only && f.kind != corpus::Kind::TEXT) continue;
            slot->files.push_back(&f);
            slot->original += f.data.size();
            slot->streams.push_back(encode_member(f.data.data(), f.data.size()));
            slot->packed += slot->streams.back().size();
        }
        build_stream_file(*slot);
    }
    return *slot;
}

// The prepared corpus, or null after marking the benchmark skipped when it
// could not be prepared.
Prepared* prepared_or_skip(benchmark::State& state, bool text_only) {
    Prepared& p = prepared(text_only);
    if (p.error.empty()) return &p;
    g_failed = true;
    state.SkipWithError(p.error.c_str());
    return nullptr;
}

void set_throughput(benchmark::State& state, uint64_t bytes) {
    const double total = double(state.iterations()) * double(bytes);
    state.SetBytesProcessed(int64_t(total));
    state.counters["MB/s"] = benchmark::Counter(total / 1e6, benchmark::Counter::kIsRate);
}

void bm_decode(benchmark::State& state, bool text_only) {
    Prepared* const prepared_set = prepared_or_skip(state, text_only);
    if (!prepared_set) return;
    Prepared& p = *prepared_set;
    for (auto _ : state) {
        for (size_t i = 0; i < p.files.size(); ++i) {
            fseek(p.stream_file, p.offsets[i], SEEK_SET);
            std::string error;
            if (!decode_one(p.stream_file, nullptr, &error)) {
                g_failed = true;
                state.SkipWithError(error.c_str());
                return;
            }
        }
    }
    set_throughput(state, p.original);
    state.counters["packed_pct"] = 100.0 * double(p.packed) / double(p.original);
    state.counters["files"] = double(p.files.size());
}

// The symbols of every member, in order, read with the decoder's own calls.
std::vector<std::vector<int16_t>> member_symbols(Prepared& p) {
    std::vector<std::vector<int16_t>> symbols(p.files.size());
    for (size_t i = 0; i < p.files.size(); ++i) {
        fseek(p.stream_file, p.offsets[i] + 4, SEEK_SET);
        BitInput in;
        start_bit_input(in, p.stream_file);
        start_huff();
        for (size_t produced = 0; produced < p.files[i]->data.size();) {
            const int c = decode_char(in);
            symbols[i].push_back(int16_t(c));
            if (c < 256) {
                ++produced;
            } else {
                decode_position(in);
                produced += size_t(c - (255 - MATCH_THRESHOLD));
            }
        }
    }
    return symbols;
}

void bm_model(benchmark::State& state, bool text_only) {
    Prepared* const prepared_set = prepared_or_skip(state, text_only);
    if (!prepared_set) return;
    Prepared& p = *prepared_set;
    const std::vector<std::vector<int16_t>> symbols = member_symbols(p);
    for (auto _ : state) {
        for (const std::vector<int16_t>& member : symbols) {
            start_huff();
            uint32_t walks = g_walked_symbols;
            for (const int16_t symbol : member) {
                // The update the decoder makes: walked first, then through
                // the table, built when the decoder would build it.
                if (walks) {
                    --walks;
                    update_leaf_walked(g_parent[symbol + NODE_COUNT]);
                    continue;
                }
                if (g_lookup_stale) build_code_lookup();
                update_model(symbol);
            }
        }
    }
    set_throughput(state, p.original);
}

void bm_pack(benchmark::State& state, bool text_only, ParseMode mode) {
    Prepared& p = prepared(text_only);
    uint64_t packed = 0;
    for (auto _ : state) {
        packed = 0;
        for (const corpus::File* f : p.files) {
            const Bytes stream = encode_member(f->data.data(), f->data.size(), mode);
            packed += stream.size();
            benchmark::DoNotOptimize(stream.data());
        }
    }
    set_throughput(state, p.original);
    state.counters["packed_pct"] = 100.0 * double(packed) / double(p.original);
}

// Per corpus file: pack throughput, and the packed (as `wpk pack` does) and
// greedy sizes.
struct FileResult {
    std::string path;
    const char* kind;
    uint64_t original, lazy, greedy;
};
std::vector<FileResult> g_file_results;

void bm_file(benchmark::State& state, const corpus::File* f) {
    uint64_t lazy = 0;
    for (auto _ : state) {
        const Bytes stream = encode_member(f->data.data(), f->data.size());
        lazy = stream.size();
        benchmark::DoNotOptimize(stream.data());
    }
    // The greedy size once per file (the framework may call us more than once).
    static std::map<const corpus::File*, uint64_t> greedy_sizes;
    auto found = greedy_sizes.find(f);
    if (found == greedy_sizes.end())
        found =
            greedy_sizes
                .emplace(f, encode_member(f->data.data(), f->data.size(), ParseMode::GREEDY).size())
                .first;
    const uint64_t greedy = found->second;
    const double original = double(f->data.size());
    set_throughput(state, f->data.size());
    state.counters["packed_pct"] = 100.0 * double(lazy) / original;
    state.counters["greedy_pct"] = 100.0 * double(greedy) / original;
    state.counters["lazy_vs_greedy_pct"] = 100.0 * double(lazy) / double(greedy);
    state.counters["lazy_le_greedy"] = lazy <= greedy ? 1 : 0;
    for (FileResult& r : g_file_results) {
        if (r.path == f->path) {
            r.lazy = lazy, r.greedy = greedy;
            return;
        }
    }
    g_file_results.push_back({f->path, corpus::kind_name(f->kind), f->data.size(), lazy, greedy});
}

void print_lazy_vs_greedy() {
    if (g_file_results.empty()) return;
    int not_larger = 0;
    uint64_t o = 0, l = 0, g = 0;
    printf("\nPacked (priced parse) vs greedy longest-match parse, per corpus file:\n");
    printf("  %-20s %-10s %10s %10s %10s %8s %8s  %s\n", "file", "kind", "original", "greedy",
           "packed", "greedy%", "packed%", "packed<=greedy");
    for (const FileResult& r : g_file_results) {
        const bool ok = r.lazy <= r.greedy;
        not_larger += ok;
        o += r.original, l += r.lazy, g += r.greedy;
        printf("  %-20s %-10s %10llu %10llu %10llu %7.2f%% %7.2f%%  %s\n", r.path.c_str(), r.kind,
               (unsigned long long)r.original, (unsigned long long)r.greedy,
               (unsigned long long)r.lazy, 100.0 * double(r.greedy) / double(r.original),
               100.0 * double(r.lazy) / double(r.original), ok ? "yes" : "NO");
    }
    printf("  %-20s %-10s %10llu %10llu %10llu %7.2f%% %7.2f%%\n", "all", "", (unsigned long long)o,
           (unsigned long long)g, (unsigned long long)l, 100.0 * double(g) / double(o),
           100.0 * double(l) / double(o));
    printf("Packed at least as small as greedy on %d of %zu files.\n", not_larger,
           g_file_results.size());
}

} // namespace

int main(int argc, char** argv) {
    // Our own flag first, then Google Benchmark's.
    std::vector<char*> args;
    for (int i = 0; i < argc; ++i) {
        if (i > 0 && !strcmp(argv[i], "--smoke"))
            g_smoke = true;
        else
            args.push_back(argv[i]);
    }
    int count = int(args.size());
    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 2;

    std::vector<benchmark::internal::Benchmark*> all;
    for (bool text_only : {false, true}) {
        const std::string which = text_only ? "text" : "mixed";
        all.push_back(
            benchmark::RegisterBenchmark(("decode/" + which).c_str(), bm_decode, text_only));
        all.push_back(
            benchmark::RegisterBenchmark(("model/" + which).c_str(), bm_model, text_only));
        all.push_back(benchmark::RegisterBenchmark(("pack/" + which).c_str(), bm_pack, text_only,
                                                   ParseMode::PRICED));
        all.push_back(benchmark::RegisterBenchmark(("pack_lazy/" + which).c_str(), bm_pack,
                                                   text_only, ParseMode::LAZY));
        all.push_back(benchmark::RegisterBenchmark(("pack_greedy/" + which).c_str(), bm_pack,
                                                   text_only, ParseMode::GREEDY));
    }
    for (const corpus::File& f : mixed_files())
        all.push_back(benchmark::RegisterBenchmark(("file/" + f.path).c_str(), bm_file, &f));
    for (benchmark::internal::Benchmark* b : all) {
        b->UseRealTime()->Unit(benchmark::kMillisecond);
        if (g_smoke) b->Iterations(1);
    }

    printf("corpus: seed 0x%llx, %llu bytes nominal%s\n", (unsigned long long)corpus_seed(),
           (unsigned long long)corpus_bytes(), g_smoke ? " (smoke run)" : "");
    fflush(stdout);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    print_lazy_vs_greedy();
    if (g_failed) fprintf(stderr, "bench_codec: a member failed to decode or round-trip\n");
    return g_failed ? 1 : 0;
}
