// lzrw1_decompress: `bytes` input read in place, the result created at its
// final length, one detached section for the decode.
#include "lib/python.h"  // first: it sets feature macros
#include <algorithm>
#include <cstdint>

#include "codecs/lzrw1.h"
#include "lib/arguments.h"
#include "lib/decode_failure.h"
#include "lib/detached_section.h"
#include "lib/functions.h"
#include "lib/result_objects.h"

namespace native::py {

Result<Ref> lzrw1_decompress_impl(std::span<const std::uint8_t> data, std::uint64_t start,
                                  std::uint64_t decompressed_length) {
  auto result = create_unwritten_bytearray(decompressed_length);
  if (!result) return result.error();
  auto decoded = run_detached([&] {
    std::ranges::fill(result->bytes, std::uint8_t{0});
    return lzrw1_decode_into(data, start, result->bytes);
  });
  if (!decoded) return decode_failure(decoded.error());
  return std::move(result->object);
}

}  // namespace native::py
