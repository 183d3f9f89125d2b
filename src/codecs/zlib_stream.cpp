#include "codecs/zlib_stream.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <new>

#include "codecs/internal_fault.h"

namespace native {

namespace {

// zlib wrapper only (no gzip, no raw DEFLATE), windows up to 32 KiB.
constexpr int ZLIB_WINDOW_BITS = 15;

// The first output window is eight times the input: typical data then fits
// in one or two windows, and untouched spare pages cost only address space.
// Capped so that a large input never makes the first growth fail on its own.
constexpr std::uint64_t FIRST_WINDOW_INPUT_MULTIPLE = 8;
constexpr std::uint64_t FIRST_WINDOW_MIN = 4096;
constexpr std::uint64_t FIRST_WINDOW_MAX = std::uint64_t{64} << 20;

// avail_in and avail_out are 32-bit.
constexpr std::uint64_t INFLATE_WINDOW_MAX = std::numeric_limits<uInt>::max();
static_assert(INFLATE_STAGING_LENGTH <= INFLATE_WINDOW_MAX);

std::uint64_t first_window_length(std::uint64_t input_length) {
  const std::uint64_t scaled =
      input_length > FIRST_WINDOW_MAX / FIRST_WINDOW_INPUT_MULTIPLE
          ? FIRST_WINDOW_MAX
          : input_length * FIRST_WINDOW_INPUT_MULTIPLE;
  return std::clamp(scaled, FIRST_WINDOW_MIN, FIRST_WINDOW_MAX);
}

// One inflate stream over one input, fed through the staging buffer.
class Inflater {
 public:
  explicit Inflater(std::span<const std::uint8_t> input)
      : input_(input),
        // No longer than the input, and not zero-filled: zlib only ever
        // reads the avail_in bytes that refill() copied in.  For the many
        // small blocks of a grid, a fresh zero-filled 32 KiB buffer each
        // cost more than inflating the block.
        staging_length_(std::clamp<std::size_t>(input.size(), 1, INFLATE_STAGING_LENGTH)),
        staging_(std::make_unique_for_overwrite<std::uint8_t[]>(staging_length_)) {
    const int code = inflateInit2(&stream_, ZLIB_WINDOW_BITS);
    if (code == Z_MEM_ERROR) throw std::bad_alloc();
    if (code != Z_OK) internal_fault("inflateInit2 failed");
  }
  ~Inflater() { inflateEnd(&stream_); }
  Inflater(const Inflater&) = delete;
  Inflater& operator=(const Inflater&) = delete;

  // True once inflate has returned Z_STREAM_END: every later step would
  // produce nothing.
  bool ended() const noexcept { return ended_; }

  // Inflates into at most window.size() bytes (at least 1) of `window` and
  // returns the count produced: above 0, or 0 only once the stream ended.
  std::variant<std::uint64_t, InflateFailure> step(
      std::span<std::uint8_t> window) {
    const auto window_length = static_cast<uInt>(
        std::min<std::uint64_t>(window.size(), INFLATE_WINDOW_MAX));
    for (;;) {
      if (read_pos_ == fill_level_) refill();
      const bool exhausted = read_pos_ == fill_level_;

      stream_.next_in = staging_.get() + read_pos_;
      stream_.avail_in = static_cast<uInt>(fill_level_ - read_pos_);
      stream_.next_out = window.data();
      stream_.avail_out = window_length;
      const uLong in_before = stream_.total_in;
      const uLong out_before = stream_.total_out;
      const int code = inflate(&stream_, exhausted ? Z_FINISH : Z_NO_FLUSH);
      const std::uint64_t consumed = stream_.total_in - in_before;
      const std::uint64_t produced = stream_.total_out - out_before;
      read_pos_ += consumed;

      switch (code) {
        case Z_STREAM_END:
          ended_ = true;
          return produced;
        case Z_OK:
        case Z_BUF_ERROR:
          if (produced > 0) return produced;
          if (exhausted) return InflateFailure::incomplete;
          // With input and output room zlib always moves; if it did not,
          // feeding it again would never end.
          if (consumed == 0) internal_fault("inflate made no progress");
          break;  // input consumed without output yet: feed more
        default:  // Z_DATA_ERROR, Z_NEED_DICT, Z_STREAM_ERROR, Z_MEM_ERROR
          return InflateFailure::corrupt;
      }
    }
  }

 private:
  void refill() noexcept {
    const std::size_t count =
        std::min(staging_length_, input_.size() - staged_);
    if (count > 0) std::memcpy(staging_.get(), input_.data() + staged_, count);
    staged_ += count;
    fill_level_ = count;
    read_pos_ = 0;
  }

  z_stream stream_{};  // zalloc/zfree/opaque null: zlib's own allocator
  std::span<const std::uint8_t> input_;
  std::size_t staged_ = 0;  // input bytes copied into the staging buffer
  std::size_t staging_length_;
  std::unique_ptr<std::uint8_t[]> staging_;
  std::size_t read_pos_ = 0;
  std::size_t fill_level_ = 0;
  bool ended_ = false;
};

}  // namespace

const char* inflate_failure_text(InflateFailure failure) noexcept {
  switch (failure) {
    case InflateFailure::corrupt:
      return "corrupt deflate stream";
    case InflateFailure::incomplete:
      return "incomplete deflate stream";
    case InflateFailure::out_of_memory:
      return "out of memory";
  }
  return "corrupt deflate stream";
}

std::optional<InflateFailure> inflate_zlib_stream_into(std::span<const std::uint8_t> input,
                                                       ByteVector& output) {
  FastInflater fast_inflater;
  return inflate_zlib_stream_into(input, output, fast_inflater);
}

std::optional<InflateFailure> inflate_zlib_stream_into(std::span<const std::uint8_t> input,
                                                       ByteVector& output,
                                                       FastInflater& fast_inflater) {
  if (fast_inflater.inflate_into(input, output) == FastInflate::inflated) return std::nullopt;
  const std::uint64_t size_before = output.size();
  const auto fail = [&](InflateFailure failure) {
    output.truncate(size_before);
    return failure;
  };
  Inflater inflater(input);
  // A step after Z_STREAM_END produces nothing, so stopping at the end is
  // the same as running that last empty step; it also spares a growth when
  // the content exactly fills the vector.
  while (!inflater.ended()) {
    if (output.size() == output.capacity()) {
      const std::uint64_t wanted =
          output.capacity() == 0 ? first_window_length(input.size()) : 1;
      if (!output.try_grow(wanted)) return fail(InflateFailure::out_of_memory);
    }
    const auto outcome = inflater.step(output.spare());
    if (const auto* failure = std::get_if<InflateFailure>(&outcome)) return fail(*failure);
    const std::uint64_t produced = std::get<std::uint64_t>(outcome);
    if (produced == 0) break;
    output.commit(produced);
  }
  return std::nullopt;
}

std::variant<ByteVector, InflateFailure> inflate_zlib_stream(
    std::span<const std::uint8_t> input) {
  ByteVector output;
  if (auto failure = inflate_zlib_stream_into(input, output)) return *failure;
  return output;
}

}  // namespace native
