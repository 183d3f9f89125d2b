// zlib_decompress: `data` is snapshotted while attached (copied unless it is
// an immutable `bytes`), inflated detached into an owned vector, and the
// vector copied detached into the result bytearray.
#include "lib/python.h"  // first: it sets feature macros
#include "codecs/zlib_stream.h"
#include "lib/arguments.h"
#include "lib/decode_failure.h"
#include "lib/detached_section.h"
#include "lib/functions.h"
#include "lib/result_objects.h"

namespace native::py {

Result<Ref> zlib_decompress_impl(BufferView data) {
  auto input = data.snapshot();
  if (!input) return input.error();

  auto inflated = run_detached([&] { return inflate_zlib_stream(input->bytes); });
  if (!inflated) return decode_failure(inflated.error());
  return result_bytearray_copy(*inflated);
}

}  // namespace native::py
