#include "codecs/fixed_width.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <new>

#include "codecs/integers.h"
#include "codecs/internal_fault.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#define NATIVE_FIXED_WIDTH_SSE2 1
#endif

namespace native {
namespace {

constexpr std::uint32_t REPLACEMENT_CHARACTER = 0xFFFD;

// Bytes before the first NUL of [record, record + n), or n without one.
inline std::uint64_t scan_for_nul(const std::uint8_t* record, std::uint64_t n) {
  const void* nul = std::memchr(record, 0, n);
  return nul == nullptr
             ? n
             : static_cast<std::uint64_t>(static_cast<const std::uint8_t*>(nul) -
                                          record);
}

// ---------------------------------------------------------------- portable

// Branch-free: the byte itself below 0x80, else U+FFFD.
inline std::uint32_t code_point(std::uint8_t byte) {
  const std::uint32_t high_mask = 0u - static_cast<std::uint32_t>(byte >> 7);
  return byte ^ ((byte ^ REPLACEMENT_CHARACTER) & high_mask);
}

// Code points 0 .. n-1 of one record.
inline void decode_run_portable(const std::uint8_t* in, std::uint8_t* out,
                                std::size_t n) {
  for (std::size_t k = 0; k < n; ++k) {
    store_u32le(out + k * UCS4_CODE_POINT_SIZE, code_point(in[k]));
  }
}

// -------------------------------------------------------------------- SSE2

#if NATIVE_FIXED_WIDTH_SSE2

// Each code point is 0x000000bb or 0x0000FFFD: built as 16-bit units
// (low byte: the byte or 0xFD; high byte: 0x00 or 0xFF, which is exactly
// the "byte >= 0x80" mask), then widened with zeros.
inline __m128i high_byte_mask(__m128i bytes) {
  return _mm_cmplt_epi8(bytes, _mm_setzero_si128());  // signed: >= 0x80
}

inline __m128i low_unit_bytes(__m128i bytes, __m128i high) {
  return _mm_or_si128(_mm_andnot_si128(high, bytes),
                      _mm_and_si128(high, _mm_set1_epi8(static_cast<char>(0xFD))));
}

inline void store_units_as_code_points(__m128i units, std::uint8_t* out) {
  const __m128i zero = _mm_setzero_si128();
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out),
                   _mm_unpacklo_epi16(units, zero));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16),
                   _mm_unpackhi_epi16(units, zero));
}

// 16 bytes -> 64 output bytes.
inline void decode16(const std::uint8_t* in, std::uint8_t* out) {
  const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
  const __m128i high = high_byte_mask(bytes);
  const __m128i low = low_unit_bytes(bytes, high);
  store_units_as_code_points(_mm_unpacklo_epi8(low, high), out);
  store_units_as_code_points(_mm_unpackhi_epi8(low, high), out + 32);
}

// 8 bytes -> 32 output bytes.
inline void decode8(const std::uint8_t* in, std::uint8_t* out) {
  const __m128i bytes = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(in));
  const __m128i high = high_byte_mask(bytes);
  store_units_as_code_points(
      _mm_unpacklo_epi8(low_unit_bytes(bytes, high), high), out);
}

// 4 bytes -> 16 output bytes.
inline void decode4(const std::uint8_t* in, std::uint8_t* out) {
  std::int32_t word;
  std::memcpy(&word, in, sizeof word);
  const __m128i bytes = _mm_cvtsi32_si128(word);
  const __m128i high = high_byte_mask(bytes);
  const __m128i units = _mm_unpacklo_epi8(low_unit_bytes(bytes, high), high);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out),
                   _mm_unpacklo_epi16(units, _mm_setzero_si128()));
}

// Code points 0 .. n-1 of one record.  Tails are covered by a second block
// that overlaps the previous one and ends at n: it rewrites the same values
// and never reads or writes past position n - 1, so no per-byte loop.
inline void decode_run_sse2(const std::uint8_t* in, std::uint8_t* out,
                            std::size_t n) {
  if (n >= 16) {
    std::size_t k = 0;
    for (; n - k >= 16; k += 16) {
      decode16(in + k, out + k * UCS4_CODE_POINT_SIZE);
    }
    if (k < n) {
      decode16(in + (n - 16), out + (n - 16) * UCS4_CODE_POINT_SIZE);
    }
  } else if (n >= 8) {
    decode8(in, out);
    decode8(in + (n - 8), out + (n - 8) * UCS4_CODE_POINT_SIZE);
  } else if (n >= 4) {
    decode4(in, out);
    decode4(in + (n - 4), out + (n - 4) * UCS4_CODE_POINT_SIZE);
  } else if (n > 0) {
    // Positions 0, n/2 and n-1 cover every n of 1 to 3.
    store_u32le(out, code_point(in[0]));
    store_u32le(out + (n / 2) * UCS4_CODE_POINT_SIZE, code_point(in[n / 2]));
    store_u32le(out + (n - 1) * UCS4_CODE_POINT_SIZE, code_point(in[n - 1]));
  }
}

// Zeros over bytes [from, size) of a slot, before its text is written:
// 16-byte stores, the last one ending at the slot's end and so possibly
// reaching back over text bytes that the decode writes afterwards.  Never
// past the slot.
inline void zero_tail_sse2(std::uint8_t* slot, std::size_t from, std::size_t size) {
  if (from >= size) return;
  if (size < 16) {
    std::memset(slot + from, 0, size - from);
    return;
  }
  const __m128i zero = _mm_setzero_si128();
  for (; size - from > 16; from += 16) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(slot + from), zero);
  }
  _mm_storeu_si128(reinterpret_cast<__m128i*>(slot + size - 16), zero);
}

// Bit j set where byte j of the 16 bytes at `in` is NUL.
inline std::uint32_t nul_mask16(const std::uint8_t* in) {
  const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
  return static_cast<std::uint32_t>(
      _mm_movemask_epi8(_mm_cmpeq_epi8(bytes, _mm_setzero_si128())));
}

#endif  // NATIVE_FIXED_WIDTH_SSE2

// -------------------------------------------------------------- both passes

// Writes every byte of `output`: the code points of each record, and zeros
// to the end of its slot (written first, as the SSE2 stores may overlap).  Where slots are as wide as records
// (max_len == width), records that fill their width lie side by side in
// both spans and are decoded as one run.
//
// Only `lengths` bounds what is read and written; the input bytes decide
// nothing but the values written.  So input that changed after the first
// pass (another thread writing to it) still gives writes inside `output` and
// reads inside the records: a NUL that appeared in a measured record is
// decoded as U+0000, a NUL that went away leaves its record at the measured
// length.
template <class DecodeRun, class ZeroTail>
void decode_records(std::span<const std::uint8_t> input, std::uint64_t width,
                    std::span<const std::uint64_t> lengths,
                    std::uint64_t max_len, std::span<std::uint8_t> output,
                    DecodeRun decode_run, ZeroTail zero_tail) {
  const std::uint64_t count = lengths.size();
  if (width != 0 && count > input.size() / width) {
    internal_fault("decode_fixed_width_records_into: input shorter than count * width");
  }
  const std::uint64_t slot_size = checked_size_product(max_len, UCS4_CODE_POINT_SIZE);
  if (checked_size_product(count, slot_size) != output.size()) {
    internal_fault("decode_fixed_width_records_into: output size is not count * max_len * 4");
  }
  // Every len_i <= min(width, max_len) keeps the reads inside the record
  // and the writes inside its slot.
  const std::uint64_t len_bound = std::min(width, max_len);
  const bool full_records_adjoin = max_len == width;
  const std::uint8_t* record = input.data();
  std::uint8_t* slot = output.data();
  for (std::uint64_t i = 0; i < count;) {
    const std::uint64_t len = lengths[i];
    if (len > len_bound) {
      internal_fault("decode_fixed_width_records_into: record length out of range");
    }
    std::uint64_t records = 1;
    if (full_records_adjoin && len == width) {
      while (i + records < count && lengths[i + records] == width) ++records;
      decode_run(record, slot, static_cast<std::size_t>(records * width));
    } else {
      zero_tail(slot, static_cast<std::size_t>(len * UCS4_CODE_POINT_SIZE),
                static_cast<std::size_t>(slot_size));
      decode_run(record, slot, static_cast<std::size_t>(len));
    }
    // Both stay within (or one past) their spans: count * width bytes of
    // input and count * slot_size of output exist.
    i += records;
    record += records * width;
    slot += records * slot_size;
  }
}

}  // namespace

DecodeResult<FixedWidthLengths> measure_fixed_width_records(
    std::span<const std::uint8_t> input, std::uint64_t width,
    std::uint64_t count) {
  FixedWidthLengths result{{}, 0};
  // Width 0: every record is empty; nothing to read and nothing worth
  // storing, whatever the count.
  if (width == 0 || count == 0) {
    return result;
  }
  if (count > input.size() / width) {
    internal_fault("measure_fixed_width_records: input shorter than count * width");
  }
  // One allocation of exactly count entries; the product guards its size.
  try {
    result.lengths.reserve(checked_size_product(count, sizeof(std::uint64_t)) /
                           sizeof(std::uint64_t));
  } catch (const std::bad_alloc&) {
    return out_of_memory(Codec::fixed_width);
  }

  const std::uint8_t* record = input.data();
  std::uint64_t max_len = 0;
  // Stores len_i; the reservation above makes push_back never allocate.
  const auto measured = [&](std::uint64_t len) {
    result.lengths.push_back(len);
    max_len = std::max(max_len, len);
  };
  std::uint64_t i = 0;
#if NATIVE_FIXED_WIDTH_SSE2
  // Most records end within their first 16 bytes, found by one compare.
  // The 16-byte load may cover bytes of the following records (only their
  // own scan uses them); it is used while 16 bytes remain before
  // count * width, and memchr takes the rest.
  const std::uint64_t needed = count * width;  // <= input.size(): checked
  const std::uint64_t fast_records =
      needed < 16 ? 0 : std::min(count, (needed - 16) / width + 1);
  if (width <= 16) {
    // The bit at position `width` stands for "no NUL in the record".
    const std::uint32_t record_end = std::uint32_t{1} << width;
    for (; i < fast_records; ++i, record += width) {
      measured(static_cast<std::uint64_t>(__builtin_ctz(nul_mask16(record) | record_end)));
    }
  } else {
    for (; i < fast_records; ++i, record += width) {
      const std::uint32_t mask = nul_mask16(record);
      measured(mask != 0 ? static_cast<std::uint64_t>(__builtin_ctz(mask))
                         : 16 + scan_for_nul(record + 16, width - 16));
    }
  }
#endif
  for (; i < count; ++i, record += width) {
    measured(scan_for_nul(record, width));
  }
  result.max_len = max_len;
  return result;
}

void decode_fixed_width_records_into(std::span<const std::uint8_t> input,
                                     std::uint64_t width,
                                     std::span<const std::uint64_t> lengths,
                                     std::uint64_t max_len,
                                     std::span<std::uint8_t> output) {
#if NATIVE_FIXED_WIDTH_SSE2
  decode_records(input, width, lengths, max_len, output,
                 [](const std::uint8_t* in, std::uint8_t* out, std::size_t n) {
                   decode_run_sse2(in, out, n);
                 },
                 zero_tail_sse2);
#else
  decode_fixed_width_records_into_portable(input, width, lengths, max_len,
                                           output);
#endif
}

void decode_fixed_width_records_into_portable(
    std::span<const std::uint8_t> input, std::uint64_t width,
    std::span<const std::uint64_t> lengths, std::uint64_t max_len,
    std::span<std::uint8_t> output) {
  decode_records(input, width, lengths, max_len, output,
                 [](const std::uint8_t* in, std::uint8_t* out, std::size_t n) {
                   decode_run_portable(in, out, n);
                 },
                 [](std::uint8_t* slot, std::size_t from, std::size_t size) {
                   if (from < size) std::memset(slot + from, 0, size - from);
                 });
}

}  // namespace native
