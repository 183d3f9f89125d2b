#include "codecs/huffman_tables.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace native::huffman {

namespace {

using u16 = std::uint16_t;

// build_table notes the subtable width of each root prefix in a scratch
// array as wide as the widest root.
constexpr unsigned SCRATCH_ROOT_BITS = LITLEN_ROOT_BITS;
static_assert(DIST_ROOT_BITS <= SCRATCH_ROOT_BITS && PRECODE_ROOT_BITS <= SCRATCH_ROOT_BITS);

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
static_assert(LITLEN_TABLE_LENGTH <= 0x10000 && DIST_TABLE_LENGTH <= 0x10000 &&
              PRECODE_TABLE_LENGTH <= 0x10000);

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
    // A guard: a complete code (checked above) never needs more than
    // `enough`.
    if (end > table_length) return false;
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

}  // namespace

bool build_litlen_table(u32* table, const u8* lens, unsigned count) {
  return build_table<LITLEN_ROOT_BITS>(table, LITLEN_TABLE_LENGTH, lens, count, SYMBOLS.litlen);
}

bool build_dist_table(u32* table, const u8* lens, unsigned count) {
  return build_table<DIST_ROOT_BITS>(table, DIST_TABLE_LENGTH, lens, count, SYMBOLS.dist);
}

bool build_precode_table(u32* table, const u8* lens) {
  return build_table<PRECODE_ROOT_BITS>(table, PRECODE_TABLE_LENGTH, lens, 19, SYMBOLS.precode);
}

const u32* fixed_code_tables() {
  struct FixedTables {
    u32 tables[TABLES_LENGTH];
    FixedTables() {
      u8 lens[288];
      std::fill(lens, lens + 144, 8);
      std::fill(lens + 144, lens + 256, 9);
      std::fill(lens + 256, lens + 280, 7);
      std::fill(lens + 280, lens + 288, 8);
      build_litlen_table(tables, lens, 288);
      std::fill(lens, lens + 32, 5);
      build_dist_table(tables + LITLEN_TABLE_LENGTH, lens, 32);
    }
  };
  static const FixedTables fixed;
  return fixed.tables;
}

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

bool pairing_pays(const u8* lens, std::size_t input_left) {
  constexpr unsigned root_bits = LITLEN_ROOT_BITS;
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
void pair_literals(u32* root) {
  constexpr unsigned root_bits = LITLEN_ROOT_BITS;
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

}  // namespace native::huffman
