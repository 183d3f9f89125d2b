#include "codecs/growable_bytes.h"

#include <algorithm>

#include "codecs/internal_fault.h"

namespace native {

namespace {

// Room past an estimate of the final length (at most a sixteenth of it), so
// that a decoder's fast loop, which wants a few hundred bytes of room, runs
// to the end of the content.
constexpr std::uint64_t ESTIMATE_MARGIN = 512;

}  // namespace

static_assert(sizeof(std::size_t) == 8, "sizes are 64-bit on every target");

DecodeResult<void> GrowableBytes::reserve(std::uint64_t new_capacity) {
  if (new_capacity <= capacity_) return {};
  // Past the signed range no allocator can deliver; do not even ask.
  if (new_capacity > max_capacity || lost_) return out_of_memory(Codec::output);
  return reallocate(new_capacity);
}

DecodeResult<void> GrowableBytes::grow(std::uint64_t additional, std::uint64_t expected_length) {
  if (additional <= capacity_ - size_) return {};
  if (additional > max_capacity - size_ || lost_) return out_of_memory(Codec::output);
  return reallocate(growth_target(capacity_, size_ + additional, expected_length, step_margin_));
}

void GrowableBytes::commit(std::uint64_t count) {
  if (count > capacity_ - size_) internal_fault("commit past the spare room");
  size_ += count;
}

void GrowableBytes::truncate(std::uint64_t size) {
  if (lost_) return;
  if (size > size_) internal_fault("truncate past the end");
  size_ = size;
}

std::uint64_t growth_target(std::uint64_t capacity, std::uint64_t needed,
                            std::uint64_t expected_length, std::uint64_t step_margin) {
  constexpr std::uint64_t max_capacity = GrowableBytes::max_capacity;
  // capacity <= max_capacity, so doubling cannot wrap.
  const std::uint64_t doubled = std::max(needed, std::min(capacity * 2, max_capacity));
  if (expected_length < needed || expected_length > max_capacity / 2) return doubled;
  const std::uint64_t eighth_more =
      std::max(needed, std::min(capacity + capacity / 8 + step_margin, max_capacity));
  const std::uint64_t margin = std::min(ESTIMATE_MARGIN, expected_length / 16);
  return std::min(doubled,
                  std::max(eighth_more, expected_length + expected_length / 16 + margin));
}

std::uint64_t first_inflate_window_length(std::uint64_t input_length) {
  const std::uint64_t scaled =
      input_length > FIRST_WINDOW_MAX ? FIRST_WINDOW_MAX : input_length + input_length / 16;
  return std::clamp(scaled, FIRST_WINDOW_MIN, FIRST_WINDOW_MAX);
}

void make_first_inflate_window(GrowableBytes& output, std::uint64_t input_length) {
  if (output.capacity() == output.size()) {
    (void)output.grow(first_inflate_window_length(input_length));
  }
}

std::uint64_t expected_inflated_length(std::uint64_t size_before, std::uint64_t produced,
                                       std::uint64_t consumed, std::uint64_t input_length) {
  if (produced == 0 || consumed == 0) return 0;
  const double estimate = static_cast<double>(size_before) +
                          static_cast<double>(produced) *
                              (static_cast<double>(input_length) / static_cast<double>(consumed));
  return estimate < 0x1p62 ? static_cast<std::uint64_t>(estimate) : 0;
}

DecodeResult<void> InflationGrowth::grow(GrowableBytes& output, std::uint64_t additional,
                                         std::uint64_t consumed) const {
  if (output.lost()) return out_of_memory(Codec::output);
  const std::uint64_t expected =
      aim_ == GrowthAim::stream_end
          ? expected_inflated_length(size_before_, output.size() - size_before_, consumed,
                                     input_length_)
          : 0;
  return output.grow(additional, expected);
}

}  // namespace native
