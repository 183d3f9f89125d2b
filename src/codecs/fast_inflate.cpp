// The table layout follows libdeflate's decompressor: one 32-bit entry per
// table index, whose low byte is the number of bits the entry consumes
// (codeword plus extra bits), so that one shift and one subtraction consume
// a symbol; literals flagged in the top bit, so the hot loop tests one bit.
// Subtables for codewords longer than the root follow the root, as in
// zlib's inflate_table, whose `enough` bounds give the table lengths.
#include "codecs/fast_inflate.h"

#include <libdeflate.h>

#include <algorithm>
#include <array>
#include <cstring>

#include "codecs/integers.h"

namespace native {

namespace {

using u8 = std::uint8_t;
using u16 = std::uint16_t;
using u32 = std::uint32_t;
using u64 = std::uint64_t;

// Decode table entries.  Every entry's low byte is the number of bits it
// consumes (codeword plus extra bits).  A literal entry holds its byte in
// bits 8-15 and, in a paired table with ENTRY_PAIR set, the byte of a
// second literal whose codeword follows within the root in bits 16-23.  Any
// other entry has the codeword length in bits 8-11 and its value from bit
// 16 up: a length or distance base, or for a subtable pointer its start
// index (and then bits 8-11 give the subtable's index width and the low
// byte the root width).
constexpr u32 ENTRY_LITERAL = 0x80000000u;
constexpr u32 ENTRY_PAIR = 0x01000000u;
constexpr u32 ENTRY_EXCEPTIONAL = 0x8000;  // subtable, end of block or invalid
constexpr u32 ENTRY_SUBTABLE = 0x4000;
constexpr u32 ENTRY_END_OF_BLOCK = 0x2000;
constexpr u32 ENTRY_INVALID = 0x1000;

constexpr unsigned LITLEN_ROOT_BITS = 11;
constexpr unsigned DIST_ROOT_BITS = 8;
constexpr unsigned PRECODE_ROOT_BITS = 7;
constexpr unsigned MAX_CODE_LENGTH = 15;
constexpr unsigned MAX_LENGTH_EXTRA_BITS = 5;
constexpr unsigned MAX_DIST_EXTRA_BITS = 13;
constexpr unsigned MAX_MATCH_LENGTH = 258;

// build_table notes the subtable width of each root prefix in a scratch
// array as wide as the widest root.
constexpr unsigned SCRATCH_ROOT_BITS = LITLEN_ROOT_BITS;
static_assert(DIST_ROOT_BITS <= SCRATCH_ROOT_BITS && PRECODE_ROOT_BITS <= SCRATCH_ROOT_BITS);

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
  for (u32 s = 0; s < 256; ++s) t.litlen[s] = ENTRY_LITERAL | (s << 8);
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
  if (symbol_entry & ENTRY_LITERAL) return symbol_entry + length;
  return symbol_entry + (length << 8) + length;
}

constexpr u64 low_bits(u32 count) { return (u64{1} << count) - 1; }

// The fields of an entry, each read one way by every loop.
// The bits the entry consumes: codeword plus extra bits, or for a subtable
// pointer the root's width.
inline u8 entry_bits(u32 entry) { return static_cast<u8>(entry); }
// A literal entry's byte, and the second one of a pair.
inline u8 literal_byte(u32 entry) { return static_cast<u8>(entry >> 8); }
inline u8 second_literal_byte(u32 entry) { return static_cast<u8>(entry >> 16); }
// The literal bytes an entry writes: one, or two for a pair.
inline unsigned literal_count(u32 entry) { return 1 + ((entry >> 24) & 1); }
// A length, distance or code-length entry's codeword length (the flags
// above it are clear in such entries; see below), and its value: the
// length or distance base, or the code-length symbol.
inline u8 codeword_bits(u32 entry) { return static_cast<u8>(entry >> 8); }
inline u32 entry_value(u32 entry) { return entry >> 16; }
// The value plus the extra bits after the codeword in `bits`, the buffer
// as it was before the entry was consumed.
inline u32 value_with_extra_bits(u32 entry, u64 bits) {
  return entry_value(entry) +
         static_cast<u32>((bits & low_bits(entry_bits(entry))) >> codeword_bits(entry));
}
// A subtable pointer's subtable index width and start index.
inline u32 subtable_bits(u32 entry) { return (entry >> 8) & 0xf; }
inline u32 subtable_start(u32 entry) { return entry >> 16; }

// codeword_bits() reads bits 8-15 whole: in length and distance entries of
// every codeword length, bits 12-15 (flags elsewhere) are clear, and the
// flags of literal and exceptional entries lie outside them.
constexpr bool value_entries_leave_flag_bits_clear() {
  for (u32 length = 1; length <= MAX_CODE_LENGTH; ++length) {
    for (u32 s = 257; s < 286; ++s) {
      if ((make_entry(SYMBOLS.litlen[s], length) >> 12) & 0xf) return false;
    }
    for (u32 s = 0; s < 30; ++s) {
      if ((make_entry(SYMBOLS.dist[s], length) >> 12) & 0xf) return false;
    }
  }
  return true;
}
static_assert(value_entries_leave_flag_bits_clear());
// Subtable starts are stored in 16 bits.
static_assert(FastInflater::LITLEN_TABLE_LENGTH <= 0x10000 &&
              FastInflater::DIST_TABLE_LENGTH <= 0x10000 &&
              FastInflater::PRECODE_TABLE_LENGTH <= 0x10000);

// Pairing literals pays where their codewords are short (text): when the
// literals of at most PAIRED_LITERAL_BITS bits fill at least a quarter of
// the root (CSV: about 40%; float grids and channels: under 2%), and the
// input left is long enough to repay the pass over the root (a small
// block's dynamic tables are not worth it).
constexpr unsigned PAIRED_LITERAL_BITS = 6;
#ifdef FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION
constexpr std::size_t PAIRING_MIN_INPUT = 0;  // the fuzzers' inputs are short: pair them too
#else
constexpr std::size_t PAIRING_MIN_INPUT = 32768;
#endif

bool pairing_pays(const u8* lens, unsigned root_bits, std::size_t input_left) {
  if (input_left < PAIRING_MIN_INPUT) return false;
  u32 short_slots = 0;
  for (unsigned s = 0; s < 256; ++s) {
    if (lens[s] != 0 && lens[s] <= PAIRED_LITERAL_BITS) short_slots += u32{1} << (root_bits - lens[s]);
  }
  return 4 * short_slots >= u32{1} << root_bits;
}

// Merges each root entry of a literal with the literal its remaining root
// bits decode to, where that codeword fits in them too: one lookup then
// writes two bytes.  In descending order, so that every second entry read
// (at index >> first length, below the index) is still a single one.
void pair_literals(u32* root, unsigned root_bits) {
  for (u32 index = u32{1} << root_bits; index-- > 0;) {
    const u32 first = root[index];
    if (!(first & ENTRY_LITERAL)) continue;
    const u32 first_bits = entry_bits(first);
    const u32 second = root[index >> first_bits];
    if (!(second & ENTRY_LITERAL) || entry_bits(second) > root_bits - first_bits) continue;
    root[index] = ENTRY_LITERAL | ENTRY_PAIR | (u32{literal_byte(second)} << 16) |
                  (u32{literal_byte(first)} << 8) | (first_bits + entry_bits(second));
  }
}

constexpr std::array<u8, 256> make_byte_reversal() {
  std::array<u8, 256> table{};
  for (unsigned b = 0; b < 256; ++b) {
    unsigned r = 0;
    for (unsigned i = 0; i < 8; ++i) r |= ((b >> i) & 1) << (7 - i);
    table[b] = static_cast<u8>(r);
  }
  return table;
}
constexpr std::array<u8, 256> BYTE_REVERSAL = make_byte_reversal();

// The low `length` bits of `code` in reverse order (length 1..15).
inline u32 reverse_bits(u32 code, u32 length) {
  const u32 reversed16 = (u32{BYTE_REVERSAL[code & 0xff]} << 8) | BYTE_REVERSAL[(code >> 8) & 0xff];
  return reversed16 >> (16 - length);
}

// Fills `table` for the canonical code of `lens` (bit-reversed lookup, as
// DEFLATE sends codewords).  False unless the lengths form a complete code:
// zlib rejects over-subscribed codes, rejects incomplete code-length codes,
// and takes incomplete length and distance codes only in degenerate forms
// that real encoders never write; those are left to zlib.
// The root index is `root` bits wide even where every codeword is shorter,
// so that the decoders mask with a constant.
template <unsigned root>
bool build_table(u32* table, std::size_t table_length, const u8* lens, unsigned symbol_count,
                 const u32* symbol_entries) {
  static_assert(root <= SCRATCH_ROOT_BITS, "sub_bits is too narrow for this root");
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
  const u32 root_size = u32{1} << root;

  // The used symbols by codeword length, in symbol order within a length:
  // canonical codeword order.
  u16 sorted[288];
  unsigned start[MAX_CODE_LENGTH + 2];
  start[1] = 0;
  for (unsigned len = 1; len <= MAX_CODE_LENGTH; ++len) start[len + 1] = start[len] + count[len];
  {
    unsigned next[MAX_CODE_LENGTH + 1];
    std::copy(start, start + MAX_CODE_LENGTH + 1, next);
    for (unsigned s = 0; s < symbol_count; ++s) {
      if (lens[s] != 0) sorted[next[lens[s]]++] = static_cast<u16>(s);
    }
  }

  // The root, one codeword length at a time: the first 2^len entries hold
  // every codeword up to len bits, each at its bit-reversed code; doubling
  // them then repeats the shorter ones where the next bit is free.  The
  // root fills with block copies instead of one strided store per entry.
  // Slots of longer codewords hold garbage until their turn.
  u32 code = 0;
  unsigned index = 0;
  for (unsigned len = 1; len <= root; ++len) {
    for (unsigned i = 0; i < count[len]; ++i, ++index) {
      table[reverse_bits(code++, len)] = make_entry(symbol_entries[sorted[index]], len);
    }
    code <<= 1;
    if (len < root) std::memcpy(table + (u32{1} << len), table, sizeof(u32) << len);
  }
  if (longest <= root) return true;

  // Longer codewords: note the widest subtable each root prefix needs,
  // then lay the subtables out one after another past the root, the root
  // entry of each prefix pointing at its own.
  u8 sub_bits[u32{1} << SCRATCH_ROOT_BITS];
  std::memset(sub_bits, 0, root_size);
  const u32 first_long_code = code;
  for (unsigned len = root + 1, i = index; len <= longest; ++len, code <<= 1) {
    for (unsigned n = 0; n < count[len]; ++n, ++i) {
      const u32 prefix = reverse_bits(code++, len) & (root_size - 1);
      sub_bits[prefix] = std::max<u8>(sub_bits[prefix], static_cast<u8>(len - root));
    }
  }
  std::size_t end = root_size;
  for (u32 prefix = 0; prefix < root_size; ++prefix) {
    if (sub_bits[prefix] == 0) continue;
    const u32 start = static_cast<u32>(end);
    end += std::size_t{1} << sub_bits[prefix];
    if (end > table_length) return false;  // beyond `enough`: not a complete code
    table[prefix] = (start << 16) | ENTRY_EXCEPTIONAL | ENTRY_SUBTABLE |
                    (u32{sub_bits[prefix]} << 8) | root;
  }
  code = first_long_code;
  for (unsigned len = root + 1; len <= longest; ++len, code <<= 1) {
    for (unsigned n = 0; n < count[len]; ++n, ++index) {
      const u32 reversed = reverse_bits(code++, len);
      const u32 prefix = reversed & (root_size - 1);
      const u32 start = subtable_start(table[prefix]);
      const u32 entry = make_entry(symbol_entries[sorted[index]], len - root);
      const u32 stop = start + (u32{1} << sub_bits[prefix]);
      for (u32 i = start + (reversed >> root); i < stop; i += u32{1} << (len - root)) {
        table[i] = entry;
      }
    }
  }
  return true;
}

// The fixed code's tables, built once, laid out as a FastInflater's.
struct FixedTables {
  u32 tables[FastInflater::TABLES_LENGTH];

  FixedTables() {
    u8 lens[288];
    std::fill(lens, lens + 144, 8);
    std::fill(lens + 144, lens + 256, 9);
    std::fill(lens + 256, lens + 280, 7);
    std::fill(lens + 280, lens + 288, 8);
    build_table<LITLEN_ROOT_BITS>(tables, FastInflater::LITLEN_TABLE_LENGTH, lens, 288,
                                  SYMBOLS.litlen);
    std::fill(lens, lens + 32, 5);
    build_table<DIST_ROOT_BITS>(tables + FastInflater::LITLEN_TABLE_LENGTH,
                                FastInflater::DIST_TABLE_LENGTH, lens, 32, SYMBOLS.dist);
  }
};

const FixedTables& fixed_tables() {
  static const FixedTables tables;
  return tables;
}

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
  const u32* const dist = block.tables + FastInflater::LITLEN_TABLE_LENGTH;
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

  const FixedTables& fixed = fixed_tables();
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
      if (length != (~complement & 0xffff)) return give_up(FastInflate::corrupt);
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
      block = {false, fixed.tables};
    } else if (block_type == 2) {  // dynamic code
      const unsigned litlen_count = (reader.bitbuf & 31) + 257;
      const unsigned dist_count = ((reader.bitbuf >> 5) & 31) + 1;
      const unsigned precode_count = ((reader.bitbuf >> 10) & 15) + 4;
      consume(reader, 14);
      if (litlen_count > MAX_LITLEN_CODES || dist_count > MAX_DIST_CODES) return decline();
      static constexpr u8 PRECODE_ORDER[19] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                               11, 4,  12, 3, 13, 2, 14, 1, 15};
      u8 precode_lens[19] = {};
      for (unsigned i = 0; i < precode_count; ++i) {
        if (reader.bitsleft < 3 && !refill(reader)) return incomplete();
        precode_lens[PRECODE_ORDER[i]] = reader.bitbuf & 7;
        consume(reader, 3);
      }
      if (!build_table<PRECODE_ROOT_BITS>(precode_table_, PRECODE_TABLE_LENGTH, precode_lens, 19,
                                          SYMBOLS.precode)) {
        return decline();
      }
      const unsigned total = litlen_count + dist_count;
      for (unsigned have = 0; have < total;) {
        if (reader.bitsleft < 14 && !refill(reader)) return incomplete();  // 7 + 7 extra bits
        const u32 entry = precode_table_[reader.bitbuf & low_bits(PRECODE_ROOT_BITS)];
        consume(reader, entry_bits(entry));
        const unsigned symbol = entry_value(entry);
        if (symbol < 16) {
          lens_[have++] = static_cast<u8>(symbol);
          continue;
        }
        unsigned repeat;
        u8 value = 0;
        if (symbol == 16) {  // zlib: "invalid bit length repeat" with nothing before
          if (have == 0) return decline();
          value = lens_[have - 1];
          repeat = 3 + (reader.bitbuf & 3);
          consume(reader, 2);
        } else if (symbol == 17) {
          repeat = 3 + (reader.bitbuf & 7);
          consume(reader, 3);
        } else {
          repeat = 11 + (reader.bitbuf & 127);
          consume(reader, 7);
        }
        if (repeat > total - have) return decline();  // zlib: repeat past the end
        std::memset(lens_ + have, value, repeat);
        have += repeat;
      }
      if (lens_[256] == 0) return decline();  // zlib: "missing end-of-block"
      if (!build_table<LITLEN_ROOT_BITS>(tables_, LITLEN_TABLE_LENGTH, lens_, litlen_count,
                                         SYMBOLS.litlen) ||
          !build_table<DIST_ROOT_BITS>(tables_ + LITLEN_TABLE_LENGTH, DIST_TABLE_LENGTH, lens_ + litlen_count,
                                       dist_count, SYMBOLS.dist)) {
        return decline();
      }
      const bool paired =
          pairing_pays(lens_, LITLEN_ROOT_BITS, static_cast<std::size_t>(reader.end - reader.next));
      if (paired) pair_literals(tables_, LITLEN_ROOT_BITS);
      block = {paired, tables_};
    } else {
      return decline();  // reserved block type
    }

    for (;;) {
      std::uint64_t wanted = 0;
      const BlockEnd end = block.paired ? decode_symbols<true>(reader, block, out, wanted)
                                        : decode_symbols<false>(reader, block, out, wanted);
      if (end == BlockEnd::end_of_block) break;
      if (end == BlockEnd::corrupt) return give_up(FastInflate::corrupt);
      if (end == BlockEnd::incomplete) return incomplete();
      if (end == BlockEnd::declined || !make_room(wanted)) return decline();
    }
  } while (!final_block);

  // Adler-32 trailer, big-endian, right after the last block's byte.
  const u8* trailer = align(reader);
  if (trailer == nullptr || reader.end - trailer < 4) return incomplete();
  const u32 expected = load_u32be(trailer);
  const std::size_t produced = static_cast<std::size_t>(out.next - out.begin);
  if (libdeflate_adler32(1, out.begin, produced) != expected) return give_up(FastInflate::corrupt);
  output.commit(static_cast<std::uint64_t>(out.next - (output.data() + output.size())));
  return FastInflate::inflated;
}

}  // namespace native
