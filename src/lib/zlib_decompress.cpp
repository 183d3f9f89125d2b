// zlib_decompress: `data` is snapshotted while attached (copied unless it is
// an immutable `bytes`) and inflated detached straight into the result
// bytearray, which is grown attached whenever the content outgrows it.
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

  ResultBytearray output;
  if (auto started = output.start(); !started) return started.error();
  // The first window attached, so that most streams never re-attach to
  // grow; a refusal is left to the decoder, which fails the same way.
  (void)output.reserve(first_inflate_window_length(input->bytes.size()));
  auto inflated = run_detached([&](DetachedSection& section) {
    output.grow_through(&section);
    auto result = inflate_zlib_stream_into(input->bytes, output);
    output.grow_through(nullptr);
    return result;
  });
  if (!inflated) return decode_failure(inflated.error());
  return output.finish();
}

}  // namespace native::py
