// Layouts of the fuzzers' inputs: a few parameter fields at the front, the
// data under test after them.  The harnesses read them with InputReader and
// the seed generator writes them with the append_* helpers, so both agree by
// construction.  All fields are little-endian; a field cut off by the end of
// the input reads as if the missing bytes were zero.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <memory>
#include <span>
#include <vector>

namespace native::fuzz {

class InputReader {
 public:
  explicit InputReader(std::span<const std::uint8_t> input) : input_(input) {}

  std::uint64_t take(unsigned bytes) {
    std::uint64_t value = 0;
    for (unsigned i = 0; i < bytes; ++i) {
      if (used_ < input_.size()) value |= std::uint64_t{input_[used_++]} << (8 * i);
    }
    return value;
  }
  std::uint8_t u8() { return static_cast<std::uint8_t>(take(1)); }
  std::uint16_t u16() { return static_cast<std::uint16_t>(take(2)); }
  std::uint32_t u32() { return static_cast<std::uint32_t>(take(4)); }
  std::uint64_t u64() { return take(8); }

  // Everything not taken yet.  It ends where the fuzzer's own copy of the
  // input ends, so a read past it is seen by the address sanitizer.
  std::span<const std::uint8_t> rest() const { return input_.subspan(used_); }

 private:
  std::span<const std::uint8_t> input_;
  std::size_t used_ = 0;
};

inline void append_le(std::vector<std::uint8_t>& out, std::uint64_t value, unsigned bytes) {
  for (unsigned i = 0; i < bytes; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

// A heap block of exactly `size` bytes: an output span placed in it has no
// slack after its end (nor before its start), so any write outside it is an
// address-sanitizer report.  Size 0 still gets a distinct allocation.
class ExactBuffer {
 public:
  explicit ExactBuffer(std::size_t size, std::uint8_t fill = 0)
      : data_(new std::uint8_t[size]), size_(size) {
    for (std::size_t i = 0; i < size; ++i) data_[i] = fill;
  }
  std::span<std::uint8_t> span() { return {data_.get(), size_}; }

 private:
  std::unique_ptr<std::uint8_t[]> data_;
  std::size_t size_;
};

// A broken invariant: report it and crash, so that libFuzzer keeps the input.
[[noreturn]] inline void fail(const char* what) {
  std::fprintf(stderr, "fuzz invariant broken: %s\n", what);
  std::abort();
}
#define FUZZ_CHECK(condition)                                                  \
  do {                                                                         \
    if (!(condition)) ::native::fuzz::fail(#condition " (" __FILE__ ")");       \
  } while (0)

// ------------------------------------------------------------------ layouts

// A growth limit, for the inflation harnesses' outputs: n from 1 to 7 makes
// the output refuse to grow past `base` bytes and (n - 1) eighths of
// `content` (the length zlib inflates), so that a growth is refused before
// or in the middle of the content; any other n sets no limit.
inline constexpr unsigned GROWTH_LIMIT_STEPS = 7;
inline std::uint64_t growth_limit(unsigned n, std::uint64_t base, std::uint64_t content) {
  if (n == 0 || n > GROWTH_LIMIT_STEPS) return UINT64_MAX;
  return base + content * (n - 1) / 8;
}

// lzrw1_fuzzer: u16 output length, u16 start, stream bytes.  A start with
// its top bit set stands for 2^64 - 1 - (low 15 bits), to reach read
// positions near the top of the 64-bit range.
struct Lzrw1Case {
  std::uint64_t output_length;
  std::uint64_t start;
  std::span<const std::uint8_t> input;
};
inline Lzrw1Case read_lzrw1_case(std::span<const std::uint8_t> data) {
  InputReader reader(data);
  Lzrw1Case c;
  c.output_length = reader.u16();
  const std::uint16_t start = reader.u16();
  c.start = (start & 0x8000u) ? UINT64_MAX - (start & 0x7FFFu) : start;
  c.input = reader.rest();
  return c;
}
inline void append_lzrw1_case_head(std::vector<std::uint8_t>& out, std::uint16_t output_length,
                                   std::uint16_t start) {
  append_le(out, output_length, 2);
  append_le(out, start, 2);
}

// speed_blob_fuzzer: i64 declared total, then the blob from its magic on.
struct SpeedCase {
  std::int64_t total;
  std::span<const std::uint8_t> blob;
};
inline SpeedCase read_speed_case(std::span<const std::uint8_t> data) {
  InputReader reader(data);
  SpeedCase c;
  c.total = static_cast<std::int64_t>(reader.u64());
  c.blob = reader.rest();
  return c;
}
inline void append_speed_case_head(std::vector<std::uint8_t>& out, std::int64_t total) {
  append_le(out, static_cast<std::uint64_t>(total), 8);
}

// zlib_stream_fuzzer: the input is the stream, with nothing in front; its
// length modulo 64 is the growth limit's n (bytes after the stream are
// ignored, so they set it without changing the stream).
inline constexpr unsigned ZLIB_STREAM_LIMIT_MODULUS = 64;

// fast_inflate_fuzzer: u8 mode, u8 level, u8 strategy, u8 memory level, u8
// flip count, u32 flip seed, u8 prefix length, then the data.  Mode bit 0
// clear: the data is content, deflated by zlib with those parameters and
// then damaged by the flips; set: the data is raw DEFLATE as it stands.
// Mode bits 1-2: the output's room before the call, beyond the prefix:
// 0 one byte, 1 exactly zlib's content, 2 that plus one, 3 that less one
// (the room a size hint gives; the decoder grows it when it must).  Mode
// bits 3-5: the growth limit's n, with the prefix and the room as its base.
enum class OutputRoom { one_byte, exact, exact_plus_one, exact_less_one };
struct FastInflateCase {
  bool raw;
  OutputRoom room;
  int level;     // 0..9
  int strategy;  // Z_DEFAULT_STRATEGY .. Z_FIXED
  int mem_level; // 1..9
  unsigned flips;
  std::uint32_t flip_seed;
  unsigned prefix;  // bytes already in the output vector
  unsigned growth_limit;
  std::span<const std::uint8_t> data;
};
inline FastInflateCase read_fast_inflate_case(std::span<const std::uint8_t> input) {
  InputReader reader(input);
  FastInflateCase c;
  const std::uint8_t mode = reader.u8();
  c.raw = mode & 1;
  c.room = static_cast<OutputRoom>((mode >> 1) & 3);
  c.growth_limit = (mode >> 3) & 7;
  c.level = reader.u8() % 10;
  c.strategy = reader.u8() % 5;
  c.mem_level = 1 + reader.u8() % 9;
  c.flips = reader.u8() % 8;
  c.flip_seed = reader.u32();
  c.prefix = reader.u8();
  c.data = reader.rest();
  return c;
}
inline void append_fast_inflate_case_head(std::vector<std::uint8_t>& out, bool raw, int level,
                                          int strategy, unsigned flips,
                                          std::uint32_t flip_seed,
                                          OutputRoom room = OutputRoom::one_byte,
                                          unsigned growth_limit = 0) {
  append_le(out, (raw ? 1u : 0u) | static_cast<unsigned>(room) << 1 | growth_limit << 3, 1);
  append_le(out, static_cast<std::uint64_t>(level), 1);
  append_le(out, static_cast<std::uint64_t>(strategy), 1);
  append_le(out, 7, 1);  // memory level 8
  append_le(out, flips, 1);
  append_le(out, flip_seed, 4);
  append_le(out, 3, 1);
}

// grid_blocks_fuzzer: u64 size hint, u8 location count (low 5 bits) and
// growth limit's n (high 3 bits, base 0), then per location a flag byte,
// u32 offset and u32 length, then the body.
// Flag bit 0 makes the offset 2^64 - 1 - offset, bit 1 the same for the
// length: ends that overflow or lie far out of range.
inline constexpr unsigned GRID_MAX_LOCATIONS = 31;
inline constexpr std::uint8_t GRID_FLAG_HIGH_OFFSET = 1;
inline constexpr std::uint8_t GRID_FLAG_HIGH_LENGTH = 2;
struct GridLocation {
  std::uint64_t offset;
  std::uint64_t length;
};
struct GridCase {
  std::uint64_t size_hint;
  unsigned growth_limit;
  std::vector<GridLocation> locations;
  std::span<const std::uint8_t> body;
};
inline GridCase read_grid_case(std::span<const std::uint8_t> data) {
  InputReader reader(data);
  GridCase c;
  c.size_hint = reader.u64();
  const std::uint8_t count_and_limit = reader.u8();
  const unsigned count = count_and_limit & GRID_MAX_LOCATIONS;
  c.growth_limit = count_and_limit >> 5;
  for (unsigned i = 0; i < count; ++i) {
    const std::uint8_t flags = reader.u8();
    std::uint64_t offset = reader.u32();
    std::uint64_t length = reader.u32();
    if (flags & GRID_FLAG_HIGH_OFFSET) offset = UINT64_MAX - offset;
    if (flags & GRID_FLAG_HIGH_LENGTH) length = UINT64_MAX - length;
    c.locations.push_back({offset, length});
  }
  c.body = reader.rest();
  return c;
}
inline void append_grid_case_head(std::vector<std::uint8_t>& out, std::uint64_t size_hint,
                                  std::span<const GridLocation> locations,
                                  unsigned growth_limit = 0) {
  append_le(out, size_hint, 8);
  append_le(out, locations.size() | growth_limit << 5, 1);
  for (const GridLocation& location : locations) {
    append_le(out, 0, 1);
    append_le(out, location.offset, 4);
    append_le(out, location.length, 4);
  }
}

// fixed_width_fuzzer: u16 width, u32 count, records.  With width 0 the
// count is taken as count * 2^32 + count, to reach counts far beyond any
// input; otherwise it is cut to the records the input holds, and the
// records are the last count * width bytes of the input.
struct FixedWidthCase {
  std::uint64_t width;
  std::uint64_t count;
  std::span<const std::uint8_t> records;  // exactly count * width bytes
};
inline FixedWidthCase read_fixed_width_case(std::span<const std::uint8_t> data) {
  InputReader reader(data);
  FixedWidthCase c;
  c.width = reader.u16();
  const std::uint64_t count = reader.u32();
  const std::span<const std::uint8_t> rest = reader.rest();
  if (c.width == 0) {
    c.count = count << 32 | count;
    c.records = rest.first(0);
  } else {
    c.count = std::min<std::uint64_t>(count, rest.size() / c.width);
    // The records end where the input ends, so that the sanitizer sees a
    // read past count * width.
    c.records = rest.last(c.count * c.width);
  }
  return c;
}
inline void append_fixed_width_case_head(std::vector<std::uint8_t>& out, std::uint16_t width,
                                         std::uint32_t count) {
  append_le(out, width, 2);
  append_le(out, count, 4);
}

}  // namespace native::fuzz
