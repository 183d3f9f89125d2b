#include "lib/python.h"  // first: it sets feature macros
#include "lib/decode_failure.h"

#include <string>
#include <string_view>

#include "codecs/internal_fault.h"
#include "lib/signatures.h"

namespace native::py {
namespace {

std::string_view owning_function(Codec codec) {
  switch (codec) {
    case Codec::lzrw1: return LZRW1_DECOMPRESS.parameters.function;
    case Codec::speed_blob: return DECODE_SPEED_BLOB.parameters.function;
    case Codec::zlib: return ZLIB_DECOMPRESS.parameters.function;
    case Codec::fixed_width: return DECODE_FIXED_WIDTH_STRINGS_UCS4.parameters.function;
    case Codec::output: break;  // out_of_memory only: no message
  }
  internal_fault("decode error of an unknown codec");
}

}  // namespace

PendingError decode_failure(DecodeError error) {
  ExceptionType type = ExceptionType::value_error;
  switch (error.kind) {
    case ErrorKind::value_error: type = ExceptionType::value_error; break;
    case ErrorKind::index_error: type = ExceptionType::index_error; break;
    case ErrorKind::out_of_memory: return PendingError(ExceptionType::memory_error, {});
  }
  std::string text(owning_function(error.codec));
  text += ": ";
  text += error.message;
  return PendingError(type, std::move(text));
}

}  // namespace native::py
