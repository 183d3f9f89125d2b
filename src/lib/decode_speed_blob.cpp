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
#include "lib/functions.h"
#include "lib/result_objects.h"

namespace native::py {

Result<Ref> decode_speed_blob_impl(std::span<const std::uint8_t> data,
                                   std::int64_t total_decompressed_length) {
  // Every check that fixes the output length runs before the allocation.
  auto length = speed_blob_output_length(data, total_decompressed_length);
  if (!length) return decode_failure(length.error());
  auto result = create_unwritten_bytearray(*length);
  if (!result) return result.error();
  auto decoded = run_detached([&] {
    std::ranges::fill(result->bytes, std::uint8_t{0});
    return decode_speed_chain_into(data, result->bytes);
  });
  if (!decoded) return decode_failure(decoded.error());
  return std::move(result->object);
}

}  // namespace native::py
