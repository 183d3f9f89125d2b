#include "lib/python.h"  // first: it sets feature macros
#include "lib/result_objects.h"

#include <cstring>

#include "codecs/huge_pages.h"
#include "lib/detached_section.h"

namespace native::py {

Result<ResultBytes> create_unwritten_bytearray(std::uint64_t length) {
  // A length of 2**63 or more reaches the interpreter as a negative size,
  // which it refuses with its own SystemError.
  Ref object = Ref::steal(
      PyByteArray_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(length)));
  if (!object) return fetch_error();
  auto* data = reinterpret_cast<std::uint8_t*>(PyByteArray_AsString(object.get()));
  if (!data) return fetch_error();
  advise_huge_pages(data, length);
  return ResultBytes{std::move(object), {data, static_cast<std::size_t>(length)}};
}

Result<Ref> result_bytearray_copy(const ByteVector& content) {
  auto result = create_unwritten_bytearray(content.size());  // the copy writes every byte
  if (!result) return result.error();
  if (!content.empty()) {
    run_detached([&] { std::memcpy(result->bytes.data(), content.data(), content.size()); });
  }
  return std::move(result->object);
}

Ref build_result_tuple(std::uint64_t count, Ref bytearray) {
  Ref number = must_not_fail(PyLong_FromUnsignedLongLong(count));
  Ref tuple = must_not_fail(PyTuple_New(2));
  PyTuple_SetItem(tuple.get(), 0, number.release());
  PyTuple_SetItem(tuple.get(), 1, bytearray.release());
  return tuple;
}

}  // namespace native::py
