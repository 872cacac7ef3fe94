#include "pack/lzhuf_encoder.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <vector>

#include "archive/lzhuf_model.h"

namespace {

constexpr int MIN_MATCH = MATCH_THRESHOLD + 1;
constexpr int HASH_BITS = 15;
constexpr uint32_t HASH_SIZE = 1u << HASH_BITS;
constexpr uint32_t CHAIN_SIZE = 8192; // more than the window, a power of two
constexpr uint32_t NO_POSITION = 0xFFFFFFFF;

struct PositionCode {
    uint8_t length; // prefix code bits for the upper 6 bits of a position
    uint8_t code;
};

// The prefix code of each upper-6-bit value is the leading `length` bits of
// the first byte that the decoder's tables map to it.
constexpr std::array<PositionCode, 64> make_position_codes() {
    std::array<PositionCode, 64> codes{};
    for (int b = 255; b >= 0; --b) {
        const int length = position_code_length[b];
        codes[position_high_bits[b]] = {uint8_t(length), uint8_t(b >> (8 - length))};
    }
    return codes;
}
constexpr std::array<PositionCode, 64> POSITION_CODES = make_position_codes();

class BitWriter {
  public:
    explicit BitWriter(std::vector<uint8_t>& out) : out_(out) {}
    void put(uint32_t value, int count) { // count <= 24
        bits_ = bits_ << count | (value & ((1u << count) - 1));
        count_ += count;
        while (count_ >= 8) {
            count_ -= 8;
            out_.push_back(uint8_t(bits_ >> count_));
        }
    }
    void finish() {
        if (count_) out_.push_back(uint8_t(bits_ << (8 - count_)));
        count_ = 0;
    }

  private:
    std::vector<uint8_t>& out_;
    uint64_t bits_ = 0;
    int count_ = 0;
};

// A code of up to 32 bits, the last bit in bit 0.
struct CodeWord {
    uint32_t bits;
    uint32_t length;
};

// The code of `symbol` in the present tree, then the model updated the same
// way the decoder will.
CodeWord code_symbol(int symbol) {
    CodeWord word = {0, 0};
    for (int n = g_parent[symbol + NODE_COUNT]; n != ROOT; n = g_parent[n]) {
        word.bits |= uint32_t(n & 1) << word.length; // the second child of a pair is odd: a 1 bit
        ++word.length;
    }
    update_model(symbol);
    return word;
}

CodeWord code_position(uint32_t position) {
    const PositionCode& c = POSITION_CODES[position >> 6];
    return {uint32_t(c.code) << 6 | (position & 63), c.length + 6u};
}

void put_word(BitWriter& out, CodeWord word) {
    // Deep codes are emitted in two parts to stay within put()'s range.
    if (word.length > 16) {
        out.put(word.bits >> 16, int(word.length) - 16);
        out.put(word.bits, 16);
    } else {
        out.put(word.bits, int(word.length));
    }
}

void encode_symbol(BitWriter& out, int symbol) {
    put_word(out, code_symbol(symbol));
}

void encode_position(BitWriter& out, uint32_t position) {
    put_word(out, code_position(position));
}

struct Match {
    uint32_t length;
    uint32_t distance; // 1 to RING_SIZE
};

// Hash chains over the text: the decoder's initial spaces followed by the data.
class MatchFinder {
  public:
    MatchFinder(const uint8_t* text, size_t size) : text_(text), size_(size) {
        head_.fill(NO_POSITION);
        prev_.fill(NO_POSITION);
    }

    void insert(size_t pos) {
        if (pos + MIN_MATCH > size_) return;
        const uint32_t h = hash(pos);
        prev_[pos & (CHAIN_SIZE - 1)] = head_[h];
        head_[h] = uint32_t(pos);
    }

    // Longest match for `pos`, the closest of equal length; length 0 if none.
    Match find(size_t pos) const {
        Match best{0, 0};
        const size_t limit = std::min<size_t>(MAX_MATCH, size_ - pos);
        if (limit < size_t(MIN_MATCH)) return best;
        const size_t lowest = pos > size_t(RING_SIZE) ? pos - RING_SIZE : 0;
        for (uint32_t cand = head_[hash(pos)]; cand != NO_POSITION && cand >= lowest && cand < pos;
             cand = prev_[cand & (CHAIN_SIZE - 1)]) {
            const uint8_t* a = text_ + cand;
            const uint8_t* b = text_ + pos;
            if (a[best.length] != b[best.length] || a[0] != b[0]) continue;
            size_t n = 0;
            while (n < limit && a[n] == b[n]) ++n;
            if (n > best.length) {
                best = {uint32_t(n), uint32_t(pos - cand)};
                if (n == limit) break;
            }
        }
        if (best.length < uint32_t(MIN_MATCH)) best = {0, 0};
        return best;
    }

  private:
    uint32_t hash(size_t pos) const {
        const uint32_t v =
            uint32_t(text_[pos]) << 16 | uint32_t(text_[pos + 1]) << 8 | text_[pos + 2];
        return (v * 2654435761u) >> (32 - HASH_BITS);
    }

    const uint8_t* text_;
    size_t size_;
    std::array<uint32_t, HASH_SIZE> head_;
    std::array<uint32_t, CHAIN_SIZE> prev_;
};

// Binary trees over the text for the priced parse, which wants every match
// length at every position: one tree per hash of the first three bytes,
// ordered by the text that follows each position (MAX_MATCH bytes of it),
// the newest position at the root. Inserting a position walks down from the
// root and splits the tree around it, meeting on the way the positions
// whose text is closest to it, so every longer match is found with its
// closest position. Positions more than RING_SIZE back drop out.
constexpr uint32_t TREE_SIZE = 8192;         // cyclic; more than the window
constexpr int TREE_DEPTH = 64;               // positions looked at per insertion, at most
constexpr size_t TEXT_SLACK = MAX_MATCH + 8; // readable bytes after the text

// How many of the first MAX_MATCH bytes at a and b agree, given that the
// first `known` do; eight at a time where the byte order allows.
inline uint32_t common_length(const uint8_t* a, const uint8_t* b, uint32_t known) {
    uint32_t len = known;
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    for (; len < uint32_t(MAX_MATCH); len += 8) {
        uint64_t x, y;
        memcpy(&x, a + len, 8);
        memcpy(&y, b + len, 8);
        if (x != y)
            return std::min(len + uint32_t(__builtin_ctzll(x ^ y) / 8), uint32_t(MAX_MATCH));
    }
    return MAX_MATCH;
#else
    while (len < uint32_t(MAX_MATCH) && a[len] == b[len]) ++len;
    return len;
#endif
}

class MatchTree {
  public:
    // `text` must have TEXT_SLACK readable bytes after `size`.
    MatchTree(const uint8_t* text, size_t size) : text_(text), size_(size) {
        head_.fill(NO_POSITION);
    }

    // Adds `pos` to its tree; unless `out` is null, writes the matches for
    // it, of growing length (at most MAX_MATCH and never past the end of
    // the text), each with the closest position giving it. Returns the
    // number written.
    int insert(size_t pos, Match* out) {
        const uint8_t* cur = text_ + pos;
        const uint32_t h = hash(cur);
        uint32_t cand = head_[h];
        head_[h] = uint32_t(pos);
        uint32_t* smaller = &son_[(pos & (TREE_SIZE - 1)) * 2];
        uint32_t* larger = smaller + 1;
        uint32_t len_smaller = 0, len_larger = 0;
        uint32_t best = MIN_MATCH - 1;
        const uint32_t usable = uint32_t(std::min<size_t>(MAX_MATCH, size_ - pos));
        int count = 0;
        for (int depth = TREE_DEPTH;; --depth) {
            if (cand == NO_POSITION || pos - cand > size_t(RING_SIZE) || depth == 0) {
                *smaller = *larger = NO_POSITION;
                return count;
            }
            uint32_t* pair = &son_[(cand & (TREE_SIZE - 1)) * 2];
            const uint8_t* prev = text_ + cand;
            const uint32_t len = common_length(prev, cur, std::min(len_smaller, len_larger));
            if (out && len > best && best < usable) {
                best = len;
                out[count++] = {std::min(len, usable), uint32_t(pos - cand)};
            }
            if (len == uint32_t(MAX_MATCH)) {
                // The same text: cand's subtrees become pos's.
                *smaller = pair[0];
                *larger = pair[1];
                return count;
            }
            if (prev[len] < cur[len]) {
                *smaller = cand;
                smaller = &pair[1];
                cand = *smaller;
                len_smaller = len;
            } else {
                *larger = cand;
                larger = &pair[0];
                cand = *larger;
                len_larger = len;
            }
        }
    }

    // Moves every position `by` back (a multiple of TREE_SIZE, so each keeps
    // its node), the text now starting `by` bytes later; positions before
    // that drop out, as they would have by distance.
    void shift(uint32_t by) {
        const auto moved = [by](uint32_t v) {
            return v == NO_POSITION || v < by ? NO_POSITION : v - by;
        };
        for (uint32_t& v : head_) v = moved(v);
        for (uint32_t& v : son_) v = moved(v);
        size_ -= by;
    }

  private:
    static uint32_t hash(const uint8_t* p) {
        const uint32_t v = uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
        return (v * 2654435761u) >> (32 - HASH_BITS);
    }

    const uint8_t* text_;
    size_t size_;
    std::array<uint32_t, HASH_SIZE> head_;
    std::array<uint32_t, TREE_SIZE * 2> son_; // per position: smaller, larger subtree
};

// The priced parse: the text is cut into blocks, and for each block the
// cheapest way through it is found with every symbol priced by the adaptive
// tree as it stands (read_prices) and every position at its fixed code
// length; that way is then coded, which moves the tree on for the next
// block. The way through a block is searched MAX_MATCH bytes further than
// the block, so that the last choices in it see what follows.
constexpr size_t PARSE_BLOCK = 4096;
constexpr size_t PARSE_SPAN = PARSE_BLOCK + MAX_MATCH;
constexpr size_t YOUNG_TREE = 32768; // the first bytes of a member, priced twice
constexpr uint32_t PRICE_SCALE = 16; // prices in sixteenths of a bit
constexpr uint32_t NO_COST = 0xFFFFFFFF;
constexpr size_t CODED_PIECE = 65536; // coded bytes handed on at a time

struct Prices {
    uint32_t symbol[SYMBOL_COUNT]; // in PRICE_SCALE units of a bit
    uint32_t position[64];         // by the upper 6 bits of a coded position
};

// PRICE_SCALE times log2(x), rounded down, for x >= 1: the integer part from
// the highest set bit, the fraction bit by bit by squaring the mantissa.
// Integer arithmetic, so that the parse is the same on every machine.
static_assert((PRICE_SCALE & (PRICE_SCALE - 1)) == 0, "one squaring per bit of the fraction");
uint32_t scaled_log2(uint32_t x) {
    const int whole = 31 - __builtin_clz(x);
    uint64_t m = uint64_t(x) << (31 - whole); // 1.31 fixed point, in [1, 2)
    uint32_t fraction = 0;
    for (uint32_t bit = PRICE_SCALE / 2; bit; bit /= 2) {
        m = (m * m) >> 31;
        if (m >= uint64_t(1) << 32) {
            m >>= 1;
            fraction |= bit;
        }
    }
    return uint32_t(whole) * PRICE_SCALE + fraction;
}

// What each symbol costs in the present tree: the mean of its code length
// and log2 of the root's frequency over its own. The code length is what it
// costs now; the frequency share is what an adaptive code driven by the
// counts spends on it, and it sets apart the many symbols of one length,
// leaning toward those that the tree will shorten first. A node's children
// lie below it in the node order, so one pass down from the root gives
// every depth.
void read_prices(Prices& prices) {
    uint16_t depth[NODE_COUNT];
    depth[ROOT] = 0;
    const uint32_t root_log = scaled_log2(g_freq[ROOT]);
    for (int n = ROOT; n >= 0; --n) {
        const int c = g_child[n];
        if (c < NODE_COUNT) {
            depth[c] = depth[c + 1] = uint16_t(depth[n] + 1);
        } else {
            const uint32_t share = root_log - scaled_log2(g_freq[n]);
            prices.symbol[c - NODE_COUNT] = (depth[n] * PRICE_SCALE + share + 1) / 2;
        }
    }
    for (int high = 0; high < 64; ++high)
        prices.position[high] = (POSITION_CODES[high].length + 6u) * PRICE_SCALE;
}

struct Step {
    uint32_t cost;     // price from the block's start to here
    uint16_t length;   // of the step that arrives here: 1 for a literal
    uint16_t distance; // of that step's match, 0 for a literal
};

// The adaptive tree, to try a way and go back. The decoder's lookup table is
// not part of it: start_huff leaves that out of date, and while encoding it
// stays so.
struct ModelCopy {
    uint16_t freq[NODE_COUNT + 8];
    int16_t child[NODE_COUNT];
    int16_t parent[NODE_COUNT + SYMBOL_COUNT];
};
void save_model(ModelCopy& m) {
    memcpy(m.freq, g_freq, sizeof m.freq);
    memcpy(m.child, g_child, sizeof m.child);
    memcpy(m.parent, g_parent, sizeof m.parent);
}
void load_model(const ModelCopy& m) {
    memcpy(g_freq, m.freq, sizeof m.freq);
    memcpy(g_child, m.child, sizeof m.child);
    memcpy(g_parent, m.parent, sizeof m.parent);
}

struct BlockParse {
    std::vector<Step> steps;
    std::vector<Match> matches;  // of the positions from `from` on, in turn
    std::vector<uint32_t> first; // each position's first entry in `matches`, one more at the end
    size_t from = 0;             // text position of first[0]
    std::vector<Step> way;       // chosen steps, first first
};

// Cheapest way through the span under `prices`; keeps the steps that reach `block`.
void find_way(BlockParse& bp, const uint8_t* text, size_t pos, size_t span, size_t block,
              const Prices& prices) {
    std::vector<Step>& steps = bp.steps;
    const uint32_t* first = &bp.first[pos - bp.from];
    steps[0] = {0, 0, 0};
    for (size_t i = 1; i <= span; ++i) steps[i].cost = NO_COST;
    for (size_t i = 0; i < span; ++i) {
        const uint32_t here = steps[i].cost;
        const uint32_t literal = here + prices.symbol[text[pos + i]];
        if (literal < steps[i + 1].cost) steps[i + 1] = {literal, 1, 0};
        const uint32_t longest = uint32_t(std::min<size_t>(MAX_MATCH, span - i));
        uint32_t length = MIN_MATCH;
        for (uint32_t m = first[i]; m < first[i + 1]; ++m) {
            const Match match = bp.matches[m];
            const uint32_t start = here + prices.position[(match.distance - 1) >> 6];
            const uint32_t last = std::min(match.length, longest);
            for (; length <= last; ++length) {
                const uint32_t cost = start + prices.symbol[length + (255 - MATCH_THRESHOLD)];
                Step& to = steps[i + length];
                // Of equal costs the last step found, the shortest, is kept:
                // a way's odd lengths then gather at its end, past the
                // block, instead of at the start of every block.
                if (cost <= to.cost) to = {cost, uint16_t(length), uint16_t(match.distance)};
            }
        }
    }
    bp.way.clear();
    for (size_t at = span; at > 0; at -= steps[at].length) bp.way.push_back(steps[at]);
    std::reverse(bp.way.begin(), bp.way.end());
    size_t done = 0, n = 0;
    while (done < block) done += bp.way[n++].length;
    bp.way.resize(n);
}

size_t way_bytes(const std::vector<Step>& way) {
    size_t total = 0;
    for (const Step& s : way) total += s.length;
    return total;
}

// Codes the way under the adaptive model, which it moves on, into `words`;
// returns the number of bits.
uint64_t code_way(const std::vector<Step>& way, const uint8_t* text, std::vector<CodeWord>& words) {
    words.clear();
    uint64_t total = 0;
    size_t at = 0;
    for (const Step& s : way) {
        if (s.distance == 0) {
            words.push_back(code_symbol(text[at]));
        } else {
            words.push_back(code_symbol(s.length + (255 - MATCH_THRESHOLD)));
            total += words.back().length;
            words.push_back(code_position(s.distance - 1u));
        }
        total += words.back().length;
        at += s.length;
    }
    return total;
}

// The text of the priced parse in a window that slides over it: the
// decoder's RING_FILL spaces, then the data as `read` gives it, then zeros.
// Positions are relative to the window's start; `base` is the text position
// there.
struct SlidingText {
    std::vector<uint8_t> bytes; // the window, TEXT_SLACK of it kept for the zeros
    size_t filled = 0;          // bytes of text in the window
    uint64_t base = 0;
    uint64_t end = 0; // RING_FILL + the data's size
    const ReadBytes* read = nullptr;
    bool failed = false;

    // Reads on until the window is full or the text is all in.
    void fill() {
        const size_t room = bytes.size() - TEXT_SLACK;
        while (!failed && filled < room && base + filled < end) {
            const size_t want = size_t(std::min<uint64_t>(room - filled, end - base - filled));
            const size_t got = (*read)(bytes.data() + filled, want);
            if (got == 0) failed = true;
            filled += got;
        }
        if (base + filled == end) memset(bytes.data() + filled, 0, TEXT_SLACK);
    }
};

// Codes the whole text with the priced parse, sliding the window when the
// next span would pass its end; false when the data could not be read.
bool encode_priced(BitWriter& bits, SlidingText& text, const WriteBytes& write,
                   std::vector<uint8_t>& coded) {
    size_t pos = RING_FILL;
    size_t end = size_t(text.end);
    const uint64_t start = pos;
    auto tree = std::make_unique<MatchTree>(text.bytes.data(), end);
    auto prices = std::make_unique<Prices>();
    auto start_model = std::make_unique<ModelCopy>();
    auto end_model_a = std::make_unique<ModelCopy>();
    BlockParse bp;
    bp.steps.resize(PARSE_SPAN + 1);
    std::vector<CodeWord> words_a, words_b;
    Match found[MAX_MATCH];
    // The spaces before the data enter the trees; a match reaches back at
    // most RING_SIZE bytes.
    size_t inserted = pos > size_t(RING_SIZE) ? pos - RING_SIZE : 0;
    for (; inserted < pos; ++inserted) tree->insert(inserted, nullptr);
    bp.from = pos;
    bp.first.push_back(0);
    while (pos < end) {
        if (pos + PARSE_SPAN + TEXT_SLACK > text.filled && text.base + text.filled < text.end) {
            // Keeps what the trees and the next span can reach: RING_SIZE
            // bytes back from here on.
            const size_t reach = RING_SIZE + MAX_MATCH;
            const size_t by = pos > reach ? (pos - reach) / TREE_SIZE * TREE_SIZE : 0;
            memmove(text.bytes.data(), text.bytes.data() + by, text.filled - by);
            text.filled -= by;
            text.base += by;
            pos -= by;
            inserted -= by;
            bp.from -= by;
            end -= by;
            tree->shift(uint32_t(by));
            text.fill();
            if (text.failed) return false;
        }
        const uint8_t* window = text.bytes.data();
        const size_t span = std::min(PARSE_SPAN, end - pos);
        const size_t block = std::min(PARSE_BLOCK, span);
        // Matches of the positions before `pos` are no longer needed; those
        // up to `inserted` were found for the last block.
        const size_t drop = pos - bp.from;
        const uint32_t dropped = bp.first[drop];
        bp.matches.erase(bp.matches.begin(), bp.matches.begin() + dropped);
        bp.first.erase(bp.first.begin(), bp.first.begin() + drop);
        for (uint32_t& f : bp.first) f -= dropped;
        bp.from = pos;
        for (; inserted < pos + span; ++inserted) {
            const int count = tree->insert(inserted, found);
            bp.matches.insert(bp.matches.end(), found, found + count);
            bp.first.push_back(uint32_t(bp.matches.size()));
        }
        // Priced at the tree as it stands; while the tree is young and
        // moves fast, once more at the tree that way leaves behind (closer
        // to what the block's own symbols make of it), keeping the way with
        // fewer bits per byte.
        save_model(*start_model);
        read_prices(*prices);
        find_way(bp, window, pos, span, block, *prices);
        const uint64_t bits_a = code_way(bp.way, window + pos, words_a);
        size_t done = way_bytes(bp.way); // reaches the block's end, or a little past it
        if (text.base + pos - start < YOUNG_TREE) {
            save_model(*end_model_a);
            read_prices(*prices);
            find_way(bp, window, pos, span, block, *prices);
            load_model(*start_model);
            const uint64_t bits_b = code_way(bp.way, window + pos, words_b);
            const size_t bytes_b = way_bytes(bp.way);
            if (bits_b * done < bits_a * bytes_b) {
                words_a.swap(words_b);
                done = bytes_b;
            } else {
                load_model(*end_model_a);
            }
        }
        for (const CodeWord& word : words_a) put_word(bits, word);
        if (coded.size() >= CODED_PIECE) {
            if (!write(coded.data(), coded.size())) return false;
            coded.clear();
        }
        pos += done;
    }
    return true;
}

} // namespace

std::vector<uint8_t> encode_member(const uint8_t* data, size_t size, ParseMode mode) {
    if (mode == ParseMode::SMALLEST) {
        // Deferring usually wins by a few percent, but on some data (bitmaps)
        // it trades a near match for a far one that costs more bits.
        std::vector<uint8_t> lazy = encode_member(data, size, ParseMode::LAZY);
        std::vector<uint8_t> greedy = encode_member(data, size, ParseMode::GREEDY);
        return greedy.size() < lazy.size() ? greedy : lazy;
    }
    std::vector<uint8_t> out;
    if (mode == ParseMode::PRICED) {
        size_t at = 0;
        const ReadBytes read = [&](uint8_t* buffer, size_t want) {
            const size_t n = std::min(want, size - at);
            memcpy(buffer, data + at, n);
            at += n;
            return n;
        };
        const WriteBytes write = [&](const uint8_t* coded, size_t n) {
            out.insert(out.end(), coded, coded + n);
            return true;
        };
        encode_member_streaming(size, read, write);
        return out;
    }
    out.reserve(size / 2 + 16);
    for (int i = 0; i < 4; ++i) out.push_back(uint8_t(uint64_t(size) >> (8 * i)));
    if (size == 0) return out;

    // The text the decoder sees: RING_FILL spaces, then the data. A match may
    // start anywhere in it within RING_SIZE bytes back; it never starts before
    // the spaces, so it never reads the window's carried-over tail.
    std::vector<uint8_t> text(RING_FILL + size + TEXT_SLACK); // zeros after the data
    memset(text.data(), RING_FILL_BYTE, RING_FILL);
    memcpy(text.data() + RING_FILL, data, size);
    const size_t end = RING_FILL + size;
    start_huff();
    BitWriter bits(out);
    auto finder = std::make_unique<MatchFinder>(text.data(), end);
    // Positions enter the chains in order, each once, just before the first
    // search from a later position.
    size_t inserted = RING_FILL > RING_SIZE ? RING_FILL - RING_SIZE : 0;
    auto find_at = [&](size_t at) {
        for (; inserted < at; ++inserted) finder->insert(inserted);
        return finder->find(at);
    };

    size_t pos = RING_FILL;
    Match match = find_at(pos);
    while (pos < end) {
        if (match.length == 0) {
            encode_symbol(bits, text[pos]);
            ++pos;
        } else {
            const Match next = mode == ParseMode::LAZY && match.length < uint32_t(MAX_MATCH)
                                   ? find_at(pos + 1)
                                   : Match{0, 0};
            if (next.length > match.length) {
                // A longer match starts at the next byte: this byte goes out literally.
                encode_symbol(bits, text[pos]);
                match = next;
                ++pos;
                continue;
            }
            encode_symbol(bits, int(match.length) + (255 - MATCH_THRESHOLD));
            encode_position(bits, match.distance - 1);
            pos += match.length;
        }
        match = pos < end ? find_at(pos) : Match{0, 0};
    }
    bits.finish();
    return out;
}

bool encode_member_streaming(uint64_t size, const ReadBytes& read, const WriteBytes& write,
                             size_t window) {
    std::vector<uint8_t> coded;
    for (int i = 0; i < 4; ++i) coded.push_back(uint8_t(size >> (8 * i)));
    if (size == 0) return write(coded.data(), coded.size());
    SlidingText text;
    text.end = RING_FILL + size;
    text.read = &read;
    text.bytes.resize(std::max(window, MIN_ENCODE_WINDOW));
    memset(text.bytes.data(), RING_FILL_BYTE, RING_FILL);
    text.filled = RING_FILL;
    text.fill();
    if (text.failed) return false;
    start_huff();
    BitWriter bits(coded);
    if (!encode_priced(bits, text, write, coded)) return false;
    bits.finish();
    return write(coded.data(), coded.size());
}
