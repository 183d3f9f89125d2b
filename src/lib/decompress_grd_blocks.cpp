// decompress_grd_blocks: `body` is snapshotted while attached (copied unless
// it is an immutable `bytes`) and every `payloads` pair converted before
// anything is inflated; the blocks inflate detached straight into the result
// bytearray, reserved from the capped size hint and grown attached whenever
// the content outgrows it.
#include "lib/python.h"  // first: it sets feature macros
#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "codecs/grid_blocks.h"
#include "lib/arguments.h"
#include "lib/compat.h"
#include "lib/decode_failure.h"
#include "lib/detached_section.h"
#include "lib/functions.h"
#include "lib/interpreter_caches.h"
#include "lib/pending_error.h"
#include "lib/result_objects.h"
#include "lib/signatures.h"

namespace native::py {

namespace {

// At most this many locations are reserved up front from len(payloads), so
// that a sequence reporting an absurd length cannot exhaust memory; the list
// grows past it as items actually arrive.
constexpr Py_ssize_t MAX_RESERVED_LOCATIONS = 1 << 16;

}  // namespace

Result<std::vector<BlockLocation>> PayloadsParameter::convert(PyObject* payloads,
                                                              std::string_view parameter) {
  if (PyType_GetFlags(Py_TYPE(payloads)) & Py_TPFLAGS_UNICODE_SUBCLASS) {
    return with_argument_note(
        PendingError(ExceptionType::type_error, "Can't extract `str` to `Vec`"), parameter);
  }
  if (!PySequence_Check(payloads)) {
    // The message needs only the name, but the type is still looked up
    // and cached on first need: the first mismatch imports
    // collections.abc, and a lookup that fails ends the call as an internal
    // fault.
    (void)sequence_abc_type();
    return with_argument_note(type_mismatch(payloads, "Sequence"), parameter);
  }
  std::vector<BlockLocation> locations;
  const Py_ssize_t size_guess = PyObject_Size(payloads);
  if (size_guess < 0) {
    PyErr_Clear();
  } else {
    locations.reserve(static_cast<std::size_t>(std::min(size_guess, MAX_RESERVED_LOCATIONS)));
  }
  Ref iterator = Ref::steal(PyObject_GetIter(payloads));
  if (!iterator) return with_argument_note(fetch_error(), parameter);
  for (;;) {
    PyObject* next = nullptr;
    const int status = iter_next_item(iterator.get(), &next);
    if (status < 0) return with_argument_note(fetch_error(), parameter);
    if (status == 0) break;
    Ref item = Ref::steal(next);
    if (!(PyType_GetFlags(Py_TYPE(item.get())) & Py_TPFLAGS_TUPLE_SUBCLASS)) {
      return with_argument_note(type_mismatch(item.get(), "tuple"), parameter);
    }
    const Py_ssize_t length = PyTuple_Size(item.get());
    if (length != 2) {
      return with_argument_note(
          PendingError(ExceptionType::value_error,
                       "expected tuple of length 2, but got tuple of length " +
                           std::to_string(length)),
          parameter);
    }
    auto offset = convert_unsigned(PyTuple_GetItem(item.get(), 0), parameter);
    if (!offset) return offset.error();
    auto size = convert_unsigned(PyTuple_GetItem(item.get(), 1), parameter);
    if (!size) return size.error();
    locations.push_back({*offset, *size});
  }
  return locations;
}

Result<Ref> decompress_grd_blocks_impl(BufferView body, std::vector<BlockLocation> payloads,
                                       std::uint64_t size_hint) {
  auto body_bytes = body.snapshot();
  if (!body_bytes) return body_bytes.error();

  ResultBytearray content;
  if (auto started = content.start(); !started) return started.error();
  // Reserved attached from the capped hint; a refusal is skipped and
  // growth takes over.
  (void)content.reserve(grid_content_reservation(body_bytes->bytes, payloads, size_hint));
  auto blocks = run_detached([&](DetachedSection& section) {
    auto decoded = [&] {
      const auto route = content.grow_through(section);
      return inflate_grid_blocks_into(body_bytes->bytes, payloads, content);
    }();
    std::vector<BlockLocation>().swap(payloads);
    return decoded;
  });
  if (!blocks) return decode_failure(blocks.error());
  auto bytearray = content.finish();
  if (!bytearray) return bytearray.error();
  *body_bytes = Snapshot();  // before the view whose memory it may borrow
  body.release();
  return build_result_tuple(*blocks, std::move(*bytearray));
}

}  // namespace native::py
