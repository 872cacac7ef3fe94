// Handles the members of an archive in order, decoding ahead on worker
// processes.
//
// Members depend on each other only through the MAX_MATCH ring bytes that
// each leaves for the next. A worker decodes a member from the ring positions
// the member fills itself, after checking that it reads none of the carried
// ones (member_reads_carried_bytes); a member that does read them, or whose
// outcome could depend on them otherwise (fewer than MAX_MATCH bytes, or
// damaged), is decoded again here, in order, after the one before it. What
// the commands print and write is done here, in order, so it is the same as
// a run on one core.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>

#include "archive/lzhuf_model.h"
#include "wpk.h"
#include "wpk_reader.h"

// What a worker found for one member, in memory shared with it.
struct MemberOutcome {
    std::atomic<int32_t> state; // see wpk_members.cpp
    DecodeFault fault;
    uint32_t size;
    uint8_t ring_tail[MAX_MATCH]; // ring positions RING_FILL to RING_SIZE - 1 after it
};

// Decodes member i on a worker, from its own open copy of the archive; the
// fault.
using DecodeAhead = std::function<DecodeFault(int i, FILE* archive)>;
// Handles member i here. `ahead` is the worker's outcome when it stands;
// null when the handler must decode the member itself (the ring then holds
// what the previous member left, as in a run on one core). Returns whether
// the member counts as decoded: false leaves the ring as the member before
// left it, as the installer does for a member it does not write.
using MemberHandler = std::function<bool(int i, const MemberOutcome* ahead)>;

// The number of workers for "-j N" (0 or absent: one per online processor);
// -1 with a message when N is not a number.
// The -j option of the commands that decode ahead (test, extract).
constexpr OptionDef JOBS_OPTION = {
    "jobs", 'j', "N", "decode on N processes (default 0: one per processor; 1: none ahead)"};

// The -j option of wpk pack.
constexpr OptionDef PACK_JOBS_OPTION = {
    "jobs", 'j', "N",
    "code the members on N processes (default 0: one per processor; 1: all in this one)"};

int jobs_from_option(const std::string& value);

// Runs `handle` for every member in order, with up to `jobs` workers
// decoding ahead (none with 1, or where processes cannot be started).
void for_each_member(const ArchiveReader& archive, int jobs, const DecodeAhead& decode_ahead,
                     const MemberHandler& handle);

// A fresh folder inside `target` (made when missing) for the files workers
// decode ahead; empty where workers are not used or it cannot be made.
std::filesystem::path make_scratch_folder(const std::filesystem::path& target);
