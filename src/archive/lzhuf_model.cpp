#include "archive/lzhuf_model.h"

#include <algorithm>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

uint16_t g_freq[NODE_COUNT + 8];
int16_t g_child[NODE_COUNT];
int16_t g_parent[PARENT_SCRATCH + 1];
uint16_t g_grandchild[NODE_COUNT][2];
CodeLookup g_code_lookup[LOOKUP_SCRATCH + 1];
LookupRange g_lookup_range[NODE_COUNT + 2];
static_assert(PATH_SPARE < NODE_COUNT + 2, "the spare node has a range entry");
int16_t g_lookup_path[LOOKUP_BITS + 1][1 << LOOKUP_BITS];
bool g_lookup_stale = true;

namespace {

// Fills the lookup entries of the patterns that pass through `node`, at
// `depth` bits from the root with its prefix starting the range at `first`,
// and records for every node below it within LOOKUP_BITS which patterns
// read it.
void fill_code_lookup(int node, int depth, int first) {
    const int free_bits = LOOKUP_BITS - depth;
    g_lookup_range[node] = {uint16_t(first), uint16_t(1 << free_bits)};
    std::fill_n(&g_lookup_path[depth][first], 1 << free_bits, int16_t(node));
    const int next = g_child[node];
    if (next >= NODE_COUNT || depth == LOOKUP_BITS) {
        const CodeLookup entry = {int16_t(next), int16_t(node), uint8_t(depth)};
        std::fill_n(&g_code_lookup[first], 1 << free_bits, entry);
        // Below a leaf the path goes on through the spare node.
        for (int d = depth + 1; d <= LOOKUP_BITS; ++d)
            std::fill_n(&g_lookup_path[d][first], 1 << free_bits, int16_t(PATH_SPARE));
        return;
    }
    fill_code_lookup(next, depth + 1, first);
    fill_code_lookup(next + 1, depth + 1, first + (1 << (free_bits - 1)));
}

// Forgets which patterns read the nodes of the subtree at `node` that lie
// within the table, before the subtree moves.
void clear_code_lookup(int node) {
    if (g_lookup_range[node].count == 0) return;
    const bool deepest = g_lookup_range[node].count == 1;
    g_lookup_range[node] = UNREAD_RANGE;
    const int next = g_child[node];
    if (next >= NODE_COUNT || deepest) return;
    clear_code_lookup(next);
    clear_code_lookup(next + 1);
}

// Every node's range while the table reads none, copied in one go. Laid
// out at the first use, not carried in the program's file.
LookupRange g_unread_ranges[NODE_COUNT + 2];
bool g_unread_ranges_built = false;

// Marks every node as not read by the table.
void forget_lookup_ranges() {
    if (!g_unread_ranges_built) {
        for (LookupRange& range : g_unread_ranges) range = UNREAD_RANGE;
        g_unread_ranges_built = true;
    }
    memcpy(g_lookup_range, g_unread_ranges, sizeof g_lookup_range);
}

int depth_of_range(const LookupRange& range) {
    return LOOKUP_BITS - __builtin_ctz(range.count);
}

// Forgets the table (after a rebuild of the tree, or for the encoder, which
// never uses it): no node is read by it until it is built again.
void make_lookup_stale() {
    g_lookup_stale = true;
    forget_lookup_ranges();
}

// The last node of the run that starts at `from` (whose frequency is below
// k) and whose frequencies are all below k. The order makes the run
// contiguous; it is found by galloping then halving, since on data where
// many symbols share a frequency the run can be hundreds of nodes long. The
// sentinel (0xFFFF) ends every run.
inline int last_below(int from, uint16_t k) {
#if defined(__SSE2__)
    // Eight frequencies at a time: saturating k - f is zero exactly where f >= k.
    // The first eight settle the usual short run, a run of one included,
    // without a test of its own, which would be hard to predict.
    const __m128i key = _mm_set1_epi16(short(k));
    const __m128i zero = _mm_setzero_si128();
    for (unsigned at = unsigned(from) + 1;; at += 8) {
        const __m128i f = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&g_freq[at]));
        const unsigned hits =
            unsigned(_mm_movemask_epi8(_mm_cmpeq_epi16(_mm_subs_epu16(key, f), zero)));
        if (hits) return int(at + __builtin_ctz(hits) / 2 - 1);
    }
#else
    if (g_freq[from + 1] >= k) return from; // the usual case: a run of one
    int low = from + 1;                     // below k
    int step = 2;
    int high = low + step; // at or above k once found
    while (high < NODE_COUNT && g_freq[high] < k) {
        low = high;
        step *= 2;
        high = low + step;
    }
    if (high > NODE_COUNT) high = NODE_COUNT;
    while (high - low > 1) {
        const int mid = (low + high) / 2;
        if (g_freq[mid] < k)
            low = mid;
        else
            high = mid;
    }
    return low;
#endif
}

} // namespace

void build_code_lookup() {
    forget_lookup_ranges();
    fill_code_lookup(ROOT, 0, 0);
    g_lookup_stale = false;
}

namespace {

// The tree every member starts from, laid out once, at the first use (not
// carried in the program's file): each symbol's leaf frequency 1, leaves
// joined pairwise in index order, the sentinels after the root. Copying it
// is cheaper than building it for each member.
struct InitialTree {
    uint16_t freq[NODE_COUNT + 8];
    int16_t child[NODE_COUNT];
    int16_t parent[PARENT_SCRATCH + 1];
};

InitialTree g_initial_tree;
bool g_initial_tree_built = false;

void lay_out_initial_tree() {
    InitialTree& t = g_initial_tree;
    for (int s = 0; s < SYMBOL_COUNT; ++s) {
        t.freq[s] = 1;
        t.child[s] = int16_t(s + NODE_COUNT);
        t.parent[s + NODE_COUNT] = int16_t(s);
    }
    for (int i = 0, j = SYMBOL_COUNT; j <= ROOT; i += 2, ++j) {
        t.freq[j] = uint16_t(t.freq[i] + t.freq[i + 1]);
        t.child[j] = int16_t(i);
        t.parent[i] = t.parent[i + 1] = int16_t(j);
    }
    for (int i = NODE_COUNT; i < NODE_COUNT + 8; ++i) t.freq[i] = 0xFFFF;
    t.parent[ROOT] = 0;
    g_initial_tree_built = true;
}

// Fills g_grandchild from the present tree.
void build_grandchildren() {
    for (int n = 0; n < NODE_COUNT; ++n) {
        const int c = g_child[n];
        if (c < NODE_COUNT) {
            g_grandchild[n][0] = uint16_t(g_child[c]);
            g_grandchild[n][1] = uint16_t(g_child[c + 1]);
        }
    }
}

} // namespace

void start_huff() {
    if (!g_initial_tree_built) lay_out_initial_tree();
    memcpy(g_freq, g_initial_tree.freq, sizeof g_freq);
    memcpy(g_child, g_initial_tree.child, sizeof g_child);
    memcpy(g_parent, g_initial_tree.parent, sizeof g_parent);
    build_grandchildren();
    make_lookup_stale();
}

void reconst() {
    make_lookup_stale();
    // Gather the leaves at the bottom in their present order, halving.
    int j = 0;
    for (int i = 0; i < NODE_COUNT; ++i) {
        if (g_child[i] >= NODE_COUNT) {
            g_freq[j] = uint16_t((g_freq[i] + 1) / 2);
            g_child[j] = g_child[i];
            ++j;
        }
    }
    // Join the two lowest, placing each new node above all of equal frequency
    // (the nodes so far are in order, so a binary search finds the place).
    for (int i = 0; j < NODE_COUNT; i += 2, ++j) {
        const uint16_t f = uint16_t(g_freq[i] + g_freq[i + 1]);
        const int k = int(std::upper_bound(&g_freq[i + 2], &g_freq[j], f) - g_freq);
        memmove(&g_freq[k + 1], &g_freq[k], size_t(j - k) * sizeof g_freq[0]);
        memmove(&g_child[k + 1], &g_child[k], size_t(j - k) * sizeof g_child[0]);
        g_freq[k] = f;
        g_child[k] = int16_t(i);
    }
    for (int n = 0; n < NODE_COUNT; ++n) {
        const int c = g_child[n];
        g_parent[c] = int16_t(n);
        if (c < NODE_COUNT) g_parent[c + 1] = int16_t(n);
    }
}

namespace {

// Nodes n and l trade their subtrees: each takes the other's children. The
// second child's parent is stored without a branch (into the scratch entry
// when the child is a leaf), since which kind it is cannot be predicted.
inline void swap_subtrees(unsigned n, unsigned l) {
    const unsigned a = uint16_t(g_child[n]);
    const unsigned b = uint16_t(g_child[l]);
    g_child[n] = int16_t(b);
    g_child[l] = int16_t(a);
    g_parent[a] = int16_t(l);
    g_parent[a < NODE_COUNT ? a + 1 : PARENT_SCRATCH] = int16_t(l);
    g_parent[b] = int16_t(n);
    g_parent[b < NODE_COUNT ? b + 1 : PARENT_SCRATCH] = int16_t(n);
}

// The exchange of two subtrees of which one at least reaches into the table
// above its last level; returns l. Kept apart from the common exchanges,
// which need none of this.
__attribute__((noinline)) int swap_subtrees_in_table(int n, int l) {
    const LookupRange range_n = g_lookup_range[n];
    const LookupRange range_l = g_lookup_range[l];
    if (range_n.count != range_l.count) {
        // At different depths: the entries that pass through either are
        // forgotten and filled again.
        clear_code_lookup(n);
        clear_code_lookup(l);
        swap_subtrees(n, l);
        if (range_n.count) fill_code_lookup(n, depth_of_range(range_n), range_n.first);
        if (range_l.count) fill_code_lookup(l, depth_of_range(range_l), range_l.first);
        return l;
    }
    // At the same depth the two subtrees' walks read alike from either
    // place: their patterns trade entries and path levels below that depth,
    // and the nodes below keep their depths and move by the distance.
    swap_subtrees(n, l);
    const int count = range_n.count;
    std::swap_ranges(&g_code_lookup[range_n.first], &g_code_lookup[range_n.first + count],
                     &g_code_lookup[range_l.first]);
    const int shift = range_n.first - range_l.first;
    for (int d = depth_of_range(range_n) + 1; d <= LOOKUP_BITS; ++d) {
        int16_t* const row = g_lookup_path[d];
        std::swap_ranges(&row[range_n.first], &row[range_n.first + count], &row[range_l.first]);
        // The first pattern of each run at this depth names a node that moved
        // with its patterns (or, below a leaf, the spare node).
        for (int i = 0; i < count; i += 1 << (LOOKUP_BITS - d)) {
            g_lookup_range[row[range_n.first + i]].first += uint16_t(shift);
            g_lookup_range[row[range_l.first + i]].first -= uint16_t(shift);
        }
    }
    // A walk that ends at n or l itself ends there still.
    if (g_child[n] >= NODE_COUNT)
        for (int i = 0; i < count; ++i) g_code_lookup[range_n.first + i].node = int16_t(n);
    if (g_child[l] >= NODE_COUNT)
        for (int i = 0; i < count; ++i) g_code_lookup[range_l.first + i].node = int16_t(l);
    return l;
}

// Raises node n, whose frequency has just become k, above every node that
// had its old frequency, by exchanging it with the highest of them. Returns
// the node that now holds n's subtree.
int exchange_raised(unsigned n, uint16_t k) {
    const unsigned l = unsigned(last_below(int(n) + 1, k));
    // Every node from n + 1 to l had n's old frequency.
    g_freq[n] = uint16_t(k - 1);
    g_freq[l] = k;
    // Nodes at the table's last level (or below it) stand for at most one
    // entry each, and nothing under them is in the table; no node is in a
    // stale table.
    const LookupRange range_n = g_lookup_range[n];
    const LookupRange range_l = g_lookup_range[l];
    if ((range_n.count | range_l.count) > 1) return swap_subtrees_in_table(int(n), int(l));
    // A node outside the table refreshes the scratch entry.
    g_code_lookup[range_n.first].next = g_child[l];
    g_code_lookup[range_l.first].next = g_child[n];
    swap_subtrees(n, l);
    return int(l);
}

// Adds one to node n's frequency; returns the node that then holds n's subtree.
inline unsigned raise_node(unsigned n) {
    uint16_t* const f = &g_freq[n];
    const uint16_t k = ++f[0];
    return k > f[1] ? unsigned(exchange_raised(n, k)) : n;
}

// Raises the node that the patterns from `first` pass at depth d; returns
// false and sets n when it had to be exchanged.
inline bool raise_ancestor(unsigned first, int d, unsigned& n) {
    const unsigned a = uint16_t(g_lookup_path[d][first]);
    uint16_t* const f = &g_freq[a];
    const uint16_t k = ++f[0];
    if (__builtin_expect(k <= f[1], 1)) return true;
    n = unsigned(exchange_raised(a, k));
    return false;
}

// For every frequency f (folded onto RUN_END_GUESSES places), a guess at the
// last node of frequency f: the place just below the node that the last
// exchange at f raised. Early in a member, while the frequencies are small
// and many nodes share each, the next node raised from f usually meets the
// same run end, which the guess then gives without a scan. A guess is only
// used once checked, so a stale one (after other increments, a rebuild, a
// new member, or from another frequency on the same place) costs a scan.
constexpr unsigned RUN_END_GUESSES = 1024;
uint16_t g_run_end_guess[RUN_END_GUESSES];

// The last node of frequency k - 1, which runs from n + 1 (n has just been
// raised to k). A run of one is taken as the guess, which it passes, so that
// whether the run is longer is not a branch of its own: the only test is the
// guess's check, which fails seldom.
inline size_t last_of_run(size_t n, uint16_t k) {
    const uint16_t* const f = &g_freq[n];
    const unsigned slot = (k - 1u) % RUN_END_GUESSES;
    // All ones for a run of one: a mask, which a compiler cannot turn back into a branch.
    const size_t one = -size_t(f[2] >= k);
    size_t l = (size_t(g_run_end_guess[slot]) & ~one) | ((n + 1) & one);
    if (l <= n || g_freq[l] != uint16_t(k - 1) || g_freq[l + 1] == uint16_t(k - 1))
        l = size_t(last_below(int(n) + 1, k));
    g_run_end_guess[slot] = uint16_t(l - 1);
    return l;
}

} // namespace

void update_model(int symbol) {
    const int leaf = g_parent[symbol + NODE_COUNT];
    if (g_lookup_stale)
        update_leaf_untabled(leaf);
    else
        update_leaf(leaf);
}

namespace {

// swap_subtrees, keeping g_grandchild: n's and l's own entries move with
// their subtrees, and each parent's entry for n or l takes the new child
// entry. Neither parent is n or l, whose frequencies are below theirs.
inline void swap_subtrees_walked(size_t n, size_t l) {
    swap_subtrees(unsigned(n), unsigned(l));
    uint32_t at_n, at_l;
    memcpy(&at_n, g_grandchild[n], sizeof at_n);
    memcpy(&at_l, g_grandchild[l], sizeof at_l);
    memcpy(g_grandchild[n], &at_l, sizeof at_l);
    memcpy(g_grandchild[l], &at_n, sizeof at_n);
    const size_t parent_n = uint16_t(g_parent[n]);
    const size_t parent_l = uint16_t(g_parent[l]);
    g_grandchild[parent_n][n - uint16_t(g_child[parent_n])] = uint16_t(g_child[n]);
    g_grandchild[parent_l][l - uint16_t(g_child[parent_l])] = uint16_t(g_child[l]);
}

// From the leaf to the root (whose parent entry is 0), each node raised in
// turn; no table entry or range to keep. WALKED keeps g_grandchild.
template <bool WALKED>
inline void climb_untabled(int leaf) {
    if (g_freq[ROOT] == MAX_FREQ) {
        const int symbol = g_child[leaf] - NODE_COUNT;
        reconst();
        if (WALKED) build_grandchildren();
        leaf = g_parent[symbol + NODE_COUNT];
    }
    size_t n = size_t(leaf);
    do {
        uint16_t* const f = &g_freq[n];
        const uint16_t k = ++f[0];
        if (k > f[1]) {
            const size_t l = last_of_run(n, k);
            f[0] = uint16_t(k - 1);
            g_freq[l] = k;
            if (WALKED)
                swap_subtrees_walked(n, l);
            else
                swap_subtrees(unsigned(n), unsigned(l));
            n = l;
        }
        n = uint16_t(g_parent[n]);
    } while (n != 0);
}

} // namespace

void update_leaf_untabled(int leaf) {
    climb_untabled<false>(leaf);
}

void update_leaf_walked(int leaf) {
    climb_untabled<true>(leaf);
}

namespace {

// Climbs from node n, which has just been raised, to the root, raising each
// node on the way in turn. The root is never exchanged: its sentinel
// neighbour is above every frequency. Nor is n ever the root: the table
// reads every node down to its last level, so a node it does not read has a
// parent below the root.
void climb_from(unsigned n) {
    for (;;) {
        const LookupRange range = g_lookup_range[n];
        if (range.count == 0) {
            n = raise_node(uint16_t(g_parent[n]));
            continue;
        }
        // A node the table reads: its ancestors are on its patterns' path.
        // One step per depth, so that each has a branch of its own.
        static_assert(LOOKUP_BITS == 7, "one case per depth of the table");
        const unsigned first = range.first;
        switch (depth_of_range(range)) {
        case 7:
            if (!raise_ancestor(first, 6, n)) continue;
            [[fallthrough]];
        case 6:
            if (!raise_ancestor(first, 5, n)) continue;
            [[fallthrough]];
        case 5:
            if (!raise_ancestor(first, 4, n)) continue;
            [[fallthrough]];
        case 4:
            if (!raise_ancestor(first, 3, n)) continue;
            [[fallthrough]];
        case 3:
            if (!raise_ancestor(first, 2, n)) continue;
            [[fallthrough]];
        case 2:
            if (!raise_ancestor(first, 1, n)) continue;
            [[fallthrough]];
        case 1:
            ++g_freq[ROOT];
            [[fallthrough]];
        default:
            return;
        }
    }
}

} // namespace

void update_leaf(int leaf) {
    if (g_freq[ROOT] == MAX_FREQ) {
        // The rebuilt tree is not in the table: the plain update rebuilds and climbs.
        update_leaf_untabled(leaf);
        return;
    }
    // Below the table the leaf and its ancestors are raised one by one up
    // to the node at the table's last level.
    unsigned n = unsigned(leaf);
    LookupRange range = g_lookup_range[n];
    while (range.count == 0) {
        uint16_t* const f = &g_freq[n];
        const uint16_t k = ++f[0];
        if (k > f[1]) {
            climb_from(unsigned(exchange_raised(n, k)));
            return;
        }
        n = uint16_t(g_parent[n]);
        range = g_lookup_range[n];
    }
    // n, not raised yet, is that node or a leaf within the table: the same
    // steps from the table's last level up raise it and its ancestors, the
    // levels below a leaf raising the spare node instead. An exchange on the
    // way moves the climb elsewhere.
    const unsigned first = range.first;
#pragma GCC unroll 8
    for (int d = LOOKUP_BITS; d >= 1; --d) {
        if (!raise_ancestor(first, d, n)) {
            climb_from(n);
            return;
        }
    }
    ++g_freq[ROOT];
}
