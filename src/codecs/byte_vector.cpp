#include "codecs/byte_vector.h"

#include <algorithm>
#include <cstdlib>
#include <utility>

#include "codecs/internal_fault.h"

namespace native {

namespace {

// An estimate-aimed growth asks for at most this many times the room needed.
constexpr std::uint64_t AIMED_GROWTH_MAX = 4;

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
  if (expected_length >= needed && needed <= max_capacity / AIMED_GROWTH_MAX) {
    // Room for the estimate and as much again: the content then ends below
    // half the capacity, where the owner can give the rest back in place.
    // Bounded, so that a wild estimate asks for no more than a few times
    // what is needed; refused, growth falls back to doubling.
    const std::uint64_t aimed = std::min(
        expected_length / 4 * 9, std::max(doubled, needed * AIMED_GROWTH_MAX));
    if (aimed > doubled && reallocate(aimed)) return {};
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
