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

// avail_in and avail_out are 32-bit.
constexpr std::uint64_t INFLATE_WINDOW_MAX = std::numeric_limits<uInt>::max();
static_assert(INFLATE_STAGING_LENGTH <= INFLATE_WINDOW_MAX);

DecodeError corrupt() { return value_error(Codec::zlib, INFLATE_MESSAGE_CORRUPT); }
DecodeError incomplete() { return value_error(Codec::zlib, INFLATE_MESSAGE_INCOMPLETE); }
DecodeError no_memory() { return value_error(Codec::zlib, INFLATE_MESSAGE_OUT_OF_MEMORY); }

// One inflate stream over one input, fed through the staging buffer.
class Inflater {
 public:
  explicit Inflater(std::span<const std::uint8_t> input) noexcept
      : input_(input),
        // No longer than the input, and not zero-filled: zlib only ever
        // reads the avail_in bytes that refill() copied in.  For the many
        // small blocks of a grid, a fresh zero-filled 32 KiB buffer each
        // cost more than inflating the block.
        staging_length_(std::clamp<std::size_t>(input.size(), 1, INFLATE_STAGING_LENGTH)) {}
  ~Inflater() {
    if (initialised_) inflateEnd(&stream_);
  }

  // Allocates the staging buffer and the inflate state; out_of_memory when
  // they cannot be had.  Runs once, before the first step.
  DecodeResult<void> start() {
    staging_.reset(new (std::nothrow) std::uint8_t[staging_length_]);
    if (!staging_) return out_of_memory(Codec::zlib);
    const int code = inflateInit2(&stream_, ZLIB_WINDOW_BITS);
    if (code == Z_MEM_ERROR) return out_of_memory(Codec::zlib);
    if (code != Z_OK) internal_fault("inflateInit2 failed");
    initialised_ = true;
    return {};
  }
  Inflater(const Inflater&) = delete;
  Inflater& operator=(const Inflater&) = delete;

  // True once inflate has returned Z_STREAM_END: every later step would
  // produce nothing.
  bool ended() const noexcept { return ended_; }

  // Input bytes handed to inflate so far.
  std::uint64_t consumed() const noexcept { return staged_ - (fill_level_ - read_pos_); }

  // Inflates into at most window.size() bytes (at least 1) of `window` and
  // returns the count written: above 0, or 0 only once the stream ended.
  DecodeResult<std::uint64_t> step(std::span<std::uint8_t> window) {
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
      const std::uint64_t written = stream_.total_out - out_before;
      read_pos_ += consumed;

      switch (code) {
        case Z_STREAM_END:
          ended_ = true;
          return written;
        case Z_OK:
        case Z_BUF_ERROR:
          if (written > 0) return written;
          if (exhausted) return incomplete();
          // With input and output room zlib always moves; if it did not,
          // feeding it again would never end.
          if (consumed == 0) internal_fault("inflate made no progress");
          break;  // input consumed without output yet: feed more
        case Z_MEM_ERROR:  // its window could not be allocated: the data may be fine
          return no_memory();
        default:  // Z_DATA_ERROR, Z_NEED_DICT, Z_STREAM_ERROR
          return corrupt();
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
  bool initialised_ = false;  // inflateInit2 succeeded: inflateEnd is due
  std::span<const std::uint8_t> input_;
  std::size_t staged_ = 0;  // input bytes copied into the staging buffer
  std::size_t staging_length_;
  std::unique_ptr<std::uint8_t[]> staging_;
  std::size_t read_pos_ = 0;
  std::size_t fill_level_ = 0;
  bool ended_ = false;
};

}  // namespace

DecodeResult<void> inflate_zlib_stream_into(std::span<const std::uint8_t> input,
                                            GrowableBytes& output) {
  FastInflater fast_inflater;
  return inflate_zlib_stream_into(input, output, fast_inflater);
}

DecodeResult<void> inflate_zlib_stream_into(std::span<const std::uint8_t> input,
                                            GrowableBytes& output, FastInflater& fast_inflater,
                                            GrowthAim aim) {
  make_first_inflate_window(output, input.size());
  switch (fast_inflater.inflate_into(input, output, aim)) {
    case FastInflate::inflated:
      return {};
    case FastInflate::corrupt:
      return corrupt();
    case FastInflate::incomplete:
      return incomplete();
    case FastInflate::declined:
      break;  // zlib decides
  }
  if (output.lost()) return out_of_memory(Codec::output);
  const InflationGrowth growth(output, input.size(), aim);
  const auto fail = [&](DecodeError error) {
    output.truncate(growth.size_before());
    return error;
  };
  Inflater inflater(input);
  auto started = inflater.start();
  if (!started) return started.error();
  // A step after Z_STREAM_END produces nothing, so stopping at the end is
  // the same as running that last empty step; it also spares a growth when
  // the content exactly fills the vector.
  while (!inflater.ended()) {
    if (output.size() == output.capacity() && !growth.grow(output, 1, inflater.consumed())) {
      // A refusal that took the content with it is no verdict on the data.
      return output.lost() ? out_of_memory(Codec::output) : fail(no_memory());
    }
    auto written = inflater.step(output.spare());
    if (!written) return fail(written.error());
    if (*written == 0) break;
    output.commit(*written);
  }
  return {};
}

}  // namespace native
