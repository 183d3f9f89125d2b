#include "lib/python.h"  // first: it sets feature macros
#include "lib/result_objects.h"

#include "codecs/huge_pages.h"

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

Result<void> ResultBytearray::start() {
  object_ = Ref::steal(PyByteArray_FromStringAndSize(nullptr, 0));
  if (!object_) return fetch_error();
  data_ = reinterpret_cast<std::uint8_t*>(PyByteArray_AsString(object_.get()));
  if (!data_) return fetch_error();
  return {};
}

DecodeResult<void> ResultBytearray::resize_attached(std::uint64_t new_capacity) {
  // new_capacity <= max_capacity, the largest Py_ssize_t.  A refusal leaves
  // the bytearray as it was; its MemoryError becomes the decoder's
  // out_of_memory.
  if (PyByteArray_Resize(object_.get(), static_cast<Py_ssize_t>(new_capacity)) != 0) {
    PyErr_Clear();
    return out_of_memory(Codec::byte_vector);
  }
  data_ = reinterpret_cast<std::uint8_t*>(PyByteArray_AsString(object_.get()));
  capacity_ = new_capacity;
  advise_huge_pages(data_, static_cast<std::size_t>(new_capacity));
  return {};
}

DecodeResult<void> ResultBytearray::reallocate(std::uint64_t new_capacity) {
  if (section_ == nullptr) return resize_attached(new_capacity);
  return section_->attached([&] { return resize_attached(new_capacity); });
}

Result<Ref> ResultBytearray::finish() {
  if (size_ != capacity_ &&
      PyByteArray_Resize(object_.get(), static_cast<Py_ssize_t>(size_)) != 0) {
    return fetch_error();
  }
  data_ = nullptr;
  size_ = capacity_ = 0;
  return std::move(object_);
}

Ref build_result_tuple(std::uint64_t count, Ref bytearray) {
  Ref number = must_not_fail(PyLong_FromUnsignedLongLong(count));
  Ref tuple = must_not_fail(PyTuple_New(2));
  PyTuple_SetItem(tuple.get(), 0, number.release());
  PyTuple_SetItem(tuple.get(), 1, bytearray.release());
  return tuple;
}

}  // namespace native::py
