// The objects a module function returns: a bytearray filled in place,
// created at its final length or grown as a decoder fills it, alone or in a
// (count, bytearray) tuple.
#pragma once

#include "lib/python.h"  // first: it sets feature macros
#include <cstdint>
#include <span>

#include "codecs/growable_bytes.h"
#include "lib/detached_section.h"
#include "lib/pending_error.h"

namespace native::py {

// A bytearray created at its final length with its bytes not yet written:
// the caller writes every one of them (or zero-fills it first, inside its
// detached section: the bytearray is private until returned, so that is
// unobservable and keeps a long fill off the attached stretch) before anyone
// else can see it.
struct ResultBytes {
  Ref object;
  std::span<std::uint8_t> bytes;
};
Result<ResultBytes> create_unwritten_bytearray(std::uint64_t length);

// A result bytearray that a decoder whose output length is unknown writes
// into directly: the bytearray's length is the capacity, its first size()
// bytes the content.  It is private until finish() hands it out, so the
// decoder may fill it detached; growth (PyByteArray_Resize) happens
// attached, through the detached section the decoder runs in, if any.
// Dropped without finish(), the bytearray goes with it.
class ResultBytearray final : public GrowableBytes {
 public:
  ResultBytearray() noexcept : GrowableBytes(STEP_MARGIN) {}

  // Creates the bytearray, empty; the interpreter's error when even that
  // fails.  Before anything else.
  Result<void> start();

  // While the returned route lives, growth re-attaches through `section`;
  // otherwise the caller must be attached.
  class GrowthRoute {
   public:
    ~GrowthRoute() { result_.section_ = nullptr; }
    GrowthRoute(const GrowthRoute&) = delete;
    GrowthRoute& operator=(const GrowthRoute&) = delete;

   private:
    friend class ResultBytearray;
    GrowthRoute(ResultBytearray& result, DetachedSection& section) noexcept : result_(result) {
      result_.section_ = &section;
    }
    ResultBytearray& result_;
  };
  [[nodiscard]] GrowthRoute grow_through(DetachedSection& section) noexcept {
    return GrowthRoute(*this, section);
  }

  // Trims the bytearray to the content, its allocation included, and
  // returns it (attached); MemoryError if the content was lost.
  Result<Ref> finish();

 private:
  // A bytearray takes a growth step as asked only when it is more than an
  // eighth above its allocation (smaller steps it rounds up by an eighth):
  // the bytes past an eighth, its header included, that every step adds.
  static constexpr std::uint64_t STEP_MARGIN = 64;

  DecodeResult<void> reallocate(std::uint64_t new_capacity) override;
  DecodeResult<void> resize_attached(std::uint64_t new_capacity);

  enum class Resize { done, refused, content_lost };
  // PyByteArray_Resize, attached, its error cleared.  done: data_ is the
  // new storage.  refused: the bytearray kept its storage and length, and
  // the decoders may go on writing into it (or, if it held no content
  // yet, whatever storage it has now).  content_lost: a refusal that
  // changed them with content in it: the interpreter's resize may empty
  // the bytearray when its storage cannot be reallocated, and then nothing
  // may be written into the storage held before.
  Resize resize(std::uint64_t length);
  // Releases the allocation above the content, which is at least half of
  // it (attached); false if the content was lost on the way.
  bool release_slack();

  Ref object_;
  DetachedSection* section_ = nullptr;
};

// (count, bytearray)
Ref build_result_tuple(std::uint64_t count, Ref bytearray);

}  // namespace native::py
