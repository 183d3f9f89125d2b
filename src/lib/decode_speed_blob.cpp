// decode_speed_blob: `bytes` input read in place, every check that fixes the
// output length before the result is created at that length, one detached
// section for the whole chain.
#include "lib/python.h"  // first: it sets feature macros
#include <algorithm>
#include <cstdint>

#include "codecs/speed_blob.h"
#include "lib/arguments.h"
#include "lib/decode_failure.h"
#include "lib/detached_section.h"
#include "lib/entry_guard.h"
#include "lib/functions.h"
#include "lib/result_objects.h"
#include "lib/signatures.h"

namespace native::py {
namespace {

constexpr const ParameterDescription& PARAMETERS = DECODE_SPEED_BLOB_PARAMETERS;

Result<Ref> decode_speed_blob_body(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  auto slots = bind_arguments(PARAMETERS, args, nargs, kwnames);
  if (!slots) return slots.error();
  auto data = convert_bytes_only((*slots)[0], PARAMETERS.names[0]);
  if (!data) return data.error();
  auto total = convert_signed((*slots)[1], PARAMETERS.names[1]);
  if (!total) return total.error();

  // Every check that fixes the output length runs before the allocation.
  auto length = speed_blob_output_length(*data, *total);
  if (!length) return decode_failure(length.error());
  auto result = create_unwritten_bytearray(*length);
  if (!result) return result.error();
  auto decoded = run_detached([&] {
    std::ranges::fill(result->bytes, std::uint8_t{0});
    return decode_speed_chain_into(*data, result->bytes);
  });
  if (!decoded) return decode_failure(decoded.error());
  return std::move(result->object);
}

}  // namespace

PyObject* decode_speed_blob(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                            PyObject* kwnames) {
  return entry_guard([&] { return decode_speed_blob_body(args, nargs, kwnames); });
}

}  // namespace native::py
