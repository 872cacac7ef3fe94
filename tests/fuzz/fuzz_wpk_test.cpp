// `wpk test` on arbitrary archives: wpk_read.cpp is compiled into this target
// and the test command runs on the input written to a scratch file; then the
// check that decoding ahead on workers rests on (check_carried_bytes_probe).
// The tool's messages are dropped (complain and the progress line are defined
// here in place of wpk_main.cpp, which brings its own main), and its summary
// line on stdout goes to /dev/null. It must answer with 0 or 1, release the
// entry table and leave no fatal-error scope armed.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "archive/archive_directory.h"
#include "archive/fatal_error.h"
#include "fuzz_support.h"
#include "wpk.h"
#include "wpk_reader.h"

void complain(const std::string& message) {
    if (getenv("WPK_FUZZ_VERBOSE")) fprintf(stderr, "wpk: %s\n", message.c_str());
}
void show_progress(size_t, size_t, const std::string&) {}
int g_verbosity = 0;
void end_progress() {}

namespace {

constexpr uint32_t MEMBER_LIMIT = 1024 * 1024;
constexpr uint64_t TOTAL_LIMIT = 4 * 1024 * 1024;

std::string g_archive_path;

// Decodes member i with the carried ring bytes all `fill`; its bytes, and
// the ring bytes it leaves in `tail`.
std::vector<uint8_t> decode_with_carried(const ArchiveReader& archive, int i, uint8_t fill,
                                         DecodeFault* fault, uint8_t tail[MAX_MATCH]) {
    memset(&g_ring[RING_FILL], fill, MAX_MATCH);
    FILE* out = tmpfile();
    *fault = decode_member(archive.file, i, out);
    std::vector<uint8_t> bytes(size_t(ftell(out)));
    rewind(out);
    if (!bytes.empty() && fread(bytes.data(), 1, bytes.size(), out) != bytes.size()) bytes.clear();
    fclose(out);
    memcpy(tail, &g_ring[RING_FILL], MAX_MATCH);
    return bytes;
}

// What the workers of 'wpk test -j' and 'wpk extract -j' rely on: a member
// that member_reads_carried_bytes clears decodes to the same bytes whatever
// the carried ring bytes are, and one that stands on its own (whole, at
// least MAX_MATCH bytes) also leaves the same ring bytes.
void check_carried_bytes_probe() {
    ArchiveReader archive;
    if (!archive.open(g_archive_path)) return;
    for (int i = 0; i < archive.count; ++i) {
        if (member_reads_carried_bytes(archive.file, archive.member_start(i))) continue;
        DecodeFault fault_a, fault_b;
        uint8_t tail_a[MAX_MATCH], tail_b[MAX_MATCH];
        const auto a = decode_with_carried(archive, i, 0x00, &fault_a, tail_a);
        const auto b = decode_with_carried(archive, i, 0xFF, &fault_b, tail_b);
        if (a != b || fault_a != fault_b)
            fuzz::fail("carried-probe", "member %d reads the carried bytes unseen", i);
        const bool whole = fault_a == DecodeFault::NONE || fault_a == DecodeFault::MATCH_PAST_SIZE;
        if (whole && g_member_size >= uint32_t(MAX_MATCH) && memcmp(tail_a, tail_b, MAX_MATCH) != 0)
            fuzz::fail("carried-probe", "member %d leaves carried bytes in the ring", i);
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    g_archive_path = fuzz::make_scratch_folder("wpk-test") + "/input.wpk";
    if (!getenv("WPK_FUZZ_VERBOSE") && !freopen("/dev/null", "w", stdout)) perror("freopen");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 64 * 1024) return -1;
    std::vector<uint8_t> archive(data, data + size);
    if (!fuzz::cap_member_sizes(archive, MEMBER_LIMIT, TOTAL_LIMIT)) return -1;

    FILE* f = fopen(g_archive_path.c_str(), "wb");
    if (!f || (size && fwrite(archive.data(), 1, size, f) != size) || fclose(f) != 0)
        fuzz::fail("setup", "cannot write %s", g_archive_path.c_str());

    Invocation invocation;
    invocation.command = &TEST_COMMAND;
    invocation.operands = {g_archive_path};
    invocation.options = {{"jobs", "1"}}; // no worker processes inside the fuzzer
    const int status = TEST_COMMAND.run(invocation);

    if (status != EXIT_OK && status != EXIT_DAMAGED)
        fuzz::fail("status", "wpk test answered %d", status);
    if (g_entry_table) fuzz::fail("release", "the entry table is still allocated");
    if (g_fatal_jump.armed != 0)
        fuzz::fail("fatal-jump", "g_fatal_jump left armed (%d)", g_fatal_jump.armed);
    if (g_archive_stream || g_output_stream) fuzz::fail("release", "a fatal-error stream is set");
    check_carried_bytes_probe();
    return 0;
}
