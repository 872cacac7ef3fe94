// The LZHUF encoder: the inverse of the entry decoder, for making archives.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

enum class ParseMode {
    GREEDY,   // always take the longest match at the current byte
    LAZY,     // defer a match by one byte when the next byte starts a longer one
    SMALLEST, // both of the above, keeping the smaller stream
    // Matches chosen by their cost in bits: over each block of 4 KB, the
    // cheapest mix of literals and matches of every length, priced with the
    // adaptive code's present lengths and frequencies and the fixed
    // position code. What `wpk pack` uses; a little over 1% smaller than
    // LAZY on executables, libraries and text, at about half its speed.
    PRICED,
};

// Encodes `size` bytes as one member stream: the 4-byte little-endian size,
// then the coded bits, the last byte padded with zero bits. Matches may reach
// into the spaces that start the decoder's window but never into its last
// MAX_MATCH positions (which carry over from the previous member), and never
// past the end of the data. Uses the shared code model, so it must not run
// while a member is being decoded. Output is deterministic.
std::vector<uint8_t> encode_member(const uint8_t* data, size_t size,
                                   ParseMode mode = ParseMode::PRICED);

// Reads up to `size` bytes into `buffer`: the number read, 0 at the end or
// on a failure.
using ReadBytes = std::function<size_t(uint8_t* buffer, size_t size)>;
// Takes coded bytes; false stops the encoding.
using WriteBytes = std::function<bool(const uint8_t* data, size_t size)>;

constexpr size_t ENCODE_WINDOW = size_t(1) << 20;
constexpr size_t MIN_ENCODE_WINDOW = size_t(1) << 15;

// The PRICED stream of `size` bytes that `read` gives, the same bytes
// encode_member makes of them, handed to `write` in pieces as they are
// made: the data is held in a window of `window` bytes (at least
// MIN_ENCODE_WINDOW) that slides over it, so the memory taken does not
// grow with the size. False when `read` ends before `size` bytes or
// `write` fails.
bool encode_member_streaming(uint64_t size, const ReadBytes& read, const WriteBytes& write,
                             size_t window = ENCODE_WINDOW);
