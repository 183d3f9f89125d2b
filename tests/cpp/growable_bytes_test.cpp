#include "codecs/growable_bytes.h"
#include "support/byte_vector.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <numeric>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "codecs/internal_fault.h"

namespace native {
namespace {

using support::ByteVector;

std::vector<std::uint8_t> contents(const ByteVector& vector) {
  return {vector.data(), vector.data() + vector.size()};
}

// Appends a copy of `bytes` the way the inflater fills the vector: grow,
// write into the spare room, commit.  False (vector unchanged) when the
// memory cannot be had.
bool append(ByteVector& vector, std::span<const std::uint8_t> bytes) {
  if (bytes.empty()) return true;
  if (!vector.grow(bytes.size())) return false;
  std::memcpy(vector.spare().data(), bytes.data(), bytes.size());
  vector.commit(bytes.size());
  return true;
}

std::vector<std::uint8_t> iota_bytes(std::size_t length, std::uint8_t first) {
  std::vector<std::uint8_t> bytes(length);
  std::iota(bytes.begin(), bytes.end(), first);
  return bytes;
}

TEST(ByteVector, StartsEmptyWithoutStorage) {
  ByteVector vector;
  EXPECT_EQ(vector.size(), 0u);
  EXPECT_EQ(vector.capacity(), 0u);
  EXPECT_TRUE(vector.empty());
  EXPECT_TRUE(vector.spare().empty());
  EXPECT_TRUE(contents(vector).empty());
}

TEST(ByteVector, ReserveIsExactAndNeverShrinks) {
  ByteVector vector;
  ASSERT_TRUE(vector.reserve(100));
  EXPECT_EQ(vector.capacity(), 100u);
  EXPECT_EQ(vector.size(), 0u);
  ASSERT_TRUE(vector.reserve(10));
  EXPECT_EQ(vector.capacity(), 100u);
  ASSERT_TRUE(vector.reserve(0));
  EXPECT_EQ(vector.capacity(), 100u);
}

TEST(ByteVector, ReserveKeepsContents) {
  ByteVector vector;
  const auto bytes = iota_bytes(300, 7);
  ASSERT_TRUE(append(vector, bytes));
  ASSERT_TRUE(vector.reserve(1 << 20));
  EXPECT_EQ(vector.capacity(), 1u << 20);
  EXPECT_EQ(contents(vector), bytes);
}

TEST(ByteVector, GrowAtLeastDoubles) {
  ByteVector vector;
  ASSERT_TRUE(vector.grow(100));
  EXPECT_EQ(vector.capacity(), 100u);
  vector.commit(100);
  ASSERT_TRUE(vector.grow(1));
  EXPECT_EQ(vector.capacity(), 200u);
  vector.commit(50);
  // 50 spare: asking for 50 or fewer changes nothing.
  ASSERT_TRUE(vector.grow(50));
  EXPECT_EQ(vector.capacity(), 200u);
  // More than doubling is needed: the need wins.
  ASSERT_TRUE(vector.grow(1000));
  EXPECT_EQ(vector.capacity(), 1150u);
}

TEST(ByteVector, SpareRoomAndCommit) {
  ByteVector vector;
  ASSERT_TRUE(vector.reserve(16));
  auto spare = vector.spare();
  ASSERT_EQ(spare.size(), 16u);
  std::memcpy(spare.data(), "abcdef", 6);
  vector.commit(6);
  EXPECT_EQ(vector.size(), 6u);
  EXPECT_EQ(vector.spare().size(), 10u);
  EXPECT_EQ(vector.spare().data(), vector.data() + 6);
  vector.commit(0);
  EXPECT_EQ(vector.size(), 6u);
  EXPECT_EQ(std::string(vector.data(), vector.data() + vector.size()),
            "abcdef");
}

TEST(ByteVector, CommitPastSpareRoomIsAFault) {
  ByteVector vector;
  ASSERT_TRUE(vector.reserve(8));
  vector.commit(5);
  EXPECT_THROW(vector.commit(4), InternalFault);
  EXPECT_EQ(vector.size(), 5u);
  EXPECT_THROW(vector.commit(UINT64_MAX), InternalFault);
  EXPECT_EQ(vector.size(), 5u);
  vector.commit(3);
  EXPECT_EQ(vector.size(), 8u);
}

TEST(ByteVector, AppendConcatenates) {
  ByteVector vector;
  std::vector<std::uint8_t> expected;
  for (std::size_t round = 0; round < 40; ++round) {
    const auto piece = iota_bytes(round * 37 % 1000, static_cast<std::uint8_t>(round));
    ASSERT_TRUE(append(vector, piece));
    expected.insert(expected.end(), piece.begin(), piece.end());
    ASSERT_EQ(contents(vector), expected);
    ASSERT_GE(vector.capacity(), vector.size());
  }
}

TEST(ByteVector, EmptyAppendAllocatesNothing) {
  ByteVector vector;
  ASSERT_TRUE(append(vector, std::span<const std::uint8_t>()));
  EXPECT_EQ(vector.capacity(), 0u);
}

TEST(ByteVector, AppendGrowsGeometrically) {
  ByteVector vector;
  const std::uint8_t byte = 0x5a;
  std::size_t growths = 0;
  std::uint64_t last_capacity = 0;
  for (int i = 0; i < 100000; ++i) {
    ASSERT_TRUE(append(vector, std::span<const std::uint8_t>(&byte, 1)));
    if (vector.capacity() != last_capacity) {
      EXPECT_GE(vector.capacity(), 2 * last_capacity);
      last_capacity = vector.capacity();
      ++growths;
    }
  }
  EXPECT_LE(growths, 18u);
}

struct Unreachable {
  const char* name;
  std::uint64_t capacity;
};

class ByteVectorRefusal : public ::testing::TestWithParam<Unreachable> {};

TEST_P(ByteVectorRefusal, FailedGrowthLeavesVectorUnchanged) {
  ByteVector vector;
  const auto bytes = iota_bytes(1000, 1);
  ASSERT_TRUE(append(vector, bytes));
  const std::uint64_t capacity = vector.capacity();
  const std::uint8_t* data = vector.data();

  for (const auto& refused : {vector.reserve(GetParam().capacity),
                              vector.grow(GetParam().capacity)}) {
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().kind, ErrorKind::out_of_memory);
  }
  EXPECT_EQ(vector.capacity(), capacity);
  EXPECT_EQ(vector.data(), data);
  EXPECT_EQ(contents(vector), bytes);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, ByteVectorRefusal,
    ::testing::Values(Unreachable{"past_address_space", std::uint64_t{1} << 62},
                      Unreachable{"signed_max_plus_one",
                                  std::uint64_t{INT64_MAX} + 1},
                      Unreachable{"all_ones", UINT64_MAX}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ByteVector, GrowthThatWouldWrapIsRefused) {
  ByteVector vector;
  ASSERT_TRUE(append(vector, iota_bytes(10, 0)));
  // size + additional wraps around 2^64.
  const auto refused = vector.grow(UINT64_MAX - 5);
  ASSERT_FALSE(refused);
  EXPECT_EQ(refused.error().kind, ErrorKind::out_of_memory);
  EXPECT_EQ(vector.size(), 10u);
}

TEST(ByteVector, MoveTransfersOwnership) {
  ByteVector source;
  const auto bytes = iota_bytes(500, 3);
  ASSERT_TRUE(append(source, bytes));
  const std::uint8_t* data = source.data();

  ByteVector moved(std::move(source));
  EXPECT_EQ(moved.data(), data);
  EXPECT_EQ(contents(moved), bytes);
  EXPECT_EQ(source.size(), 0u);
  EXPECT_EQ(source.capacity(), 0u);
  EXPECT_EQ(source.data(), nullptr);

  ByteVector target;
  ASSERT_TRUE(append(target, iota_bytes(20, 9)));
  target = std::move(moved);
  EXPECT_EQ(target.data(), data);
  EXPECT_EQ(contents(target), bytes);
  EXPECT_EQ(moved.capacity(), 0u);

  // Self-move keeps the contents.
  ByteVector& alias = target;
  target = std::move(alias);
  EXPECT_EQ(contents(target), bytes);

  // A moved-from vector is usable again.
  ASSERT_TRUE(append(source, bytes));
  EXPECT_EQ(contents(source), bytes);
}

TEST(ByteVector, TruncateToZeroKeepsCapacity) {
  ByteVector vector;
  ASSERT_TRUE(append(vector, iota_bytes(64, 0)));
  const std::uint64_t capacity = vector.capacity();
  vector.truncate(0);
  EXPECT_TRUE(vector.empty());
  EXPECT_EQ(vector.capacity(), capacity);
}

// The growth policy's figures, where its rules are easiest to see.
struct Growth {
  const char* name;
  std::uint64_t capacity, needed, expected, margin, target;
};

class GrowthTarget : public ::testing::TestWithParam<Growth> {};

TEST_P(GrowthTarget, Figure) {
  const Growth& g = GetParam();
  EXPECT_EQ(growth_target(g.capacity, g.needed, g.expected, g.margin), g.target);
}

constexpr std::uint64_t MAX = GrowableBytes::max_capacity;

INSTANTIATE_TEST_SUITE_P(
    Rules, GrowthTarget,
    ::testing::Values(
        Growth{"no_estimate_doubles", 1000, 1001, 0, 64, 2000},
        Growth{"need_beyond_doubling_wins", 1000, 5000, 0, 0, 5000},
        Growth{"estimate_beyond_doubling_doubles", 1000, 1001, 5000, 0, 2000},
        // 1100 + 1100 / 16 + 68: the content ends within an eighth.
        Growth{"estimate_within_doubling_stops_past_it", 1000, 1001, 1100, 0, 1236},
        // An eighth more and the owner's margin, above 1001 + 62 + 62.
        Growth{"every_step_adds_an_eighth_and_the_margin", 1000, 1001, 1001, 64, 1189},
        Growth{"estimate_below_the_need_doubles", 1000, 1500, 1200, 0, 2000},
        Growth{"estimate_past_half_the_range_doubles", 1000, 1001, MAX / 2 + 1, 0, 2000},
        Growth{"doubling_stops_at_the_range", MAX / 2 + 1, MAX / 2 + 2, 0, 0, MAX},
        Growth{"from_nothing", 0, 10, 0, 0, 10}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(InflationGrowth, FirstWindow) {
  // The input and a sixteenth, between the least window and the cap.
  EXPECT_EQ(first_inflate_window_length(0), FIRST_WINDOW_MIN);
  EXPECT_EQ(first_inflate_window_length(4000), FIRST_WINDOW_MIN);
  EXPECT_EQ(first_inflate_window_length(5648), 6001u);
  EXPECT_EQ(first_inflate_window_length(FIRST_WINDOW_MAX - 1), FIRST_WINDOW_MAX);
  EXPECT_EQ(first_inflate_window_length(UINT64_MAX), FIRST_WINDOW_MAX);
}

TEST(InflationGrowth, EstimateFromTheRatioSoFar) {
  EXPECT_EQ(expected_inflated_length(0, 0, 10, 100), 0u);     // nothing produced yet
  EXPECT_EQ(expected_inflated_length(0, 100, 0, 100), 0u);    // nothing consumed yet
  EXPECT_EQ(expected_inflated_length(0, 100, 10, 100), 1000u);
  EXPECT_EQ(expected_inflated_length(50, 100, 10, 100), 1050u);  // after the bytes before
  EXPECT_EQ(expected_inflated_length(0, UINT64_MAX / 2, 1, 1000), 0u);  // past any capacity
}

// A stream's growth aims at the end its ratio predicts, or doubles.
TEST(InflationGrowth, AimedAtTheStreamEndOrDoubling) {
  for (const GrowthAim aim : {GrowthAim::stream_end, GrowthAim::doubling}) {
    ByteVector output;
    ASSERT_TRUE(output.reserve(1000));
    output.commit(100);  // content before the stream
    const InflationGrowth growth(output, 100, aim);
    output.commit(900);  // 900 bytes from the first 75 of 100 input bytes: 1300 expected
    ASSERT_TRUE(growth.grow(output, 1, 75));
    EXPECT_EQ(output.capacity(), aim == GrowthAim::stream_end ? 1300u + 81 + 81 : 2000u);
  }
}

}  // namespace
}  // namespace native
