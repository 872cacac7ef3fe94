#include "wpk_pe.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

constexpr size_t PROGRAM_SIZE_LIMIT = 64u << 20; // far above any setup starter
constexpr uint16_t RT_RCDATA_TYPE = 10;
constexpr uint16_t RT_VERSION_TYPE = 16;

// An entry of a resource directory at `dir` (offset in the file) whose name
// is the number `id`, or the UTF-16 `name` when that is not empty: the
// entry's OffsetToData field, or 0xFFFFFFFF when there is none.
uint32_t resource_entry(const PeImage& image, size_t base, size_t dir, uint32_t id,
                        const std::string& name) {
    const uint32_t named = pe_u16(image, dir + 12), numbered = pe_u16(image, dir + 14);
    for (uint32_t i = 0; i < named + numbered; ++i) {
        const size_t entry = dir + 16 + 8 * i;
        const uint32_t key = pe_u32(image, entry);
        bool match;
        if (key & 0x80000000u) {
            const size_t text = base + (key & 0x7FFFFFFFu);
            const uint32_t length = pe_u16(image, text);
            match = !name.empty() && length == name.size();
            for (uint32_t c = 0; match && c < length; ++c)
                match = pe_u16(image, text + 2 + 2 * c) == uint8_t(name[c]);
        } else {
            match = name.empty() && key == id;
        }
        if (match) return pe_u32(image, entry + 4);
    }
    return 0xFFFFFFFFu;
}

// An ASCII text of UTF-16 units at `at`, up to a NUL or `units` units.
std::string ascii_of(const PeImage& image, size_t at, size_t units) {
    std::string text;
    for (size_t i = 0; i < units; ++i) {
        const uint32_t c = pe_u16(image, at + 2 * i);
        if (c == 0) break;
        text += c < 0x80 ? char(c) : '?';
    }
    return text;
}

// Looks for `key` among the String nodes below the version node at `at`
// (wLength, wValueLength, wType, szKey, padding, value, children).
std::string find_version_value(const PeImage& image, size_t at, size_t end, const std::string& key,
                               int depth) {
    while (at + 6 < end && depth < 4) {
        const uint32_t length = pe_u16(image, at);
        if (length < 6 || at + length > end) break;
        const uint32_t value_length = pe_u16(image, at + 2);
        const bool text = pe_u16(image, at + 4) == 1;
        size_t units = 0;
        while (at + 6 + 2 * units < at + length && pe_u16(image, at + 6 + 2 * units)) ++units;
        const std::string name = ascii_of(image, at + 6, units);
        const size_t value = (at + 6 + 2 * (units + 1) + 3) & ~size_t(3);
        if (depth > 0 && name == key && text) return ascii_of(image, value, value_length);
        size_t children = value + (text ? 2 * value_length : value_length);
        children = (children + 3) & ~size_t(3);
        const std::string found = find_version_value(image, children, at + length, key, depth + 1);
        if (!found.empty()) return found;
        at = (at + length + 3) & ~size_t(3);
    }
    return "";
}

} // namespace

uint32_t pe_u16(const PeImage& image, size_t at) {
    return at + 2 <= image.bytes.size() ? uint32_t(image.bytes[at] | image.bytes[at + 1] << 8) : 0;
}

uint32_t pe_u32(const PeImage& image, size_t at) {
    return pe_u16(image, at) | pe_u16(image, at + 2) << 16;
}

std::string pe_load(const std::string& path, PeImage* image) {
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) return strerror(errno);
    image->bytes.clear();
    uint8_t block[65536];
    size_t n;
    while ((n = fread(block, 1, sizeof block, f)) > 0 && image->bytes.size() < PROGRAM_SIZE_LIMIT)
        image->bytes.insert(image->bytes.end(), block, block + n);
    const bool failed = ferror(f) != 0;
    fclose(f);
    if (failed) return "cannot be read";
    const std::vector<uint8_t>& b = image->bytes;
    if (b.size() < 64 || b[0] != 'M' || b[1] != 'Z') return "not a Windows program (no MZ header)";
    image->pe = pe_u32(*image, 0x3C);
    if (image->pe + 24 > b.size() || memcmp(&b[image->pe], "PE\0\0", 4) != 0)
        return "not a Windows program (no PE header)";
    if (pe_u16(*image, image->pe + 4) != 0x14C) return "not a 32-bit (i386) program";
    image->optional = image->pe + 24;
    if (pe_u16(*image, image->optional) != 0x10B) return "not a 32-bit (PE32) program";
    image->sections = image->optional + pe_u16(*image, image->pe + 20);
    image->section_count = pe_u16(*image, image->pe + 6);
    if (image->sections + 40 * size_t(image->section_count) > b.size())
        return "not a Windows program (its section table is cut short)";
    return "";
}

size_t pe_file_offset(const PeImage& image, uint32_t rva) {
    for (unsigned i = 0; i < image.section_count; ++i) {
        const size_t s = image.sections + 40 * i;
        const uint32_t start = pe_u32(image, s + 12);
        const uint32_t size = std::max(pe_u32(image, s + 8), pe_u32(image, s + 16));
        if (rva >= start && rva - start < size) {
            const size_t at = pe_u32(image, s + 20) + size_t(rva - start);
            return at < image.bytes.size() ? at : 0;
        }
    }
    return 0;
}

void pe_directory(const PeImage& image, unsigned index, uint32_t* address, uint32_t* size) {
    *address = *size = 0;
    if (index >= pe_u32(image, image.optional + 92)) return;
    *address = pe_u32(image, image.optional + 96 + 8 * index);
    *size = pe_u32(image, image.optional + 100 + 8 * index);
}

bool pe_find_resource(const PeImage& image, uint16_t type, const std::string& name, size_t* offset,
                      uint32_t* size) {
    uint32_t rva, length;
    pe_directory(image, 2, &rva, &length);
    const size_t base = rva ? pe_file_offset(image, rva) : 0;
    if (!base) return false;
    const uint32_t by_type = resource_entry(image, base, base, type, "");
    if (!(by_type & 0x80000000u) || by_type == 0xFFFFFFFFu) return false;
    const bool numbered = name.size() > 1 && name[0] == '#';
    const uint32_t by_name =
        resource_entry(image, base, base + (by_type & 0x7FFFFFFFu),
                       numbered ? uint32_t(std::stoul(name.substr(1))) : 0, numbered ? "" : name);
    if (!(by_name & 0x80000000u) || by_name == 0xFFFFFFFFu) return false;
    const size_t languages = base + (by_name & 0x7FFFFFFFu);
    if (pe_u16(image, languages + 12) + pe_u16(image, languages + 14) == 0) return false;
    const uint32_t data = pe_u32(image, languages + 16 + 4);
    if (data & 0x80000000u) return false;
    const size_t entry = base + data;
    *size = pe_u32(image, entry + 4);
    *offset = pe_file_offset(image, pe_u32(image, entry));
    return *offset != 0 && *offset + *size <= image.bytes.size();
}

std::string pe_version_value(const PeImage& image, const std::string& key) {
    size_t offset;
    uint32_t size;
    if (!pe_find_resource(image, RT_VERSION_TYPE, "#1", &offset, &size)) return "";
    return find_version_value(image, offset, offset + size, key, 0);
}

size_t pe_archive_digest_offset(const PeImage& image) {
    size_t offset;
    uint32_t size;
    return pe_find_resource(image, RT_RCDATA_TYPE, "ARCHIVE_DIGEST", &offset, &size) && size == 32
               ? offset
               : 0;
}
