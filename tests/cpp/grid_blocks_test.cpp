#include "codecs/grid_blocks.h"

#include "reference/zlib.h"
#include "support/moving_bytes.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <random>
#include <span>
#include <string>
#include <vector>

namespace native {
namespace {

using Bytes = std::vector<std::uint8_t>;
using support::MovingBytes;

Bytes compress_with(const Bytes& content, int level = 6) {
  uLongf length = compressBound(content.size());
  Bytes out(length);
  EXPECT_EQ(compress2(out.data(), &length, content.data(), content.size(), level), Z_OK);
  out.resize(length);
  return out;
}

Bytes sample_content(std::size_t length, std::uint32_t seed) {
  std::mt19937 random(seed);
  Bytes out(length);
  // Compressible but not trivial: a slow walk with noise in the low bits.
  std::uint8_t level = static_cast<std::uint8_t>(random());
  for (auto& byte : out) {
    if (random() % 8 == 0) level = static_cast<std::uint8_t>(level + random() % 5 - 2);
    byte = static_cast<std::uint8_t>(level ^ (random() % 4));
  }
  return out;
}

// A grid body under construction: 16-byte sub-headers the payload locations
// skip, as in the files.
struct Body {
  Bytes bytes;

  BlockLocation add(const Bytes& payload) {
    bytes.insert(bytes.end(), 16, 0xee);
    const BlockLocation location{bytes.size(), payload.size()};
    bytes.insert(bytes.end(), payload.begin(), payload.end());
    return location;
  }
};

Bytes concat(std::initializer_list<const Bytes*> parts) {
  Bytes out;
  for (const Bytes* part : parts) out.insert(out.end(), part->begin(), part->end());
  return out;
}

// The blocks inflated as the module inflates them: onto `content` reserved
// at grid_content_reservation() (a refusal skipped).  The count must be a
// value here: inputs this small never exhaust the memory an inflater needs.
std::uint64_t inflate_blocks(std::span<const std::uint8_t> body,
                             std::span<const BlockLocation> locations, std::uint64_t size_hint,
                             MovingBytes& content) {
  (void)content.reserve(grid_content_reservation(body, locations, size_hint));
  const auto blocks = inflate_grid_blocks_into(body, locations, content);
  EXPECT_TRUE(blocks.has_value());
  return blocks ? *blocks : 0;
}

// Into an output that moves on every growth.
void expect_blocks(std::span<const std::uint8_t> body, std::span<const BlockLocation> locations,
                   std::uint64_t size_hint, std::uint64_t count, const Bytes& content) {
  MovingBytes inflated;
  EXPECT_EQ(inflate_blocks(body, locations, size_hint, inflated), count);
  ASSERT_EQ(inflated.size(), content.size());
  EXPECT_TRUE(std::equal(content.begin(), content.end(), inflated.data()));
}

// Every hint gives the same result.
constexpr std::uint64_t HINTS[] = {0, 1, 1000, std::uint64_t{1} << 40,
                                    std::uint64_t{1} << 63, UINT64_MAX};

void expect_blocks_for_every_hint(const Bytes& body, const std::vector<BlockLocation>& locations,
                                  std::uint64_t count, const Bytes& content) {
  for (std::uint64_t hint : HINTS) {
    SCOPED_TRACE("hint " + std::to_string(hint));
    expect_blocks(body, locations, hint, count, content);
  }
  SCOPED_TRACE("exact hint");
  expect_blocks(body, locations, content.size(), count, content);
}

class GridBlocksTest : public ::testing::Test {
 protected:
  GridBlocksTest()
      : a_(sample_content(5000, 1)), b_(sample_content(70000, 2)), c_(sample_content(300, 3)) {
    la_ = body_.add(compress_with(a_));
    lb_ = body_.add(compress_with(b_, 1));
    lc_ = body_.add(compress_with(c_, 9));
  }

  Body body_;
  Bytes a_, b_, c_;
  BlockLocation la_{}, lb_{}, lc_{};
};

TEST_F(GridBlocksTest, NoLocations) {
  expect_blocks_for_every_hint(body_.bytes, {}, 0, {});
  expect_blocks_for_every_hint({}, {}, 0, {});
}

TEST_F(GridBlocksTest, AllGoodBlocksConcatenateInListOrder) {
  expect_blocks_for_every_hint(body_.bytes, {la_, lb_, lc_}, 3, concat({&a_, &b_, &c_}));
  expect_blocks_for_every_hint(body_.bytes, {lc_, la_, lb_}, 3, concat({&c_, &a_, &b_}));
}

TEST_F(GridBlocksTest, LocationPastTheEndStopsThere) {
  const std::uint64_t size = body_.bytes.size();
  const BlockLocation past_end{lc_.offset, lc_.length + 1};
  const BlockLocation beyond{size + 10, 5};
  const BlockLocation starts_at_end_nonempty{size, 1};
  for (const BlockLocation& bad : {past_end, beyond, starts_at_end_nonempty}) {
    // Later locations are not looked at, even valid ones.
    expect_blocks_for_every_hint(body_.bytes, {la_, lb_, bad, lc_}, 2, concat({&a_, &b_}));
    expect_blocks_for_every_hint(body_.bytes, {bad, la_}, 0, {});
  }
}

TEST_F(GridBlocksTest, LocationEndingAtTheEndIsDecoded) {
  ASSERT_EQ(lc_.offset + lc_.length, body_.bytes.size());
  expect_blocks_for_every_hint(body_.bytes, {lc_}, 1, c_);
}

TEST_F(GridBlocksTest, OverflowingEndStopsThere) {
  for (const BlockLocation& bad :
       {BlockLocation{1, UINT64_MAX}, BlockLocation{UINT64_MAX, 1},
        BlockLocation{UINT64_MAX, UINT64_MAX}, BlockLocation{la_.offset, UINT64_MAX - la_.offset + 1},
        BlockLocation{UINT64_MAX, 0}}) {
    expect_blocks_for_every_hint(body_.bytes, {la_, bad, lb_}, 1, a_);
  }
}

TEST_F(GridBlocksTest, ZeroLengthLocationStops) {
  expect_blocks_for_every_hint(body_.bytes, {la_, {lb_.offset, 0}, lb_}, 1, a_);
  // Even at the very end of the body, where it is in range.
  expect_blocks_for_every_hint(body_.bytes, {la_, {body_.bytes.size(), 0}}, 1, a_);
}

TEST_F(GridBlocksTest, BlockOfNoContentCounts) {
  Body body;
  const BlockLocation empty = body.add({0x78, 0x9c, 0x03, 0x00, 0x00, 0x00, 0x00, 0x01});
  const BlockLocation la = body.add(compress_with(a_));
  expect_blocks_for_every_hint(body.bytes, {empty, la, empty, empty}, 4, a_);
  expect_blocks_for_every_hint(body.bytes, {empty}, 1, {});
}

TEST_F(GridBlocksTest, FailingBlockAfterGoodOnesLeavesNothingOfIt) {
  Bytes corrupt = compress_with(sample_content(100000, 9));
  corrupt[corrupt.size() / 2] ^= 0x55;  // fails late, after much output
  Bytes bad_check = compress_with(sample_content(4000, 10));
  bad_check.back() ^= 1;
  Bytes cut = compress_with(sample_content(4000, 11));
  cut.pop_back();
  for (const Bytes& payload : {corrupt, bad_check, cut, Bytes{0x1f, 0x8b, 0x08, 0x00}}) {
    Body body = body_;
    const BlockLocation bad = body.add(payload);
    expect_blocks_for_every_hint(body.bytes, {la_, lb_, bad, lc_}, 2, concat({&a_, &b_}));
  }
}

Bytes from_hex(const std::string& hex) {
  Bytes out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    out.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  return out;
}

// Blocks outside zlib's rules that a lenient whole-buffer decoder takes
// (trailer: the Adler-32 of its content), and one zlib takes that the fast
// path leaves to zlib: each judged as zlib judges it.
TEST_F(GridBlocksTest, BlocksJudgedAsZlibJudgesThem) {
  // A fixed-code block with length symbol 286: "a" and a 258-byte match to
  // a lenient decoder, an invalid code to zlib.
  const Bytes symbol_286 = from_hex("789c4b1c0300d9a86224");
  // A one-codeword distance code sent as '0': "aaaa" to zlib.
  const Bytes single_distance = from_hex(
      "789c0de0db922449922ccb0200000000000000000000000000000000000000000000000000000000000000"
      "00000000000000000000000000000000000100000000000000000000000000000000000000000000000000"
      "00000000000000000000000000000000000000000000000000000000000000000000000000000000000000"
      "0000000000000000000010620c03ce0185");
  Body body = body_;
  const BlockLocation lenient = body.add(symbol_286);
  const BlockLocation zlib_only = body.add(single_distance);
  const Bytes aaaa = {'a', 'a', 'a', 'a'};
  expect_blocks_for_every_hint(body.bytes, {la_, lb_, lenient, lc_}, 2, concat({&a_, &b_}));
  expect_blocks_for_every_hint(body.bytes, {la_, zlib_only, lc_, zlib_only}, 4,
                               concat({&a_, &aaaa, &c_, &aaaa}));
}

TEST_F(GridBlocksTest, BytesAfterTheStreamInItsRangeAreIgnored) {
  Body body;
  Bytes payload = compress_with(a_);
  const Bytes more = compress_with(b_);
  payload.insert(payload.end(), more.begin(), more.end());
  payload.insert(payload.end(), 100, 0xab);
  const BlockLocation location = body.add(payload);
  expect_blocks_for_every_hint(body.bytes, {location, location}, 2, concat({&a_, &a_}));
}

TEST_F(GridBlocksTest, RepeatedAndOverlappingLocations) {
  // The range of b plus the sub-header and payload of c still starts with
  // b's stream.
  const BlockLocation b_and_c{lb_.offset, lc_.offset + lc_.length - lb_.offset};
  // a's payload taken together with the sub-header before it is not a stream.
  const BlockLocation with_header{la_.offset - 16, la_.length + 16};
  expect_blocks_for_every_hint(body_.bytes, {lb_, lb_, b_and_c, la_, lb_}, 5,
                               concat({&b_, &b_, &b_, &a_, &b_}));
  expect_blocks_for_every_hint(body_.bytes, {la_, with_header, la_}, 1, a_);
}

TEST_F(GridBlocksTest, CorrectHintIsReservedOnce) {
  const Bytes content = concat({&a_, &b_, &c_});
  const std::vector<BlockLocation> all = {la_, lb_, lc_};
  MovingBytes exact;
  EXPECT_EQ(inflate_blocks(body_.bytes, all, content.size(), exact), 3u);
  EXPECT_EQ(exact.capacity(), content.size());
  EXPECT_EQ(exact.growths(), 1u);
  // A hint above what the payloads could ever inflate to is cut down.
  const std::uint64_t most = (la_.length + lb_.length + lc_.length) * DEFLATE_MAX_EXPANSION;
  for (std::uint64_t hint : {most + 1, std::uint64_t{1} << 63, UINT64_MAX}) {
    MovingBytes cut;
    inflate_blocks(body_.bytes, all, hint, cut);
    EXPECT_EQ(cut.capacity(), most);
    EXPECT_EQ(cut.growths(), 1u);
  }
  // Only the locations before the first one out of range count.
  MovingBytes partial;
  EXPECT_EQ(inflate_blocks(body_.bytes, {{la_, {0, UINT64_MAX}, lb_, lb_}}, UINT64_MAX, partial),
            1u);
  EXPECT_EQ(partial.capacity(), la_.length * DEFLATE_MAX_EXPANSION);
}

TEST(GridBlocks, StreamsOfEveryLevel) {
  Body body;
  std::vector<BlockLocation> locations;
  Bytes expected;
  for (int level = 0; level <= 9; ++level) {
    const Bytes content = sample_content(20000 + level, static_cast<std::uint32_t>(level));
    locations.push_back(body.add(compress_with(content, level)));
    expected.insert(expected.end(), content.begin(), content.end());
  }
  expect_blocks_for_every_hint(body.bytes, locations, 10, expected);
}

TEST(GridBlocks, MatchesReferenceOnRandomBodies) {
  std::mt19937 random(99);
  for (int round = 0; round < 400; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    Body body;
    std::vector<BlockLocation> payloads;
    for (int i = 1 + static_cast<int>(random() % 8); i > 0; --i) {
      Bytes payload = compress_with(sample_content(random() % 3000, random()),
                                    static_cast<int>(random() % 10));
      switch (random() % 6) {
        case 0:
          payload.resize(random() % payload.size());
          break;
        case 1:
          payload[random() % payload.size()] ^= 0x10;
          break;
        default:
          break;
      }
      payloads.push_back(body.add(payload));
    }
    // Payloads in any order and repeated, and stray ranges.
    std::vector<BlockLocation> locations;
    for (int i = static_cast<int>(random() % 10); i > 0; --i) {
      const std::uint32_t pick = random() % (payloads.size() + 1);
      locations.push_back(pick < payloads.size()
                              ? payloads[pick]
                              : BlockLocation{random() % (body.bytes.size() + 2), random() % 50});
    }
    const auto expected = native::reference::reference_grid_blocks(body.bytes, locations);
    const std::uint64_t hint =
        random() % 3 == 0 ? expected.content.size() : random() % 100000;
    expect_blocks(body.bytes, locations, hint, expected.blocks_decoded, expected.content);
  }
}

// A block whose output cannot grow (a result object may refuse) ends the
// loop quietly, the blocks before it kept whole and later ones not looked
// at; also when the reservation is refused.  Each limit leaves the next
// block no way to fit.
TEST_F(GridBlocksTest, BlockThatCannotGrowEndsTheLoopQuietly) {
  const std::uint64_t ab = a_.size() + b_.size();
  struct Refusal {
    std::uint64_t hint, limit, blocks;
  };
  for (const Refusal& r : {Refusal{0, 0, 0}, Refusal{UINT64_MAX, 0, 0}, Refusal{0, ab - 1, 1},
                           Refusal{UINT64_MAX, ab - 1, 1}, Refusal{ab, ab + c_.size() - 1, 2}}) {
    SCOPED_TRACE("hint " + std::to_string(r.hint) + ", limit " + std::to_string(r.limit));
    MovingBytes content(r.limit);
    EXPECT_EQ(inflate_blocks(body_.bytes, {{la_, lb_, lc_, la_}}, r.hint, content), r.blocks);
    EXPECT_GT(content.refusals(), 0u);
    const Bytes kept = r.blocks == 0 ? Bytes{} : r.blocks == 1 ? a_ : concat({&a_, &b_});
    ASSERT_EQ(content.size(), kept.size());
    EXPECT_TRUE(std::equal(kept.begin(), kept.end(), content.data()));
    // An owner emptied by a refusal: the blocks counted are gone, which
    // only an error can say; before any content, nothing is lost.
    MovingBytes emptied(r.limit, MovingBytes::Refusal::loses_content);
    (void)emptied.reserve(grid_content_reservation(body_.bytes, {{la_, lb_, lc_, la_}}, r.hint));
    const auto outcome = inflate_grid_blocks_into(body_.bytes, {{la_, lb_, lc_, la_}}, emptied);
    EXPECT_EQ(emptied.lost(), r.blocks > 0);
    if (r.blocks > 0) {
      ASSERT_FALSE(outcome.has_value());
      EXPECT_EQ(outcome.error().kind, ErrorKind::out_of_memory);
    } else {
      ASSERT_TRUE(outcome.has_value());
      EXPECT_EQ(*outcome, 0u);
    }
  }
}

}  // namespace
}  // namespace native
