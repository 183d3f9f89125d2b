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

}  // namespace
}  // namespace native
