#include "pack/lzhuf_encoder.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>

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

// Emits the code of `symbol` in the present tree, then updates the model the
// same way the decoder will.
void encode_symbol(BitWriter& out, int symbol) {
    uint32_t code = 0;
    int length = 0;
    for (int n = g_parent[symbol + NODE_COUNT]; n != ROOT; n = g_parent[n]) {
        code |= uint32_t(n & 1) << length; // the second child of a pair is odd: a 1 bit
        ++length;
    }
    // Deep codes are emitted in two parts to stay within put()'s range.
    if (length > 16) {
        out.put(code >> 16, length - 16);
        out.put(code, 16);
    } else {
        out.put(code, length);
    }
    update_model(symbol);
}

void encode_position(BitWriter& out, uint32_t position) {
    const PositionCode& c = POSITION_CODES[position >> 6];
    out.put(c.code, c.length);
    out.put(position & 63, 6);
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
    out.reserve(size / 2 + 16);
    for (int i = 0; i < 4; ++i) out.push_back(uint8_t(uint64_t(size) >> (8 * i)));
    if (size == 0) return out;

    // The text the decoder sees: RING_FILL spaces, then the data. A match may
    // start anywhere in it within RING_SIZE bytes back; it never starts before
    // the spaces, so it never reads the window's carried-over tail.
    std::vector<uint8_t> text(RING_FILL + size);
    memset(text.data(), RING_FILL_BYTE, RING_FILL);
    memcpy(text.data() + RING_FILL, data, size);
    auto finder = std::make_unique<MatchFinder>(text.data(), text.size());
    // Positions enter the chains in order, each once, just before the first
    // search from a later position.
    size_t inserted = RING_FILL > RING_SIZE ? RING_FILL - RING_SIZE : 0;
    auto find_at = [&](size_t at) {
        for (; inserted < at; ++inserted) finder->insert(inserted);
        return finder->find(at);
    };

    start_huff();
    BitWriter bits(out);
    const size_t end = text.size();
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
