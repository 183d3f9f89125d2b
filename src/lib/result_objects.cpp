#include "lib/python.h"  // first: it sets feature macros
#include "lib/result_objects.h"

#include <cstring>

#include "codecs/internal_fault.h"

namespace native::py {

Result<ResultBytes> create_unwritten_bytearray(std::uint64_t length) {
  // A length of 2**63 or more reaches the interpreter as a negative size,
  // which it refuses with its own SystemError.
  Ref object = Ref::steal(
      PyByteArray_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(length)));
  if (!object) return fetch_error();
  auto* data = reinterpret_cast<std::uint8_t*>(PyByteArray_AsString(object.get()));
  if (!data) return fetch_error();
  return ResultBytes{std::move(object), {data, static_cast<std::size_t>(length)}};
}

Result<void> ResultBytearray::start() {
  object_ = Ref::steal(PyByteArray_FromStringAndSize(nullptr, 0));
  if (!object_) return fetch_error();
  data_ = reinterpret_cast<std::uint8_t*>(PyByteArray_AsString(object_.get()));
  if (!data_) return fetch_error();
  return {};
}

bool ResultBytearray::resize(std::uint64_t length) {
  // length <= max_capacity, the largest Py_ssize_t.
  const Py_ssize_t length_before = PyByteArray_Size(object_.get());
  if (PyByteArray_Resize(object_.get(), static_cast<Py_ssize_t>(length)) == 0) {
    data_ = reinterpret_cast<std::uint8_t*>(PyByteArray_AsString(object_.get()));
    return true;
  }
  PyErr_Clear();
  // The documentation promises nothing about a refused resize; the
  // decoders go on writing into the storage they hold.
  if (reinterpret_cast<std::uint8_t*>(PyByteArray_AsString(object_.get())) != data_ ||
      PyByteArray_Size(object_.get()) != length_before) {
    internal_fault("a refused bytearray resize changed the bytearray");
  }
  return false;
}

DecodeResult<void> ResultBytearray::resize_attached(std::uint64_t new_capacity) {
  // A refusal (MemoryError) becomes the decoder's out_of_memory.
  if (!resize(new_capacity)) return out_of_memory(Codec::byte_vector);
  capacity_ = new_capacity;
  return {};
}

DecodeResult<void> ResultBytearray::reallocate(std::uint64_t new_capacity) {
  if (section_ == nullptr) return resize_attached(new_capacity);
  return section_->attached([&] { return resize_attached(new_capacity); });
}

void ResultBytearray::release_slack() {
  // A bytearray shrinks its allocation to the length only when the length
  // is below half of it, and takes a large growth step as asked: so it
  // first grows past twice the content (the allocator remaps a large block
  // without touching its pages), then shrinks to the content.  Rare (a
  // grid that stops early, a stream whose ratio changes late): the memory
  // it gives back, the allocator may return to the system, to be faulted in
  // again by the next call.
  constexpr std::uint64_t PAST_DOUBLE = 64;
  if (size_ <= (max_capacity - PAST_DOUBLE) / 2 && resize(size_ * 2 + PAST_DOUBLE) &&
      resize(size_)) {
    return;
  }
  // A step refused: one exact copy, or failing that the result as it is.
  Ref exact = Ref::steal(PyByteArray_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(size_)));
  if (!exact) {
    PyErr_Clear();
    (void)resize(size_);  // back to the content's length, slack and all
    return;
  }
  if (size_ > 0) std::memcpy(PyByteArray_AsString(exact.get()), data_, size_);
  object_ = std::move(exact);
}

Result<Ref> ResultBytearray::finish() {
  // Below half of the allocation, the trim gives the rest back; within an
  // eighth of it, the rest may stay (the growth policy's aim).  Only in
  // between is it released.
  const bool slack_kept = size_ >= capacity_ - capacity_ / 2 && capacity_ - size_ > size_ / 8;
  if (size_ != capacity_ && PyByteArray_Resize(object_.get(), static_cast<Py_ssize_t>(size_)) != 0) {
    return fetch_error();
  }
  data_ = reinterpret_cast<std::uint8_t*>(PyByteArray_AsString(object_.get()));
  if (slack_kept) release_slack();
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
