// decode_speed_blob: `bytes` input read in place, every check that fixes the
// output length before the result is created at that length, one detached
// section for the whole chain.
#include "lib/python.h"  // first: it sets feature macros
#include "codecs/speed_blob.h"
#include "lib/arguments.h"
#include "lib/frame.h"
#include "lib/functions.h"

namespace native::py {
namespace {

constexpr ParameterDescription kSpeedParameters{
    "decode_speed_blob", {"data", "total_decompressed_length"}, 2};

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

PyObject* decode_speed_blob(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                            PyObject* kwnames) {
  return entry_guard([&] { return decode_speed_blob_body(args, nargs, kwnames); });
}

}  // namespace native::py
