// The fast path of zlib inflation: a whole-buffer DEFLATE decoder that
// accepts only what zlib's inflate (windowBits 15, no dictionary) accepts,
// and declines everything else, so that zlib's streaming path decides every
// failure and every stream this decoder is unsure of.
#pragma once

#include <algorithm>
#include <cstdint>
#include <span>

#include "codecs/byte_vector.h"

namespace native {

// The first output window of an inflation into an empty vector, for the
// fast path and the streaming path alike: twice the input, about what
// survey data inflates to, then doubling (large blocks grow by remapping,
// without a copy).  A larger first window cost more than the growth it
// saved: a fresh mapping per call whose pages, huge ones above all, the
// kernel must clear (8 times the input: 25-40% slower at 1 MiB of grid,
// channel or CSV data).  Capped so that a large input never makes the first
// growth fail on its own.
inline constexpr std::uint64_t FIRST_WINDOW_INPUT_MULTIPLE = 2;
inline constexpr std::uint64_t FIRST_WINDOW_MIN = 4096;
inline constexpr std::uint64_t FIRST_WINDOW_MAX = std::uint64_t{64} << 20;

inline std::uint64_t first_inflate_window_length(std::uint64_t input_length) {
  const std::uint64_t scaled = input_length > FIRST_WINDOW_MAX / FIRST_WINDOW_INPUT_MULTIPLE
                                   ? FIRST_WINDOW_MAX
                                   : input_length * FIRST_WINDOW_INPUT_MULTIPLE;
  return std::clamp(scaled, FIRST_WINDOW_MIN, FIRST_WINDOW_MAX);
}

// How the fast path ended.  On the two failures it knows zlib's verdict: the
// stream is bad in a way zlib reports alike, so that a long stream damaged
// or cut short near its end is not inflated a second time to hear it.
enum class FastInflate {
  inflated,    // the content was appended: exactly what zlib produces
  declined,    // nothing appended; zlib must judge the stream
  corrupt,     // nothing appended; zlib fails: "corrupt deflate stream"
  incomplete,  // nothing appended; zlib fails: "incomplete deflate stream"
};

// Decoding tables, reusable from one stream to the next: one per thread of
// work, never shared between threads.
class FastInflater {
 public:
  FastInflater() = default;
  FastInflater(const FastInflater&) = delete;
  FastInflater& operator=(const FastInflater&) = delete;

  // Appends the content of the zlib stream at the start of `input` to
  // `output` (into its spare room first, growing it geometrically), or
  // leaves output.size() as it was and says why.  Bytes after the Adler-32
  // trailer are ignored.  Never inflates a stream zlib rejects; declines
  // the ones it cannot judge as zlib would (a bad header, incomplete Huffman
  // codes, bits that may be zlib's business), and also streams zlib accepts
  // in ways this decoder does not take (incomplete Huffman codes, output
  // the vector cannot hold).
  FastInflate inflate_into(std::span<const std::uint8_t> input, GrowableBytes& output);

  // Longest table of subtables any complete code needs (zlib's `enough`
  // for 286 length symbols with an 11-bit root, 30 distances with 8 bits).
  static constexpr std::size_t LITLEN_TABLE_LENGTH = 2342;
  static constexpr std::size_t DIST_TABLE_LENGTH = 402;
  static constexpr std::size_t PRECODE_TABLE_LENGTH = 128;
  static constexpr std::size_t CODE_LENGTHS = 286 + 30;

 private:
  std::uint32_t litlen_table_[LITLEN_TABLE_LENGTH];
  std::uint32_t dist_table_[DIST_TABLE_LENGTH];
  std::uint32_t precode_table_[PRECODE_TABLE_LENGTH];
  std::uint8_t lens_[CODE_LENGTHS];
};

}  // namespace native
