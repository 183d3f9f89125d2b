#include "codecs/speed_blob.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "codecs/lzrw1.h"
#include "lzrw1_encoder.h"
#include "reference/speed_blob.h"
#include "speed_builder.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using native::DecodeError;
using native::ErrorKind;
using native::SPEED_MARKER_LZRW1;
using native::SPEED_MARKER_STORED_RAW;
using native::testdata::append_lzrw1_chunk;
using native::testdata::append_speed_magic;
using native::testdata::append_speed_subheader;
using native::testdata::append_stored_raw_chunk;
using native::testdata::build_speed_blob;
using native::testdata::SpeedBlobOptions;
using native::testdata::SpeedChunkCoding;

using native::reference::Outcome;

const std::string OUT_OF_INPUT = native::reference::LZRW1_OUT_OF_INPUT;
const std::string BAD_OFFSET = native::reference::LZRW1_BAD_OFFSET;
const std::string NO_HEADER = "decode_speed_blob: truncated -- no chunk header";
const std::string RUNS_OFF = native::reference::SPEED_RUNS_OFF;
const std::string TOO_MANY = "decode_speed_blob: chunks decode to more bytes than the blob header declares";
const std::string STORED_CUT = "decode_speed_blob: truncated stored-raw payload -- file cut off mid-chunk?";

std::string implausible_length(const std::string& printed) {
  return "decode_speed_blob: implausible decompressed_length=" + printed +
         " -- likely a misaligned or corrupt chunk header";
}

// Outcome of a whole decode as the module function runs it: the output
// length first, then the chain into a buffer of that length.
Outcome ok(Bytes bytes) { return native::reference::succeeded(std::move(bytes)); }
Outcome value_error(const std::string& m) { return native::reference::failed(ErrorKind::value_error, m); }
Outcome index_error(const std::string& m) { return native::reference::failed(ErrorKind::index_error, m); }

Outcome from_error(const DecodeError& error) { return native::reference::failed(error); }

constexpr std::size_t GUARD_LENGTH = 64;
constexpr std::uint8_t GUARD_BYTE = 0xEE;

Outcome decode(const Bytes& blob, std::int64_t total) {
  // The blob sits in an allocation of its exact size, so that a read past
  // its end is seen by the address sanitizer.
  const std::unique_ptr<std::uint8_t[]> copy(new std::uint8_t[blob.size()]);
  std::copy(blob.begin(), blob.end(), copy.get());
  const std::span<const std::uint8_t> data(copy.get(), blob.size());
  const auto length = native::speed_blob_output_length(data, total);
  if (!length) return from_error(length.error());
  const std::uint64_t n = *length;
  EXPECT_GE(n, 1u);
  Bytes buffer(n + 2 * GUARD_LENGTH, GUARD_BYTE);
  const std::span<std::uint8_t> output(buffer.data() + GUARD_LENGTH, n);
  const auto decoded = native::decode_speed_chain_into(data, output);
  for (std::size_t i = 0; i < GUARD_LENGTH; ++i) {
    EXPECT_EQ(buffer[i], GUARD_BYTE) << "write before the output";
    EXPECT_EQ(buffer[GUARD_LENGTH + n + i], GUARD_BYTE) << "write past the output";
  }
  if (!decoded) return from_error(decoded.error());
  return ok(Bytes(output.begin(), output.end()));
}

// The output length as text, or the error as the kind and message.
std::string output_length(const Bytes& data, std::int64_t total) {
  const auto length = native::speed_blob_output_length(data, total);
  if (!length) {
    return (length.error().kind == ErrorKind::index_error ? "IndexError: " : "ValueError: ") +
           native::reference::shown_message(length.error());
  }
  return std::to_string(*length);
}

Bytes magic(std::int32_t subtype = 1) {
  Bytes blob;
  append_speed_magic(blob, subtype, 42);
  return blob;
}

Bytes text_of(const std::string& text) { return Bytes(text.begin(), text.end()); }

// The first stored-raw chunk "hello" (decompressed_length 5, chunk_length
// 17): the second sub-header, if any, starts at 33.
Bytes hello_blob() {
  Bytes blob = magic();
  append_stored_raw_chunk(blob, text_of("hello"));
  return blob;
}

void put_u32(Bytes& blob, std::size_t pos, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) blob[pos + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// ---------------------------------------------------------------------------
// The head of the blob

TEST(SpeedBlobHead, ShortBlobs) {
  for (std::size_t size = 0; size < 12; ++size) {
    EXPECT_EQ(decode(Bytes(size, 0x01), 0), index_error(NO_HEADER)) << size;
  }
  for (std::size_t size = 12; size < 28; ++size) {
    Bytes blob = hello_blob();
    blob.resize(size);
    EXPECT_EQ(decode(blob, 0), index_error(RUNS_OFF)) << size;
    // The subtype is tested before the length.
    put_u32(blob, 8, 2);
    EXPECT_EQ(decode(blob, 0), value_error("decode_speed_blob: not a Speed chunk (subtype=2)"))
        << size;
  }
}

class Subtype : public ::testing::TestWithParam<std::tuple<std::uint32_t, const char*>> {};

TEST_P(Subtype, PrintedSigned) {
  const auto [field, printed] = GetParam();
  Bytes blob = hello_blob();
  put_u32(blob, 8, field);
  EXPECT_EQ(decode(blob, 0),
            value_error(std::string("decode_speed_blob: not a Speed chunk (subtype=") + printed + ")"));
}

INSTANTIATE_TEST_SUITE_P(SpeedBlobHead, Subtype,
                         ::testing::Values(std::make_tuple(0u, "0"), std::make_tuple(2u, "2"),
                                           std::make_tuple(0x100u, "256"),
                                           std::make_tuple(0xFFFFFFFFu, "-1"),
                                           std::make_tuple(0x80000000u, "-2147483648"),
                                           std::make_tuple(0x7FFFFFFFu, "2147483647")));

TEST(SpeedBlobHead, MagicBytesOtherThanTheSubtypeAreFree) {
  for (std::uint8_t filler : {0x00, 0xFF, 0x37}) {
    Bytes blob = hello_blob();
    for (std::size_t i : {0, 1, 2, 3, 4, 5, 6, 7, 12, 13, 14, 15}) blob[i] = filler;
    EXPECT_EQ(decode(blob, 0), ok(text_of("hello")));
  }
}

class FirstLength : public ::testing::TestWithParam<std::tuple<std::uint32_t, const char*>> {};

TEST_P(FirstLength, Implausible) {
  const auto [field, printed] = GetParam();
  Bytes blob = hello_blob();
  put_u32(blob, 16, field);
  // Checked before the total, whatever the total.
  for (std::int64_t total : {std::int64_t{0}, std::int64_t{-1}, std::int64_t{5},
                             std::numeric_limits<std::int64_t>::max()}) {
    EXPECT_EQ(decode(blob, total), value_error(implausible_length(printed))) << total;
  }
}

INSTANTIATE_TEST_SUITE_P(SpeedBlobHead, FirstLength,
                         ::testing::Values(std::make_tuple(0u, "0"),
                                           std::make_tuple(0xFFFFFFFFu, "-1"),
                                           std::make_tuple(200'000'000u, "200000000"),
                                           std::make_tuple(0x80000000u, "-2147483648"),
                                           std::make_tuple(0x7FFFFFFFu, "2147483647")));

TEST(SpeedBlobHead, LargestPlausibleFirstLength) {
  Bytes blob = hello_blob();
  put_u32(blob, 16, 199'999'999);
  EXPECT_EQ(output_length(blob, 0), "199999999");
  // The 9 x L bound does not apply when the total is not larger than it.
  EXPECT_EQ(output_length(blob, 199'999'999), "199999999");
}

TEST(SpeedBlobHead, OutputLength) {
  const Bytes blob = hello_blob();  // first decompressed_length 5
  struct Case {
    std::int64_t total;
    std::uint64_t length;
  };
  for (const Case& c : {Case{0, 5}, Case{-1, 5}, Case{3, 5}, Case{5, 5}, Case{6, 6},
                        Case{std::numeric_limits<std::int64_t>::min(), 5},
                        Case{9 * 33, 9 * 33}}) {
    EXPECT_EQ(output_length(blob, c.total), std::to_string(c.length))
        << c.total;
  }
}

TEST(SpeedBlobHead, TotalBoundedByNineTimesTheBlob) {
  Bytes blob = hello_blob();
  blob.resize(100, 0xAB);
  EXPECT_EQ(output_length(blob, 900), "900");
  EXPECT_EQ(decode(blob, 901),
            value_error("decode_speed_blob: blob header declares 901 decompressed byte(s), "
                        "more than 100 byte(s) of chunk data could possibly produce"));
  EXPECT_EQ(decode(blob, std::numeric_limits<std::int64_t>::max()),
            value_error("decode_speed_blob: blob header declares 9223372036854775807 "
                        "decompressed byte(s), more than 100 byte(s) of chunk data could "
                        "possibly produce"));
}

// ---------------------------------------------------------------------------
// The chain

TEST(SpeedChain, FirstChunkAloneForSmallTotals) {
  Bytes blob = hello_blob();
  // Whatever follows the first chunk is never read: a broken sub-header,
  // then nothing at all.
  for (std::int64_t total : {0, -1, 3, 5}) {
    EXPECT_EQ(decode(blob, total), ok(text_of("hello"))) << total;
  }
  append_speed_subheader(blob, 0, 0, 0x12345678);
  for (std::int64_t total : {0, -1, 3, 5}) {
    EXPECT_EQ(decode(blob, total), ok(text_of("hello"))) << total;
  }
}

TEST(SpeedChain, SecondSubheaderMustBeWhole) {
  Bytes blob = hello_blob();
  append_stored_raw_chunk(blob, text_of("!"));
  ASSERT_EQ(blob.size(), 46u);
  EXPECT_EQ(decode(blob, 6), ok(text_of("hello!")));
  for (std::size_t size = 33; size < 45; ++size) {
    EXPECT_EQ(decode(Bytes(blob.begin(), blob.begin() + size), 6), index_error(RUNS_OFF)) << size;
  }
  // Sub-header whole, payload missing.
  EXPECT_EQ(decode(Bytes(blob.begin(), blob.begin() + 45), 6), index_error(STORED_CUT));
}

TEST(SpeedChain, ChunkPastTheTotal) {
  Bytes blob = hello_blob();
  append_stored_raw_chunk(blob, text_of("world"));
  EXPECT_EQ(decode(blob, 10), ok(text_of("helloworld")));
  for (std::int64_t total : {6, 9}) EXPECT_EQ(decode(blob, total), value_error(TOO_MANY)) << total;
  // Before the marker and the stored-raw checks.
  Bytes bad_marker = blob;
  put_u32(bad_marker, 41, 0);
  EXPECT_EQ(decode(bad_marker, 9), value_error(TOO_MANY));
  Bytes bad_length = blob;
  put_u32(bad_length, 37, 3);
  EXPECT_EQ(decode(bad_length, 9), value_error(TOO_MANY));
}

TEST(SpeedChain, SmallTotalStillDecodesTheWholeFirstChunk) {
  Bytes blob = magic();
  append_lzrw1_chunk(blob, Bytes(1000, 'z'));
  EXPECT_EQ(decode(blob, 10), ok(Bytes(1000, 'z')));
}

class LaterLength : public ::testing::TestWithParam<std::tuple<std::uint32_t, const char*>> {};

TEST_P(LaterLength, Implausible) {
  const auto [field, printed] = GetParam();
  Bytes blob = hello_blob();
  append_stored_raw_chunk(blob, text_of("world"));
  put_u32(blob, 33, field);
  // Before the total check, the marker and the stored-raw length rule.
  put_u32(blob, 41, 0xDEADBEEF);
  EXPECT_EQ(decode(blob, 10), value_error(implausible_length(printed)));
}

INSTANTIATE_TEST_SUITE_P(SpeedChain, LaterLength,
                         ::testing::Values(std::make_tuple(0u, "0"),
                                           std::make_tuple(0xFFFFFFFFu, "-1"),
                                           std::make_tuple(200'000'000u, "200000000"),
                                           std::make_tuple(0x80000000u, "-2147483648")));

class Marker : public ::testing::TestWithParam<std::tuple<std::uint32_t, const char*>> {};

TEST_P(Marker, Unrecognized) {
  const auto [field, printed] = GetParam();
  const std::string message = std::string("decode_speed_blob: unrecognized marker value: ") + printed;
  Bytes blob = hello_blob();
  put_u32(blob, 24, field);
  EXPECT_EQ(decode(blob, 0), value_error(message));
  // In a later chunk too.
  Bytes chain = hello_blob();
  append_stored_raw_chunk(chain, text_of("world"));
  put_u32(chain, 41, field);
  EXPECT_EQ(decode(chain, 10), value_error(message));
}

INSTANTIATE_TEST_SUITE_P(SpeedChain, Marker,
                         ::testing::Values(std::make_tuple(0xF0E1D2C4u, "-253635900"),
                                           std::make_tuple(0x80000000u, "-2147483648"),
                                           std::make_tuple(0u, "0"),
                                           std::make_tuple(0x7FFFFFFFu, "2147483647"),
                                           std::make_tuple(0xC3D2E1F0u, "-1009589776")));

class StoredRawLength : public ::testing::TestWithParam<std::tuple<std::uint32_t, const char*>> {};

TEST_P(StoredRawLength, MustBeThePayloadPlusTwelve) {
  const auto [field, printed] = GetParam();
  Bytes blob = hello_blob();
  put_u32(blob, 20, field);
  const Outcome expected = value_error(
      std::string("decode_speed_blob: stored-raw chunk should have chunk_length-12 == "
                  "decompressed_length (got chunk_length-12=") +
      printed + ", decompressed_length=5)");
  EXPECT_EQ(decode(blob, 0), expected);
  // Before the payload's truncation.
  blob.resize(30);
  EXPECT_EQ(decode(blob, 0), expected);
}

INSTANTIATE_TEST_SUITE_P(SpeedChain, StoredRawLength,
                         ::testing::Values(std::make_tuple(0u, "-12"), std::make_tuple(16u, "4"),
                                           std::make_tuple(18u, "6"), std::make_tuple(5u, "-7"),
                                           std::make_tuple(0xFFFFFFFFu, "-13"),
                                           std::make_tuple(0x80000000u, "-2147483660"),
                                           std::make_tuple(0x7FFFFFFFu, "2147483635")));

TEST(SpeedChain, StoredRawPayloadCut) {
  const Bytes blob = hello_blob();
  for (std::size_t size = 28; size < 33; ++size) {
    EXPECT_EQ(decode(Bytes(blob.begin(), blob.begin() + size), 0), index_error(STORED_CUT)) << size;
  }
}

TEST(SpeedChain, LzrwStreamIsNotBoundedByItsChunkLength) {
  const Bytes content = native::testdata::survey_like_content(3000, 5);
  Bytes blob = magic();
  append_lzrw1_chunk(blob, content);
  // A chunk_length that ends the chunk early is only used to find a next
  // chunk, and there is none.
  put_u32(blob, 20, 12);
  EXPECT_EQ(decode(blob, 0), ok(content));
  blob.pop_back();
  EXPECT_EQ(decode(blob, 0), index_error(OUT_OF_INPUT));
}

TEST(SpeedChain, LzrwStreamCannotReachEarlierChunks) {
  Bytes blob = hello_blob();
  append_lzrw1_chunk(blob, Bytes(40, 'h'));
  ASSERT_EQ(decode(blob, 45), ok([] {
              Bytes b = text_of("hello");
              b.insert(b.end(), 40, 'h');
              return b;
            }()));
  // First item of the second stream turned into a copy of offset 1.
  blob[45] |= 1;
  blob[47] = 0x00;
  blob[48] = 0x01;
  EXPECT_EQ(decode(blob, 45), index_error(BAD_OFFSET));
}

TEST(SpeedChain, LzrwErrorsPassThrough) {
  Bytes blob = magic();
  append_speed_subheader(blob, 4, 16, SPEED_MARKER_LZRW1);
  const Bytes stream = {0x01, 0x00, 0x00, 0x01};  // a copy as the first item
  blob.insert(blob.end(), stream.begin(), stream.end());
  EXPECT_EQ(decode(blob, 0), index_error(BAD_OFFSET));
  blob.resize(29);  // control word cut in half
  EXPECT_EQ(decode(blob, 0), index_error(OUT_OF_INPUT));
  blob.resize(28);  // payload empty
  EXPECT_EQ(decode(blob, 0), index_error(OUT_OF_INPUT));
}

class ChunkLength : public ::testing::TestWithParam<std::tuple<std::uint32_t, const char*>> {};

TEST_P(ChunkLength, ExaminedOnlyWhenAnotherChunkIsNeeded) {
  const auto [field, printed] = GetParam();
  const std::string message =
      std::string("decode_speed_blob: implausible chunk_length=") + printed + " -- corrupt chunk chain";
  Bytes blob = magic();
  append_lzrw1_chunk(blob, text_of("first chunk"));
  append_lzrw1_chunk(blob, text_of("second chunk"));
  append_lzrw1_chunk(blob, text_of("third"));
  const std::size_t second = 16 + (blob[20] | blob[21] << 8);
  Bytes expected = text_of("first chunksecond chunkthird");
  ASSERT_EQ(decode(blob, 28), ok(expected));

  Bytes middle = blob;
  put_u32(middle, second + 4, field);
  EXPECT_EQ(decode(middle, 28), value_error(message));
  // The same field in the last chunk needed is never examined.
  EXPECT_EQ(decode(middle, 23), ok(Bytes(expected.begin(), expected.begin() + 23)));
}

INSTANTIATE_TEST_SUITE_P(SpeedChain, ChunkLength,
                         ::testing::Values(std::make_tuple(11u, "11"), std::make_tuple(0u, "0"),
                                           std::make_tuple(0xFFFFFFF4u, "-12"),
                                           std::make_tuple(0x80000000u, "-2147483648")));

TEST(SpeedChain, ChunkLengthTwelveIsPlausible) {
  // An LZRW1 chunk of chunk_length 12 puts the next sub-header where its own
  // stream starts; the same bytes serve both.
  Bytes blob = magic();
  append_speed_subheader(blob, 1, 12, SPEED_MARKER_LZRW1);
  // At 28: 02 00 00 00 is the stream's control word 2 and literal 00, and
  // the next chunk's decompressed_length 2.
  append_speed_subheader(blob, 2, 14, SPEED_MARKER_STORED_RAW);
  blob.push_back('O');
  blob.push_back('K');
  EXPECT_EQ(decode(blob, 3), ok(Bytes{0x00, 'O', 'K'}));
}

TEST(SpeedChain, LengthsPastTheEndOfAChunkChain) {
  // A far chunk_length takes the chain off the end.
  Bytes blob = hello_blob();
  append_speed_subheader(blob, 1, 0x7FFFFFFF, SPEED_MARKER_LZRW1);
  blob.insert(blob.end(), {0x00, 0x00, 'x'});
  EXPECT_EQ(decode(blob, 6), ok(text_of("hellox")));
  EXPECT_EQ(decode(blob, 7), index_error(RUNS_OFF));
}

// ---------------------------------------------------------------------------
// Whole blobs from the builder

struct BuildCase {
  std::size_t size;
  std::size_t chunk_content;
  SpeedChunkCoding coding;
};

class BuiltBlob : public ::testing::TestWithParam<BuildCase> {};

TEST_P(BuiltBlob, RoundTripAndTotals) {
  const BuildCase c = GetParam();
  const Bytes content = native::testdata::survey_like_content(c.size, c.size * 31 + c.chunk_content);
  const Bytes blob = build_speed_blob(content, {.chunk_content = c.chunk_content, .coding = c.coding});
  EXPECT_EQ(blob.size() % 4096, 0u);
  const auto total = static_cast<std::int64_t>(content.size());
  EXPECT_EQ(decode(blob, total), ok(content));

  const std::size_t first = std::min(c.chunk_content, c.size);
  const Bytes first_chunk(content.begin(), content.begin() + first);
  for (std::int64_t small : {std::int64_t{0}, std::int64_t{-1}, static_cast<std::int64_t>(first)}) {
    EXPECT_EQ(decode(blob, small), ok(first_chunk));
  }
  if (c.size > first) {
    // A total at a chunk boundary decodes a prefix of the chain; one inside
    // a chunk does not add up.
    const auto two = static_cast<std::int64_t>(std::min(2 * c.chunk_content, c.size));
    EXPECT_EQ(decode(blob, two), ok(Bytes(content.begin(), content.begin() + two)));
    if (two > static_cast<std::int64_t>(first) + 1) {
      EXPECT_EQ(decode(blob, static_cast<std::int64_t>(first) + 1), value_error(TOO_MANY));
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    SpeedChain, BuiltBlob,
    ::testing::Values(BuildCase{1, 16368, SpeedChunkCoding::stored_raw},
                      BuildCase{1, 16368, SpeedChunkCoding::lzrw1},
                      BuildCase{16368, 16368, SpeedChunkCoding::lzrw1},
                      BuildCase{16369, 16368, SpeedChunkCoding::automatic},
                      BuildCase{100000, 16368, SpeedChunkCoding::automatic},
                      BuildCase{100000, 16368, SpeedChunkCoding::alternating},
                      BuildCase{5000, 100, SpeedChunkCoding::alternating},
                      BuildCase{5000, 1, SpeedChunkCoding::stored_raw},
                      BuildCase{300, 7, SpeedChunkCoding::lzrw1}));

TEST(SpeedChain, AutomaticCodingStoresIncompressibleChunksRaw) {
  Bytes noise(20000);
  std::uint32_t x = 1;
  for (auto& b : noise) b = static_cast<std::uint8_t>((x = x * 1664525u + 1013904223u) >> 24);
  const Bytes blob = build_speed_blob(noise, {.page_size = 0});
  EXPECT_EQ(blob.size(), 16 + 2 * 12 + noise.size());
  EXPECT_EQ(decode(blob, 20000), ok(noise));
}

// What a cut blob must report, worked out from where the cut lies.
Outcome expected_for_cut(const Bytes& blob, std::size_t cut, std::int64_t total) {
  if (cut < 12) return index_error(NO_HEADER);
  if (cut < 28) return index_error(RUNS_OFF);
  const std::int64_t first = blob[16] | blob[17] << 8 | blob[18] << 16;
  if (total > first && static_cast<std::uint64_t>(total) > 9 * cut) {
    return value_error("decode_speed_blob: blob header declares " + std::to_string(total) +
                       " decompressed byte(s), more than " + std::to_string(cut) +
                       " byte(s) of chunk data could possibly produce");
  }
  std::size_t h = 16;
  while (true) {
    if (cut < h + 12) return index_error(RUNS_OFF);
    const std::uint32_t cl = blob[h + 4] | blob[h + 5] << 8 | blob[h + 6] << 16;
    const bool raw = blob[h + 8] == (SPEED_MARKER_STORED_RAW & 0xFF);
    if (cut < h + cl) return index_error(raw ? STORED_CUT : OUT_OF_INPUT);
    h += cl;
  }
}

TEST(SpeedChain, EveryTruncation) {
  const Bytes content = native::testdata::survey_like_content(700, 8);
  const Bytes blob = build_speed_blob(
      content, {.chunk_content = 150, .coding = SpeedChunkCoding::alternating, .page_size = 0});
  const auto total = static_cast<std::int64_t>(content.size());
  ASSERT_EQ(decode(blob, total), ok(content));
  for (std::size_t cut = 0; cut < blob.size(); ++cut) {
    const Bytes prefix(blob.begin(), blob.begin() + cut);
    ASSERT_EQ(decode(prefix, total), expected_for_cut(blob, cut, total)) << "cut at " << cut;
  }
}

TEST(SpeedChain, TotalBeyondTheChain) {
  const Bytes content = native::testdata::survey_like_content(1000, 2);
  const Bytes blob = build_speed_blob(content, {.chunk_content = 300, .page_size = 0});
  EXPECT_EQ(decode(blob, 1001), index_error(RUNS_OFF));
}

TEST(SpeedChain, ChainStandsAloneWithoutTheHeadCheck) {
  // Called directly on a blob too short for a sub-header.
  Bytes out(5);
  const Bytes blob(20, 0);
  const auto decoded = native::decode_speed_chain_into(blob, out);
  ASSERT_FALSE(decoded);
  EXPECT_EQ(from_error(decoded.error()), index_error(RUNS_OFF));
}

}  // namespace
