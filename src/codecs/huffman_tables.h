// The fast inflater's decode tables: the entry format its loops read, and
// the builders that fill the tables from a block's code lengths.
//
// The layout follows libdeflate's decompressor: one 32-bit entry per table
// index, whose low byte is the number of bits the entry consumes (codeword
// plus extra bits), so that one shift and one subtraction consume a symbol;
// literals flagged in the top bit, so the hot loop tests one bit.  Subtables
// for codewords longer than the root follow the root, as in zlib's
// inflate_table, whose `enough` bounds give the table lengths.
#pragma once

#include <cstddef>
#include <cstdint>

namespace native::huffman {

using u8 = std::uint8_t;
using u32 = std::uint32_t;
using u64 = std::uint64_t;

// Root index widths, and the longest table any complete code needs with
// them: zlib's `enough` program for 286 length/literal symbols with an
// 11-bit root, 30 distance symbols with an 8-bit root, codewords of at most
// 15 bits (`enough 286 11 15`, `enough 30 8 15`).  Change a root, rerun it.
inline constexpr unsigned LITLEN_ROOT_BITS = 11;
inline constexpr unsigned DIST_ROOT_BITS = 8;
inline constexpr unsigned PRECODE_ROOT_BITS = 7;
inline constexpr std::size_t LITLEN_TABLE_LENGTH = 2342;
inline constexpr std::size_t DIST_TABLE_LENGTH = 402;
static_assert(LITLEN_ROOT_BITS == 11 && LITLEN_TABLE_LENGTH == 2342);
static_assert(DIST_ROOT_BITS == 8 && DIST_TABLE_LENGTH == 402);
// A code-length code has no subtables: at most 7 bits, all in the root.
inline constexpr std::size_t PRECODE_TABLE_LENGTH = std::size_t{1} << PRECODE_ROOT_BITS;
// The length/literal table, then the distance table, behind one pointer.
inline constexpr std::size_t TABLES_LENGTH = LITLEN_TABLE_LENGTH + DIST_TABLE_LENGTH;

inline constexpr unsigned MAX_CODE_LENGTH = 15;
inline constexpr unsigned MAX_LENGTH_EXTRA_BITS = 5;
inline constexpr unsigned MAX_DIST_EXTRA_BITS = 13;

// Entries.  A literal entry holds its byte in bits 8-15 and, in a paired
// table with ENTRY_PAIR set, the byte of a second literal whose codeword
// follows within the root in bits 16-23.  Any other entry has the codeword
// length in bits 8-11 and its value from bit 16 up: a length or distance
// base, a code-length symbol, or for a subtable pointer its start index
// (and then bits 8-11 give the subtable's index width and the low byte the
// root width).
inline constexpr u32 ENTRY_LITERAL = 0x80000000u;
inline constexpr u32 ENTRY_PAIR = 0x01000000u;
inline constexpr u32 ENTRY_EXCEPTIONAL = 0x8000;  // subtable, end of block or invalid
inline constexpr u32 ENTRY_SUBTABLE = 0x4000;
inline constexpr u32 ENTRY_END_OF_BLOCK = 0x2000;
inline constexpr u32 ENTRY_INVALID = 0x1000;

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
// above it are clear in such entries, as huffman_tables.cpp checks), and
// its value: the length or distance base, or the code-length symbol.
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

// The builders fill a table for the canonical code of `lens` (bit-reversed
// lookup, as DEFLATE sends codewords), each root at its full width, so that
// the decoders mask with a constant.  False unless the lengths form a
// complete code: zlib rejects over-subscribed codes, rejects incomplete
// code-length codes, and takes incomplete length and distance codes only in
// degenerate forms that real encoders never write; those are left to zlib.
//
// LITLEN_TABLE_LENGTH entries for at most 286 lengths (the fixed code's
// 288 too: 286 and 287 decode as invalid).
bool build_litlen_table(u32* table, const u8* lens, unsigned count);
// DIST_TABLE_LENGTH entries for at most 30 lengths (the fixed code's 32:
// 30 and 31 decode as invalid).
bool build_dist_table(u32* table, const u8* lens, unsigned count);
// PRECODE_TABLE_LENGTH entries for the 19 code-length code lengths.
bool build_precode_table(u32* table, const u8* lens);

// The fixed code's tables, built once: TABLES_LENGTH entries laid out as a
// FastInflater's own.
const u32* fixed_code_tables();

// Whether pairing literals pays for these length/literal code lengths, with
// `input_left` input bytes to go; and the pairing itself, in place, on a
// root built from them.
bool pairing_pays(const u8* lens, std::size_t input_left);
void pair_literals(u32* litlen_root);

}  // namespace native::huffman
