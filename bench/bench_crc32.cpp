// Checksum benchmark: MB/s of crc32_update (folding where the processor has
// carry-less multiplication) and of the table path, over buffers the size of
// a decoder run and of a small write, each one byte off 16-byte alignment.
//
//   bench_crc32                               all of them
//   bench_crc32 --benchmark_filter=table      any Google Benchmark flag
#include <benchmark/benchmark.h>

#include <cstdio>
#include <vector>

#include "archive/crc32.h"

namespace {

template <uint32_t (*Update)(uint32_t, const uint8_t*, size_t)>
void bm_crc32(benchmark::State& state) {
    const size_t size = size_t(state.range(0));
    std::vector<uint8_t> buffer(size + 32);
    for (size_t i = 0; i < buffer.size(); ++i) buffer[i] = uint8_t(i * 131 + (i >> 7));
    const uint8_t* data =
        buffer.data() + (16 - reinterpret_cast<uintptr_t>(buffer.data()) % 16) + 1;
    uint32_t crc = 0;
    for (auto _ : state) benchmark::DoNotOptimize(crc = Update(crc, data, size));
    const double total = double(state.iterations()) * double(size);
    state.SetBytesProcessed(int64_t(total));
    state.counters["MB/s"] = benchmark::Counter(total / 1e6, benchmark::Counter::kIsRate);
}

BENCHMARK_TEMPLATE(bm_crc32, crc32_update)->Name("crc32_update")->Arg(100)->Arg(16384);
BENCHMARK_TEMPLATE(bm_crc32, crc32_update_by_table)->Name("table")->Arg(100)->Arg(16384);

} // namespace

int main(int argc, char** argv) {
    printf("carry-less multiplication folding: %s\n", crc32_folds_by_clmul() ? "yes" : "no");
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 2;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
