// zlib_decompress: `data` is copied while attached (its exporter may be
// mutable), inflated detached into an owned vector, and the vector copied
// detached into the result bytearray.
#include "lib/python.h"  // first: it sets feature macros
#include "codecs/zlib_stream.h"
#include "lib/arguments.h"
#include "lib/decode_failure.h"
#include "lib/detached_section.h"
#include "lib/entry_guard.h"
#include "lib/functions.h"
#include "lib/result_objects.h"
#include "lib/signatures.h"

namespace native::py {
namespace {

constexpr const ParameterDescription& PARAMETERS = ZLIB_DECOMPRESS_PARAMETERS;

Result<Ref> zlib_decompress_body(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  auto slots = bind_arguments(PARAMETERS, args, nargs, kwnames);
  if (!slots) return slots.error();
  auto view = acquire_buffer((*slots)[0], PARAMETERS.names[0]);
  if (!view) return view.error();
  auto input = view->copy();
  if (!input) return input.error();

  auto inflated = run_detached([&] { return inflate_zlib_stream(input->bytes()); });
  if (!inflated) return decode_failure(inflated.error());
  return result_bytearray_copy(*inflated);
}

}  // namespace

PyObject* zlib_decompress(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                          PyObject* kwnames) {
  return entry_guard([&] { return zlib_decompress_body(args, nargs, kwnames); });
}

}  // namespace native::py
