#include <gtest/gtest.h>

#include <cstring>

#include "archive/lzhuf_model.h"

namespace {

int depth_of(int symbol) {
    int depth = 0;
    for (int n = g_parent[symbol + NODE_COUNT]; n != ROOT; n = g_parent[n]) ++depth;
    return depth;
}

// The structural invariants every state of the model must keep.
void expect_consistent_tree() {
    uint32_t leaf_sum = 0;
    for (int n = 0; n < NODE_COUNT; ++n) {
        ASSERT_LE(g_freq[n], g_freq[n + 1]) << "order broken at node " << n;
        const int c = g_child[n];
        if (c >= NODE_COUNT) {
            ASSERT_EQ(g_parent[c], n);
            leaf_sum += g_freq[n];
        } else {
            ASSERT_EQ(c % 2, 0);
            ASSERT_EQ(g_parent[c], n);
            ASSERT_EQ(g_parent[c + 1], n);
            ASSERT_EQ(g_freq[n], uint16_t(g_freq[c] + g_freq[c + 1]));
        }
    }
    EXPECT_EQ(g_freq[ROOT], leaf_sum);
    EXPECT_EQ(g_freq[NODE_COUNT], 0xFFFF);
}

TEST(LzhufModel, InitialTree) {
    start_huff();
    expect_consistent_tree();
    EXPECT_EQ(g_freq[ROOT], SYMBOL_COUNT);
    EXPECT_EQ(g_parent[ROOT], 0);
    for (int s = 0; s < SYMBOL_COUNT; ++s) EXPECT_EQ(depth_of(s), s < 116 ? 9 : 8) << s;
}

TEST(LzhufModel, RaisedNodeMovesAboveAllOfItsOldFrequency) {
    // Leaves 0..313 all have frequency 1. Raising symbol 0 exchanges its leaf
    // (node 0) with the highest node of frequency 1, node 313.
    start_huff();
    update_model(0);
    EXPECT_EQ(g_parent[NODE_COUNT + 0], 313);
    EXPECT_EQ(g_child[313], NODE_COUNT + 0);
    EXPECT_EQ(g_freq[313], 2);
    EXPECT_EQ(g_child[0], NODE_COUNT + 313); // symbol 313's leaf took its place
    EXPECT_EQ(g_parent[NODE_COUNT + 313], 0);
    expect_consistent_tree();
    // A second raise of another symbol goes just below it: node 312.
    update_model(5);
    EXPECT_EQ(g_parent[NODE_COUNT + 5], 312);
    expect_consistent_tree();
}

TEST(LzhufModel, RebuildAtMaxFreqHalvesRoundingUp) {
    start_huff();
    uint32_t state = 7;
    while (g_freq[ROOT] < MAX_FREQ) {
        state = state * 214013u + 2531011u;
        update_model(int((state >> 16) % 40)); // skewed towards a few symbols
        expect_consistent_tree();
    }
    EXPECT_EQ(g_freq[ROOT], MAX_FREQ);
    uint16_t before[SYMBOL_COUNT];
    for (int n = 0; n < NODE_COUNT; ++n)
        if (g_child[n] >= NODE_COUNT) before[g_child[n] - NODE_COUNT] = g_freq[n];
    update_model(300);
    expect_consistent_tree();
    for (int n = 0; n < NODE_COUNT; ++n) {
        if (g_child[n] < NODE_COUNT) continue;
        const int s = g_child[n] - NODE_COUNT;
        EXPECT_EQ(g_freq[n], (before[s] + 1) / 2 + (s == 300 ? 1 : 0)) << "symbol " << s;
    }
    EXPECT_LT(g_freq[ROOT], MAX_FREQ);
}

TEST(LzhufModel, RebuildPlacesNewNodeAboveEqualFrequencies) {
    // Hand-checked: with every leaf at frequency 1 (halved from 1 or 2), the
    // first joined node (frequency 2) must go above leaves of frequency 2.
    start_huff();
    for (int i = 0; i < 3; ++i) update_model(10); // symbol 10 at 4 -> halves to 2
    update_model(20);                             // symbol 20 at 2 -> halves to 1
    reconst();
    expect_consistent_tree();
    // Leaves: 313 of frequency 1 (including symbol 20), symbol 10 with 2 at index 313.
    EXPECT_EQ(g_child[313], NODE_COUNT + 10);
    EXPECT_EQ(g_freq[313], 2);
    // Node j = 314 joins 0 and 1 (frequency 2) and goes above index 313.
    EXPECT_EQ(g_child[314], 0);
    EXPECT_EQ(g_freq[314], 2);
}

// The walk's grandchild entries, kept through exchanges and a rebuild, must
// name the children's child entries of the tree they are in.
TEST(LzhufModel, WalkedUpdateKeepsGrandchildren) {
    start_huff();
    uint32_t state = 11;
    bool rebuilt = false;
    for (int i = 0; !rebuilt || i % 1000 != 0; ++i) {
        rebuilt = rebuilt || g_freq[ROOT] == MAX_FREQ;
        state = state * 214013u + 2531011u;
        const uint32_t r = state >> 16;
        update_leaf_walked(g_parent[NODE_COUNT + int(i % 3 ? r % 30 : r % SYMBOL_COUNT)]);
        if (i % 1000 != 999) continue;
        for (int n = 0; n < NODE_COUNT; ++n) {
            const int c = g_child[n];
            if (c >= NODE_COUNT) continue;
            ASSERT_EQ(g_grandchild[n][0], uint16_t(g_child[c])) << "node " << n << " step " << i;
            ASSERT_EQ(g_grandchild[n][1], uint16_t(g_child[c + 1]))
                << "node " << n << " step " << i;
        }
    }
    expect_consistent_tree();
}

TEST(PositionTables, PrefixCodeRanges) {
    struct Range {
        int first, last, length, high_first, step;
    };
    const Range ranges[] = {{0x00, 0x1F, 3, 0, 32}, {0x20, 0x4F, 4, 1, 16}, {0x50, 0x8F, 5, 4, 8},
                            {0x90, 0xBF, 6, 12, 4}, {0xC0, 0xEF, 7, 24, 2}, {0xF0, 0xFF, 8, 48, 1}};
    for (const Range& r : ranges)
        for (int b = r.first; b <= r.last; ++b) {
            EXPECT_EQ(position_code_length[b], r.length) << b;
            EXPECT_EQ(position_high_bits[b], r.high_first + (b - r.first) / r.step) << b;
        }
}

} // namespace

namespace {

// The lookup entries kept up to date through exchanges must equal a table
// built afresh from the same tree.
TEST(CodeLookup, StaysEqualToAFreshBuild) {
    for (uint32_t seed : {1u, 2u, 3u}) {
        start_huff();
        build_code_lookup();
        uint32_t state = seed;
        for (int i = 0; i < 60000; ++i) {
            state = state * 214013u + 2531011u;
            const uint32_t r = state >> 16;
            // Skewed, then flat, then skewed again: exchanges near the root
            // and deep down, and rebuilds.
            update_model(int(i < 20000 ? r % 20 : i < 40000 ? r % SYMBOL_COUNT : r % 7 + 250));
            if (g_lookup_stale) build_code_lookup();
            if (i % 997 == 0) {
                CodeLookup kept[1 << LOOKUP_BITS];
                memcpy(kept, g_code_lookup, sizeof kept);
                int16_t kept_path[LOOKUP_BITS + 1][1 << LOOKUP_BITS];
                memcpy(kept_path, g_lookup_path, sizeof kept_path);
                LookupRange kept_range[NODE_COUNT];
                memcpy(kept_range, g_lookup_range, sizeof kept_range);
                build_code_lookup();
                for (int node = 0; node < NODE_COUNT; ++node) {
                    const LookupRange &was = kept_range[node], &is = g_lookup_range[node];
                    ASSERT_TRUE(was.count == is.count && (!was.count || was.first == is.first))
                        << "node " << node << " step " << i;
                }
                for (int p = 0; p < 1 << LOOKUP_BITS; ++p) {
                    const CodeLookup &was = kept[p], &is = g_code_lookup[p];
                    ASSERT_TRUE(was.next == is.next && was.bits == is.bits && was.node == is.node)
                        << "pattern " << p << " step " << i;
                    for (int d = 0; d <= was.bits; ++d)
                        ASSERT_EQ(kept_path[d][p], g_lookup_path[d][p])
                            << p << " " << d << " " << i;
                }
            }
        }
    }
}

} // namespace

namespace {

// The update written the plain way: a linear search for the node to exchange
// with, and a rebuild that re-inserts each new node one step at a time. The
// fast update must leave the same tree after every symbol.
struct PlainModel {
    uint16_t freq[NODE_COUNT + 1];
    int16_t child[NODE_COUNT];
    int16_t parent[NODE_COUNT + SYMBOL_COUNT];

    void start() {
        for (int s = 0; s < SYMBOL_COUNT; ++s) {
            freq[s] = 1;
            child[s] = int16_t(s + NODE_COUNT);
            parent[s + NODE_COUNT] = int16_t(s);
        }
        for (int i = 0, j = SYMBOL_COUNT; j <= ROOT; i += 2, ++j) {
            freq[j] = uint16_t(freq[i] + freq[i + 1]);
            child[j] = int16_t(i);
            parent[i] = parent[i + 1] = int16_t(j);
        }
        freq[NODE_COUNT] = 0xFFFF;
        parent[ROOT] = 0;
    }

    void rebuild() {
        int j = 0;
        for (int i = 0; i < NODE_COUNT; ++i) {
            if (child[i] >= NODE_COUNT) {
                freq[j] = uint16_t((freq[i] + 1) / 2);
                child[j] = child[i];
                ++j;
            }
        }
        for (int i = 0; j < NODE_COUNT; i += 2, ++j) {
            const uint16_t f = uint16_t(freq[i] + freq[i + 1]);
            int k = j;
            while (k > 0 && f < freq[k - 1]) {
                freq[k] = freq[k - 1];
                child[k] = child[k - 1];
                --k;
            }
            freq[k] = f;
            child[k] = int16_t(i);
        }
        for (int n = 0; n < NODE_COUNT; ++n) {
            const int c = child[n];
            parent[c] = int16_t(n);
            if (c < NODE_COUNT) parent[c + 1] = int16_t(n);
        }
    }

    void update(int symbol) {
        if (freq[ROOT] == MAX_FREQ) rebuild();
        int n = parent[symbol + NODE_COUNT];
        do {
            const uint16_t k = ++freq[n];
            int l = n + 1;
            if (k > freq[l]) {
                while (k > freq[l + 1]) ++l;
                freq[n] = freq[l];
                freq[l] = k;
                const int a = child[n];
                parent[a] = int16_t(l);
                if (a < NODE_COUNT) parent[a + 1] = int16_t(l);
                const int b = child[l];
                child[l] = int16_t(a);
                parent[b] = int16_t(n);
                if (b < NODE_COUNT) parent[b + 1] = int16_t(n);
                child[n] = int16_t(b);
                n = l;
            }
            n = parent[n];
        } while (n != 0);
    }
};

TEST(LzhufModel, UpdateMatchesThePlainAlgorithm) {
    // Flat sources make long runs of equal frequency (the search's hard case),
    // skewed ones deep trees; together they pass through many rebuilds. With
    // the lookup table kept (as the decoder does), the update climbs through
    // the table's paths; without it (as the encoder does), by parent links.
    struct Source {
        const char* name;
        int spread;
        bool table;
    };
    for (const Source& source :
         {Source{"flat", SYMBOL_COUNT, false}, Source{"bytes", 256, false},
          Source{"skewed", 12, false}, Source{"flat+table", SYMBOL_COUNT, true},
          Source{"bytes+table", 256, true}, Source{"skewed+table", 12, true}}) {
        static PlainModel plain;
        plain.start();
        start_huff();
        uint32_t state = 12345;
        for (int i = 0; i < 120000; ++i) {
            state = state * 1103515245u + 12345u;
            const uint32_t r = state >> 8;
            // Mostly from the spread, now and then any symbol.
            const int symbol =
                int(r % 16 ? (r >> 4) % uint32_t(source.spread) : (r >> 4) % SYMBOL_COUNT);
            if (source.table && g_lookup_stale) build_code_lookup();
            update_model(symbol);
            plain.update(symbol);
            if (i % 50 == 0 || g_freq[ROOT] < 20000) {
                ASSERT_TRUE(memcmp(g_freq, plain.freq, sizeof plain.freq) == 0 &&
                            memcmp(g_child, plain.child, sizeof plain.child) == 0 &&
                            memcmp(g_parent, plain.parent, sizeof plain.parent) == 0)
                    << source.name << " step " << i;
            }
        }
    }
}

} // namespace
