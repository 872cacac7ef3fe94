// The archive writer: lays out a header, a directory and the member streams
// in the format the directory reader and the entry decoder read.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

struct PackMember {
    std::string folder;         // backslash-separated, relative or empty
    std::string name;           // file name with extension
    std::string source;         // host file to pack; empty to pack `data`
    std::vector<uint8_t> data;  // the content when `source` is empty
    uint32_t dos_date_time = 0; // packed date and time (UTC)
};

// The packed date and time of a Unix time (UTC); times before 1980 become
// 1980-01-01 00:00:00 and times after 2107 become 2107-12-31 23:59:58.
uint32_t dos_date_time_from_unix(int64_t seconds);

struct PackTotals {
    uint64_t original_bytes = 0;
    uint64_t archive_bytes = 0;
};

// Writes the archive to `path`, each member's CRC-32 in its record and the
// archive marked for checksums (archive_signature.h), through a temporary
// file of a unique name beside it (".NAME.XXXXXX"), renamed into place only
// when everything was written; on failure nothing is left behind and `error`
// says why. Members are read and coded as they are written, in memory that
// does not grow with their size. Refuses more than 3000 members, a folder or
// name over 255 bytes, a member over 4 GiB - 1 bytes, and an archive beyond
// 4 GiB. `progress`, when given, is called before each member.
bool write_archive(const std::string& path, const std::vector<PackMember>& members,
                   std::string* error, PackTotals* totals = nullptr,
                   const std::function<void(size_t index, const PackMember&)>& progress = {});

// A member's stream coded elsewhere (by code_member_to): the bytes the
// archive holds for it, with the CRC-32 and size of what was read.
struct CodedAhead {
    FILE* stream = nullptr; // its bytes from where it stands; the caller's to close
    uint64_t coded_size = 0;
    uint32_t crc = 0;
    uint64_t original_size = 0;
};
// Gives member `index` coded ahead, or false to have it coded in place.
using TakeCodedAhead = std::function<bool(size_t index, CodedAhead* coded)>;

// Called, when set, with the number of member bytes each read brought in:
// the wpk tool draws its progress line from it.
extern void (*g_pack_read_progress)(uint64_t bytes);

// The same archive written to `out` from where it stands (no temporary, no
// rename); the caller closes it. `take_ahead`, when given, is asked for each
// member in order after `progress`; a member it does not give is read and
// coded here, and any failure is reported as it would be without it.
bool write_archive_to(FILE* out, const std::vector<PackMember>& members, std::string* error,
                      PackTotals* totals = nullptr,
                      const std::function<void(size_t index, const PackMember&)>& progress = {},
                      const TakeCodedAhead& take_ahead = {});

// Reads and codes one member into `out`, the bytes write_archive_to would
// place for it; members are coded independently of each other, so any
// member can be coded on its own. False when the source cannot be read
// whole, is 4 GiB or more, changed while being read or `out` fails.
bool code_member_to(FILE* out, const PackMember& member, uint32_t* crc, uint64_t* original_size);

// The same archive as bytes in memory (for tests); empty on refusal.
std::vector<uint8_t> build_archive(const std::vector<PackMember>& members, std::string* error);
