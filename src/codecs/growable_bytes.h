// Growable byte storage for outputs whose length is known only when decoding
// ends, and the one policy by which an inflation grows it.  The decoders
// write into spare() and commit() what they wrote; only where the memory
// comes from differs between owners: the interpreter frame lets the decoders
// write straight into a result object's storage (lib/result_objects.h), the
// tests into blocks of their own (tests/support).
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

  // True once a refused growth took the content with it (an owner whose
  // storage does not survive every refusal): size() and capacity() are
  // then 0, truncate() does nothing and every later growth is refused.
  // What was written is gone; the writer must fail, not stop quietly.
  bool lost() const noexcept { return lost_; }

  // Makes the capacity at least `new_capacity`, exactly that much if it has
  // to grow.  The error out_of_memory (storage unchanged, unless lost())
  // when the memory cannot be had.
  DecodeResult<void> reserve(std::uint64_t new_capacity);

  // Makes room for at least `additional` more bytes: to the capacity
  // growth_target() names for the writer's estimate of the final length
  // (0: none).  The error out_of_memory (storage unchanged, unless lost())
  // when the memory cannot be had.
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
  // `step_margin`: the bytes past an eighth more that a growth step needs
  // for this owner to allocate it as asked (0: it allocates any step so).
  explicit GrowableBytes(std::uint64_t step_margin = 0) noexcept : step_margin_(step_margin) {}
  ~GrowableBytes() = default;

  // Moves the storage to exactly `new_capacity` bytes (above capacity(), at
  // most max_capacity), keeping the content, and sets data_ and capacity_;
  // or out_of_memory with nothing changed, or after lose_content().
  virtual DecodeResult<void> reallocate(std::uint64_t new_capacity) = 0;

  // For reallocate(): the refusal took the storage and its content.
  void lose_content() noexcept {
    data_ = nullptr;
    size_ = capacity_ = 0;
    lost_ = true;
  }

  std::uint8_t* data_ = nullptr;
  std::uint64_t size_ = 0;
  std::uint64_t capacity_ = 0;

 private:
  std::uint64_t step_margin_;
  bool lost_ = false;
};

// The capacity a growth from `capacity` to hold `needed` bytes asks for.
// Without an estimate (`expected_length` 0) the capacity doubles.  With the
// writer's estimate of the final length, growth stops a sixteenth and a
// little more past the estimate where doubling would overshoot it, so that
// the content ends within an eighth of the capacity.  Every step still adds
// over an eighth, and `step_margin` bytes more (see GrowableBytes), so that
// growth stays geometric.  At least `needed`; `needed` and the capacity are
// at most GrowableBytes::max_capacity, and so is the result.
std::uint64_t growth_target(std::uint64_t capacity, std::uint64_t needed,
                            std::uint64_t expected_length, std::uint64_t step_margin);

// ---- Inflation: where the output of one zlib stream starts and aims.

// The first output window of an inflation, for the fast path and the
// streaming path alike: the input's length and a sixteenth, about what
// stored or incompressible data inflates to, then growth aimed at the end
// the stream's ratio so far predicts.  So the result's allocation ends close
// to its content, and results of the same size reuse the same memory from
// call to call.  A window of twice the input left the content between a
// half and seven eighths of it, where a bytearray keeps the slack, and
// giving it back by growing and shrinking had the allocator return memory
// each time and fault it in again (1 MiB of grid data: 438 faults a call,
// 30% slower).  At least a small block and the fast loop's room; capped so
// that a large input never makes the first growth fail on its own.
inline constexpr std::uint64_t FIRST_WINDOW_MIN = 4096 + 512;
inline constexpr std::uint64_t FIRST_WINDOW_MAX = std::uint64_t{64} << 20;
std::uint64_t first_inflate_window_length(std::uint64_t input_length);

// Gives `output` the first window for inflating `input_length` bytes when
// it has no spare room; a refusal is left to the decoder, which then fails
// as it would anyway.  The interpreter frame calls it attached before
// decoding, so that most streams never re-attach to grow.
void make_first_inflate_window(GrowableBytes& output, std::uint64_t input_length);

// The output length a stream's ratio so far predicts once all of its
// `input_length` bytes are inflated: `produced` bytes from the first
// `consumed`, after the `size_before` bytes already in the output.  0 (no
// estimate) before anything was produced.
std::uint64_t expected_inflated_length(std::uint64_t size_before, std::uint64_t produced,
                                       std::uint64_t consumed, std::uint64_t input_length);

// Where an output's growth aims while a stream inflates into it:
// stream_end when the stream is the last thing written into the output (a
// single blob), so that growth stops near the end the stream's ratio so far
// predicts; doubling when more content follows (the blocks of a grid).
enum class GrowthAim { stream_end, doubling };

// The growth of one stream's output, set up as the stream starts: both
// inflaters grow through it.
class InflationGrowth {
 public:
  InflationGrowth(const GrowableBytes& output, std::uint64_t input_length, GrowthAim aim) noexcept
      : size_before_(output.size()), input_length_(input_length), aim_(aim) {}

  // The output's length before the stream: its content starts there.
  std::uint64_t size_before() const noexcept { return size_before_; }

  // Makes room in `output` for `additional` more bytes, `consumed` bytes
  // of the stream's input in.
  DecodeResult<void> grow(GrowableBytes& output, std::uint64_t additional,
                          std::uint64_t consumed) const;

 private:
  std::uint64_t size_before_;
  std::uint64_t input_length_;
  GrowthAim aim_;
};

}  // namespace native
