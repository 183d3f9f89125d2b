#include "codecs/fixed_width.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <new>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "codecs/internal_fault.h"
#include "reference/fixed_width.h"

// Counts every allocation of this program, so that a test can show that a
// call allocated nothing.
namespace {
std::atomic<std::uint64_t> allocation_count{0};
// While set, every allocation of this program fails.
std::atomic<bool> refuse_allocations{false};
}  // namespace

// GCC takes the free() in the replaced delete for a mismatch with new.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t size) {
  allocation_count.fetch_add(1, std::memory_order_relaxed);
  if (refuse_allocations.load(std::memory_order_relaxed)) throw std::bad_alloc();
  if (void* block = std::malloc(size == 0 ? 1 : size)) {
    return block;
  }
  throw std::bad_alloc();
}
void operator delete(void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
#pragma GCC diagnostic pop

namespace {

using Bytes = std::vector<std::uint8_t>;
using native::decode_fixed_width_records_into;
using native::decode_fixed_width_records_into_portable;
using native::measure_fixed_width_records;

using DecodeFunction = void (*)(std::span<const std::uint8_t>, std::uint64_t,
                                std::span<const std::uint64_t>, std::uint64_t,
                                std::span<std::uint8_t>);

Bytes bytes_of(const std::string& text) { return Bytes(text.begin(), text.end()); }

// The first pass, which must succeed here.
native::FixedWidthLengths measure(std::span<const std::uint8_t> input, std::uint64_t width,
                                  std::uint64_t count) {
  auto measured = measure_fixed_width_records(input, width, count);
  EXPECT_TRUE(measured.has_value());
  return measured ? std::move(*measured) : native::FixedWidthLengths{{}, 0};
}

using Reference = native::reference::FixedWidthDecoded;

Reference reference_decode(const Bytes& input, std::uint64_t width, std::uint64_t count) {
  return native::reference::reference_fixed_width(input, width, count);
}

// Output of one decode, in an exact-size vector (an overrun is caught by
// ASan) that lies between two guard regions checked afterwards.
constexpr std::size_t GUARD = 64;
constexpr std::uint8_t GUARD_BYTE = 0xA5;

Bytes run_decode(DecodeFunction decode, const Bytes& input, std::uint64_t width,
                 const std::vector<std::uint64_t>& lengths, std::uint64_t max_len,
                 std::uint8_t fill = 0) {
  const std::size_t size = lengths.size() * max_len * 4;
  Bytes guarded(GUARD, GUARD_BYTE);
  guarded.resize(GUARD + size, fill);
  guarded.resize(GUARD + size + GUARD, GUARD_BYTE);
  Bytes exact(guarded.begin() + GUARD, guarded.begin() + GUARD + size);
  decode(input, width, lengths, max_len, exact);
  // The same call again on the guarded copy, for writes just past either end
  // that ASan is not running to see.
  std::span<std::uint8_t> inner(guarded.data() + GUARD, size);
  decode(input, width, lengths, max_len, inner);
  for (std::size_t j = 0; j < GUARD; ++j) {
    EXPECT_EQ(guarded[j], GUARD_BYTE) << "write before the output at -" << GUARD - j;
    EXPECT_EQ(guarded[GUARD + size + j], GUARD_BYTE) << "write past the output at +" << j;
  }
  EXPECT_EQ(Bytes(guarded.begin() + GUARD, guarded.begin() + GUARD + size), exact);
  return exact;
}

const DecodeFunction DECODERS[] = {decode_fixed_width_records_into,
                                   decode_fixed_width_records_into_portable};

class EachDecoder : public ::testing::TestWithParam<DecodeFunction> {};

INSTANTIATE_TEST_SUITE_P(FixedWidth, EachDecoder, ::testing::ValuesIn(DECODERS),
                         [](const auto& info) {
                           return std::string(info.index == 0 ? "dispatched" : "portable");
                         });

// Measures and decodes `input` (copied into an exact-size vector of count *
// width bytes, so a read past it is caught by ASan) and compares everything
// with the reference.
void expect_matches_reference(DecodeFunction decode, const Bytes& input,
                              std::uint64_t width, std::uint64_t count) {
  const Bytes exact(input.begin(), input.begin() + width * count);
  const Reference ref = reference_decode(exact, width, count);
  const native::FixedWidthLengths measured =
      measure(exact, width, count);
  ASSERT_EQ(measured.max_len, ref.max_len);
  if (width == 0) {
    EXPECT_TRUE(measured.lengths.empty());
  } else {
    ASSERT_EQ(measured.lengths, ref.lengths);
  }
  // Prior output content is garbage: every byte must be written.
  EXPECT_EQ(run_decode(decode, exact, width, measured.lengths, measured.max_len, 0xEE),
            ref.output);
}

// ------------------------------------------------------------ worked examples

TEST_P(EachDecoder, TwoNamesOfDifferentLength) {
  const Bytes input = bytes_of(std::string("L1\0\0L100", 8));
  const auto measured = measure(input, 4, 2);
  EXPECT_EQ(measured.lengths, (std::vector<std::uint64_t>{2, 4}));
  EXPECT_EQ(measured.max_len, 4u);
  const Bytes expected = {0x4C, 0, 0, 0, 0x31, 0, 0, 0, 0,    0, 0, 0, 0,    0, 0, 0,
                          0x4C, 0, 0, 0, 0x31, 0, 0, 0, 0x30, 0, 0, 0, 0x30, 0, 0, 0};
  EXPECT_EQ(run_decode(GetParam(), input, 4, measured.lengths, measured.max_len),
            expected);
}

TEST_P(EachDecoder, BytesAfterNulIgnoredAndHighBytesReplaced) {
  const Bytes input = {'a', 0x00, 'b', 0xFF, 0xFE, 0x00};
  const auto measured = measure(input, 3, 2);
  EXPECT_EQ(measured.lengths, (std::vector<std::uint64_t>{1, 2}));
  EXPECT_EQ(measured.max_len, 2u);
  const Bytes expected = {0x61, 0, 0, 0, 0, 0, 0, 0, 0xFD, 0xFF, 0, 0, 0xFD, 0xFF, 0, 0};
  EXPECT_EQ(run_decode(GetParam(), input, 3, measured.lengths, measured.max_len),
            expected);
}

// -------------------------------------------------------------- empty columns

TEST(FixedWidthMeasure, NoRecords) {
  for (const Bytes& input : {Bytes{}, bytes_of("abcdef")}) {
    for (const std::uint64_t width : {0ull, 1ull, 3ull, 1ull << 40}) {
      const auto measured = measure(input, width, 0);
      EXPECT_TRUE(measured.lengths.empty());
      EXPECT_EQ(measured.max_len, 0u);
    }
  }
}

TEST(FixedWidthMeasure, WidthZeroWithHugeCountReadsAndAllocatesNothing) {
  const std::uint64_t counts[] = {1, 1000, std::uint64_t{1} << 40,
                                  std::numeric_limits<std::uint64_t>::max()};
  for (const std::uint64_t count : counts) {
    const std::uint64_t before = allocation_count.load();
    const auto measured =
        measure(std::span<const std::uint8_t>(), 0, count);
    EXPECT_EQ(allocation_count.load(), before) << "count " << count;
    EXPECT_EQ(measured.lengths.capacity(), 0u);
    EXPECT_EQ(measured.max_len, 0u);
    // Decoding what it measured writes nothing into an empty output.
    decode_fixed_width_records_into({}, 0, measured.lengths, measured.max_len, {});
    EXPECT_EQ(allocation_count.load(), before);
  }
}

TEST_P(EachDecoder, WidthZeroWithStoredLengths) {
  // Lengths kept for every record (all 0) are accepted as well.
  const std::vector<std::uint64_t> lengths(5, 0);
  EXPECT_TRUE(run_decode(GetParam(), Bytes{}, 0, lengths, 0).empty());
}

TEST_P(EachDecoder, RecordsThatStartWithNul) {
  const Bytes input = bytes_of(std::string("\0abc\0\0\0\0\0xyz", 12));
  const auto measured = measure(input, 4, 3);
  EXPECT_EQ(measured.lengths, (std::vector<std::uint64_t>{0, 0, 0}));
  EXPECT_EQ(measured.max_len, 0u);
  EXPECT_TRUE(run_decode(GetParam(), input, 4, measured.lengths, 0).empty());
}

// --------------------------------------------------------------- byte values

TEST_P(EachDecoder, EveryByteValueAsOneByteRecord) {
  Bytes input(256);
  for (int v = 0; v < 256; ++v) {
    input[v] = static_cast<std::uint8_t>(v);
  }
  const auto measured = measure(input, 1, 256);
  ASSERT_EQ(measured.max_len, 1u);
  EXPECT_EQ(measured.lengths[0], 0u);  // the NUL record is empty
  const Bytes out = run_decode(GetParam(), input, 1, measured.lengths, 1);
  ASSERT_EQ(out.size(), 256u * 4);
  for (int v = 0; v < 256; ++v) {
    const std::uint32_t cp = out[v * 4] | out[v * 4 + 1] << 8 | out[v * 4 + 2] << 16 |
                             static_cast<std::uint32_t>(out[v * 4 + 3]) << 24;
    EXPECT_EQ(cp, v < 0x80 ? static_cast<std::uint32_t>(v) : 0xFFFDu) << "byte " << v;
  }
}

TEST_P(EachDecoder, EveryNonNulByteAtEveryLaneOfLongRecords) {
  // 255 distinct bytes rotated through every start position, so each byte
  // value meets every vector lane and every tail size.
  for (std::uint64_t width : {255ull, 256ull, 270ull}) {
    Bytes input;
    const std::uint64_t count = 40;
    for (std::uint64_t i = 0; i < count; ++i) {
      for (std::uint64_t k = 0; k < width; ++k) {
        input.push_back(static_cast<std::uint8_t>(1 + (i + k) % 255));
      }
    }
    expect_matches_reference(GetParam(), input, width, count);
  }
}

// -------------------------------------------------------------- NUL positions

TEST_P(EachDecoder, NulAtEveryPosition) {
  // Record p has its first NUL at p (the last has none); the bytes after the
  // NUL are ASCII and high bytes that must not show.
  for (std::uint64_t width : {1ull, 2ull, 3ull, 4ull, 7ull, 8ull, 15ull, 16ull, 17ull,
                              31ull, 32ull, 33ull, 63ull, 64ull, 65ull, 100ull}) {
    Bytes input;
    for (std::uint64_t p = 0; p <= width; ++p) {
      for (std::uint64_t k = 0; k < width; ++k) {
        input.push_back(k < p ? static_cast<std::uint8_t>('A' + k % 26)
                        : k == p ? 0x00
                                 : static_cast<std::uint8_t>(k % 2 ? 0xFF : 'z'));
      }
    }
    const std::uint64_t count = width + 1;
    const auto measured = measure(input, width, count);
    ASSERT_EQ(measured.lengths.size(), count);
    for (std::uint64_t p = 0; p <= width; ++p) {
      EXPECT_EQ(measured.lengths[p], p) << "width " << width;
    }
    EXPECT_EQ(measured.max_len, width);
    expect_matches_reference(GetParam(), input, width, count);
  }
}

TEST(FixedWidthMeasure, SecondNulDoesNotCount) {
  const Bytes input = bytes_of(std::string("ab\0cd\0ef", 8));
  const auto measured = measure(input, 8, 1);
  EXPECT_EQ(measured.lengths, (std::vector<std::uint64_t>{2}));
}

// ------------------------------------------------ vector-width boundaries

TEST_P(EachDecoder, EveryLengthUpTo70) {
  // One column per width: records of every length 0..width, full records
  // included, with mixed ASCII and high bytes.
  std::mt19937_64 rng(70);
  for (std::uint64_t width = 1; width <= 70; ++width) {
    Bytes input;
    const std::uint64_t count = width + 1;
    for (std::uint64_t len = 0; len <= width; ++len) {
      for (std::uint64_t k = 0; k < width; ++k) {
        const auto byte = static_cast<std::uint8_t>(1 + rng() % 255);
        input.push_back(k < len ? byte : k == len ? 0 : byte);
      }
    }
    expect_matches_reference(GetParam(), input, width, count);
  }
}

TEST_P(EachDecoder, OneRecordOfEachLength) {
  // A single record of width == len: slot and input both end with the text,
  // so any overlapping block at the tail must stay inside both.
  std::mt19937_64 rng(71);
  for (std::uint64_t len = 1; len <= 70; ++len) {
    Bytes input(len);
    for (auto& byte : input) {
      byte = static_cast<std::uint8_t>(1 + rng() % 255);
    }
    expect_matches_reference(GetParam(), input, len, 1);
  }
}

TEST_P(EachDecoder, PaddingIsWrittenAsZero) {
  // The output's prior content does not matter: filled with 0xEE here, every
  // position at or past a record's length must become zero.
  const Bytes input = bytes_of(std::string("abcdefghijklmnopqrstuvwxyz0123\0\0"
                                           "a\0zzzzzzzzzzzzzzzzzzzzzzzzzzzzzz"
                                           "\0zzzzzzzzzzzzzzzzzzzzzzzzzzzzzzz"
                                           "abcdefghijklmnop\0zzzzzzzzzzzzzzz",
                                           128));
  const auto measured = measure(input, 32, 4);
  ASSERT_EQ(measured.lengths, (std::vector<std::uint64_t>{30, 1, 0, 16}));
  const Bytes out =
      run_decode(GetParam(), input, 32, measured.lengths, measured.max_len, 0xEE);
  for (std::size_t i = 0; i < 4; ++i) {
    for (std::uint64_t k = 0; k < measured.max_len; ++k) {
      const std::uint8_t* cp = &out[(i * measured.max_len + k) * 4];
      if (k < measured.lengths[i]) {
        EXPECT_EQ(cp[0], input[i * 32 + k]);
        EXPECT_EQ(cp[1] | cp[2] | cp[3], 0);
      } else {
        EXPECT_TRUE(cp[0] == 0 && cp[1] == 0 && cp[2] == 0 && cp[3] == 0)
            << "record " << i << " position " << k;
      }
    }
  }
}

// -------------------------------------------- input changed between passes

// What the second pass must give for `input` decoded at the `lengths`
// measured on an earlier state of it: the current bytes at those lengths
// (a NUL decoded as U+0000), zeros after.
Bytes decoded_at_lengths(const Bytes& input, std::uint64_t width,
                         const std::vector<std::uint64_t>& lengths, std::uint64_t max_len) {
  Bytes out(lengths.size() * max_len * 4, 0);
  for (std::size_t i = 0; i < lengths.size(); ++i) {
    for (std::uint64_t k = 0; k < lengths[i]; ++k) {
      const std::uint8_t byte = input[i * width + k];
      const std::uint32_t cp = byte < 0x80 ? byte : 0xFFFD;
      for (int b = 0; b < 4; ++b) out[(i * max_len + k) * 4 + b] = static_cast<std::uint8_t>(cp >> (8 * b));
    }
  }
  return out;
}

TEST_P(EachDecoder, InputChangedBetweenThePasses) {
  // Another thread may write to the column between measuring and decoding:
  // NULs appear in measured records, NULs go away, anything changes.  The
  // decode stays inside the records and the output (exact-size spans and
  // guards, under ASan) and writes the current bytes at the measured
  // lengths.
  std::mt19937_64 rng(2024);
  for (const std::uint64_t width : {1u, 3u, 7u, 16u, 17u, 40u, 64u}) {
    for (int round = 0; round < 40; ++round) {
      const std::uint64_t count = 1 + rng() % 60;
      Bytes before(count * width);
      for (auto& byte : before) byte = rng() % 4 == 0 ? 0 : static_cast<std::uint8_t>(rng());
      if (round % 5 == 0) std::fill(before.begin(), before.end(), std::uint8_t{'x'});
      const auto measured = measure(before, width, count);
      Bytes after = before;
      switch (round % 4) {
        case 0: std::fill(after.begin(), after.end(), std::uint8_t{0}); break;
        case 1: std::fill(after.begin(), after.end(), std::uint8_t{0xC3}); break;
        case 2: for (auto& byte : after) byte = static_cast<std::uint8_t>(rng()); break;
        default: for (auto& byte : after) if (rng() % 3 == 0) byte = byte ? 0 : 'y'; break;
      }
      const Bytes out = run_decode(GetParam(), after, width, measured.lengths, measured.max_len, 0xEE);
      EXPECT_EQ(out, decoded_at_lengths(after, width, measured.lengths, measured.max_len))
          << "width " << width << " round " << round;
    }
  }
}

// --------------------------------------------------------- input boundaries

TEST(FixedWidthMeasure, BytesPastTheColumnAreIgnored) {
  // "abc" with no NUL inside the 3-byte record: the bytes after it do not
  // extend it.
  const Bytes input = bytes_of("abcdefghijklmnopqrstuvwxyz");
  const auto measured = measure(input, 3, 1);
  EXPECT_EQ(measured.lengths, (std::vector<std::uint64_t>{3}));
  EXPECT_EQ(measured.max_len, 3u);
}

TEST_P(EachDecoder, ShortColumnsEndingAtTheInputEnd) {
  // Columns shorter than, or ending within, one vector load of their last
  // records.  The input vector is exactly count * width bytes.
  std::mt19937_64 rng(72);
  for (std::uint64_t width = 1; width <= 40; ++width) {
    for (std::uint64_t count = 1; count <= 6; ++count) {
      for (int round = 0; round < 4; ++round) {
        Bytes input(width * count);
        for (auto& byte : input) {
          const auto r = rng() % 8;
          byte = r == 0 ? 0 : static_cast<std::uint8_t>(rng() % 256 | 1);
        }
        expect_matches_reference(GetParam(), input, width, count);
      }
    }
  }
}

// ------------------------------------------------------------ random columns

TEST_P(EachDecoder, RandomColumns) {
  std::mt19937_64 rng(73);
  for (int round = 0; round < 400; ++round) {
    const std::uint64_t width = rng() % 301;
    const std::uint64_t count = rng() % 200;
    // From NUL-dense to no NUL at all.
    const std::uint64_t nul_odds = 1 + rng() % 400;
    Bytes input(width * count + rng() % 20);
    for (auto& byte : input) {
      byte = rng() % nul_odds == 0 ? 0 : static_cast<std::uint8_t>(1 + rng() % 255);
    }
    expect_matches_reference(GetParam(), input, width, count);
  }
}

TEST_P(EachDecoder, NameColumnShapes) {
  // The typical shapes: short names in wide fields, and full narrow fields.
  std::mt19937_64 rng(74);
  for (const auto& [width, min_len, max_len] :
       {std::tuple{64ull, 5ull, 8ull}, std::tuple{16ull, 16ull, 16ull},
        std::tuple{8ull, 0ull, 8ull}, std::tuple{32ull, 20ull, 32ull}}) {
    const std::uint64_t count = 3000;
    Bytes input(width * count, 0);
    for (std::uint64_t i = 0; i < count; ++i) {
      const std::uint64_t len = min_len + rng() % (max_len - min_len + 1);
      for (std::uint64_t k = 0; k < len; ++k) {
        input[i * width + k] = static_cast<std::uint8_t>('0' + rng() % 43);
      }
    }
    expect_matches_reference(GetParam(), input, width, count);
  }
}

// ------------------------------------------------------------ broken callers

TEST(FixedWidthMeasure, InputShorterThanColumnIsInternalFault) {
  const Bytes input(11, 'a');
  EXPECT_THROW(measure_fixed_width_records(input, 4, 3), native::InternalFault);
  EXPECT_THROW(measure_fixed_width_records(input, 1ull << 63, 2), native::InternalFault);
  EXPECT_THROW(measure_fixed_width_records(input, 2, 1ull << 63), native::InternalFault);
}

TEST_P(EachDecoder, InconsistentArgumentsAreInternalFaults) {
  const Bytes input = bytes_of("abcdefgh");
  const std::vector<std::uint64_t> lengths = {4, 3};
  Bytes output(2 * 4 * 4);
  // output one code point short, or one too long
  EXPECT_THROW(GetParam()(input, 4, lengths, 4, std::span(output).first(28)),
               native::InternalFault);
  Bytes longer(36);
  EXPECT_THROW(GetParam()(input, 4, lengths, 4, longer), native::InternalFault);
  // a length above max_len, and one above width
  Bytes for_four(2 * 4 * 4);
  EXPECT_THROW(GetParam()(input, 4, std::vector<std::uint64_t>{4, 5}, 4, for_four),
               native::InternalFault);
  Bytes for_five(2 * 5 * 4);
  EXPECT_THROW(GetParam()(input, 4, std::vector<std::uint64_t>{4, 5}, 5, for_five),
               native::InternalFault);
  // more records than the input holds
  Bytes for_three(3 * 4 * 4);
  EXPECT_THROW(GetParam()(input, 4, std::vector<std::uint64_t>{1, 1, 1}, 4, for_three),
               native::InternalFault);
  // an output size that overflows
  EXPECT_THROW(GetParam()(input, 4, lengths, 1ull << 62, output), native::InternalFault);
}

// The lengths array that cannot be had is an out-of-memory error, not an
// exception.
TEST(FixedWidthMeasure, ExhaustedMemoryIsAnError) {
  const Bytes input = bytes_of("abcdefghijklmnop");
  refuse_allocations.store(true);
  const auto measured = measure_fixed_width_records(input, 1, input.size());
  refuse_allocations.store(false);
  ASSERT_FALSE(measured.has_value());
  EXPECT_EQ(measured.error().kind, native::ErrorKind::out_of_memory);
  EXPECT_EQ(measured.error().codec, native::Codec::fixed_width);
  EXPECT_EQ(measured.error().message, "");
}

}  // namespace
