// lzrw1_decompress and decode_speed_blob: `bytes` input read in place, the
// result created at its final length, one detached section for the decode.
#include "lib/python.h"  // first: it sets feature macros
#include "codecs/lzrw1.h"
#include "codecs/speed_blob.h"
#include "lib/arguments.h"
#include "lib/frame.h"
#include "lib/functions.h"

namespace native::py {
namespace {

constexpr ParameterDescription kLzrw1Parameters{
    "lzrw1_decompress", {"data", "start", "decompressed_length"}, 3};
constexpr ParameterDescription kSpeedParameters{
    "decode_speed_blob", {"data", "total_decompressed_length"}, 2};

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

Result<Ref> decode_speed_blob_body(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  auto slots = bind_arguments(kSpeedParameters, args, nargs, kwnames);
  if (!slots) return slots.error();
  auto data = convert_bytes_only((*slots)[0], "data");
  if (!data) return data.error();
  auto total = convert_signed((*slots)[1], "total_decompressed_length");
  if (!total) return total.error();

  // Every check that fixes the output length runs before the allocation.
  DecodeResult<std::uint64_t> length = speed_blob_output_length(*data, *total);
  if (auto* error = std::get_if<DecodeError>(&length)) {
    return PendingError::from_decode_error(std::move(*error));
  }
  auto result = create_result_bytearray(std::get<std::uint64_t>(length));
  if (!result) return result.error();
  DecodeStatus status =
      run_detached([&] { return decode_speed_chain_into(*data, result->bytes); });
  if (status) return PendingError::from_decode_error(std::move(*status));
  return std::move(result->object);
}

}  // namespace

PyObject* lzrw1_decompress(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                           PyObject* kwnames) {
  return entry_guard([&] { return lzrw1_decompress_body(args, nargs, kwnames); });
}

PyObject* decode_speed_blob(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                            PyObject* kwnames) {
  return entry_guard([&] { return decode_speed_blob_body(args, nargs, kwnames); });
}

}  // namespace native::py
