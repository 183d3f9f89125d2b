// LZRW1 stream layout (all little-endian):
//
//   group      = control word (2 bytes) + up to 16 items
//   control    = bit i (bit 0 first) describes item i: 0 literal, 1 copy
//   literal    = 1 byte, appended unchanged
//   copy       = b0 b1: offset = (b0 >> 4) * 256 + b1   (1 .. produced)
//                       length = (b0 & 0x0F) + 1         (1 .. 16)
//
// The decoder runs whole groups through a fast path when the input and
// output have room for the worst case of a group, and falls back to a loop
// that checks every item for the last groups of the stream.  Both give the
// same bytes and the same first error.
#include "codecs/lzrw1.h"

#include <bit>
#include <cstring>

#include "codecs/integers.h"

namespace native {
namespace {

constexpr std::uint64_t LZRW1_GROUP_ITEMS = 16;
constexpr std::uint64_t LZRW1_MAX_COPY_LENGTH = 16;
constexpr unsigned FAST_BLOCK_LENGTH = 16;  // width of the fast path's block moves

// Worst case of one group in the fast path.  Output: 16 items of at most 16
// bytes; a 16-byte block move at an item that still has m >= 1 items left
// (itself included) ends at most 16 * (16 - m) + 16 <= 256 bytes into the
// group.  Input: the control word, 32 bytes of items, and a literal run's
// 16-byte move starting inside those 32 bytes.
constexpr std::uint64_t FAST_GROUP_OUTPUT_ROOM = LZRW1_GROUP_ITEMS * LZRW1_MAX_COPY_LENGTH;
constexpr std::uint64_t FAST_GROUP_INPUT_ROOM = 2 + 2 * LZRW1_GROUP_ITEMS + FAST_BLOCK_LENGTH;
static_assert(FAST_GROUP_OUTPUT_ROOM == 256 && FAST_GROUP_INPUT_ROOM == 50);

DecodeError out_of_input() { return index_error(Codec::lzrw1, LZRW1_MESSAGE_OUT_OF_INPUT); }
DecodeError bad_offset() { return index_error(Codec::lzrw1, LZRW1_MESSAGE_BAD_OFFSET); }

// Copy of `length` (1..16) bytes from `offset` bytes back, as the forward
// byte copy would make it, but writing a whole 16-byte block: the bytes past
// `length` are scratch that later items overwrite.  The caller guarantees
// 16 writable bytes at dst and offset >= 1 bytes already produced.
inline void copy_match_block(std::uint8_t* dst, std::uint64_t offset, std::uint64_t length) {
  const std::uint8_t* src = dst - offset;
  if (offset >= 8) [[likely]] {
    // One branch for all long offsets.  The second half's source ends
    // before dst + 8, so it reads only bytes already final or written by
    // the first half.
    std::memcpy(dst, src, 8);
    std::memcpy(dst + 8, src + 8, 8);
  } else if (offset == 1) {
    std::memset(dst, *src, 16);
  } else {
    for (std::uint64_t j = 0; j < length; ++j) dst[j] = src[j];
  }
}

}  // namespace

DecodeResult<void> lzrw1_decode_into(std::span<const std::uint8_t> input, std::uint64_t start,
                                     std::span<std::uint8_t> output) {
  const std::uint8_t* const in = input.data();
  const std::uint64_t in_len = input.size();
  std::uint8_t* const out = output.data();
  const std::uint64_t out_len = output.size();

  std::uint64_t read_pos = start;
  std::uint64_t produced = 0;

  while (produced < out_len) {
    if (read_pos <= in_len && in_len - read_pos >= FAST_GROUP_INPUT_ROOM &&
        out_len - produced >= FAST_GROUP_OUTPUT_ROOM) {
      // Fast group: no input or output bound can be hit (see the room
      // constants), so only offsets are checked.
      unsigned bits = load_u16le(in + read_pos) | 0x10000u;  // sentinel above the 16 item bits
      read_pos += 2;
      for (;;) {
        // A run of 0 to 16 literals, moved as one block whatever its
        // length (no literal-or-copy branch to mispredict), then a copy
        // unless the group is done.  Every block move happens while at
        // least one item of the group is left, as the room bound assumes.
        const unsigned run = static_cast<unsigned>(std::countr_zero(bits));
        std::memcpy(out + produced, in + read_pos, FAST_BLOCK_LENGTH);
        produced += run;
        read_pos += run;
        bits >>= run;
        if (bits == 1) break;
        const std::uint8_t b0 = in[read_pos];
        const std::uint8_t b1 = in[read_pos + 1];
        read_pos += 2;
        const std::uint64_t offset = (static_cast<std::uint64_t>(b0 >> 4) << 8) | b1;
        const std::uint64_t length = (b0 & 0x0Fu) + 1;
        if (offset - 1 >= produced) return bad_offset();  // also offset 0
        copy_match_block(out + produced, offset, length);
        produced += length;
        bits >>= 1;
        if (bits == 1) break;
      }
      continue;
    }

    // Checked group: the tail of the stream, item by item.
    if (read_pos >= in_len || in_len - read_pos < 2) return out_of_input();
    unsigned control = load_u16le(in + read_pos);
    read_pos += 2;
    for (std::uint64_t item = 0; item < LZRW1_GROUP_ITEMS; ++item, control >>= 1) {
      if (produced == out_len) return {};
      if ((control & 1) == 0) {
        if (read_pos >= in_len) return out_of_input();
        out[produced++] = in[read_pos++];
        continue;
      }
      // Both bytes must be present before the offset means anything.
      if (read_pos >= in_len || in_len - read_pos < 2) return out_of_input();
      const std::uint8_t b0 = in[read_pos];
      const std::uint8_t b1 = in[read_pos + 1];
      read_pos += 2;
      const std::uint64_t offset = (static_cast<std::uint64_t>(b0 >> 4) << 8) | b1;
      std::uint64_t length = (b0 & 0x0Fu) + 1;
      if (offset - 1 >= produced) return bad_offset();
      // Clipped after the offset check: a copy may run past the end.
      if (length > out_len - produced) length = out_len - produced;
      std::uint8_t* dst = out + produced;
      const std::uint8_t* src = dst - offset;
      for (std::uint64_t j = 0; j < length; ++j) dst[j] = src[j];
      produced += length;
    }
  }
  return {};
}

}  // namespace native
