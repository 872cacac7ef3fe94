// The 54-byte signature and the 2 bytes after it, as wpk writes them, and
// the checksum mark.
//
// The directory reader never compares the signature. Archives written by
// wpk carry one of two exact signatures: the plain one (the 2 bytes after it
// zero) and the one of archives whose directory records carry each member's
// CRC-32 in their `reserved` field (the 2 bytes after it hold
// CHECKSUM_MARK). Only that exact pair of signature and mark switches the
// checksum test on, so an archive made elsewhere, whatever its `reserved`
// fields hold, is read as before.
//
// A marked archive also carries a CRC-32 of its whole directory (the entry
// count, every record with its names, and the data base: the bytes from
// offset 56 up to the first member) in the signature's zero bytes: the
// checksum at offset DIRECTORY_CHECKSUM_AT (little-endian), then the 2 bytes
// DIRECTORY_MARK. Marked archives written before carry zeros there and have
// no directory checksum to verify.
#pragma once

#include <cstdint>

#include "archive/archive_directory.h"

// The 42-byte text lines that open the two signatures; each is followed by
// the byte 0x1A and 11 zero bytes.
extern const char ARCHIVE_SIGNATURE_TEXT[];
extern const char CHECKSUM_SIGNATURE_TEXT[];

// The 2 bytes after the checksum signature: C5 32 (0x32C5 little-endian).
constexpr uint8_t CHECKSUM_MARK[2] = {0xC5, 0x32};

constexpr int DIRECTORY_CHECKSUM_AT = 44;
constexpr int DIRECTORY_MARK_AT = 48;
constexpr uint8_t DIRECTORY_MARK[2] = {0x44, 0xC3};

enum SignatureKind {
    SIGNATURE_FOREIGN,       // not as wpk writes it
    SIGNATURE_WPK,           // wpk's plain signature, no checksums
    SIGNATURE_WPK_CHECKSUMS, // wpk's checksum signature with the mark
};

// Fills the signature and the 2 bytes after it (SIGNATURE_SIZE + 2 bytes).
void make_archive_signature(uint8_t* out, bool checksums);

SignatureKind classify_signature(const uint8_t signature[SIGNATURE_SIZE], const uint8_t after[2]);

// Whether the archive whose directory was read last carries member
// checksums (from g_archive_signature and g_archive_unused).
bool archive_has_checksums();

// The CRC-32 of the directory read last, from g_entry_table, g_entry_count
// and g_data_base: the bytes it was read from. Pure code.
uint32_t directory_checksum();

// Stores `checksum` and the directory mark in a checksum signature.
void store_directory_checksum(uint8_t signature[SIGNATURE_SIZE], uint32_t checksum);

// Whether the archive read last carries a directory checksum.
bool archive_has_directory_checksum();

// False only when the archive read last carries a directory checksum and
// its directory, as read, does not match it: a name, a time, an offset or
// the count was damaged.
bool directory_checksum_matches();
