// Reading a Windows program file the way its loader does: the headers, the
// sections, the resources and the certificate table, found from the PE
// headers, never by searching the bytes. For checking WBOOT.EXE, and for
// filling in its ARCHIVE_DIGEST resource before it is signed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct PeImage {
    std::vector<uint8_t> bytes;
    size_t pe = 0;       // offset of "PE\0\0"
    size_t optional = 0; // offset of the optional header
    size_t sections = 0; // offset of the section table
    unsigned section_count = 0;
};

// Reads `path` as a 32-bit (i386, PE32) Windows program. Empty when it is
// one; otherwise why not ("not a Windows program (no PE header)", ...).
std::string pe_load(const std::string& path, PeImage* image);

uint32_t pe_u16(const PeImage& image, size_t at);
uint32_t pe_u32(const PeImage& image, size_t at);

// The file offset of an address in the loaded image; 0 when no section
// holds it.
size_t pe_file_offset(const PeImage& image, uint32_t rva);

// The data directory `index` (1 imports, 2 resources, 4 certificates):
// its address (a file offset for the certificates) and size; 0, 0 if none.
void pe_directory(const PeImage& image, unsigned index, uint32_t* address, uint32_t* size);

// The first language's data of the resource of numeric `type` and `name`
// (a name, or "#N" for the number N): its file offset and size. False when
// there is none.
bool pe_find_resource(const PeImage& image, uint16_t type, const std::string& name, size_t* offset,
                      uint32_t* size);

// A value of the version information's string table ("OriginalFilename",
// "FileVersion", ...), in ASCII; empty when absent.
std::string pe_version_value(const PeImage& image, const std::string& key);

// Where the room for the archive's SHA-256 lies in the file: the resource
// ARCHIVE_DIGEST of type RCDATA, 32 bytes. 0 when the program has none.
size_t pe_archive_digest_offset(const PeImage& image);
