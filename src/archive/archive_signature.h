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
#pragma once

#include <cstdint>

#include "archive/archive_directory.h"

// The 42-byte text lines that open the two signatures; each is followed by
// the byte 0x1A and 11 zero bytes.
extern const char ARCHIVE_SIGNATURE_TEXT[];
extern const char CHECKSUM_SIGNATURE_TEXT[];

// The 2 bytes after the checksum signature: C5 32 (0x32C5 little-endian).
constexpr uint8_t CHECKSUM_MARK[2] = {0xC5, 0x32};

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
