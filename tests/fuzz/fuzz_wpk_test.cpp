// `wpk test` on arbitrary archives: wpk_read.cpp is compiled into this target
// and command_test runs on the input written to a scratch file. The tool's
// messages are dropped (complain and the progress line are defined here in
// place of wpk_main.cpp, which brings its own main), and its summary line on
// stdout goes to /dev/null. It must answer with 0 or 1, release the entry
// table and leave no fatal-error scope armed.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "archive/archive_directory.h"
#include "archive/fatal_error.h"
#include "fuzz_support.h"
#include "wpk.h"

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
    return 0;
}
