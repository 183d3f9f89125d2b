#include "codecs/byte_vector.h"

#include <algorithm>
#include <cstdlib>
#include <utility>

#include "codecs/huge_pages.h"
#include "codecs/internal_fault.h"

namespace native {

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
  advise_huge_pages(data_, static_cast<std::size_t>(new_capacity));
  return {};
}

DecodeResult<void> GrowableBytes::reserve(std::uint64_t new_capacity) {
  if (new_capacity <= capacity_) return {};
  // Past the signed range no allocator can deliver; do not even ask.
  if (new_capacity > max_capacity) return out_of_memory(Codec::byte_vector);
  return reallocate(new_capacity);
}

DecodeResult<void> GrowableBytes::grow(std::uint64_t additional) {
  if (additional <= capacity_ - size_) return {};
  if (additional > max_capacity - size_) return out_of_memory(Codec::byte_vector);
  const std::uint64_t needed = size_ + additional;
  // capacity_ <= max_capacity, so doubling cannot wrap.
  const std::uint64_t doubled = std::min(capacity_ * 2, max_capacity);
  return reallocate(std::max(needed, doubled));
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
