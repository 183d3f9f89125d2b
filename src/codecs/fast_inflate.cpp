// The fast path of zlib inflation, in the order a stream is read:
//
//   FastInflater::inflate_into   the driver: zlib header, one block after
//                                another, Adler-32 trailer; growth of the
//                                output when a block needs room
//   read_dynamic_code            a dynamic block's header: the code-length
//                                code, the code lengths, the decode tables
//                                (built by huffman_tables.cpp)
//   decode_symbols               a Huffman block's symbols: the fast loop,
//                                bounded by the room constants below, then
//                                the checked loop near the input's or the
//                                output's end
//   copy_match, store_pattern    a match's bytes, by offset class
//   BitReader, refill            the input bit stream
//
// Stored blocks are copied by the driver itself.  Every way out names
// zlib's verdict or declines (FastInflate).
#include "codecs/fast_inflate.h"

#include <libdeflate.h>

#include <array>
#include <cstring>

#include "codecs/huffman_tables.h"
#include "codecs/integers.h"

namespace native {

namespace {

using namespace huffman;

constexpr unsigned MAX_MATCH_LENGTH = 258;

// zlib's limits: more length or distance codes are "too many length or
// distance symbols".
constexpr unsigned MAX_LITLEN_CODES = 286;
constexpr unsigned MAX_DIST_CODES = 30;

// One load and one store of `width` bytes: the source is read whole
// before the destination is written.
template <std::size_t width>
inline void copy_bytes(u8* dst, const u8* src) {
  u8 held[width];
  std::memcpy(held, src, width);
  std::memcpy(dst, held, width);
}

// A match whose offset is shorter than the match repeats its first
// `offset` bytes.  Copied 16 bytes at a time, each load would wait for the
// store before it; below 32, a pattern of 16 or 32 bytes stored every
// PATTERN_STRIDE bytes (the largest multiple of the offset up to the
// pattern's width) writes it with no store waiting for another.  Below 8
// the pattern is built in registers: the multiplier spreads the offset's
// bytes over a word (the copies do not overlap, so the product is their
// union), and the second word continues the first.
constexpr std::array<u64, 8> make_pattern_multipliers() {
  std::array<u64, 8> multipliers{};
  for (unsigned offset = 1; offset < 8; ++offset) {
    for (unsigned shift = 0; shift < 64; shift += 8 * offset) multipliers[offset] |= u64{1} << shift;
  }
  return multipliers;
}
constexpr std::array<u64, 8> PATTERN_MULTIPLIER = make_pattern_multipliers();
constexpr std::array<u8, 32> make_pattern_strides() {
  std::array<u8, 32> strides{};
  for (unsigned offset = 1; offset < 32; ++offset) {
    const unsigned width = offset < 16 ? 16 : 32;
    strides[offset] = static_cast<u8>(width - width % offset);
  }
  return strides;
}
constexpr std::array<u8, 32> PATTERN_STRIDE = make_pattern_strides();
// Below 8: where in the pattern the second word starts, in bits.
constexpr std::array<u8, 8> make_continue_shifts() {
  std::array<u8, 8> shifts{};
  for (unsigned offset = 1; offset < 8; ++offset) shifts[offset] = static_cast<u8>(8 * (8 % offset));
  return shifts;
}
constexpr std::array<u8, 8> PATTERN_CONTINUE_SHIFT = make_continue_shifts();

// Stores `width` bytes of `pattern` from dst on, every `stride` bytes,
// until the match's end; at most width - 1 bytes past it.  A 32-byte
// pattern is held in two vector values: as a byte array, clang kept it on
// the stack and reloaded it for every store (period 16 data: 29% more time).
using Chunk16 = u8 __attribute__((vector_size(16)));
template <std::size_t width>
inline void store_pattern(u8* dst, const u8* stop, const u8* pattern, std::size_t stride) {
  static_assert(width == 16 || width == 32);
  if constexpr (width == 32) {
    Chunk16 low, high;
    std::memcpy(&low, pattern, 16);
    std::memcpy(&high, pattern + 16, 16);
    do {
      std::memcpy(dst, &low, 16);
      std::memcpy(dst + 16, &high, 16);
      dst += stride;
    } while (dst < stop);
  } else {
    u8 held[width];
    std::memcpy(held, pattern, width);
    do {
      std::memcpy(dst, held, width);
      dst += stride;
    } while (dst < stop);
  }
}

// The widest store of a match copy: the 32-byte pattern of an offset from
// 16 to 31; the others store 16.  Each starts before the match's end, so it
// writes at most one byte less than its width past it.
constexpr std::size_t WIDEST_MATCH_STORE = 32;
constexpr std::ptrdiff_t COPY_OVERSHOOT = WIDEST_MATCH_STORE - 1;

// A match at an offset from `half` to 2 * half - 1: after one copy of
// `half` bytes, the 2 * half bytes at src are the pattern; a match up to
// that width needs only the chained copy.
template <std::size_t half>
inline void copy_short_offset(u8* dst, u32 offset, u32 length) {
  const u8* src = dst - offset;
  copy_bytes<half>(dst, src);
  if (length <= half) return;
  if (length <= 2 * half) {
    copy_bytes<half>(dst + half, src + half);
  } else {
    store_pattern<2 * half>(dst, dst + length, src, PATTERN_STRIDE[offset]);
  }
}

// Writes a literal entry's bytes, one past them for a single literal of a
// paired table (whose stores are always two bytes wide).
constexpr std::ptrdiff_t LITERAL_STORE = 2;
template <bool paired>
inline void write_literals(u8*& out_next, u32 entry) {
  if constexpr (paired) {
    const u8 bytes[LITERAL_STORE] = {literal_byte(entry), second_literal_byte(entry)};
    std::memcpy(out_next, bytes, LITERAL_STORE);
    out_next += literal_count(entry);
  } else {
    *out_next++ = literal_byte(entry);
  }
}

// Writes the `length` bytes of a match `offset` bytes back at dst, with
// COPY_OVERSHOOT bytes of room after them (which it may overwrite).
inline void copy_match(u8* dst, u32 offset, u32 length) {
  const u8* src = dst - offset;
  u8* const stop = dst + length;
  if (offset >= 16) {
    // Sequential 16-byte copies read only bytes already written; most
    // matches take one.  Below 32 each copy would wait for the one
    // before, so a match longer than two stores the pattern instead (one
    // branch for every offset from 16 on: offsets below 32 are common in
    // float data, and a branch on them mispredicts).
    copy_bytes<16>(dst, src);
    if (length <= 16) return;
    if (offset >= WIDEST_MATCH_STORE || length <= 32) {
      do {
        dst += 16;
        src += 16;
        copy_bytes<16>(dst, src);
      } while (dst + 16 < stop);
    } else [[unlikely]] {  // out of the hot path's way (grid data: 2-3% when inline)
      store_pattern<32>(dst, stop, src, PATTERN_STRIDE[offset]);
    }
  } else if (offset >= 8) {
    copy_short_offset<8>(dst, offset, length);
  } else {
    // Runs, interleaved values and blank grid cells.  A run's byte
    // is loaded alone: a wider load would straddle the stores of the
    // match before and wait for both.
    const u64 first = offset == 1 ? u64{*src} * PATTERN_MULTIPLIER[1]
                                  : (load_u64le(src) & low_bits(8 * offset)) *
                                        PATTERN_MULTIPLIER[offset];
    const unsigned shift = PATTERN_CONTINUE_SHIFT[offset];
    const u64 second = (first >> shift) | (first << (8 * offset - shift));
    u8 pattern[16];
    std::memcpy(pattern, &first, 8);
    std::memcpy(pattern + 8, &second, 8);
    store_pattern<16>(dst, stop, pattern, PATTERN_STRIDE[offset]);
  }
}

// The refill loads 8 bytes and advances at most 7 (never past a byte it has
// not yet used).  The fast loop checks the input position at the end of
// each iteration; up to the next check it refills at most twice (before a
// distance when the bits run short, and at the end of the iteration), three
// times in the first iteration, which one refill precedes.  The k-th refill
// after a check loads from at most (k - 1) * 7 bytes past it.
constexpr unsigned REFILL_LOAD = 8;
constexpr unsigned REFILL_ADVANCE_MAX = 7;
constexpr unsigned REFILLS_BETWEEN_CHECKS = 3;
constexpr std::ptrdiff_t FAST_INPUT_ROOM = 32;
static_assert(FAST_INPUT_ROOM >= (REFILLS_BETWEEN_CHECKS - 1) * REFILL_ADVANCE_MAX + REFILL_LOAD);
// One iteration writes at most two literal entries and a match, or three
// literal entries.
constexpr std::ptrdiff_t FAST_OUTPUT_ROOM = 2 * LITERAL_STORE + MAX_MATCH_LENGTH + COPY_OVERSHOOT;
static_assert(FAST_OUTPUT_ROOM >= 3 * LITERAL_STORE);

// A refill leaves at least this many bits in the buffer.  The fast loop's
// bit budget from the refill that ends the iteration before: three
// literals (root entries only) and the next lookup; two literals, then a
// literal through a subtable and the next lookup, or a length with its
// extra bits and the distance lookup.  A distance with its extra bits and
// the next lookup take what is left, or the bits of a refill just before.
constexpr unsigned REFILL_MIN_BITS = 56;
static_assert(3 * LITLEN_ROOT_BITS + LITLEN_ROOT_BITS <= REFILL_MIN_BITS);
static_assert(2 * LITLEN_ROOT_BITS + MAX_CODE_LENGTH + LITLEN_ROOT_BITS <= REFILL_MIN_BITS);
static_assert(2 * LITLEN_ROOT_BITS + MAX_CODE_LENGTH + MAX_LENGTH_EXTRA_BITS + DIST_ROOT_BITS <=
              REFILL_MIN_BITS);
// A distance's bits: through a subtable, or from the root alone.
constexpr unsigned DISTANCE_BITS_MAX = MAX_CODE_LENGTH + MAX_DIST_EXTRA_BITS;
constexpr unsigned ROOT_DISTANCE_BITS_MAX = DIST_ROOT_BITS + MAX_DIST_EXTRA_BITS;
static_assert(DISTANCE_BITS_MAX + LITLEN_ROOT_BITS <= REFILL_MIN_BITS);

// Tops up the bit buffer from a whole word at `next` (8 readable bytes):
// afterwards it holds REFILL_MIN_BITS to 63 valid bits.  Only the low 6
// bits of `bitsleft` are read (its low byte is the count), so the fast loop
// may leave garbage above them.
inline void refill_word(const u8*& next, u64& bitbuf, u32& bitsleft) {
  bitbuf |= load_u64le(next) << (bitsleft & 63);
  next += REFILL_ADVANCE_MAX - ((bitsleft >> 3) & 7);
  bitsleft |= REFILL_MIN_BITS;
}

// The input bit stream.  bitbuf holds bitsleft valid bits (at most 63);
// the bits above them are either zero or the next input bits, so OR-ing
// those in again is harmless.  Past the end of the input, zero bytes are
// counted in `overread`.
struct BitReader {
  const u8* next;
  const u8* end;
  u64 bitbuf = 0;
  u32 bitsleft = 0;
  unsigned overread = 0;
};

// At least 56 bits, zero bytes past the end included; false once more
// than eight zero bytes were needed, i.e. bits past the end were consumed
// (zlib: incomplete).
inline bool refill(BitReader& r) {
  if (r.end - r.next >= REFILL_LOAD) {
    refill_word(r.next, r.bitbuf, r.bitsleft);
    return true;
  }
  while (r.bitsleft < REFILL_MIN_BITS) {
    if (r.next != r.end) {
      r.bitbuf |= u64{*r.next++} << r.bitsleft;
    } else if (++r.overread > 8) {
      return false;
    }
    r.bitsleft += 8;
  }
  return true;
}

inline void consume(BitReader& r, unsigned count) {
  r.bitbuf >>= count;
  r.bitsleft -= count;
}

// Drops the bits up to the next byte boundary and returns the input
// position there, or nullptr if bits past the end were consumed.
inline const u8* align(BitReader& r) {
  consume(r, r.bitsleft & 7);
  if (r.overread > r.bitsleft / 8) return nullptr;
  const u8* position = r.next - (r.bitsleft / 8 - r.overread);
  r.bitbuf = 0;
  r.bitsleft = 0;
  r.overread = 0;
  return position;
}

struct HuffmanBlock {
  bool paired;  // literal pairs in the litlen root
  const u32* tables;  // litlen, then dist at LITLEN_TABLE_LENGTH
};

struct Output {
  u8* begin;  // this stream's first byte
  u8* next;
  u8* end;
};

// How decoding a block's symbols stopped.  corrupt and incomplete are
// zlib's own verdicts: corrupt only on bits that are all in the input (an
// invalid symbol, a distance before the start of the output), incomplete
// once bits past the end were needed, every earlier symbol judged as zlib
// judges it.
enum class BlockEnd { end_of_block, needs_room, declined, corrupt, incomplete };

// The next `count` bits of the reader are input, not the zero bytes past it.
inline bool bits_in_input(const BitReader& r, unsigned count) {
  return count + 8 * r.overread <= r.bitsleft;
}

// Decodes the symbols of one Huffman block up to its end, or until a
// symbol needs more room than out.end leaves (needs_room: `wanted` bytes,
// the symbol not consumed), or declines.
template <bool paired>
BlockEnd decode_symbols(BitReader& reader, const HuffmanBlock& block, Output& out,
                        std::uint64_t& wanted) {
  const u8* in_next = reader.next;
  const u8* const in_end = reader.end;
  u64 bitbuf = reader.bitbuf;
  u32 bitsleft = reader.bitsleft;
  u8* out_next = out.next;
  u8* const out_end = out.end;
  const u8* const out_begin = out.begin;
  // Both tables from one pointer, with constant masks: every root has its
  // full width.  The fast loop then keeps its state in registers (with a
  // mask and a second table pointer to hold, the compiler spilled them).
  const u32* const litlen = block.tables;
  const u32* const dist = block.tables + LITLEN_TABLE_LENGTH;
  constexpr u64 litlen_mask = low_bits(LITLEN_ROOT_BITS);
  constexpr u64 dist_mask = low_bits(DIST_ROOT_BITS);
  BlockEnd end;  // set on every way out

  // The fast loop: no bounds checks within an iteration, as the room
  // constants cover its worst case.  Each iteration starts with the litlen
  // entry of the next bits already looked up, and every way to the next
  // one ends with a word refill, which a match does after that lookup, so
  // that both overlap its copy.  The bit budget above REFILL_MIN_BITS says
  // where a refill is due; a match refills once, unless its distance needs
  // more bits than are left.
  //
  // Within the loop `bitsleft` carries garbage above its low byte: whole
  // entries are subtracted, and only the low byte is ever read.
  if (in_end - in_next >= FAST_INPUT_ROOM && out_end - out_next >= FAST_OUTPUT_ROOM) {
    const u8* const in_fast_end = in_end - FAST_INPUT_ROOM;
    const u8* const out_fast_end = out_end - FAST_OUTPUT_ROOM;
    const auto consume_entry = [&](u32 entry) {
      bitbuf >>= entry_bits(entry);
      bitsleft -= entry;
    };
    refill_word(in_next, bitbuf, bitsleft);
    u32 entry = litlen[bitbuf & litlen_mask];
    for (;;) {
      if (entry & ENTRY_LITERAL) {
        consume_entry(entry);
        write_literals<paired>(out_next, entry);
        entry = litlen[bitbuf & litlen_mask];
        if (entry & ENTRY_LITERAL) {
          consume_entry(entry);
          write_literals<paired>(out_next, entry);
          entry = litlen[bitbuf & litlen_mask];
          if (entry & ENTRY_LITERAL) {
            consume_entry(entry);
            write_literals<paired>(out_next, entry);
            entry = litlen[bitbuf & litlen_mask];
            refill_word(in_next, bitbuf, bitsleft);
            goto next_iteration;
          }
        }
      }
      if (entry & ENTRY_EXCEPTIONAL) {
        if (entry & ENTRY_SUBTABLE) {
          consume_entry(entry);
          entry = litlen[subtable_start(entry) + (bitbuf & low_bits(subtable_bits(entry)))];
          if (entry & ENTRY_LITERAL) {
            consume_entry(entry);
            write_literals<paired>(out_next, entry);
            entry = litlen[bitbuf & litlen_mask];
            refill_word(in_next, bitbuf, bitsleft);
            goto next_iteration;
          }
        }
        if (entry & ENTRY_END_OF_BLOCK) {
          consume_entry(entry);
          end = BlockEnd::end_of_block;
          goto done;
        }
        if (entry & ENTRY_INVALID) {
          end = BlockEnd::corrupt;
          goto done;
        }
      }
      {
        u64 saved = bitbuf;
        consume_entry(entry);
        const u32 length = value_with_extra_bits(entry, saved);
        entry = dist[bitbuf & dist_mask];
        // The refill adds bits above the buffered ones: `entry` stays valid.
        if (entry & ENTRY_EXCEPTIONAL) {
          if (static_cast<u8>(bitsleft) < DISTANCE_BITS_MAX + LITLEN_ROOT_BITS) {
            refill_word(in_next, bitbuf, bitsleft);
          }
          if (entry & ENTRY_SUBTABLE) {
            consume_entry(entry);
            entry = dist[subtable_start(entry) + (bitbuf & low_bits(subtable_bits(entry)))];
          }
          if (entry & ENTRY_INVALID) {
            end = BlockEnd::corrupt;
            goto done;
          }
        } else if (static_cast<u8>(bitsleft) < ROOT_DISTANCE_BITS_MAX + LITLEN_ROOT_BITS) {
          refill_word(in_next, bitbuf, bitsleft);  // rare: after two literals and a long length
        }
        saved = bitbuf;
        consume_entry(entry);
        const u32 offset = value_with_extra_bits(entry, saved);
        // zlib: "invalid distance too far back".
        if (offset > static_cast<std::size_t>(out_next - out_begin)) {
          end = BlockEnd::corrupt;
          goto done;
        }
        entry = litlen[bitbuf & litlen_mask];
        refill_word(in_next, bitbuf, bitsleft);
        copy_match(out_next, offset, length);
        out_next += length;
      }
    next_iteration:
      if (in_next > in_fast_end || out_next > out_fast_end) break;
    }
    bitsleft &= 0xff;
  }

  // The checked loop, one symbol at a time, near the end of the input or
  // of the output room.
  {
    BitReader r{in_next, in_end, bitbuf, bitsleft, reader.overread};
    // Input and room only shrink here, so the fast loop's conditions never
    // come back within this call.
    for (;;) {
      if (!refill(r)) {
        end = BlockEnd::incomplete;
        break;
      }
      const BitReader symbol_start = r;
      u32 entry = litlen[r.bitbuf & litlen_mask];
      if (!(entry & ENTRY_LITERAL) && (entry & ENTRY_SUBTABLE)) {
        consume(r, entry_bits(entry));
        entry = litlen[subtable_start(entry) + (r.bitbuf & low_bits(subtable_bits(entry)))];
      }
      if (entry & ENTRY_LITERAL) {
        const unsigned count = literal_count(entry);
        if (static_cast<std::size_t>(out_end - out_next) < count) {
          r = symbol_start;
          wanted = count;
          end = BlockEnd::needs_room;
          break;
        }
        consume(r, entry_bits(entry));
        out_next[0] = literal_byte(entry);
        if (count == 2) out_next[1] = second_literal_byte(entry);
        out_next += count;
        continue;
      }
      if (entry & ENTRY_END_OF_BLOCK) {
        consume(r, entry_bits(entry));
        end = BlockEnd::end_of_block;
        break;
      }
      // An invalid symbol whose bits reach past the input's end: zlib may
      // call that incomplete instead, so it decides.
      if (entry & ENTRY_INVALID) {
        end = bits_in_input(r, entry_bits(entry)) ? BlockEnd::corrupt : BlockEnd::declined;
        break;
      }
      u64 saved = r.bitbuf;
      consume(r, entry_bits(entry));
      const u32 length = value_with_extra_bits(entry, saved);
      entry = dist[r.bitbuf & dist_mask];
      if (entry & ENTRY_SUBTABLE) {
        consume(r, entry_bits(entry));
        entry = dist[subtable_start(entry) + (r.bitbuf & low_bits(subtable_bits(entry)))];
      }
      if (entry & ENTRY_INVALID) {
        end = bits_in_input(r, entry_bits(entry)) ? BlockEnd::corrupt : BlockEnd::declined;
        break;
      }
      saved = r.bitbuf;
      consume(r, entry_bits(entry));
      const u32 offset = value_with_extra_bits(entry, saved);
      if (offset > static_cast<std::size_t>(out_next - out_begin)) {
        // The same for a distance too far back read from bits past the end.
        end = bits_in_input(r, 0) ? BlockEnd::corrupt : BlockEnd::declined;
        break;
      }
      if (static_cast<std::size_t>(out_end - out_next) < length) {
        r = symbol_start;
        wanted = length;
        end = BlockEnd::needs_room;
        break;
      }
      if (static_cast<std::size_t>(out_end - out_next) - length >= COPY_OVERSHOOT) {
        // The last FAST_INPUT_ROOM bytes of a highly compressed stream can
        // hold tens of kilobytes of long runs.
        copy_match(out_next, offset, length);
      } else {
        const u8* src = out_next - offset;
        for (u32 i = 0; i < length; ++i) out_next[i] = src[i];
      }
      out_next += length;
    }
    reader = r;
    out.next = out_next;
    return end;
  }

done:
  reader.next = in_next;
  reader.bitbuf = bitbuf;
  reader.bitsleft = bitsleft & 0xff;
  out.next = out_next;
  return end;
}

// How reading a dynamic block's header ended: its tables built, or zlib's
// verdict unknown (declined) or incomplete.
enum class DynamicHeader { tables_built, declined, incomplete };

// Reads a dynamic block's header after its block type: the code-length
// code, then the length/literal and distance code lengths into `lens`, and
// builds their tables into `tables` (litlen, then dist), pairing literals
// where that pays; `paired` says whether it did.
DynamicHeader read_dynamic_header(BitReader& reader, u32* tables, u32* precode_table, u8* lens,
                                  bool& paired) {
  // The block header's refill left at least REFILL_MIN_BITS - 3 bits: the
  // counts' 14 are there.
  const unsigned litlen_count = (reader.bitbuf & 31) + 257;
  const unsigned dist_count = ((reader.bitbuf >> 5) & 31) + 1;
  const unsigned precode_count = ((reader.bitbuf >> 10) & 15) + 4;
  consume(reader, 14);
  if (litlen_count > MAX_LITLEN_CODES || dist_count > MAX_DIST_CODES) {
    return DynamicHeader::declined;
  }
  static constexpr u8 PRECODE_ORDER[19] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                           11, 4,  12, 3, 13, 2, 14, 1, 15};
  u8 precode_lens[19] = {};
  for (unsigned i = 0; i < precode_count; ++i) {
    if (reader.bitsleft < 3 && !refill(reader)) return DynamicHeader::incomplete;
    precode_lens[PRECODE_ORDER[i]] = reader.bitbuf & 7;
    consume(reader, 3);
  }
  if (!build_precode_table(precode_table, precode_lens)) return DynamicHeader::declined;

  const unsigned total = litlen_count + dist_count;
  for (unsigned have = 0; have < total;) {
    if (reader.bitsleft < 14 && !refill(reader)) return DynamicHeader::incomplete;  // 7 + 7 extra bits
    const u32 entry = precode_table[reader.bitbuf & low_bits(PRECODE_ROOT_BITS)];
    consume(reader, entry_bits(entry));
    const unsigned symbol = entry_value(entry);
    if (symbol < 16) {
      lens[have++] = static_cast<u8>(symbol);
      continue;
    }
    unsigned repeat;
    u8 value = 0;
    if (symbol == 16) {  // zlib: "invalid bit length repeat" with nothing before
      if (have == 0) return DynamicHeader::declined;
      value = lens[have - 1];
      repeat = 3 + (reader.bitbuf & 3);
      consume(reader, 2);
    } else if (symbol == 17) {
      repeat = 3 + (reader.bitbuf & 7);
      consume(reader, 3);
    } else {
      repeat = 11 + (reader.bitbuf & 127);
      consume(reader, 7);
    }
    if (repeat > total - have) return DynamicHeader::declined;  // zlib: repeat past the end
    std::memset(lens + have, value, repeat);
    have += repeat;
  }
  if (lens[256] == 0) return DynamicHeader::declined;  // zlib: "missing end-of-block"
  if (!build_litlen_table(tables, lens, litlen_count) ||
      !build_dist_table(tables + LITLEN_TABLE_LENGTH, lens + litlen_count, dist_count)) {
    return DynamicHeader::declined;
  }
  paired = pairing_pays(lens, static_cast<std::size_t>(reader.end - reader.next));
  if (paired) pair_literals(tables);
  return DynamicHeader::tables_built;
}

}  // namespace

FastInflate FastInflater::inflate_into(std::span<const std::uint8_t> input,
                                       GrowableBytes& output, GrowthAim aim) {
  const InflationGrowth growth(output, input.size(), aim);
  const std::uint64_t size_before = growth.size_before();
  const auto give_up = [&](FastInflate verdict) {
    output.truncate(size_before);
    return verdict;
  };
  const auto decline = [&] { return give_up(FastInflate::declined); };
  const auto corrupt = [&] { return give_up(FastInflate::corrupt); };
  const auto incomplete = [&] { return give_up(FastInflate::incomplete); };

  // Header: method 8, window field at most 7, check bits, no dictionary.
  if (input.size() < 2) return decline();
  const unsigned cmf = input[0], flg = input[1];
  if ((cmf & 0x0f) != 8 || (cmf >> 4) > 7 || ((cmf << 8) | flg) % 31 != 0 || (flg & 0x20)) {
    return decline();
  }

  Output out{output.data() + size_before, output.data() + size_before,
             output.data() + output.capacity()};
  BitReader reader{input.data() + 2, input.data() + input.size()};
  // Grows the vector to hold `needed` more bytes at out.next (the stored
  // bytes move: the cursors are set anew).
  const auto make_room = [&](std::uint64_t needed) {
    output.commit(static_cast<std::uint64_t>(out.next - (output.data() + output.size())));
    if (!growth.grow(output, needed, static_cast<std::uint64_t>(reader.next - input.data()))) {
      return false;
    }
    out.begin = output.data() + size_before;
    out.next = output.data() + output.size();
    out.end = output.data() + output.capacity();
    return true;
  };

  bool final_block = false;
  do {
    if (!refill(reader)) return incomplete();
    final_block = reader.bitbuf & 1;
    const unsigned block_type = (reader.bitbuf >> 1) & 3;
    consume(reader, 3);

    HuffmanBlock block;
    if (block_type == 0) {  // stored
      const u8* position = align(reader);
      if (position == nullptr || reader.end - position < 4) return incomplete();
      const unsigned length = load_u16le(position);
      const unsigned complement = load_u16le(position + 2);
      if (length != (~complement & 0xffff)) return corrupt();
      position += 4;
      if (static_cast<std::size_t>(reader.end - position) < length) return incomplete();
      if (static_cast<std::size_t>(out.end - out.next) < length && !make_room(length)) {
        return decline();
      }
      if (length > 0) std::memcpy(out.next, position, length);
      out.next += length;
      reader.next = position + length;
      continue;
    } else if (block_type == 1) {  // fixed code
      block = {false, fixed_code_tables()};
    } else if (block_type == 2) {  // dynamic code
      bool paired = false;
      switch (read_dynamic_header(reader, tables_, precode_table_, lens_, paired)) {
        case DynamicHeader::tables_built: break;
        case DynamicHeader::declined: return decline();
        case DynamicHeader::incomplete: return incomplete();
      }
      block = {paired, tables_};
    } else {
      return decline();  // reserved block type
    }

    for (;;) {
      std::uint64_t wanted = 0;
      const BlockEnd end = block.paired ? decode_symbols<true>(reader, block, out, wanted)
                                        : decode_symbols<false>(reader, block, out, wanted);
      if (end == BlockEnd::end_of_block) break;
      if (end == BlockEnd::corrupt) return corrupt();
      if (end == BlockEnd::incomplete) return incomplete();
      if (end == BlockEnd::declined || !make_room(wanted)) return decline();
    }
  } while (!final_block);

  // Adler-32 trailer, big-endian, right after the last block's byte.
  const u8* trailer = align(reader);
  if (trailer == nullptr || reader.end - trailer < 4) return incomplete();
  const u32 expected = load_u32be(trailer);
  const std::size_t produced = static_cast<std::size_t>(out.next - out.begin);
  if (libdeflate_adler32(1, out.begin, produced) != expected) return corrupt();
  output.commit(static_cast<std::uint64_t>(out.next - (output.data() + output.size())));
  return FastInflate::inflated;
}

}  // namespace native
