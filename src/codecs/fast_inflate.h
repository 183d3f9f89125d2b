// The fast path of zlib inflation: a whole-buffer DEFLATE decoder that
// accepts only what zlib's inflate (windowBits 15, no dictionary) accepts.
// It gives zlib's verdict itself where it knows it (see FastInflate), and
// declines every other stream it is unsure of, which zlib's streaming path
// then decides.
#pragma once

#include <cstdint>
#include <span>

#include "codecs/growable_bytes.h"
#include "codecs/huffman_tables.h"

namespace native {

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
  FastInflater() noexcept = default;
  FastInflater(const FastInflater&) = delete;
  FastInflater& operator=(const FastInflater&) = delete;

  // Appends the content of the zlib stream at the start of `input` to
  // `output` (into its spare room first, growing it as `aim` says), or
  // leaves output.size() as it was and says why.
  // Bytes after the Adler-32 trailer are ignored.  Never inflates a stream
  // zlib rejects.  Declines what it cannot judge as zlib would: a header
  // or a code-length sequence zlib may take or reject in ways this decoder
  // does not follow, incomplete Huffman codes (which zlib takes in
  // degenerate forms), invalid bits that lie past the input's end, and
  // output the vector cannot hold.
  FastInflate inflate_into(std::span<const std::uint8_t> input, GrowableBytes& output,
                           GrowthAim aim = GrowthAim::stream_end);

 private:
  // The tables of the last dynamic block (huffman_tables.h: the length/
  // literal table, then the distance table), its code-length table, and
  // the code lengths of both codes.
  std::uint32_t tables_[huffman::TABLES_LENGTH];
  std::uint32_t precode_table_[huffman::PRECODE_TABLE_LENGTH];
  std::uint8_t lens_[286 + 30];
};

}  // namespace native
