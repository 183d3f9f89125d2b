// lzrw1_decompress: `bytes` input read in place, the result created at its
// final length, one detached section for the decode.
#include "lib/python.h"  // first: it sets feature macros
#include <algorithm>
#include <cstdint>

#include "codecs/lzrw1.h"
#include "lib/arguments.h"
#include "lib/decode_failure.h"
#include "lib/detached_section.h"
#include "lib/entry_guard.h"
#include "lib/functions.h"
#include "lib/result_objects.h"
#include "lib/signatures.h"

namespace native::py {
namespace {

constexpr const ParameterDescription& PARAMETERS = LZRW1_DECOMPRESS_PARAMETERS;

Result<Ref> lzrw1_decompress_body(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  auto slots = bind_arguments(PARAMETERS, args, nargs, kwnames);
  if (!slots) return slots.error();
  auto data = convert_bytes_only((*slots)[0], PARAMETERS.names[0]);
  if (!data) return data.error();
  auto start = convert_unsigned((*slots)[1], PARAMETERS.names[1]);
  if (!start) return start.error();
  auto length = convert_unsigned((*slots)[2], PARAMETERS.names[2]);
  if (!length) return length.error();

  auto result = create_unwritten_bytearray(*length);
  if (!result) return result.error();
  auto decoded = run_detached([&] {
    std::ranges::fill(result->bytes, std::uint8_t{0});
    return lzrw1_decode_into(*data, *start, result->bytes);
  });
  if (!decoded) return decode_failure(decoded.error());
  return std::move(result->object);
}

}  // namespace

PyObject* lzrw1_decompress(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                           PyObject* kwnames) {
  return entry_guard([&] { return lzrw1_decompress_body(args, nargs, kwnames); });
}

}  // namespace native::py
