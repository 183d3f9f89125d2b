// The objects a module function returns: a bytearray created at its final
// length and filled in place, alone or in a (count, bytearray) tuple.
#pragma once

#include "lib/python.h"  // first: it sets feature macros
#include <cstdint>
#include <span>

#include "codecs/byte_vector.h"
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

// A result bytearray holding a copy of `content`, made in a detached
// section (the copy writes every byte).
Result<Ref> result_bytearray_copy(const ByteVector& content);

// (count, bytearray)
Ref build_result_tuple(std::uint64_t count, Ref bytearray);

}  // namespace native::py
