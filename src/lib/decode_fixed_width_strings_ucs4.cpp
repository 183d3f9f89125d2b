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
#include "lib/functions.h"
#include "lib/result_objects.h"

namespace native::py {

Result<Ref> decode_fixed_width_strings_ucs4_impl(BufferView data, std::uint64_t width,
                                                 std::uint64_t count) {
  if (!data.is_c_contiguous()) {
    return decode_failure(value_error(Codec::fixed_width, "buffer must be C-contiguous"));
  }
  const std::uint64_t available = data.length();
  const auto needed = checked_product(count, width);
  if (!needed || *needed > available) {
    return decode_failure(index_error(
        Codec::fixed_width, "need " + decimal_product(count, width) + " byte(s) for " +
                                std::to_string(count) + " record(s) of width " +
                                std::to_string(width) + ", only " + std::to_string(available) +
                                " available"));
  }
  const auto input = data.contiguous_bytes().first(static_cast<std::size_t>(*needed));
  std::uint64_t max_len = 0;
  auto result = [&]() -> Result<ResultBytes> {
    // Keeps the exporter's methods from changing the bytes between the
    // passes.  Creating the result may still suspend the section (a
    // collection running finalizers); the decode pass is safe with any
    // bytes: only the measured lengths bound what it reads and writes.
    ExporterSection section(data);
    auto measured = measure_fixed_width_records(input, width, count);
    if (!measured) return decode_failure(measured.error());
    max_len = measured->max_len;
    const std::uint64_t output_length = checked_size_product(
        checked_size_product(count, max_len), UCS4_CODE_POINT_SIZE);
    auto created = create_unwritten_bytearray(output_length);
    if (created) {
      decode_fixed_width_records_into(input, width, measured->lengths, max_len, created->bytes);
    }
    return created;
  }();
  if (!result) return result.error();
  data.release();
  return build_result_tuple(max_len, std::move(result->object));
}

}  // namespace native::py
