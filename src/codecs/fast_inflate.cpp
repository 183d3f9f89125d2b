#include "codecs/fast_inflate.h"

#include <libdeflate.h>

#include <algorithm>
#include <cstring>

#include "codecs/integers.h"

namespace native {

namespace {

using u8 = std::uint8_t;
using u32 = std::uint32_t;
using u64 = std::uint64_t;

// Decode table entries.  Every entry's low byte is the number of bits it
// consumes (codeword plus extra bits), bits 8-11 the codeword length, bits
// 16 up the value: a literal byte, a length or distance base, or for a
// subtable pointer its start index (and then bits 8-11 give the subtable's
// index width and the low byte the root width).
constexpr u32 ENTRY_LITERAL = 0x80000000u;
constexpr u32 ENTRY_EXCEPTIONAL = 0x8000;  // subtable, end of block or invalid
constexpr u32 ENTRY_SUBTABLE = 0x4000;
constexpr u32 ENTRY_END_OF_BLOCK = 0x2000;
constexpr u32 ENTRY_INVALID = 0x1000;

constexpr unsigned LITLEN_ROOT_BITS = 11;
constexpr unsigned DIST_ROOT_BITS = 8;
constexpr unsigned PRECODE_ROOT_BITS = 7;
constexpr unsigned MAX_CODE_LENGTH = 15;

// zlib's limits: more length or distance codes are "too many length or
// distance symbols"; 286/287 and distances 30/31 of the fixed code are
// invalid codes.
constexpr unsigned MAX_LITLEN_CODES = 286;
constexpr unsigned MAX_DIST_CODES = 30;

// The static part of the entries: value and extra-bit count per symbol.
constexpr u32 value_entry(u32 base, u32 extra) { return (base << 16) | extra; }

struct SymbolTables {
  u32 litlen[288];
  u32 dist[32];
  u32 precode[19];
};

constexpr SymbolTables make_symbol_tables() {
  SymbolTables t{};
  for (u32 s = 0; s < 256; ++s) t.litlen[s] = ENTRY_LITERAL | (s << 16);
  t.litlen[256] = ENTRY_EXCEPTIONAL | ENTRY_END_OF_BLOCK;
  constexpr u32 length_base[29] = {3,  4,  5,  6,  7,  8,  9,  10,  11,  13,  15,  17,  19,  23, 27,
                                   31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
  constexpr u32 length_extra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                    2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
  for (u32 s = 0; s < 29; ++s) t.litlen[257 + s] = value_entry(length_base[s], length_extra[s]);
  t.litlen[286] = t.litlen[287] = ENTRY_EXCEPTIONAL | ENTRY_INVALID;
  constexpr u32 dist_base[30] = {1,    2,    3,    4,    5,    7,     9,     13,    17,  25,
                                 33,   49,   65,   97,   129,  193,   257,   385,   513, 769,
                                 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
  for (u32 s = 0; s < 30; ++s) t.dist[s] = value_entry(dist_base[s], s < 4 ? 0 : s / 2 - 1);
  t.dist[30] = t.dist[31] = ENTRY_EXCEPTIONAL | ENTRY_INVALID;
  for (u32 s = 0; s < 19; ++s) t.precode[s] = s << 16;
  return t;
}

constexpr SymbolTables SYMBOLS = make_symbol_tables();

constexpr u32 make_entry(u32 symbol_entry, u32 length) {
  return symbol_entry + (length << 8) + length;
}

constexpr u64 low_bits(u32 count) { return (u64{1} << count) - 1; }

u32 reverse_bits(u32 code, u32 length) {
  u32 reversed = 0;
  for (u32 i = 0; i < length; ++i) {
    reversed = (reversed << 1) | (code & 1);
    code >>= 1;
  }
  return reversed;
}

// Fills `table` for the canonical code of `lens` (bit-reversed lookup, as
// DEFLATE sends codewords).  False unless the lengths form a complete code:
// zlib rejects over-subscribed codes, rejects incomplete code-length codes,
// and takes incomplete length and distance codes only in degenerate forms
// that real encoders never write; those are left to zlib.
bool build_table(u32* table, std::size_t table_length, const u8* lens, unsigned symbol_count,
                 const u32* symbol_entries, unsigned max_root_bits, unsigned& root_bits) {
  unsigned count[MAX_CODE_LENGTH + 1] = {};
  for (unsigned s = 0; s < symbol_count; ++s) ++count[lens[s]];
  int left = 1;
  for (unsigned len = 1; len <= MAX_CODE_LENGTH; ++len) {
    left = (left << 1) - static_cast<int>(count[len]);
    if (left < 0) return false;
  }
  if (left != 0) return false;

  unsigned longest = MAX_CODE_LENGTH;
  while (count[longest] == 0) --longest;
  const unsigned root = std::min(max_root_bits, longest);
  root_bits = root;
  const u32 root_size = u32{1} << root;

  u32 next_code[MAX_CODE_LENGTH + 1];
  u32 code = 0;
  count[0] = 0;
  for (unsigned len = 1; len <= MAX_CODE_LENGTH; ++len) {
    code = (code + count[len - 1]) << 1;
    next_code[len] = code;
  }

  // Short codes straight into the root; for long ones, note the widest
  // subtable each root prefix needs.
  u8 sub_bits[u32{1} << LITLEN_ROOT_BITS];
  bool any_long = false;
  for (unsigned s = 0; s < symbol_count; ++s) {
    const unsigned len = lens[s];
    if (len == 0) continue;
    const u32 reversed = reverse_bits(next_code[len]++, len);
    if (len <= root) {
      const u32 entry = make_entry(symbol_entries[s], len);
      for (u32 i = reversed; i < root_size; i += u32{1} << len) table[i] = entry;
    } else {
      if (!any_long) {
        std::memset(sub_bits, 0, root_size);
        any_long = true;
      }
      u8& width = sub_bits[reversed & (root_size - 1)];
      width = std::max<u8>(width, static_cast<u8>(len - root));
    }
  }
  if (!any_long) return true;

  u32 sub_start[u32{1} << LITLEN_ROOT_BITS];
  std::size_t end = root_size;
  for (u32 prefix = 0; prefix < root_size; ++prefix) {
    if (sub_bits[prefix] == 0) continue;
    sub_start[prefix] = static_cast<u32>(end);
    end += std::size_t{1} << sub_bits[prefix];
    if (end > table_length) return false;  // beyond `enough`: not a complete code
    table[prefix] = (sub_start[prefix] << 16) | ENTRY_EXCEPTIONAL | ENTRY_SUBTABLE |
                    (u32{sub_bits[prefix]} << 8) | root;
  }
  code = 0;
  for (unsigned len = 1; len <= MAX_CODE_LENGTH; ++len) {
    code = (code + count[len - 1]) << 1;
    next_code[len] = code;
  }
  for (unsigned s = 0; s < symbol_count; ++s) {
    const unsigned len = lens[s];
    if (len == 0) continue;
    const u32 reversed = reverse_bits(next_code[len]++, len);
    if (len <= root) continue;
    const u32 prefix = reversed & (root_size - 1);
    const u32 entry = make_entry(symbol_entries[s], len - root);
    const u32 stop = sub_start[prefix] + (u32{1} << sub_bits[prefix]);
    for (u32 i = sub_start[prefix] + (reversed >> root); i < stop; i += u32{1} << (len - root)) {
      table[i] = entry;
    }
  }
  return true;
}

// The fixed code's tables, built once.
struct FixedTables {
  u32 litlen[u32{1} << 9];
  u32 dist[u32{1} << 5];
  unsigned litlen_root = 0;
  unsigned dist_root = 0;

  FixedTables() {
    u8 lens[288];
    std::fill(lens, lens + 144, 8);
    std::fill(lens + 144, lens + 256, 9);
    std::fill(lens + 256, lens + 280, 7);
    std::fill(lens + 280, lens + 288, 8);
    build_table(litlen, std::size(litlen), lens, 288, SYMBOLS.litlen, 9, litlen_root);
    std::fill(lens, lens + 32, 5);
    build_table(dist, std::size(dist), lens, 32, SYMBOLS.dist, 5, dist_root);
  }
};

const FixedTables& fixed_tables() {
  static const FixedTables tables;
  return tables;
}

inline void copy8(u8* dst, const u8* src) {
  u64 v;
  std::memcpy(&v, src, 8);
  std::memcpy(dst, &v, 8);
}

// Room the fast loop needs at the output: the longest match plus one
// 8-byte copy overshoot, after up to two literals.
constexpr std::ptrdiff_t FAST_OUTPUT_ROOM = 258 + 8 + 2;
// Input the fast loop's word refill reads.
constexpr std::ptrdiff_t FAST_INPUT_ROOM = 8;

}  // namespace

FastInflate FastInflater::inflate_into(std::span<const std::uint8_t> input,
                                       ByteVector& output) {
  const std::uint64_t size_before = output.size();
  const auto decline = [&] {
    output.truncate(size_before);
    return FastInflate::declined;
  };

  // Header: method 8, window field at most 7, check bits, no dictionary.
  if (input.size() < 2) return decline();
  const unsigned cmf = input[0], flg = input[1];
  if ((cmf & 0x0f) != 8 || (cmf >> 4) > 7 || ((cmf << 8) | flg) % 31 != 0 || (flg & 0x20)) {
    return decline();
  }

  if (output.capacity() == output.size() &&
      !output.grow(first_inflate_window_length(input.size()))) {
    return decline();
  }
  u8* out_begin = output.data() + size_before;
  u8* out_next = out_begin;
  u8* out_end = output.data() + output.capacity();
  // Grows the vector to hold `needed` more bytes at out_next.
  const auto make_room = [&](std::uint64_t needed) {
    output.commit(static_cast<std::uint64_t>(out_next - (output.data() + output.size())));
    if (!output.grow(needed)) return false;
    out_begin = output.data() + size_before;
    out_next = output.data() + output.size();
    out_end = output.data() + output.capacity();
    return true;
  };

  const u8* in_begin = input.data();
  const u8* in_next = in_begin + 2;
  const u8* const in_end = in_begin + input.size();
  u64 bitbuf = 0;
  unsigned bitsleft = 0;      // valid bits in bitbuf, at most 63
  unsigned overread = 0;      // zero bytes loaded past the end of input

  // Word refill: bitsleft becomes 56..63.  Bits above bitsleft hold the
  // next real input bits, so OR-ing them in again is harmless.
  const auto refill_fast = [&] {
    bitbuf |= load_u64le(in_next) << bitsleft;
    in_next += (63 - bitsleft) >> 3;
    bitsleft |= 56;
  };
  // Byte refill near the end: past it, zero bytes are counted; more than
  // eight of them means bits past the end were consumed (zlib: incomplete).
  const auto refill = [&] {
    if (in_end - in_next >= FAST_INPUT_ROOM) {
      refill_fast();
      return true;
    }
    while (bitsleft < 56) {
      if (in_next != in_end) {
        bitbuf |= u64{*in_next++} << bitsleft;
      } else if (++overread > 8) {
        return false;
      }
      bitsleft += 8;
    }
    return true;
  };
  const auto consume = [&](unsigned count) {
    bitbuf >>= count;
    bitsleft -= count;
  };
  // Drops the bits up to the next byte boundary and returns the input
  // position there, or nullptr if bits past the end were consumed.
  const auto align = [&]() -> const u8* {
    consume(bitsleft & 7);
    if (overread > bitsleft / 8) return nullptr;
    const u8* position = in_next - (bitsleft / 8 - overread);
    bitbuf = 0;
    bitsleft = 0;
    overread = 0;
    return position;
  };

  const FixedTables& fixed = fixed_tables();
  bool final_block = false;
  do {
    if (!refill()) return decline();
    final_block = bitbuf & 1;
    const unsigned block_type = (bitbuf >> 1) & 3;
    consume(3);

    const u32* litlen = litlen_table_;
    const u32* dist = dist_table_;
    u64 litlen_mask, dist_mask;
    if (block_type == 0) {  // stored
      const u8* position = align();
      if (position == nullptr || in_end - position < 4) return decline();
      const unsigned length = load_u16le(position);
      const unsigned complement = load_u16le(position + 2);
      if (length != (~complement & 0xffff)) return decline();
      position += 4;
      if (static_cast<std::size_t>(in_end - position) < length) return decline();
      if (static_cast<std::size_t>(out_end - out_next) < length && !make_room(length)) {
        return decline();
      }
      if (length > 0) std::memcpy(out_next, position, length);
      out_next += length;
      in_next = position + length;
      continue;
    } else if (block_type == 1) {  // fixed code
      litlen = fixed.litlen;
      dist = fixed.dist;
      litlen_mask = low_bits(fixed.litlen_root);
      dist_mask = low_bits(fixed.dist_root);
    } else if (block_type == 2) {  // dynamic code
      const unsigned litlen_count = (bitbuf & 31) + 257;
      const unsigned dist_count = ((bitbuf >> 5) & 31) + 1;
      const unsigned precode_count = ((bitbuf >> 10) & 15) + 4;
      consume(14);
      if (litlen_count > MAX_LITLEN_CODES || dist_count > MAX_DIST_CODES) return decline();
      static constexpr u8 PRECODE_ORDER[19] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                               11, 4,  12, 3, 13, 2, 14, 1, 15};
      u8 precode_lens[19] = {};
      for (unsigned i = 0; i < precode_count; ++i) {
        if (bitsleft < 3 && !refill()) return decline();
        precode_lens[PRECODE_ORDER[i]] = bitbuf & 7;
        consume(3);
      }
      unsigned precode_root;
      if (!build_table(precode_table_, PRECODE_TABLE_LENGTH, precode_lens, 19, SYMBOLS.precode,
                       PRECODE_ROOT_BITS, precode_root)) {
        return decline();
      }
      const unsigned total = litlen_count + dist_count;
      for (unsigned have = 0; have < total;) {
        if (bitsleft < 14 && !refill()) return decline();  // 7-bit code, 7 extra bits
        const u32 entry = precode_table_[bitbuf & low_bits(precode_root)];
        consume(entry & 0xff);
        const unsigned symbol = entry >> 16;
        if (symbol < 16) {
          lens_[have++] = static_cast<u8>(symbol);
          continue;
        }
        unsigned repeat;
        u8 value = 0;
        if (symbol == 16) {
          if (have == 0) return decline();
          value = lens_[have - 1];
          repeat = 3 + (bitbuf & 3);
          consume(2);
        } else if (symbol == 17) {
          repeat = 3 + (bitbuf & 7);
          consume(3);
        } else {
          repeat = 11 + (bitbuf & 127);
          consume(7);
        }
        if (repeat > total - have) return decline();
        std::memset(lens_ + have, value, repeat);
        have += repeat;
      }
      if (lens_[256] == 0) return decline();
      unsigned litlen_root, dist_root;
      if (!build_table(litlen_table_, LITLEN_TABLE_LENGTH, lens_, litlen_count, SYMBOLS.litlen,
                       LITLEN_ROOT_BITS, litlen_root) ||
          !build_table(dist_table_, DIST_TABLE_LENGTH, lens_ + litlen_count, dist_count,
                       SYMBOLS.dist, DIST_ROOT_BITS, dist_root)) {
        return decline();
      }
      litlen_mask = low_bits(litlen_root);
      dist_mask = low_bits(dist_root);
    } else {
      return decline();  // reserved block type
    }

    // Symbols of a Huffman block.  Every iteration starts with at least 56
    // bits: a length (15 + 5 bits) and a distance (15 + 13) fit.
    for (;;) {
      const bool fast =
          in_end - in_next >= FAST_INPUT_ROOM && out_end - out_next >= FAST_OUTPUT_ROOM;
      if (fast) {
        refill_fast();
      } else if (!refill()) {
        return decline();
      }
      u32 entry = litlen[bitbuf & litlen_mask];
      if (entry & ENTRY_EXCEPTIONAL) {
        if (entry & ENTRY_SUBTABLE) {
          consume(entry & 0xff);
          entry = litlen[(entry >> 16) + (bitbuf & low_bits((entry >> 8) & 0xf))];
        }
        if (entry & ENTRY_END_OF_BLOCK) {
          consume(entry & 0xff);
          break;
        }
        if (entry & ENTRY_INVALID) return decline();
      }
      if (entry & ENTRY_LITERAL) {
        if (fast) {
          // 56 bits hold three 15-bit codewords; the room check covers them.
          consume(entry & 0xff);
          *out_next++ = static_cast<u8>(entry >> 16);
          entry = litlen[bitbuf & litlen_mask];
          if (!(entry & ENTRY_LITERAL)) continue;
          consume(entry & 0xff);
          *out_next++ = static_cast<u8>(entry >> 16);
          entry = litlen[bitbuf & litlen_mask];
          if (!(entry & ENTRY_LITERAL)) continue;
          consume(entry & 0xff);
          *out_next++ = static_cast<u8>(entry >> 16);
          continue;
        }
        if (out_next == out_end && !make_room(1)) return decline();
        consume(entry & 0xff);
        *out_next++ = static_cast<u8>(entry >> 16);
        continue;
      }

      u64 saved = bitbuf;
      consume(entry & 0xff);
      const u32 length = ((entry >> 16) & 0x1ff) + static_cast<u32>(
                             (saved & low_bits(entry & 0xff)) >> ((entry >> 8) & 0xf));

      entry = dist[bitbuf & dist_mask];
      if (entry & ENTRY_EXCEPTIONAL) {
        if (entry & ENTRY_SUBTABLE) {
          consume(entry & 0xff);
          entry = dist[(entry >> 16) + (bitbuf & low_bits((entry >> 8) & 0xf))];
        }
        if (entry & ENTRY_INVALID) return decline();
      }
      saved = bitbuf;
      consume(entry & 0xff);
      const u32 offset = (entry >> 16) + static_cast<u32>(
                             (saved & low_bits(entry & 0xff)) >> ((entry >> 8) & 0xf));
      // zlib: "invalid distance too far back".
      if (offset > static_cast<std::size_t>(out_next - out_begin)) return decline();

      if (fast) {
        u8* dst = out_next;
        const u8* src = out_next - offset;
        u8* const stop = out_next + length;
        if (offset >= 8) {
          do {
            copy8(dst, src);
            dst += 8;
            src += 8;
          } while (dst < stop);
        } else if (offset == 1) {
          const u64 repeated = u64{*src} * 0x0101010101010101u;
          do {
            std::memcpy(dst, &repeated, 8);
            dst += 8;
          } while (dst < stop);
        } else {
          do {
            *dst++ = *src++;
          } while (dst < stop);
        }
        out_next = stop;
      } else {
        if (static_cast<std::size_t>(out_end - out_next) < length && !make_room(length)) {
          return decline();
        }
        const u8* src = out_next - offset;
        for (u32 i = 0; i < length; ++i) out_next[i] = src[i];
        out_next += length;
      }
    }
  } while (!final_block);

  // Adler-32 trailer, big-endian, right after the last block's byte.
  const u8* trailer = align();
  if (trailer == nullptr || in_end - trailer < 4) return decline();
  const u32 expected = load_u32be(trailer);
  const std::size_t produced = static_cast<std::size_t>(out_next - out_begin);
  if (libdeflate_adler32(1, out_begin, produced) != expected) return decline();
  output.commit(static_cast<std::uint64_t>(out_next - (output.data() + output.size())));
  return FastInflate::inflated;
}

}  // namespace native
