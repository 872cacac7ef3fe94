#include "wpk_progress.h"

#include <sys/mman.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "wpk.h"
#include "wpk_reader.h"

namespace {

struct SharedCount {
    uint64_t done;
    uint64_t total;
};

SharedCount* g_count = nullptr; // shared with the workers, once made
bool g_active = false;
bool g_drawn = false;
const char* g_doing = "";
std::string g_member;
double g_started = 0;
double g_drawn_at = 0;

double now() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

void draw(bool force) {
    const double t = now();
    if (!force && t - g_drawn_at < 0.2) return;
    g_drawn_at = t;
    const uint64_t done = __atomic_load_n(&g_count->done, __ATOMIC_RELAXED);
    const uint64_t total = g_count->total;
    const double elapsed = t - g_started;
    const unsigned percent = total ? unsigned(done * 100 / total) : 100;
    const std::string rate =
        elapsed > 0.5 ? human_size(uint64_t(double(done) / elapsed)) + "/s" : "";
    char line[512];
    snprintf(line, sizeof line, "\r\033[K%s %s of %s, %u%%%s%s  %s", g_doing,
             human_size(done).c_str(), human_size(total).c_str(), percent, rate.empty() ? "" : ", ",
             rate.c_str(), g_member.c_str());
    const ssize_t ignored = write(2, line, strlen(line));
    (void)ignored;
    g_drawn = true;
}

} // namespace

void progress_start(const char* doing, uint64_t total) {
    g_active = g_verbosity >= 0 && isatty(2);
    if (!g_active) return;
    if (!g_count) {
        void* shared = mmap(nullptr, sizeof(SharedCount), PROT_READ | PROT_WRITE,
                            MAP_SHARED | MAP_ANONYMOUS, -1, 0);
        if (shared == MAP_FAILED) {
            g_active = false;
            return;
        }
        g_count = static_cast<SharedCount*>(shared);
    }
    g_count->done = 0;
    g_count->total = total;
    g_doing = doing;
    g_member.clear();
    g_started = now();
    g_drawn_at = 0;
}

void progress_member(const std::string& name) {
    if (!g_active) return;
    g_member = name;
    draw(false);
}

void progress_add(uint64_t bytes) {
    if (!g_active) return;
    __atomic_add_fetch(&g_count->done, bytes, __ATOMIC_RELAXED);
    draw(false);
}

bool progress_shown() {
    return g_active;
}

void progress_end() {
    if (g_drawn) {
        const ssize_t ignored = write(2, "\r\033[K", 4);
        (void)ignored;
    }
    g_drawn = false;
}
