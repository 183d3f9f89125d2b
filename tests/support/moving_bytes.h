// The output owner of the unit tests and fuzzers: it behaves like the result
// bytearray production decodes into, at its least friendly.  Every growth
// copies the content into a fresh block and poisons and frees the old one,
// so a pointer kept across a growth reads the poison or trips the address
// sanitizer (a realloc that grows in place hides both).  And it refuses
// growth past a capacity limit, as a result object may refuse any growth:
// out_of_memory with nothing changed, or, as an interpreter may do to a
// bytearray whose storage it cannot reallocate, emptied: its content gone
// (lost(), if it had any).
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "codecs/growable_bytes.h"

namespace native::support {

class MovingBytes final : public GrowableBytes {
 public:
  static constexpr std::uint8_t POISON = 0xa5;

  // What a refused growth does to the storage.
  enum class Refusal { keeps_content, loses_content };

  MovingBytes() noexcept = default;
  // Refuses every growth to more than `capacity_limit` bytes.
  explicit MovingBytes(std::uint64_t capacity_limit,
                       Refusal refusal = Refusal::keeps_content) noexcept
      : capacity_limit_(capacity_limit), refusal_(refusal) {}
  ~MovingBytes() { std::free(data_); }

  std::uint64_t growths() const noexcept { return growths_; }
  std::uint64_t refusals() const noexcept { return refusals_; }

 private:
  DecodeResult<void> reallocate(std::uint64_t new_capacity) override {
    auto* block = new_capacity > capacity_limit_
                      ? nullptr
                      : static_cast<std::uint8_t*>(std::malloc(static_cast<std::size_t>(new_capacity)));
    if (block == nullptr) {
      ++refusals_;
      if (refusal_ == Refusal::loses_content) {
        // Emptied: with content, it is gone; without, nothing is lost.
        if (size_ > 0) std::memset(data_, POISON, static_cast<std::size_t>(size_));
        std::free(data_);
        data_ = nullptr;
        capacity_ = 0;
        if (size_ > 0) lose_content();
      }
      return out_of_memory(Codec::output);
    }
    if (size_ > 0) {
      std::memcpy(block, data_, static_cast<std::size_t>(size_));
      // Only the content: poisoning spare room nobody reads would cost as
      // much as a large reservation itself.
      std::memset(data_, POISON, static_cast<std::size_t>(size_));
    }
    std::free(data_);
    data_ = block;
    capacity_ = new_capacity;
    ++growths_;
    return {};
  }

  std::uint64_t capacity_limit_ = max_capacity;
  Refusal refusal_ = Refusal::keeps_content;
  std::uint64_t growths_ = 0;
  std::uint64_t refusals_ = 0;
};

}  // namespace native::support
