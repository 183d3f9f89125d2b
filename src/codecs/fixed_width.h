// Columns of fixed-width text records: `count` records of `width` bytes,
// back to back, each holding ASCII text that ends at its first NUL byte or
// fills the whole record.  They decode into the raw memory layout of NumPy's
// "<U{max_len}" type: per record a slot of max_len UCS-4 code points,
// 4 bytes little-endian each, zero after the record's text.
//
// Record i decodes as Python's
//   data[i*width:(i+1)*width].split(b"\x00")[0].decode("ascii", errors="replace")
// i.e. a byte below 0x80 is its own code point, any other byte is U+FFFD.
//
// Two passes: measure every record, then decode into an output sized by the
// longest record (never by `width`: wide fields are mostly padding).
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "codecs/decode_error.h"

namespace native {

// Bytes per decoded character: one UCS-4 code point.
inline constexpr std::uint64_t UCS4_CODE_POINT_SIZE = 4;
static_assert(UCS4_CODE_POINT_SIZE == sizeof(std::uint32_t));

struct FixedWidthLengths {
  // len_i per record: bytes before the record's first NUL, or `width` when
  // it holds none.  Empty when `width` is 0 (every len_i is 0 then).
  std::vector<std::uint64_t> lengths;
  // Largest len_i; 0 when there are no records or `width` is 0.
  std::uint64_t max_len;
};

// First pass.  `input` holds at least count * width bytes (the caller has
// checked; a shorter input is an InternalFault); bytes past them are never
// read, nor are the bytes after a record's first NUL.
//
// `lengths` is allocated once with room for exactly `count` entries (the
// error out_of_memory when that memory is not available).  With `width` 0 the
// routine reads nothing and allocates nothing: it returns an empty
// `lengths` and max_len 0 whatever `count` is, so a huge count with an
// empty input costs nothing.
DecodeResult<FixedWidthLengths> measure_fixed_width_records(
    std::span<const std::uint8_t> input, std::uint64_t width,
    std::uint64_t count);

// Second pass.  `lengths` and `max_len` are the first pass's result for the
// same `input` and `width`; the record count is lengths.size() (0 after a
// width-0 measure: nothing to write).  `output` is exactly
// lengths.size() * max_len * 4 bytes; its prior content does not matter.
//
// Writes every output byte: code point k of record i at byte offset
// (i * max_len + k) * 4, for k < len_i the input byte at i * width + k if
// below 0x80, else 0xFFFD, and 0 for len_i <= k < max_len, each as 4 bytes
// little-endian.  Only `lengths` decides what is read and written: if the
// input bytes changed since the first pass, the output holds their current
// values at the measured lengths, and no access leaves the records or the
// output.  Arguments that break these relations are an InternalFault,
// raised before any access out of range; the output then holds an
// undefined part of the records.
void decode_fixed_width_records_into(std::span<const std::uint8_t> input,
                                     std::uint64_t width,
                                     std::span<const std::uint64_t> lengths,
                                     std::uint64_t max_len,
                                     std::span<std::uint8_t> output);

// The same second pass with the plain per-byte loop that targets without a
// vector path use.  Exposed so that the tests can hold both paths to the
// same results on any machine.
void decode_fixed_width_records_into_portable(
    std::span<const std::uint8_t> input, std::uint64_t width,
    std::span<const std::uint64_t> lengths, std::uint64_t max_len,
    std::span<std::uint8_t> output);

}  // namespace native
