#include "codecs/byte_vector.h"

#include <algorithm>
#include <cstdlib>
#include <utility>

#include "codecs/internal_fault.h"

namespace native {

namespace {

// Room past an estimate of the final length (at most a sixteenth of it), so
// that a decoder's fast loop, which wants a few hundred bytes of room, runs
// to the end of the content.
constexpr std::uint64_t ESTIMATE_MARGIN = 512;
// Bytes past an eighth more that make a growth step larger than a
// bytearray's eighth plus its header.
constexpr std::uint64_t OVER_AN_EIGHTH = 64;

}  // namespace

static_assert(sizeof(std::size_t) == 8, "sizes are 64-bit on every target");

ByteVector::~ByteVector() { std::free(data_); }

ByteVector::ByteVector(ByteVector&& other) noexcept
    : GrowableBytes() {
  data_ = std::exchange(other.data_, nullptr);
  size_ = std::exchange(other.size_, 0);
  capacity_ = std::exchange(other.capacity_, 0);
}

ByteVector& ByteVector::operator=(ByteVector&& other) noexcept {
  if (this != &other) {
    std::free(data_);
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
    capacity_ = std::exchange(other.capacity_, 0);
  }
  return *this;
}

DecodeResult<void> ByteVector::reallocate(std::uint64_t new_capacity) {
  void* grown = std::realloc(data_, static_cast<std::size_t>(new_capacity));
  if (grown == nullptr) return out_of_memory(Codec::byte_vector);
  data_ = static_cast<std::uint8_t*>(grown);
  capacity_ = new_capacity;
  return {};
}

DecodeResult<void> GrowableBytes::reserve(std::uint64_t new_capacity) {
  if (new_capacity <= capacity_) return {};
  // Past the signed range no allocator can deliver; do not even ask.
  if (new_capacity > max_capacity) return out_of_memory(Codec::byte_vector);
  return reallocate(new_capacity);
}

DecodeResult<void> GrowableBytes::grow(std::uint64_t additional, std::uint64_t expected_length) {
  if (additional <= capacity_ - size_) return {};
  if (additional > max_capacity - size_) return out_of_memory(Codec::byte_vector);
  const std::uint64_t needed = size_ + additional;
  // capacity_ <= max_capacity, so doubling cannot wrap.
  const std::uint64_t doubled = std::max(needed, std::min(capacity_ * 2, max_capacity));
  if (expected_length >= needed && expected_length <= max_capacity / 2) {
    // A sixteenth and the margin above the estimate, where doubling would
    // overshoot it: the content then ends within an eighth of the capacity.
    // Still more than an eighth above the capacity now: growth stays
    // geometric, and the step is large enough for an owner that
    // over-allocates smaller ones (a bytearray adds an eighth to a step of
    // an eighth or less) to take it as it is.
    const std::uint64_t eighth_more = std::max(needed, capacity_ + capacity_ / 8 + OVER_AN_EIGHTH);
    const std::uint64_t margin = std::min(ESTIMATE_MARGIN, expected_length / 16);
    return reallocate(std::min(
        doubled, std::max(eighth_more, expected_length + expected_length / 16 + margin)));
  }
  return reallocate(doubled);
}

void GrowableBytes::commit(std::uint64_t count) {
  if (count > capacity_ - size_) internal_fault("commit past the spare room");
  size_ += count;
}

void GrowableBytes::truncate(std::uint64_t size) {
  if (size > size_) internal_fault("truncate past the end");
  size_ = size;
}

}  // namespace native
