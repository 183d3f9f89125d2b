#include "codecs/lzrw1.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <tuple>
#include <vector>

#include "lzrw1_encoder.h"
#include "reference/lzrw1.h"
#include "speed_builder.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using native::ErrorKind;
using native::lzrw1_decode_into;
using native::reference::Outcome;
using native::reference::reference_lzrw1;

const std::string OUT_OF_INPUT = native::reference::LZRW1_OUT_OF_INPUT;
const std::string BAD_OFFSET = native::reference::LZRW1_BAD_OFFSET;

// Every error of this codec is an index_error.
Outcome ok(Bytes bytes) { return native::reference::succeeded(std::move(bytes)); }
Outcome failed(const std::string& message) {
  return native::reference::failed(ErrorKind::index_error, message);
}

// Guard bytes on both sides of the output: an overrun of the fast path's
// block moves shows up as a changed guard.
constexpr std::size_t GUARD_LENGTH = 64;
constexpr std::uint8_t GUARD_BYTE = 0xEE;

Outcome decode(std::span<const std::uint8_t> stream, std::uint64_t start, std::size_t length) {
  // The input sits in an allocation of its exact size, so that a read past
  // its end is seen by the address sanitizer.
  const std::unique_ptr<std::uint8_t[]> copy(new std::uint8_t[stream.size()]);
  std::copy(stream.begin(), stream.end(), copy.get());
  const std::span<const std::uint8_t> input(copy.get(), stream.size());
  Bytes buffer(length + 2 * GUARD_LENGTH, GUARD_BYTE);
  const std::span<std::uint8_t> output(buffer.data() + GUARD_LENGTH, length);
  const auto decoded = lzrw1_decode_into(input, start, output);
  for (std::size_t i = 0; i < GUARD_LENGTH; ++i) {
    EXPECT_EQ(buffer[i], GUARD_BYTE) << "write before the output at " << i;
    EXPECT_EQ(buffer[GUARD_LENGTH + length + i], GUARD_BYTE) << "write past the output at " << i;
  }
  if (!decoded) {
    EXPECT_EQ(decoded.error().codec, native::Codec::lzrw1);
    return native::reference::failed(decoded.error());
  }
  return ok(Bytes(output.begin(), output.end()));
}

Outcome decode(const Bytes& input, std::size_t length) { return decode(input, 0, length); }

Outcome reference_decode(std::span<const std::uint8_t> input, std::uint64_t start,
                         std::size_t length) {
  return reference_lzrw1(input, start, length);
}

Bytes bytes_of(std::initializer_list<int> values) {
  Bytes out;
  for (int v : values) out.push_back(static_cast<std::uint8_t>(v));
  return out;
}
Bytes text_of(const std::string& text) { return Bytes(text.begin(), text.end()); }

// ---------------------------------------------------------------------------
// Edge cases of the format

TEST(Lzrw1Decode, ZeroLengthReadsNothing) {
  const Bytes empty;
  for (std::uint64_t start : {std::uint64_t{0}, std::uint64_t{5}, std::uint64_t{1} << 40,
                              std::numeric_limits<std::uint64_t>::max()}) {
    EXPECT_EQ(decode(empty, start, 0), ok({})) << start;
    EXPECT_TRUE(lzrw1_decode_into({}, start, {}).has_value());
  }
  // Even a stream that starts with a bad copy is not looked at.
  EXPECT_EQ(decode(bytes_of({0x01, 0x00, 0x00, 0x00}), 0), ok({}));
}

class StartNearEnd : public ::testing::TestWithParam<std::uint64_t> {};

TEST_P(StartNearEnd, RunsOutBeforeTheFirstControlWord) {
  // Eight literals "ABCDEFGH" after a zero control word; `start` is measured
  // from the end of these 10 bytes.
  const Bytes stream = bytes_of({0, 0, 'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H'});
  const std::uint64_t start = GetParam();
  EXPECT_EQ(decode(stream, start, 1), failed(OUT_OF_INPUT));
}

INSTANTIATE_TEST_SUITE_P(Lzrw1Decode, StartNearEnd,
                         ::testing::Values(9u,  // a single byte left
                                           10u, 11u, 4096u,
                                           std::numeric_limits<std::uint64_t>::max() - 1,
                                           std::numeric_limits<std::uint64_t>::max()));

TEST(Lzrw1Decode, StreamInsideLargerBuffer) {
  Bytes data = text_of("header bytes");
  const std::uint64_t start = data.size();
  const Bytes stream = bytes_of({0x02, 0x00, 'q', 0x0F, 0x01});
  data.insert(data.end(), stream.begin(), stream.end());
  EXPECT_EQ(decode(data, start, 17), ok(Bytes(17, 'q')));
}

TEST(Lzrw1Decode, SingleLiteral) {
  const Bytes stream = bytes_of({0x00, 0x00, 0x41});
  EXPECT_EQ(decode(stream, 1), ok(text_of("A")));
  EXPECT_EQ(decode(stream, 2), failed(OUT_OF_INPUT));
}

class ClippedCopy : public ::testing::TestWithParam<std::size_t> {};

TEST_P(ClippedCopy, CopyRunningPastTheEndIsClipped) {
  // Literal "a", then a copy of offset 1 and length 16.
  const Bytes stream = bytes_of({0x02, 0x00, 0x61, 0x0F, 0x01});
  const std::size_t length = GetParam();
  EXPECT_EQ(decode(stream, length), ok(Bytes(length, 'a')));
}

INSTANTIATE_TEST_SUITE_P(Lzrw1Decode, ClippedCopy, ::testing::Range<std::size_t>(1, 18));

TEST(Lzrw1Decode, NeedsAThirdItemPastTheCopy) {
  EXPECT_EQ(decode(bytes_of({0x02, 0x00, 0x61, 0x0F, 0x01}), 18), failed(OUT_OF_INPUT));
}

TEST(Lzrw1Decode, OffsetChecks) {
  // First item a copy: nothing produced yet, any offset is out of range.
  EXPECT_EQ(decode(bytes_of({0x01, 0x00, 0x00, 0x01}), 1), failed(BAD_OFFSET));
  EXPECT_EQ(decode(bytes_of({0x01, 0x00, 0xF0, 0xFF}), 1), failed(BAD_OFFSET));
  // Offset 0 after output exists.
  EXPECT_EQ(decode(bytes_of({0x04, 0x00, 'x', 'y', 0x03, 0x00}), 6), failed(BAD_OFFSET));
  // Offset equal to the produced count copies from the first byte.
  EXPECT_EQ(decode(bytes_of({0x08, 0x00, 'a', 'b', 'c', 0x04, 0x03}), 8),
            ok(text_of("abcabcab")));
  // One more is out of range.
  EXPECT_EQ(decode(bytes_of({0x08, 0x00, 'a', 'b', 'c', 0x04, 0x04}), 8), failed(BAD_OFFSET));
  // The offset is checked before the length is clipped: one byte wanted,
  // and the copy would only need the byte it is not allowed to reach.
  EXPECT_EQ(decode(bytes_of({0x02, 0x00, 'a', 0x00, 0x02}), 2), failed(BAD_OFFSET));
}

TEST(Lzrw1Decode, CopyCutAfterItsFirstByteIsOutOfInput) {
  // The first byte alone would give offset 0; both bytes must be present
  // before the offset is judged.
  EXPECT_EQ(decode(bytes_of({0x02, 0x00, 'a', 0x00}), 5), failed(OUT_OF_INPUT));
  EXPECT_EQ(decode(bytes_of({0x01, 0x00, 0x00}), 1), failed(OUT_OF_INPUT));
  // Control word cut after one byte.
  EXPECT_EQ(decode(bytes_of({0x00}), 1), failed(OUT_OF_INPUT));
}

TEST(Lzrw1Decode, SeventeenthItemNeedsANewControlWord) {
  Bytes stream = bytes_of({0x00, 0x00});
  for (int i = 0; i < 16; ++i) stream.push_back(static_cast<std::uint8_t>('a' + i));
  const Bytes sixteen(stream.begin() + 2, stream.end());
  EXPECT_EQ(decode(stream, 16), ok(sixteen));
  EXPECT_EQ(decode(stream, 17), failed(OUT_OF_INPUT));
  stream.push_back(0x00);  // half a control word
  EXPECT_EQ(decode(stream, 17), failed(OUT_OF_INPUT));
  stream.push_back(0x00);
  EXPECT_EQ(decode(stream, 17), failed(OUT_OF_INPUT));  // no literal after it
  stream.push_back('!');
  Bytes expected = sixteen;
  expected.push_back('!');
  EXPECT_EQ(decode(stream, 17), ok(expected));
}

TEST(Lzrw1Decode, UnusedControlBitsAreNeverLooked) {
  // All items after the first claim to be copies, but only one byte is
  // wanted.
  EXPECT_EQ(decode(bytes_of({0xFE, 0xFF, 'z'}), 1), ok(text_of("z")));
}

class OverlappingCopy
    : public ::testing::TestWithParam<std::tuple<unsigned /*offset*/, unsigned /*length*/>> {};

TEST_P(OverlappingCopy, MatchesTheForwardByteCopy) {
  const auto [offset, length] = GetParam();
  // `offset` distinct literals (in groups of 16), then one copy; room
  // afterwards for the fast path's wide moves to matter, with a long
  // literal tail so the copy runs in a fast group.
  Bytes stream, expected;
  std::size_t items = 0;
  unsigned control = 0;
  std::size_t control_at = 0;
  auto item = [&](bool copy, std::initializer_list<std::uint8_t> bytes) {
    if (items % 16 == 0) {
      control_at = stream.size();
      stream.push_back(0);
      stream.push_back(0);
      control = 0;
    }
    if (copy) control |= 1u << (items % 16);
    stream.insert(stream.end(), bytes);
    stream[control_at] = control & 0xFF;
    stream[control_at + 1] = control >> 8;
    ++items;
  };
  for (unsigned i = 0; i < offset; ++i) {
    const auto byte = static_cast<std::uint8_t>(0x30 + i * 7);
    item(false, {byte});
    expected.push_back(byte);
  }
  item(true, {static_cast<std::uint8_t>((offset >> 8) << 4 | (length - 1)),
              static_cast<std::uint8_t>(offset & 0xFF)});
  for (unsigned j = 0; j < length; ++j) expected.push_back(expected[expected.size() - offset]);
  for (unsigned i = 0; i < 400; ++i) {
    const auto byte = static_cast<std::uint8_t>(i * 13);
    item(false, {byte});
    expected.push_back(byte);
  }
  EXPECT_EQ(decode(stream, expected.size()), ok(expected));
  EXPECT_EQ(decode(stream, offset + length), ok(Bytes(expected.begin(), expected.begin() + offset + length)));
}

INSTANTIATE_TEST_SUITE_P(Lzrw1Decode, OverlappingCopy,
                         ::testing::Combine(::testing::Values(1u, 2u, 3u, 4u, 5u, 7u, 8u, 9u, 15u,
                                                              16u, 17u, 255u, 256u, 4095u),
                                            ::testing::Range(1u, 17u)));

TEST(Lzrw1Decode, EveryOutputLengthOfDenseGroups) {
  // Groups of sixteen 16-byte copies produce the most a group can, and
  // groups of literals read the most input per byte: every output length
  // puts the end at another point of a group, where the fast path must
  // hand over to the checked loop without writing past the output.
  Bytes copies = {0xFE, 0xFF, 'a'};
  Bytes literals;
  Bytes literal_text;
  for (int g = 0; g < 20; ++g) {
    if (g > 0) copies.insert(copies.end(), {0xFF, 0xFF});
    for (int i = (g == 0 ? 1 : 0); i < 16; ++i) copies.insert(copies.end(), {0x0F, 0x01});
    literals.insert(literals.end(), {0x00, 0x00});
    for (int i = 0; i < 16; ++i) {
      const auto byte = static_cast<std::uint8_t>(g * 16 + i);
      literals.push_back(byte);
      literal_text.push_back(byte);
    }
  }
  for (std::size_t length = 1; length <= 20 * 16 * 16 - 15; ++length) {
    ASSERT_EQ(decode(copies, length), ok(Bytes(length, 'a'))) << length;
  }
  for (std::size_t length = 1; length <= literal_text.size(); ++length) {
    ASSERT_EQ(decode(literals, length),
              ok(Bytes(literal_text.begin(), literal_text.begin() + length)))
        << length;
  }
  EXPECT_EQ(decode(literals, literal_text.size() + 1), failed(OUT_OF_INPUT));
}

TEST(Lzrw1Decode, LateLiteralNearTheEndOfInput) {
  // Groups of 15 copies and a literal last: the literal's block move starts
  // as late in a group as it can.  A last group of copies (2 input bytes,
  // 16 output bytes each) and literals moves the end of the input across
  // every point of the group before it while the output still has room for
  // the fast path (an overread shows under the address sanitizer).
  for (unsigned tail_copies = 0; tail_copies <= 8; ++tail_copies) {
    for (unsigned tail_literals = 0; tail_literals <= 2; ++tail_literals) {
      Bytes stream = {0xFE, 0x7F, 'a'};
      Bytes expected(1, 'a');
      for (int g = 0; g < 8; ++g) {
        if (g > 0) stream.insert(stream.end(), {0xFF, 0x7F});
        for (int i = (g == 0 ? 1 : 0); i < 15; ++i) {
          stream.insert(stream.end(), {0x0F, 0x01});
          expected.insert(expected.end(), 16, 'a');
        }
        stream.push_back('a');
        expected.push_back('a');
      }
      if (tail_copies + tail_literals > 0) {
        const unsigned control = (1u << tail_copies) - 1;
        stream.insert(stream.end(), {static_cast<std::uint8_t>(control), 0x00});
      }
      for (unsigned i = 0; i < tail_copies; ++i) {
        stream.insert(stream.end(), {0x0F, 0x01});
        expected.insert(expected.end(), 16, 'a');
      }
      for (unsigned i = 0; i < tail_literals; ++i) {
        stream.push_back('b');
        expected.push_back('b');
      }
      EXPECT_EQ(decode(stream, expected.size()), ok(expected)) << tail_copies << " " << tail_literals;
      EXPECT_EQ(decode(stream, expected.size() + 1), failed(OUT_OF_INPUT));
    }
  }
}

TEST(Lzrw1Decode, TrailingInputIsIgnored) {
  const Bytes content = native::testdata::survey_like_content(20000, 3);
  Bytes stream = native::testdata::lzrw1_encode(content);
  const Outcome plain = decode(stream, content.size());
  ASSERT_EQ(plain, ok(content));
  for (std::uint8_t filler : {0x00, 0xFF, 0x5A}) {
    Bytes longer = stream;
    longer.insert(longer.end(), 300, filler);
    EXPECT_EQ(decode(longer, content.size()), plain);
  }
}

// ---------------------------------------------------------------------------
// Round trips through the encoder

Bytes random_bytes(std::size_t size, std::uint32_t seed, int alphabet) {
  std::mt19937 rng(seed);
  Bytes out(size);
  for (auto& b : out) b = static_cast<std::uint8_t>(rng() % alphabet);
  return out;
}

struct Content {
  const char* name;
  Bytes bytes;
};

std::vector<Content> round_trip_contents() {
  std::vector<Content> out;
  for (std::size_t size : {1u, 2u, 3u, 15u, 16u, 17u, 255u, 256u, 257u, 4096u, 16368u, 100000u}) {
    out.push_back({"zeros", Bytes(size, 0)});
    out.push_back({"random", random_bytes(size, static_cast<std::uint32_t>(size), 256)});
    out.push_back({"few_symbols", random_bytes(size, static_cast<std::uint32_t>(size) + 1, 3)});
    out.push_back({"survey_like", native::testdata::survey_like_content(size, size)});
  }
  return out;
}

TEST(Lzrw1Decode, EncoderRoundTrips) {
  for (const Content& content : round_trip_contents()) {
    const Bytes stream = native::testdata::lzrw1_encode(content.bytes);
    EXPECT_EQ(decode(stream, content.bytes.size()), ok(content.bytes))
        << content.name << " " << content.bytes.size();
    // Every shorter output is a prefix.
    const std::size_t half = content.bytes.size() / 2;
    EXPECT_EQ(decode(stream, half), ok(Bytes(content.bytes.begin(), content.bytes.begin() + half)))
        << content.name << " " << content.bytes.size();
  }
}

TEST(Lzrw1Decode, EncoderCompresses) {
  // A generator that only wrote literals would make every round trip pass.
  const Bytes content = native::testdata::survey_like_content(100000, 9);
  const Bytes stream = native::testdata::lzrw1_encode(content);
  EXPECT_LT(stream.size(), content.size() * 3 / 4);
  EXPECT_LT(native::testdata::lzrw1_encode(Bytes(100000, 'x')).size(), 100000u / 7);
}

TEST(Lzrw1Decode, EveryTruncationRunsOutOfInput) {
  // A canonical stream needs every one of its bytes.
  for (std::size_t size : {40u, 3000u}) {
    const Bytes content = native::testdata::survey_like_content(size, 77);
    const Bytes stream = native::testdata::lzrw1_encode(content);
    ASSERT_EQ(decode(stream, content.size()), ok(content));
    for (std::size_t cut = 0; cut < stream.size(); ++cut) {
      const Bytes prefix(stream.begin(), stream.begin() + cut);
      ASSERT_EQ(decode(prefix, content.size()), failed(OUT_OF_INPUT)) << "cut at " << cut;
    }
  }
}

// ---------------------------------------------------------------------------
// Differential: the decoder against the plain reference on random streams,
// valid and corrupt, with output lengths around the stream's own.

struct RandomStream {
  Bytes data;
  std::uint64_t start;
  std::size_t produced;  // what the items would produce without errors
};

RandomStream random_stream(std::mt19937_64& rng) {
  RandomStream s;
  s.start = rng() % 4;
  s.data.resize(s.start);
  for (auto& b : s.data) b = static_cast<std::uint8_t>(rng());
  s.produced = 0;
  const std::size_t groups = rng() % 64;
  const unsigned literal_share = rng() % 5;  // 0: mostly copies .. 4: mostly literals
  const bool corrupt = rng() % 4 == 0;
  for (std::size_t g = 0; g < groups; ++g) {
    unsigned control = 0;
    Bytes items;
    for (int i = 0; i < 16; ++i) {
      const bool copy = (s.produced > 0 || corrupt) && rng() % 5 >= literal_share;
      if (!copy) {
        items.push_back(static_cast<std::uint8_t>(rng() % 7 == 0 ? rng() : 'a' + rng() % 4));
        ++s.produced;
        continue;
      }
      const unsigned length = 1 + rng() % 16;
      const std::size_t reach = std::min<std::size_t>(s.produced, 4095);
      std::size_t offset;
      if (reach == 0 || (corrupt && rng() % 50 == 0)) {
        offset = rng() % 2 ? 0 : std::min<std::size_t>(s.produced + 1 + rng() % 3, 4095);
      } else if (rng() % 4 == 0) {
        offset = 1 + rng() % std::min<std::size_t>(reach, 16);  // overlapping copies
      } else if (rng() % 3 == 0) {
        offset = reach;
      } else {
        offset = 1 + rng() % reach;
      }
      control |= 1u << i;
      items.push_back(static_cast<std::uint8_t>((offset >> 8) << 4 | (length - 1)));
      items.push_back(static_cast<std::uint8_t>(offset & 0xFF));
      s.produced += length;
    }
    s.data.push_back(static_cast<std::uint8_t>(control & 0xFF));
    s.data.push_back(static_cast<std::uint8_t>(control >> 8));
    s.data.insert(s.data.end(), items.begin(), items.end());
  }
  if (corrupt && !s.data.empty()) {
    for (int flips = 1 + rng() % 3; flips > 0; --flips) {
      s.data[rng() % s.data.size()] ^= static_cast<std::uint8_t>(1u << (rng() % 8));
    }
  }
  if (rng() % 4 == 0 && s.data.size() > s.start) {
    s.data.resize(s.start + rng() % (s.data.size() - s.start));
  }
  return s;
}

TEST(Lzrw1Decode, MatchesReferenceOnRandomStreams) {
  std::mt19937_64 rng(20240601);
  int errors = 0, successes = 0;
  for (int round = 0; round < 6000; ++round) {
    const RandomStream s = random_stream(rng);
    std::size_t length;
    switch (rng() % 4) {
      case 0: length = s.produced; break;
      case 1: length = rng() % (s.produced + 1); break;
      case 2: length = s.produced + 1 + rng() % 40; break;
      default: length = rng() % 1200; break;
    }
    const Outcome expected = reference_decode(s.data, s.start, length);
    ASSERT_EQ(decode(s.data, s.start, length), expected)
        << "round " << round << " length " << length << " stream " << s.data.size();
    (expected.bytes ? successes : errors)++;
  }
  // Both branches must be well exercised for the comparison to mean much.
  EXPECT_GT(successes, 1000);
  EXPECT_GT(errors, 1000);
}

}  // namespace
