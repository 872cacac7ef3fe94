// The entry decoder on an arbitrary member stream (4-byte size, then coded
// bits), decoded twice: once discarding the bytes (a null output, as wpk test
// does) with the usual walk of the first symbols, and once into memory with
// the code lookup table from the first symbol. Both runs must agree, a run without a fatal
// fault must produce exactly the announced size, and the bytes must match a
// plain reference decoder kept here: one bit at a time down the code tree,
// never through the decoder's lookup table or its block buffer. The ring
// left for the next member must match the reference's too. After each
// decode the lookup table, when current, must match the tree.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "archive/entry_decoder.h"
#include "archive/fatal_error.h"
#include "archive/lzhuf_model.h"
#include "fuzz_support.h"

namespace {

// Sizes above this are clamped so that one input decodes in milliseconds.
constexpr uint32_t SIZE_LIMIT = 1u << 20;

struct Outcome {
    bool fatal = false;
    const char* text = nullptr;
    uint32_t returned = 0;
    DecodeFault fault = DecodeFault::NONE;
    std::vector<uint8_t> bytes;                                     // what reached the output
    std::vector<uint8_t> ring = std::vector<uint8_t>(RING_SIZE, 0); // g_ring afterwards
};

// Every pattern of the first LOOKUP_BITS bits must lead where walking the
// tree bit by bit leads.
void check_lookup_table() {
    if (g_lookup_stale) return;
    for (int pattern = 0; pattern < 1 << LOOKUP_BITS; ++pattern) {
        int n = g_child[ROOT];
        int node = ROOT;
        int bits = 0;
        while (n < NODE_COUNT && bits < LOOKUP_BITS) {
            node = n + ((pattern >> (LOOKUP_BITS - 1 - bits)) & 1);
            n = g_child[node];
            ++bits;
        }
        const CodeLookup& entry = g_code_lookup[pattern];
        if (entry.next != n || entry.node != node || entry.bits != bits)
            fuzz::fail("lookup",
                       "pattern 0x%02X: table says %d at node %d after %d bits, the tree %d at "
                       "node %d after %d",
                       pattern, entry.next, entry.node, entry.bits, n, node, bits);
    }
}

Outcome decode(std::vector<uint8_t>& bytes, size_t size, bool keep, uint32_t walked) {
    FILE* in = fmemopen(bytes.data(), size, "rb");
    char* buffer = nullptr;
    size_t length = 0;
    FILE* out = keep ? open_memstream(&buffer, &length) : nullptr;
    if (!in || (keep && !out))
        fuzz::fail("setup", "cannot open the memory streams for %zu bytes", size);
    // Start from the same ring each time: its last MAX_MATCH bytes carry over
    // from whatever was decoded before and would make runs depend on history.
    memset(g_ring, 0, sizeof g_ring);
    Outcome o;
    g_fatal_error_shows_box = false;
    g_walked_symbols = walked;
    {
        FatalJumpScope armed;
        if (FATAL_JUMP_SAVE()) {
            o.fatal = true;
            o.text = g_fatal_jump.text;
        } else {
            o.returned = decode_entry(in, out);
        }
    }
    o.fault = g_decode_fault;
    o.ring.assign(g_ring, g_ring + RING_SIZE);
    fclose(in);
    if (out) {
        fclose(out);
        o.bytes.assign(buffer, buffer + length);
        free(buffer);
    }
    if (g_fatal_jump.armed != 0)
        fuzz::fail("fatal-jump", "g_fatal_jump left armed (%d)", g_fatal_jump.armed);
    check_lookup_table();
    return o;
}

// ---- The reference decoder ----

struct ReferenceBits {
    const uint8_t* data;
    size_t size;
    uint64_t taken = 0; // bits consumed; past size * 8 they read as zeros

    int bit() {
        const uint64_t at = taken++;
        return at / 8 < size ? (data[at / 8] >> (7 - at % 8)) & 1 : 0;
    }
    uint32_t peek8() const {
        uint32_t v = 0;
        for (uint64_t at = taken; at < taken + 8; ++at)
            v = v << 1 | (at / 8 < size ? (data[at / 8] >> (7 - at % 8)) & 1 : 0);
        return v;
    }
    bool overrun() const { return taken > uint64_t(size) * 8; }
};

Outcome reference_decode(const uint8_t* data, size_t size) {
    Outcome o;
    if (size < 4) {
        o.fatal = true;
        o.fault = DecodeFault::SIZE_CUT_SHORT;
        return o;
    }
    const uint32_t total = fuzz::le32(data);
    o.returned = total;
    if (total == 0) return o;

    ReferenceBits in{data + 4, size - 4};
    std::vector<uint8_t>& ring = o.ring;
    memset(ring.data(), RING_FILL_BYTE, RING_FILL);
    uint32_t r = RING_FILL;
    start_huff(); // the shared model; its lookup table stays stale and unused here
    while (o.bytes.size() < total) {
        int n = g_child[ROOT];
        while (n < NODE_COUNT) n = g_child[n + in.bit()];
        const int c = n - NODE_COUNT;
        update_model(c);
        uint32_t length = 1;
        uint32_t position = 0;
        if (c >= 256) {
            const uint32_t first = in.peek8();
            const uint32_t code_bits = position_code_length[first] + 6u;
            uint32_t coded = 0;
            for (uint32_t i = 0; i < code_bits; ++i) coded = coded << 1 | uint32_t(in.bit());
            position = uint32_t(position_high_bits[first]) << 6 | (coded & 63);
            length = uint32_t(c) - (255 - MATCH_THRESHOLD);
            // The match enters the ring whole; only the output stops at the size.
            if (length > total - uint32_t(o.bytes.size())) o.fault = DecodeFault::MATCH_PAST_SIZE;
        }
        if (in.overrun()) {
            o.fatal = true;
            o.fault = DecodeFault::DATA_PAST_END;
            return o;
        }
        if (c < 256) {
            ring[r] = uint8_t(c);
            r = (r + 1) & (RING_SIZE - 1);
            o.bytes.push_back(uint8_t(c));
            continue;
        }
        uint32_t source = (r - position - 1) & (RING_SIZE - 1);
        for (; length; --length) {
            const uint8_t b = ring[source];
            ring[r] = b;
            if (o.bytes.size() < total) o.bytes.push_back(b);
            r = (r + 1) & (RING_SIZE - 1);
            source = (source + 1) & (RING_SIZE - 1);
        }
    }
    return o;
}

size_t first_difference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    size_t i = 0;
    while (i < a.size() && i < b.size() && a[i] == b[i]) ++i;
    return i;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> bytes(data, data + size);
    bytes.reserve(1);
    uint32_t announced = 0;
    if (size >= 4) {
        announced = fuzz::le32(bytes.data());
        if (announced > SIZE_LIMIT) {
            announced = SIZE_LIMIT;
            fuzz::put_le32(bytes.data(), announced);
        }
    }

    // The kept run uses the lookup table from the first symbol; the
    // discarding one walks the first symbols as usual (inputs this short
    // may never leave the walk).
    const uint32_t usual_walk = g_walked_symbols;
    const Outcome discarded = decode(bytes, size, false, usual_walk);
    const Outcome kept = decode(bytes, size, true, 0);
    g_walked_symbols = usual_walk;

    if (discarded.fatal != kept.fatal || discarded.fault != kept.fault)
        fuzz::fail("determinism", "the two runs disagree: fault %d/%d, fatal %d/%d",
                   int(discarded.fault), int(kept.fault), discarded.fatal, kept.fatal);

    for (const Outcome* o : {&discarded, &kept}) {
        if (o->fatal) {
            // Only the two reading faults can end a decode here (memory never refuses).
            if (o->fault != DecodeFault::SIZE_CUT_SHORT && o->fault != DecodeFault::DATA_PAST_END)
                fuzz::fail("fault", "fatal exit '%s' with fault %d", o->text, int(o->fault));
            if (strcmp(o->text, TEXT_FILE_ERROR) != 0)
                fuzz::fail("fault", "fatal text '%s'", o->text);
            if ((o->fault == DecodeFault::SIZE_CUT_SHORT) != (size < 4))
                fuzz::fail("fault", "size cut short reported for %zu bytes", size);
        } else {
            if (o->fault != DecodeFault::NONE && o->fault != DecodeFault::MATCH_PAST_SIZE)
                fuzz::fail("fault", "fault %d without a fatal exit", int(o->fault));
            if (o->returned != announced)
                fuzz::fail("count", "returned %u for a size of %u", o->returned, announced);
        }
    }
    if (!kept.fatal && kept.bytes.size() != announced)
        fuzz::fail("count", "wrote %zu bytes for a size of %u", kept.bytes.size(), announced);
    if (kept.fatal && kept.bytes.size() > announced)
        fuzz::fail("count", "wrote %zu bytes, more than the size %u", kept.bytes.size(), announced);

    const Outcome expected = reference_decode(bytes.data(), size);
    if (expected.fatal != kept.fatal || expected.fault != kept.fault)
        fuzz::fail("reference", "fault %d (fatal %d), the reference decoder %d (fatal %d)",
                   int(kept.fault), kept.fatal, int(expected.fault), expected.fatal);
    if (expected.bytes != kept.bytes)
        fuzz::fail("reference", "%zu bytes out, the reference decoder %zu; first difference at %zu",
                   kept.bytes.size(), expected.bytes.size(),
                   first_difference(kept.bytes, expected.bytes));
    for (const Outcome* o : {&discarded, &kept})
        if (o->ring != expected.ring)
            fuzz::fail("ring",
                       "the ring after the member differs from the reference decoder's at "
                       "position %zu",
                       first_difference(o->ring, expected.ring));
    return 0;
}
