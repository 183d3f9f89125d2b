// Owned growable storage for the tests and benchmarks: plain
// malloc/realloc/free, so growth never zero-fills the spare room, and realloc
// can move large blocks by remapping pages instead of copying them.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <utility>

#include "codecs/growable_bytes.h"

namespace native::support {

class ByteVector final : public GrowableBytes {
 public:
  ByteVector() noexcept = default;
  ~ByteVector() { std::free(data_); }

  ByteVector(ByteVector&& other) noexcept { take(other); }
  ByteVector& operator=(ByteVector&& other) noexcept {
    if (this != &other) {
      std::free(data_);
      take(other);
    }
    return *this;
  }

 private:
  void take(ByteVector& other) noexcept {
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
    capacity_ = std::exchange(other.capacity_, 0);
  }

  DecodeResult<void> reallocate(std::uint64_t new_capacity) override {
    void* grown = std::realloc(data_, static_cast<std::size_t>(new_capacity));
    if (grown == nullptr) return out_of_memory(Codec::output);
    data_ = static_cast<std::uint8_t*>(grown);
    capacity_ = new_capacity;
    return {};
  }
};

}  // namespace native::support
