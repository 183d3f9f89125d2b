// decode_fixed_width_strings_ucs4: the buffer is read in place, so the whole
// call stays attached (a mutable exporter could change under a detached
// decode).
#include "lib/python.h"  // first: it sets feature macros
#include <string>

#include "codecs/fixed_width.h"
#include "codecs/internal_fault.h"
#include "lib/arguments.h"
#include "lib/frame.h"
#include "lib/functions.h"

namespace native::py {
namespace {

__extension__ typedef unsigned __int128 uint128;

constexpr ParameterDescription kFixedWidthParameters{
    "decode_fixed_width_strings_ucs4", {"data", "width", "count"}, 3};

std::string decimal(uint128 value) {
  std::string digits;
  do {
    digits.insert(digits.begin(), static_cast<char>('0' + static_cast<int>(value % 10)));
    value /= 10;
  } while (value != 0);
  return digits;
}

Result<Ref> decode_fixed_width_body(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  auto slots = bind_arguments(kFixedWidthParameters, args, nargs, kwnames);
  if (!slots) return slots.error();
  auto view = acquire_buffer((*slots)[0], "data");
  if (!view) return view.error();
  auto width = convert_unsigned((*slots)[1], "width");
  if (!width) return width.error();
  auto count = convert_unsigned((*slots)[2], "count");
  if (!count) return count.error();

  if (!view->is_c_contiguous()) {
    return PendingError(ExceptionType::value_error,
                        "decode_fixed_width_strings_ucs4: buffer must be C-contiguous");
  }
  const std::uint64_t available = view->length();
  const uint128 needed = static_cast<uint128>(*count) * *width;
  if (needed > available) {
    return PendingError(ExceptionType::index_error,
                        "decode_fixed_width_strings_ucs4: need " + decimal(needed) +
                            " byte(s) for " + std::to_string(*count) + " record(s) of width " +
                            std::to_string(*width) + ", only " + std::to_string(available) +
                            " available");
  }
  const auto input = view->contiguous_bytes().first(static_cast<std::size_t>(needed));
  FixedWidthLengths measured = measure_fixed_width_records(input, *width, *count);
  const std::uint64_t output_length =
      checked_size_product(checked_size_product(*count, measured.max_len), 4);
  auto result = create_result_bytearray(output_length);
  if (!result) return result.error();
  decode_fixed_width_records_into(input, *width, measured.lengths, measured.max_len,
                                  result->bytes);
  view->release();
  return build_result_tuple(measured.max_len, std::move(result->object));
}

}  // namespace

PyObject* decode_fixed_width_strings_ucs4(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                          PyObject* kwnames) {
  return entry_guard([&] { return decode_fixed_width_body(args, nargs, kwnames); });
}

}  // namespace native::py
