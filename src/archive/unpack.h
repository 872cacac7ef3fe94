// The extraction driver: copies the archive from beside the program into the
// current folder, reads its directory and writes every member there.
#pragma once

#include <cstdint>

#include "platform/platform.h"

constexpr const char* ARCHIVE_NAME = "W_SETUP.WPK";

// Slots of the driver's working storage; a path that does not fit is refused.
constexpr uint32_t SAVED_FOLDER_SLOT = 254; // 253 characters and the terminator
constexpr uint32_t PATH_SLOT = 256;         // 255 characters and the terminator
constexpr uint32_t COMPONENT_SLOT = 260;    // a folder component, at most 255
constexpr uint32_t COPY_BLOCK_SIZE = 4096;
constexpr uint32_t ARCHIVE_STREAM_BUFFER_SIZE = 5000;

// The running Windows, as far as the driver cares: 5 and 6 are the NT line,
// where members named like "*.DL_*" are left out.
using WindowsKind = int;
constexpr WindowsKind NT_KIND_FIRST = 5;

// Unpacks `archive_name` (a bare file name). Returns 1 when the member loop
// ran to its end, 0 when a failure was shown in a message box. Raises
// fatal_error (and does not return) for a copy that cannot be opened, a
// damaged directory, the decoder's faults, and, in an archive marked for
// member checksums, a member whose written bytes do not match its CRC-32
// (after that member's file was written, stamped and closed). The current folder is the
// same on every exit.
int16_t unpack_archive(const char* archive_name);

// The archive's path beside the program into `path` (PATH_SLOT bytes): the
// folder of the program's own path (the module's, when that path has no
// folder), then the name. False when there is no such folder or it does not
// fit.
bool archive_source_path(const char* archive_name, char* path);

// Copies the archive beside the program into the current folder in 4096-byte
// blocks: 1 when copied (or when the archive already is that file), -1 on any
// failure. A short write shows the "Write error" box first. A program that
// carries its archive's digest also hashes what it copies: an archive that
// does not match is a failure too (the copy stays).
int copy_archive_to_work_folder(const char* archive_name);

// The size of an open file; the position is left where it was.
int32_t file_size_of(FileHandle file);

WindowsKind classify_windows_version(const WindowsVersion& version);

// Makes each level of a backslash-separated folder path and enters it: from
// the root of the current drive when the path starts with a backslash,
// otherwise from the current folder. Always 1; the process is left in the
// deepest folder reached.
int make_directory_path(const char* folder);

// Stamps the member file with the packed time as its creation time (UTC).
// A packed value that is no valid time leaves the file's time untouched.
bool set_file_time_from_dos(Stream* output, const uint8_t dos_date_time[4]);

// Frees what an unpack left allocated after a fatal error (the entry table,
// its names and the stream buffer); a no-op after a normal return.
void release_unpack_memory();
