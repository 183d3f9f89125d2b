// Failure values of the core routines.  The routines never throw for bad
// input, nor when module-owned memory runs out: they return a DecodeError,
// which the interpreter frame raises (ValueError or IndexError with the
// message as the only argument, MemoryError for exhausted memory), with the
// message prefix of the module function that owns the codec.
#pragma once

#include <string>
#include <utility>

#include "codecs/expected.h"

namespace native {

// The codec whose routine detected the error; the interpreter frame turns
// it into the message prefix ("lzrw1_decompress: ").  An LZRW1 error keeps
// its codec when the Speed-chain walker passes it on.
enum class Codec {
  lzrw1,
  speed_blob,
  zlib,
  fixed_width,
  output,  // the storage an output grows in: out_of_memory only, no message
};

enum class ErrorKind {
  value_error,    // malformed data
  index_error,    // data ends too early, or a reference out of range
  out_of_memory,  // module-owned memory could not be had; no message
};

struct DecodeError {
  Codec codec;
  ErrorKind kind;
  std::string message;  // without the function prefix
};

// The result of every core routine: Expected<T, DecodeError>, and
// DecodeResult<void> for a routine that fills a caller-provided span.
template <class T>
using DecodeResult = Expected<T, DecodeError>;

inline DecodeError value_error(Codec codec, std::string message) {
  return {codec, ErrorKind::value_error, std::move(message)};
}
inline DecodeError index_error(Codec codec, std::string message) {
  return {codec, ErrorKind::index_error, std::move(message)};
}
inline DecodeError out_of_memory(Codec codec) { return {codec, ErrorKind::out_of_memory, {}}; }

}  // namespace native
