// decode_fixed_width_strings_ucs4: the buffer is read in place, so the whole
// call stays attached (a mutable exporter could change under a detached
// decode), and both passes run inside one critical section on the exporter.
// The decode pass writes every byte of the result, which is therefore never
// zero-filled first.
#include "lib/python.h"  // first: it sets feature macros
#include <string>

#include "codecs/fixed_width.h"
#include "codecs/integers.h"
#include "lib/arguments.h"
#include "lib/decode_failure.h"
#include "lib/entry_guard.h"
#include "lib/functions.h"
#include "lib/result_objects.h"
#include "lib/signatures.h"

namespace native::py {
namespace {

constexpr const ParameterDescription& PARAMETERS = DECODE_FIXED_WIDTH_STRINGS_UCS4_PARAMETERS;

Result<Ref> decode_fixed_width_body(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  auto slots = bind_arguments(PARAMETERS, args, nargs, kwnames);
  if (!slots) return slots.error();
  auto view = acquire_buffer((*slots)[0], PARAMETERS.names[0]);
  if (!view) return view.error();
  auto width = convert_unsigned((*slots)[1], PARAMETERS.names[1]);
  if (!width) return width.error();
  auto count = convert_unsigned((*slots)[2], PARAMETERS.names[2]);
  if (!count) return count.error();

  if (!view->is_c_contiguous()) {
    return decode_failure(value_error(Codec::fixed_width, "buffer must be C-contiguous"));
  }
  const std::uint64_t available = view->length();
  const auto needed = checked_product(*count, *width);
  if (!needed || *needed > available) {
    return decode_failure(index_error(
        Codec::fixed_width, "need " + decimal_product(*count, *width) + " byte(s) for " +
                                std::to_string(*count) + " record(s) of width " +
                                std::to_string(*width) + ", only " + std::to_string(available) +
                                " available"));
  }
  const auto input = view->contiguous_bytes().first(static_cast<std::size_t>(*needed));
  std::uint64_t max_len = 0;
  auto result = [&]() -> Result<ResultBytes> {
    // Keeps the exporter's methods from changing the bytes between the
    // passes.  Creating the result may still suspend the section (a
    // collection running finalizers); the decode pass is safe with any
    // bytes: only the measured lengths bound what it reads and writes.
    ExporterSection section(*view);
    auto measured = measure_fixed_width_records(input, *width, *count);
    if (!measured) return decode_failure(measured.error());
    max_len = measured->max_len;
    const std::uint64_t output_length = checked_size_product(
        checked_size_product(*count, max_len), UCS4_CODE_POINT_SIZE);
    auto created = create_unwritten_bytearray(output_length);
    if (created) {
      decode_fixed_width_records_into(input, *width, measured->lengths, max_len, created->bytes);
    }
    return created;
  }();
  if (!result) return result.error();
  view->release();
  return build_result_tuple(max_len, std::move(result->object));
}

}  // namespace

PyObject* decode_fixed_width_strings_ucs4(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                          PyObject* kwnames) {
  return entry_guard([&] { return decode_fixed_width_body(args, nargs, kwnames); });
}

}  // namespace native::py
