// The encoder against the decoder: arbitrary data, encoded with each parse
// (greedy, lazy, priced), must decode back to itself byte for byte without
// any fault (a match cut at the size would mean the encoder ran a match past
// the end). The decoder's window keeps its last MAX_MATCH positions from the
// previous member, which the encoder must never reference: each stream is
// decoded twice, with those positions filled with 0xAA and then 0x55, and
// both results must match the data.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "archive/entry_decoder.h"
#include "archive/fatal_error.h"
#include "fuzz_support.h"
#include "pack/lzhuf_encoder.h"

namespace {

std::vector<uint8_t> decode_with_tail(std::vector<uint8_t>& stream, uint8_t tail,
                                      const char* mode) {
    FILE* in = fmemopen(stream.data(), stream.size(), "rb");
    char* buffer = nullptr;
    size_t length = 0;
    FILE* out = open_memstream(&buffer, &length);
    if (!in || !out) fuzz::fail("setup", "cannot open the memory streams");

    memset(g_ring + RING_FILL, tail, RING_SIZE - RING_FILL);
    g_fatal_error_shows_box = false;
    const char* fatal = nullptr;
    {
        FatalJumpScope armed;
        if (FATAL_JUMP_SAVE())
            fatal = g_fatal_jump.text;
        else
            decode_entry(in, out);
    }
    const DecodeFault fault = g_decode_fault;
    fclose(in);
    fclose(out);
    std::vector<uint8_t> result(buffer, buffer + length);
    free(buffer);
    if (fatal) fuzz::fail("decode", "%s stream: fatal '%s' (fault %d)", mode, fatal, int(fault));
    if (fault != DecodeFault::NONE) fuzz::fail("decode", "%s stream: fault %d", mode, int(fault));
    return result;
}

size_t first_difference(const std::vector<uint8_t>& a, const uint8_t* b, size_t size) {
    size_t i = 0;
    while (i < a.size() && i < size && a[i] == b[i]) ++i;
    return i;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 64 * 1024) return -1;
    for (const ParseMode mode : {ParseMode::GREEDY, ParseMode::LAZY, ParseMode::PRICED}) {
        const char* name = mode == ParseMode::GREEDY ? "greedy"
                           : mode == ParseMode::LAZY ? "lazy"
                                                     : "priced";
        std::vector<uint8_t> stream = encode_member(data, size, mode);
        if (stream.size() < 4 || fuzz::le32(stream.data()) != uint32_t(size))
            fuzz::fail("size", "%s stream does not announce %zu bytes", name, size);
        // The packer promises the same stream every time; checked on the
        // smaller inputs only, as it doubles the encoding work.
        if (size <= 4096 && encode_member(data, size, mode) != stream)
            fuzz::fail("determinism", "%s output varies", name);

        const std::vector<uint8_t> with_aa = decode_with_tail(stream, 0xAA, name);
        const std::vector<uint8_t> with_55 = decode_with_tail(stream, 0x55, name);
        if (with_aa != with_55) {
            const size_t at = first_difference(with_aa, with_55.data(), with_55.size());
            fuzz::fail("ring-tail",
                       "%s stream reads the carried-over ring tail: outputs differ at %zu", name,
                       at);
        }
        const size_t at = first_difference(with_aa, data, size);
        if (with_aa.size() != size || at != size)
            fuzz::fail("roundtrip", "%s stream: %zu bytes back for %zu, first difference at %zu",
                       name, with_aa.size(), size, at);
    }
    return 0;
}
