// lzrw1_decompress: `bytes` input read in place, the result created at its
// final length, one detached section for the decode.
#include "lib/python.h"  // first: it sets feature macros
#include "codecs/lzrw1.h"
#include "lib/arguments.h"
#include "lib/frame.h"
#include "lib/functions.h"

namespace native::py {
namespace {

constexpr ParameterDescription kLzrw1Parameters{
    "lzrw1_decompress", {"data", "start", "decompressed_length"}, 3};

Result<Ref> lzrw1_decompress_body(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  auto slots = bind_arguments(kLzrw1Parameters, args, nargs, kwnames);
  if (!slots) return slots.error();
  auto data = convert_bytes_only((*slots)[0], "data");
  if (!data) return data.error();
  auto start = convert_unsigned((*slots)[1], "start");
  if (!start) return start.error();
  auto length = convert_unsigned((*slots)[2], "decompressed_length");
  if (!length) return length.error();

  auto result = create_result_bytearray(*length);
  if (!result) return result.error();
  DecodeStatus status =
      run_detached([&] { return lzrw1_decode_into(*data, *start, result->bytes); });
  if (status) return PendingError::from_decode_error(std::move(*status));
  return std::move(result->object);
}

}  // namespace

PyObject* lzrw1_decompress(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                           PyObject* kwnames) {
  return entry_guard([&] { return lzrw1_decompress_body(args, nargs, kwnames); });
}

}  // namespace native::py
