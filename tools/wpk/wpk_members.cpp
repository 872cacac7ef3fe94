#include "wpk_members.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "archive/entry_decoder.h"
#include "wpk.h"
#include "wpk_output.h"

#ifndef _WIN32
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

// MemberOutcome::state.
constexpr int32_t PENDING = 0;
constexpr int32_t DECODED = 1;   // fault, size and ring_tail are set
constexpr int32_t LEFT_HERE = 2; // reads carried bytes: decoded here, in order

// An outcome stands on its own when the member did not read the carried
// bytes, decoded whole and wrote all MAX_MATCH carried positions, so that the
// ring it leaves does not depend on the one it found.
bool stands(const MemberOutcome& o) {
    return o.state.load(std::memory_order_acquire) == DECODED &&
           (o.fault == DecodeFault::NONE || o.fault == DecodeFault::MATCH_PAST_SIZE) &&
           o.size >= uint32_t(MAX_MATCH);
}

void handle_in_order(const MemberOutcome* ahead, int i, const MemberHandler& handle) {
    const bool stood = ahead && stands(*ahead);
    if (handle(i, stood ? ahead : nullptr) && stood)
        memcpy(&g_ring[RING_FILL], ahead->ring_tail, MAX_MATCH);
}

#ifndef _WIN32

int processor_count() {
    const long n = sysconf(_SC_NPROCESSORS_ONLN);
    return n > 0 ? int(n) : 1;
}

// Shared with the workers: how many members they have taken (in the order
// of largest_first), the member whose outcome the parent waits for (-1:
// none), then the outcomes in member order.
struct SharedOutcomes {
    std::atomic<int32_t> next;
    std::atomic<int32_t> awaited;
    MemberOutcome outcome[1]; // as many as the archive has members
};

// The members from the largest coded stream (up to the next member or the
// end of the file) to the smallest: taken in this order, the last member a
// worker starts is a short one, so the workers finish nearly together.
std::vector<int> largest_first(const ArchiveReader& archive) {
    std::vector<uint64_t> starts;
    for (int i = 0; i < archive.count; ++i) starts.push_back(archive.member_start(i));
    std::sort(starts.begin(), starts.end());
    std::vector<uint64_t> coded(size_t(archive.count), 0);
    for (int i = 0; i < archive.count; ++i) {
        const auto next = std::upper_bound(starts.begin(), starts.end(), archive.member_start(i));
        const uint64_t end = next == starts.end() ? archive.file_size : *next;
        coded[size_t(i)] = end > archive.member_start(i) ? end - archive.member_start(i) : 0;
    }
    std::vector<int> order(size_t(archive.count));
    for (int i = 0; i < archive.count; ++i) order[size_t(i)] = i;
    std::stable_sort(order.begin(), order.end(),
                     [&](int a, int b) { return coded[size_t(a)] > coded[size_t(b)]; });
    return order;
}

[[noreturn]] void run_worker(const ArchiveReader& archive, const std::vector<int>& order,
                             SharedOutcomes* shared, int wake, const DecodeAhead& decode_ahead) {
    FILE* file = fopen(archive.path.c_str(), "rb");
    for (int k; file && (k = shared->next.fetch_add(1)) < archive.count;) {
        const int i = order[size_t(k)];
        MemberOutcome& o = shared->outcome[i];
        const uint32_t start = archive.member_start(i);
        if (member_reads_carried_bytes(file, start)) {
            o.state.store(LEFT_HERE);
        } else {
            o.fault = decode_ahead(i, file);
            o.size = g_member_size;
            memcpy(o.ring_tail, &g_ring[RING_FILL], MAX_MATCH);
            o.state.store(DECODED);
        }
        // The parent sleeps only on the member it needs next; waking it for
        // every other would take the processor from the workers.
        if (shared->awaited.load() == i && write(wake, &i, sizeof i) != sizeof i) break;
    }
    _exit(0); // leaves the parent's stdio buffers and objects alone
}

#endif

} // namespace

int jobs_from_option(const std::string& value) {
    char* end = nullptr;
    const long n = value.empty() ? 0 : strtol(value.c_str(), &end, 10);
    if (!value.empty() && (*end != '\0' || n < 0 || n > 1024)) {
        complain("-j '" + value + "': not a number of workers from 0 (one per processor) to 1024");
        return -1;
    }
#ifdef _WIN32
    return 1;
#else
    return n == 0 ? processor_count() : int(n);
#endif
}

void for_each_member(const ArchiveReader& archive, int jobs, const DecodeAhead& decode_ahead,
                     const MemberHandler& handle) {
    const int count = archive.count;
#ifndef _WIN32
    const size_t bytes = sizeof(SharedOutcomes) + sizeof(MemberOutcome) * size_t(count);
    void* memory = jobs > 1 && count > 1 ? mmap(nullptr, bytes, PROT_READ | PROT_WRITE,
                                                MAP_SHARED | MAP_ANONYMOUS, -1, 0)
                                         : MAP_FAILED;
    int wake[2] = {-1, -1};
    if (memory != MAP_FAILED && pipe(wake) == 0) {
        auto* shared = static_cast<SharedOutcomes*>(memory); // zero-filled: all PENDING
        shared->awaited.store(-1);
        const std::vector<int> order = largest_first(archive);
        fflush(stdout);
        fflush(stderr);
        int started = 0;
        for (int w = 0; w < jobs && w < count; ++w) {
            const pid_t pid = fork();
            if (pid == 0) {
                become_worker();
                close(wake[0]);
                run_worker(archive, order, shared, wake[1], decode_ahead);
            }
            if (pid > 0) {
                register_worker(int(pid));
                ++started;
            }
        }
        close(wake[1]);
        // In order: each outcome as it arrives; when the workers are gone
        // (or none started) the rest are decoded here.
        bool workers_left = started > 0;
        for (int i = 0; i < count; ++i) {
            // The worker stores the outcome's state before it reads
            // `awaited`, and this stores `awaited` before it reads the state
            // again (both sequentially consistent): either the worker sees
            // it is awaited and writes, or this sees the outcome and does
            // not sleep.
            shared->awaited.store(i);
            int finished;
            while (workers_left && shared->outcome[i].state.load() == PENDING) {
                const ssize_t n = read(wake[0], &finished, sizeof finished);
                workers_left = n > 0 || (n < 0 && errno == EINTR);
            }
            handle_in_order(&shared->outcome[i], i, handle);
        }
        close(wake[0]);
        while (started > 0 && wait(nullptr) > 0) --started;
        forget_workers();
        munmap(memory, bytes);
        return;
    }
    if (memory != MAP_FAILED) munmap(memory, bytes);
#else
    (void)jobs;
    (void)decode_ahead;
#endif
    for (int i = 0; i < count; ++i) handle_in_order(nullptr, i, handle);
}

std::filesystem::path make_scratch_folder(const std::filesystem::path& target) {
#ifdef _WIN32
    (void)target;
    return {};
#else
    std::error_code ec;
    std::filesystem::create_directories(target, ec);
    std::string name = (target / ".wpk-extract-XXXXXX").string();
    return mkdtemp(&name[0]) ? std::filesystem::path(name) : std::filesystem::path();
#endif
}
