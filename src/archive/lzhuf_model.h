// The LZHUF code model shared by the entry decoder and the packer: the
// adaptive Huffman tree over 314 symbols (256 literal bytes and 58 match
// lengths) and the fixed prefix code of a match position's upper 6 bits.
#pragma once

#include <array>
#include <cstdint>

constexpr int RING_SIZE = 4096;                                 // the window; positions are 12-bit
constexpr int MAX_MATCH = 60;                                   // longest match in bytes
constexpr int MATCH_THRESHOLD = 2;                              // a match is at least 3 bytes long
constexpr int SYMBOL_COUNT = 256 - MATCH_THRESHOLD + MAX_MATCH; // 314
constexpr int NODE_COUNT = SYMBOL_COUNT * 2 - 1;                // 627
constexpr int ROOT = NODE_COUNT - 1;                            // 626
constexpr uint16_t MAX_FREQ = 0x8000;            // root frequency that triggers a rebuild
constexpr int RING_FILL = RING_SIZE - MAX_MATCH; // 4036 spaces start a member
// The longest code the tree gives. The tree keeps the sibling property,
// which makes it a Huffman tree of its frequencies, every leaf counting at
// least 1; such a tree with a leaf d levels down has a root of at least the
// (d + 2)th Fibonacci number. The root never passes MAX_FREQ, below the
// 24th (46368), so no leaf lies more than 21 levels down.
constexpr int MAX_CODE_BITS = 21;
static_assert(MAX_FREQ < 46368, "MAX_CODE_BITS follows from MAX_FREQ");
constexpr uint8_t RING_FILL_BYTE = 0x20;

// Node frequencies; entry NODE_COUNT is a 0xFFFF sentinel, which ends every
// scan, and the 7 after it are there so that a scan may read eight entries
// at a time (0xFFFF too, but for PATH_SPARE's). Non-decreasing with the
// index up to the sentinel, the root holding the largest.
extern uint16_t g_freq[NODE_COUNT + 8];
// For a node: its first child (an internal node, children at value and
// value + 1), or symbol + NODE_COUNT for a leaf.
extern int16_t g_child[NODE_COUNT];
// For a node (0 to 626): its parent, 0 for the root. For a symbol s: entry
// NODE_COUNT + s is the index of its leaf. The entry after them is scratch,
// the target of stores that an exchange makes only for internal nodes.
constexpr int PARENT_SCRATCH = NODE_COUNT + SYMBOL_COUNT;
extern int16_t g_parent[PARENT_SCRATCH + 1];
// For an internal node: the child entries of its two children, so that a
// walk takes two levels with one load (the entry for the bit after the one
// that chose the child). Kept by update_leaf_walked only, from start_huff
// on; for a leaf it holds nothing of use.
extern uint16_t g_grandchild[NODE_COUNT][2];

// The decoder's lookup of the first LOOKUP_BITS bits of a code: for every
// bit pattern, the walk from the root as far as those bits go. Each entry
// holds the value reached (a symbol + NODE_COUNT, or the first child of the
// node to go on from), the node whose entry that value is, and the bits the
// walk took. Eight bytes, so that the load scales a pattern into an entry
// itself, with no multiply on the way from the bits to the symbol.
constexpr int LOOKUP_BITS = 7;
struct alignas(8) CodeLookup {
    int16_t next;
    int16_t node;
    uint8_t bits;
};
// After the entries, a scratch entry that an exchange refreshes for a node
// the table does not read.
constexpr int LOOKUP_SCRATCH = 1 << LOOKUP_BITS;
extern CodeLookup g_code_lookup[LOOKUP_SCRATCH + 1];
// The patterns whose walk reads a node's child entry: a node near the root
// at depth d is read by the 2^(LOOKUP_BITS - d) patterns that share its
// d-bit prefix. An exchange refreshes just those patterns; a rebuild makes
// the whole table stale.
struct LookupRange {
    uint16_t first; // LOOKUP_SCRATCH for a node the table does not read
    uint16_t count; // 0: the node is not read by the table
};
constexpr LookupRange UNREAD_RANGE = {LOOKUP_SCRATCH, 0};
// Entry PATH_SPARE is scratch: a subtree's move shifts it along with the
// nodes whose place the spare takes below a leaf.
extern LookupRange g_lookup_range[NODE_COUNT + 2];
// For every depth 0 (the root) to LOOKUP_BITS and every pattern, the node
// the pattern's walk passes at that depth. An update climbs from a node the
// table reads through these instead of a chain of parent loads, which lets
// the increments on the way to the root run side by side. Kept by depth, so
// that the patterns sharing a node are one run.
extern int16_t g_lookup_path[LOOKUP_BITS + 1][1 << LOOKUP_BITS];
// What the path holds at the depths below a leaf within the table: an entry
// after the sentinel that an update may raise without effect, since the
// 0xFFFF after it is never below it (its own count just wraps).
constexpr int PATH_SPARE = NODE_COUNT + 1;
extern bool g_lookup_stale;

// Builds the whole lookup table from the present tree.
void build_code_lookup();

// Sets the tree to its initial state: every symbol frequency 1, leaves joined
// pairwise in index order.
void start_huff();
// Adds one to the symbol's frequency and restores the node order; rebuilds
// first when the root has reached MAX_FREQ.
void update_model(int symbol);
// The same for the symbol held by the leaf node `leaf` (whose child entry is
// the symbol + NODE_COUNT), for a decoder that has just walked to it.
void update_leaf(int leaf);
// The same while the lookup table is stale (no node is read by it), without
// keeping any of it: the encoder, and a rebuild in the decoder.
void update_leaf_untabled(int leaf);
// The same as update_leaf_untabled, keeping g_grandchild too: the decoder's
// two-level walk.
void update_leaf_walked(int leaf);
// Halves all leaf frequencies (rounding up) and rebuilds the tree.
void reconst();

// Position code tables, indexed by the first 8 bits of a coded position.
struct PositionTables {
    std::array<uint8_t, 256> code_length; // bits of the prefix code, 3 to 8
    std::array<uint8_t, 256> high_bits;   // upper 6 bits of the position
};

constexpr PositionTables make_position_tables() {
    PositionTables t{};
    for (int b = 0; b < 256; ++b) {
        if (b < 0x20) {
            t.code_length[b] = 3, t.high_bits[b] = 0;
        } else if (b < 0x50) {
            t.code_length[b] = 4, t.high_bits[b] = uint8_t(1 + (b - 0x20) / 16);
        } else if (b < 0x90) {
            t.code_length[b] = 5, t.high_bits[b] = uint8_t(4 + (b - 0x50) / 8);
        } else if (b < 0xC0) {
            t.code_length[b] = 6, t.high_bits[b] = uint8_t(12 + (b - 0x90) / 4);
        } else if (b < 0xF0) {
            t.code_length[b] = 7, t.high_bits[b] = uint8_t(24 + (b - 0xC0) / 2);
        } else {
            t.code_length[b] = 8, t.high_bits[b] = uint8_t(48 + (b - 0xF0));
        }
    }
    return t;
}

inline constexpr PositionTables POSITION_TABLES = make_position_tables();
inline constexpr const std::array<uint8_t, 256>& position_code_length = POSITION_TABLES.code_length;
inline constexpr const std::array<uint8_t, 256>& position_high_bits = POSITION_TABLES.high_bits;
