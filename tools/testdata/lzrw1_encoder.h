// Test-data generator: an LZRW1 compressor that writes canonical raw
// streams (no flag prefix) for the decoder's tests, benchmarks and fuzzer
// seeds.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace native::testdata {

// Compresses `input` with a one-probe hash table over 3-byte prefixes, as
// the classic LZRW1 compressor does: copies of 3 to 16 bytes with offsets
// 1 to 4095, literals otherwise.  Control words are written for every
// group that holds an item, and the last one's unused bits are zero.
// Empty input gives an empty stream.
std::vector<std::uint8_t> lzrw1_encode(std::span<const std::uint8_t> input);

// Same, appended to `stream`.
void lzrw1_encode_append(std::span<const std::uint8_t> input, std::vector<std::uint8_t>& stream);

}  // namespace native::testdata
