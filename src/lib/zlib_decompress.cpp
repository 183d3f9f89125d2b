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
  make_first_inflate_window(output, input->bytes.size());
  auto inflated = run_detached([&](DetachedSection& section) {
    const auto route = output.grow_through(section);
    return inflate_zlib_stream_into(input->bytes, output);
  });
  if (!inflated) return decode_failure(inflated.error());
  return output.finish();
}

}  // namespace native::py
