#include "codecs/zlib_stream.h"

#include "reference/zlib.h"
#include "support/byte_vector.h"
#include "support/moving_bytes.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <random>
#include <string>
#include <vector>

namespace native {
namespace {

using Bytes = std::vector<std::uint8_t>;
using support::ByteVector;
using support::MovingBytes;

// ---------------------------------------------------------------- streams

using reference::deflate_with;

Bytes compress_with(const Bytes& content, int level) {
  uLongf length = compressBound(content.size());
  Bytes out(length);
  EXPECT_EQ(compress2(out.data(), &length, content.data(), content.size(),
                      level),
            Z_OK);
  out.resize(length);
  return out;
}

// Mixed content: words, runs, noisy little-endian samples and random bytes,
// so that every block type and both code kinds get used.
Bytes mixed_content(std::size_t length, std::uint32_t seed) {
  std::mt19937 random(seed);
  static const char* const words[] = {"line", "channel", "grid", "survey",
                                      "dummy", "-1e32", "\n", " ", "0.25"};
  Bytes out;
  out.reserve(length);
  while (out.size() < length) {
    switch (random() % 4) {
      case 0:
        for (int i = 0; i < 40; ++i) {
          const std::string word = words[random() % 9];
          out.insert(out.end(), word.begin(), word.end());
        }
        break;
      case 1:
        out.insert(out.end(), random() % 2000, static_cast<std::uint8_t>(random()));
        break;
      case 2: {
        float sample = 100.0f;
        for (int i = 0; i < 200; ++i) {
          sample += static_cast<float>(random() % 200) / 100.0f - 1.0f;
          const auto* raw = reinterpret_cast<const std::uint8_t*>(&sample);
          out.insert(out.end(), raw, raw + 4);
        }
        break;
      }
      default:
        for (int i = 0; i < 300; ++i) out.push_back(static_cast<std::uint8_t>(random()));
    }
  }
  out.resize(length);
  return out;
}

Bytes random_bytes(std::size_t length, std::uint32_t seed) {
  std::mt19937 random(seed);
  Bytes out(length);
  for (auto& byte : out) byte = static_cast<std::uint8_t>(random());
  return out;
}

Bytes concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

Bytes prefix(const Bytes& bytes, std::size_t length) {
  return Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(length));
}

// A two-byte zlib header with a correct check field.
Bytes zlib_header(std::uint8_t cmf, std::uint8_t flg_high_bits) {
  std::uint8_t flg = flg_high_bits & 0xe0;
  flg = static_cast<std::uint8_t>(flg + (31 - (cmf * 256 + flg) % 31) % 31);
  return {cmf, flg};
}

// LSB-first bit packing as DEFLATE stores it.
class BitWriter {
 public:
  void bits(std::uint32_t value, int count) {
    for (int i = 0; i < count; ++i) bit((value >> i) & 1);
  }
  // Huffman codes go most significant bit first.
  void code(std::uint32_t value, int length) {
    for (int i = length - 1; i >= 0; --i) bit((value >> i) & 1);
  }
  Bytes finish() { return bytes_; }

 private:
  void bit(std::uint32_t value) {
    if (used_ == 0) bytes_.push_back(0);
    bytes_.back() = static_cast<std::uint8_t>(bytes_.back() | (value << used_));
    used_ = (used_ + 1) % 8;
  }
  Bytes bytes_;
  int used_ = 0;
};

// ---------------------------------------------------------- expectations

// The three failures of the routines, named for the expectations below;
// each is a value error of the zlib codec with one of these messages.
enum class InflateFailure { corrupt, incomplete, out_of_memory };

const char* inflate_failure_text(InflateFailure failure) {
  switch (failure) {
    case InflateFailure::corrupt: return INFLATE_MESSAGE_CORRUPT;
    case InflateFailure::incomplete: return INFLATE_MESSAGE_INCOMPLETE;
    case InflateFailure::out_of_memory: return INFLATE_MESSAGE_OUT_OF_MEMORY;
  }
  return "";
}

// The message of a failed result ("" for success), its kind and codec
// checked on the way.
template <class T>
std::string failure_text(const DecodeResult<T>& outcome) {
  if (outcome) return "";
  EXPECT_EQ(outcome.error().codec, Codec::zlib);
  EXPECT_EQ(outcome.error().kind, ErrorKind::value_error);
  return outcome.error().message;
}

// Both into an output that moves on every growth.
void expect_content(const Bytes& input, const Bytes& content) {
  MovingBytes output;
  const auto outcome = inflate_zlib_stream_into(input, output);
  ASSERT_TRUE(outcome) << failure_text(outcome);
  ASSERT_EQ(output.size(), content.size());
  EXPECT_TRUE(std::equal(content.begin(), content.end(), output.data()));
}

void expect_failure(const Bytes& input, InflateFailure expected) {
  MovingBytes output;
  const auto outcome = inflate_zlib_stream_into(input, output);
  ASSERT_FALSE(outcome) << "content of " << output.size() << " bytes";
  EXPECT_EQ(failure_text(outcome), inflate_failure_text(expected));
  EXPECT_EQ(output.size(), 0u);
}

void expect_same_as_reference(const Bytes& input, std::size_t in_chunk,
                              std::size_t out_chunk) {
  using native::reference::InflateEnd;
  const auto expected =
      native::reference::reference_inflate(input, SIZE_MAX, in_chunk, out_chunk);
  switch (expected.end) {
    case InflateEnd::ended:
      expect_content(input, expected.content);
      break;
    case InflateEnd::corrupt:
      expect_failure(input, InflateFailure::corrupt);
      break;
    case InflateEnd::incomplete:
    case InflateEnd::too_large:  // no limit given: never
      expect_failure(input, InflateFailure::incomplete);
      break;
  }
}

// ------------------------------------------------------------------ tests

TEST(InflateZlibStream, EmptyInputIsIncomplete) {
  expect_failure({}, InflateFailure::incomplete);
}

TEST(InflateZlibStream, StreamOfEmptyContent) {
  expect_content({0x78, 0x9c, 0x03, 0x00, 0x00, 0x00, 0x00, 0x01}, {});
  for (int level = 0; level <= 9; ++level) {
    expect_content(compress_with({}, level), {});
  }
}

// Appending: the content goes after what the vector holds; a failure
// leaves its size where it was, whatever the stream wrote before failing.
TEST(InflateZlibStreamInto, AppendsAndRollsBackOnFailure) {
  const Bytes first = mixed_content(5000, 1);
  const Bytes second = mixed_content(70000, 2);
  const Bytes second_stream = compress_with(second, 6);
  for (std::uint64_t spare : {0u, 10u, 100000u}) {
    MovingBytes output;
    ASSERT_TRUE(output.reserve(first.size() + spare));
    std::memcpy(output.spare().data(), first.data(), first.size());
    output.commit(first.size());
    ASSERT_TRUE(inflate_zlib_stream_into(second_stream, output).has_value());
    Bytes expected = first;
    expected.insert(expected.end(), second.begin(), second.end());
    EXPECT_EQ(Bytes(output.data(), output.data() + output.size()), expected);

    // Cut inside the trailer: all of the content was written, then it fails.
    const Bytes cut(second_stream.begin(), second_stream.end() - 1);
    const std::uint64_t before = output.size();
    EXPECT_EQ(failure_text(inflate_zlib_stream_into(cut, output)),
              inflate_failure_text(InflateFailure::incomplete));
    EXPECT_EQ(output.size(), before);
    Bytes corrupt = second_stream;
    corrupt[corrupt.size() - 1] ^= 1;
    EXPECT_EQ(failure_text(inflate_zlib_stream_into(corrupt, output)),
              inflate_failure_text(InflateFailure::corrupt));
    EXPECT_EQ(Bytes(output.data(), output.data() + output.size()), expected);
  }
}

struct Setting {
  int level;
  int strategy;
};

class InflateSettings : public ::testing::TestWithParam<Setting> {};

TEST_P(InflateSettings, RoundTrip) {
  const auto [level, strategy] = GetParam();
  for (std::size_t length : {1u, 2u, 257u, 4096u, 70000u, 300000u}) {
    const Bytes content = mixed_content(length, static_cast<std::uint32_t>(length + level));
    expect_content(deflate_with(content, level, strategy), content);
  }
  const Bytes noise = random_bytes(100000, 3);
  expect_content(deflate_with(noise, level, strategy), noise);
}

std::vector<Setting> all_settings() {
  std::vector<Setting> settings;
  for (int level = 0; level <= 9; ++level) {
    for (int strategy : {Z_DEFAULT_STRATEGY, Z_FILTERED, Z_HUFFMAN_ONLY, Z_RLE,
                         Z_FIXED}) {
      settings.push_back({level, strategy});
    }
  }
  return settings;
}

INSTANTIATE_TEST_SUITE_P(LevelsAndStrategies, InflateSettings,
                         ::testing::ValuesIn(all_settings()),
                         [](const auto& info) {
                           return "level" + std::to_string(info.param.level) +
                                  "_strategy" +
                                  std::to_string(info.param.strategy);
                         });

TEST(InflateZlibStream, SmallerWindowsAndMemoryLevels) {
  const Bytes content = mixed_content(200000, 11);
  for (int window_bits = 9; window_bits <= 15; ++window_bits) {
    for (int mem_level : {1, 9}) {
      expect_content(deflate_with(content, 6, Z_DEFAULT_STRATEGY, window_bits,
                                  mem_level),
                     content);
    }
  }
}

// Lengths on either side of the staging buffer and first-window sizes;
// stored blocks make the input as long as the content.
TEST(InflateZlibStream, LengthsAroundBufferBoundaries) {
  for (std::size_t length :
       {4095u, 4096u, 4097u, 16383u, 16384u, 16385u, 32767u, 32768u, 32769u,
        65535u, 65536u, 65537u, 98304u, 131072u, 1000000u}) {
    const Bytes noise = random_bytes(length, static_cast<std::uint32_t>(length));
    expect_content(compress_with(noise, 0), noise);
    expect_content(compress_with(noise, 6), noise);
    const Bytes zeros(length, 0);
    expect_content(compress_with(zeros, 9), zeros);
  }
}

TEST(InflateZlibStream, InputLengthsAroundStagingBoundary) {
  // Stored streams have 11 bytes of wrapper and block header around the
  // content, so these inputs are 32768 - 1, 32768, 32768 + 1, ... bytes.
  for (std::size_t input_length : {32767u, 32768u, 32769u, 65535u, 65536u, 65537u}) {
    const Bytes content = random_bytes(input_length - 11, 5);
    const Bytes stream = compress_with(content, 0);
    ASSERT_EQ(stream.size(), input_length);
    expect_content(stream, content);
  }
}

TEST(InflateZlibStream, SeveralMegabytes) {
  const Bytes content = mixed_content(9u << 20, 21);
  expect_content(compress_with(content, 6), content);
  expect_content(compress_with(content, 1), content);
  // The same into an owned vector, which grows by realloc.
  ByteVector owned;
  const auto inflated = inflate_zlib_stream_into(compress_with(content, 6), owned);
  ASSERT_TRUE(inflated) << failure_text(inflated);
  ASSERT_EQ(owned.size(), content.size());
  EXPECT_TRUE(std::equal(content.begin(), content.end(), owned.data()));
}

TEST(InflateZlibStream, ExpansionPastThousandfold) {
  const Bytes content(64u << 20, 0);
  const Bytes stream = compress_with(content, 9);
  ASSERT_GT(content.size() / stream.size(), 1000u);
  expect_content(stream, content);
}

TEST(InflateZlibStream, TrailingBytesAreIgnored) {
  const Bytes content = mixed_content(50000, 8);
  const Bytes stream = compress_with(content, 6);
  const Bytes other = compress_with(mixed_content(1000, 9), 6);
  for (const Bytes& tail :
       {Bytes{0}, Bytes{0xff, 0xff, 0xff}, random_bytes(100000, 1), other,
        stream, Bytes(40000, 0x78)}) {
    expect_content(concat(stream, tail), content);
  }
  // Also after a stream of no content.
  expect_content(concat(compress_with({}, 6), stream), {});
}

TEST(InflateZlibStream, EveryPrefixOfShortStreamsIsIncomplete) {
  const std::vector<Bytes> streams = {
      compress_with({}, 6),
      compress_with(mixed_content(1, 1), 0),
      compress_with(mixed_content(300, 2), 0),
      compress_with(mixed_content(300, 3), 9),
      deflate_with(mixed_content(2000, 4), 9, Z_FIXED),
      deflate_with(mixed_content(2000, 5), 9, Z_HUFFMAN_ONLY),
      compress_with(Bytes(100000, 7), 9),
  };
  for (const Bytes& stream : streams) {
    for (std::size_t length = 0; length < stream.size(); ++length) {
      SCOPED_TRACE("prefix " + std::to_string(length) + " of " +
                   std::to_string(stream.size()));
      expect_failure(prefix(stream, length), InflateFailure::incomplete);
    }
  }
}

TEST(InflateZlibStream, PrefixesOfLongStreamIsIncomplete) {
  const Bytes stream = compress_with(mixed_content(400000, 12), 6);
  ASSERT_GT(stream.size(), 2u * 32768);
  std::vector<std::size_t> lengths;
  for (std::size_t length = 0; length < stream.size(); length += 997) {
    lengths.push_back(length);
  }
  for (std::size_t boundary : {32768u, 65536u}) {
    for (std::size_t length = boundary - 3; length <= boundary + 3; ++length) {
      lengths.push_back(length);
    }
  }
  for (std::size_t back = 1; back <= 8; ++back) {
    lengths.push_back(stream.size() - back);
  }
  for (std::size_t length : lengths) {
    SCOPED_TRACE("prefix " + std::to_string(length));
    expect_failure(prefix(stream, length), InflateFailure::incomplete);
  }
}

TEST(InflateZlibStream, ChangedTrailerByteIsCorrupt) {
  for (const Bytes& content : {Bytes{}, mixed_content(5000, 4)}) {
    const Bytes stream = compress_with(content, 6);
    for (std::size_t back = 1; back <= 4; ++back) {
      for (std::uint8_t flip : {0x01, 0x80, 0xff}) {
        Bytes damaged = stream;
        damaged[damaged.size() - back] ^= flip;
        expect_failure(damaged, InflateFailure::corrupt);
        // Followed by more bytes it is still a mismatch, not a cut.
        expect_failure(concat(damaged, stream), InflateFailure::corrupt);
      }
    }
  }
}

struct HeaderCase {
  const char* name;
  Bytes input;
  InflateFailure expected;
};

class InflateHeaders : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(InflateHeaders, Classified) {
  expect_failure(GetParam().input, GetParam().expected);
}

Bytes raw_deflate() {
  const Bytes raw = deflate_with(mixed_content(3000, 6), 6, Z_DEFAULT_STRATEGY, -15);
  // Not a valid zlib header by accident.
  EXPECT_TRUE((raw[0] & 0x0f) != 8 || (raw[0] * 256 + raw[1]) % 31 != 0);
  return raw;
}

Bytes with_body(Bytes header) {
  const Bytes stream = compress_with(mixed_content(3000, 7), 6);
  header.insert(header.end(), stream.begin() + 2, stream.end());
  return header;
}

// Fixed-Huffman block holding one length-3 match at distance 1 and no
// literal before it.
Bytes distance_too_far_back() {
  BitWriter writer;
  writer.bits(1, 1);        // final block
  writer.bits(1, 2);        // fixed Huffman codes
  writer.code(0x01, 7);     // length code 257: length 3
  writer.code(0x00, 5);     // distance code 0: distance 1
  writer.code(0x00, 7);     // end of block
  return concat({0x78, 0x01}, concat(writer.finish(), {0, 0, 0, 1}));
}

Bytes dictionary_header() { return zlib_header(0x78, 0x20 | 0x80); }

std::vector<HeaderCase> header_cases() {
  const Bytes gzip = deflate_with(mixed_content(3000, 6), 6, Z_DEFAULT_STRATEGY, 31);
  return {
      {"raw_deflate", raw_deflate(), InflateFailure::corrupt},
      {"gzip", gzip, InflateFailure::corrupt},
      {"gzip_magic_only", {0x1f, 0x8b}, InflateFailure::corrupt},
      {"method_7", with_body(zlib_header(0x77, 0x80)), InflateFailure::corrupt},
      {"method_15", with_body(zlib_header(0x7f, 0x80)), InflateFailure::corrupt},
      {"window_field_8", with_body(zlib_header(0x88, 0x80)), InflateFailure::corrupt},
      {"window_field_15", with_body(zlib_header(0xf8, 0x80)), InflateFailure::corrupt},
      {"failing_header_check", with_body({0x78, 0x9d}), InflateFailure::corrupt},
      {"header_check_only_two_bytes", {0x78, 0x9d}, InflateFailure::corrupt},
      {"dictionary_with_identifier",
       concat(dictionary_header(), {0x01, 0x02, 0x03, 0x04}), InflateFailure::corrupt},
      {"dictionary_with_identifier_and_data",
       with_body(concat(dictionary_header(), {0x01, 0x02, 0x03, 0x04, 0x78, 0x9c})),
       InflateFailure::corrupt},
      {"dictionary_header_alone", dictionary_header(), InflateFailure::incomplete},
      {"dictionary_identifier_1_byte", concat(dictionary_header(), {0x01}),
       InflateFailure::incomplete},
      {"dictionary_identifier_3_bytes", concat(dictionary_header(), {0x01, 0x02, 0x03}),
       InflateFailure::incomplete},
      {"header_first_byte_only", {0x78}, InflateFailure::incomplete},
      {"header_alone", {0x78, 0x9c}, InflateFailure::incomplete},
      {"invalid_block_type", {0x78, 0x01, 0x07, 0x00, 0x00}, InflateFailure::corrupt},
      {"distance_too_far_back", distance_too_far_back(), InflateFailure::corrupt},
      {"stored_length_mismatch",
       {0x78, 0x01, 0x01, 0x05, 0x00, 0xfa, 0xfe, 'h', 'e', 'l', 'l', 'o'},
       InflateFailure::corrupt},
  };
}

INSTANTIATE_TEST_SUITE_P(Streams, InflateHeaders,
                         ::testing::ValuesIn(header_cases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(InflateZlibStream, HandMadeStreamsAreReadAsExpected) {
  // The writer itself: a stored block "hello" and a fixed block 'a'.
  expect_content({0x78, 0x01, 0x01, 0x05, 0x00, 0xfa, 0xff, 'h', 'e', 'l',
                  'l', 'o', 0x06, 0x2c, 0x02, 0x15},
                 {'h', 'e', 'l', 'l', 'o'});
  BitWriter writer;
  writer.bits(1, 1);
  writer.bits(1, 2);
  writer.code(0x30 + 'a', 8);  // literal 'a'
  writer.code(0x01, 7);        // length 3
  writer.code(0x00, 5);        // distance 1
  writer.code(0x00, 7);        // end of block
  const std::uint32_t adler = adler32(1, reinterpret_cast<const Bytef*>("aaaa"), 4);
  const Bytes trailer = {static_cast<std::uint8_t>(adler >> 24),
                         static_cast<std::uint8_t>(adler >> 16),
                         static_cast<std::uint8_t>(adler >> 8),
                         static_cast<std::uint8_t>(adler)};
  expect_content(concat(concat({0x78, 0x01}, writer.finish()), trailer),
                 {'a', 'a', 'a', 'a'});
}

// Damaged and cut streams, classified by an inflater that is fed in other
// chunk sizes: the outcome must not depend on how input and output are cut.
TEST(InflateZlibStream, MatchesReferenceOnDamagedStreams) {
  std::mt19937 random(2024);
  const std::vector<Bytes> originals = {
      compress_with(mixed_content(3000, 1), 6),
      compress_with(mixed_content(70000, 2), 1),
      deflate_with(mixed_content(5000, 3), 9, Z_FIXED),
      deflate_with(mixed_content(5000, 4), 9, Z_RLE),
      compress_with(random_bytes(40000, 5), 0),
  };
  for (int round = 0; round < 1500; ++round) {
    Bytes input = originals[random() % originals.size()];
    switch (random() % 5) {
      case 0:  // flip a few bits
        for (int i = 1 + random() % 3; i > 0; --i) {
          input[random() % input.size()] ^= static_cast<std::uint8_t>(1u << (random() % 8));
        }
        break;
      case 1:  // overwrite a byte
        input[random() % input.size()] = static_cast<std::uint8_t>(random());
        break;
      case 2:  // cut
        input.resize(random() % input.size());
        break;
      case 3:  // drop a byte
        input.erase(input.begin() + random() % input.size());
        break;
      default:  // insert a byte, then cut or append
        input.insert(input.begin() + random() % input.size(),
                     static_cast<std::uint8_t>(random()));
        if (random() % 2) input.resize(random() % input.size());
        break;
    }
    SCOPED_TRACE("round " + std::to_string(round));
    const std::size_t in_chunk = random() % 2 ? 1 + random() % 64 : input.size() + 1;
    const std::size_t out_chunk = random() % 2 ? 1 + random() % 300 : 1 << 20;
    expect_same_as_reference(input, in_chunk, out_chunk);
  }
}

TEST(InflateZlibStream, MatchesReferenceOnRandomInputs) {
  std::mt19937 random(77);
  for (int round = 0; round < 3000; ++round) {
    // A valid header, then noise: mostly corrupt, sometimes cut.
    Bytes input = concat({0x78, 0x9c}, random_bytes(random() % 64, static_cast<std::uint32_t>(round)));
    expect_same_as_reference(input, 7, 33);
  }
}

// An output that cannot grow (a result object may refuse) is out of
// memory, with the bytes before the call as they were, from its first
// growth on or partway through the content; stored blocks and Huffman
// blocks alike.  With room for the content from the start it succeeds,
// whatever growth the fast path asks for.
TEST(InflateZlibStreamInto, RefusedGrowthIsOutOfMemory) {
  const Bytes content = mixed_content(300000, 4);
  for (int level : {0, 6}) {
    const Bytes stream = compress_with(content, level);
    for (const Bytes& before : {Bytes{}, mixed_content(5000, 1)}) {
      for (std::uint64_t room : std::initializer_list<std::uint64_t>{
               0, 4096, content.size() / 2, content.size() - 1, content.size()}) {
        SCOPED_TRACE("level " + std::to_string(level) + ", " + std::to_string(before.size()) +
                     " bytes before, room " + std::to_string(room));
        MovingBytes output(before.size() + room);
        const bool room_for_all = room == content.size();
        ASSERT_TRUE(output.reserve(room_for_all ? before.size() + room : before.size()));
        if (!before.empty()) {
          std::memcpy(output.spare().data(), before.data(), before.size());
          output.commit(before.size());
        }
        const auto outcome = inflate_zlib_stream_into(stream, output);
        const Bytes kept(output.data(), output.data() + output.size());
        if (room_for_all) {
          EXPECT_TRUE(outcome) << failure_text(outcome);
          EXPECT_EQ(kept, concat(before, content));
        } else {
          EXPECT_EQ(failure_text(outcome), INFLATE_MESSAGE_OUT_OF_MEMORY);
          EXPECT_GT(output.refusals(), 0u);
          EXPECT_EQ(kept, before);
          // Emptied on the refusal: content lost is no verdict on the data
          // (with bytes before the call, always lost); none lost, the same.
          MovingBytes emptied(before.size() + room, MovingBytes::Refusal::loses_content);
          if (!before.empty()) {
            ASSERT_TRUE(emptied.reserve(before.size()));
            emptied.commit(before.size());
          }
          const auto emptied_outcome = inflate_zlib_stream_into(stream, emptied);
          if (!before.empty()) {
            EXPECT_TRUE(emptied.lost());
          }
          if (emptied.lost()) {
            ASSERT_FALSE(emptied_outcome.has_value());
            EXPECT_EQ(emptied_outcome.error().kind, ErrorKind::out_of_memory);
          } else {
            EXPECT_EQ(failure_text(emptied_outcome), INFLATE_MESSAGE_OUT_OF_MEMORY);
          }
        }
      }
    }
  }
}

}  // namespace
}  // namespace native
