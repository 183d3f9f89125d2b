// Growable byte storage for outputs whose length is known only when decoding
// ends.  The decoders write into spare() and commit() what they wrote; only
// where the memory comes from differs between owners: ByteVector owns a
// malloc'd block, and the interpreter frame lets the decoders write straight
// into a result object's storage.
#pragma once

#include <cstdint>
#include <span>

#include "codecs/decode_error.h"

namespace native {

class GrowableBytes {
 public:
  GrowableBytes(const GrowableBytes&) = delete;
  GrowableBytes& operator=(const GrowableBytes&) = delete;

  std::uint8_t* data() noexcept { return data_; }
  const std::uint8_t* data() const noexcept { return data_; }
  std::uint64_t size() const noexcept { return size_; }
  std::uint64_t capacity() const noexcept { return capacity_; }
  bool empty() const noexcept { return size_ == 0; }

  // Makes the capacity at least `new_capacity`, exactly that much if it has
  // to grow.  The error out_of_memory (storage unchanged) when the memory
  // cannot be had.
  DecodeResult<void> reserve(std::uint64_t new_capacity);

  // Makes room for at least `additional` more bytes, growing geometrically.
  // Without an estimate the capacity doubles.  With `expected_length`, the
  // writer's estimate of the final length, growth stops a little past the
  // estimate where doubling would overshoot it, so that the content ends
  // close to the capacity (every growth still adds over an eighth).
  // The error out_of_memory (storage unchanged) when the memory cannot be
  // had.
  DecodeResult<void> grow(std::uint64_t additional, std::uint64_t expected_length = 0);

  // The uninitialised bytes between size() and capacity().  Bytes written
  // there become part of the content through commit().
  std::span<std::uint8_t> spare() noexcept {
    return {data_ + size_, static_cast<std::size_t>(capacity_ - size_)};
  }

  // Adds `count` bytes written into spare() to the length.  More than the
  // spare room is an internal fault.
  void commit(std::uint64_t count);

  // Drops the bytes from `size` on; a larger size is an internal fault.
  void truncate(std::uint64_t size);

  // Largest capacity ever asked of the owner.
  static constexpr std::uint64_t max_capacity = INT64_MAX;

 protected:
  GrowableBytes() noexcept = default;
  ~GrowableBytes() = default;

  // Moves the storage to exactly `new_capacity` bytes (above capacity(), at
  // most max_capacity), keeping the content, and sets data_ and capacity_;
  // or out_of_memory with nothing changed.
  virtual DecodeResult<void> reallocate(std::uint64_t new_capacity) = 0;

  std::uint8_t* data_ = nullptr;
  std::uint64_t size_ = 0;
  std::uint64_t capacity_ = 0;
};

// Owned storage: plain malloc/realloc/free, so growth never zero-fills the
// spare room, and realloc can move large blocks by remapping pages instead
// of copying them.  The allocator's memory is left as it gives it: no
// advice, since the pages may hold its other blocks and outlive this one.
class ByteVector final : public GrowableBytes {
 public:
  ByteVector() noexcept = default;
  ~ByteVector();

  ByteVector(ByteVector&& other) noexcept;
  ByteVector& operator=(ByteVector&& other) noexcept;

 private:
  DecodeResult<void> reallocate(std::uint64_t new_capacity) override;
};

}  // namespace native
