#include "lib/python.h"  // first: it sets feature macros
#include "lib/result_objects.h"

#include <cstring>


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

ResultBytearray::Resize ResultBytearray::resize(std::uint64_t length) {
  // length <= max_capacity, the largest Py_ssize_t.
  const Py_ssize_t length_before = PyByteArray_Size(object_.get());
  if (PyByteArray_Resize(object_.get(), static_cast<Py_ssize_t>(length)) == 0) {
    data_ = reinterpret_cast<std::uint8_t*>(PyByteArray_AsString(object_.get()));
    return Resize::done;
  }
  PyErr_Clear();
  // The documentation promises nothing about a refused resize.  CPython
  // 3.15 keeps the storage; its later sources empty the bytearray when the
  // storage cannot be reallocated.
  auto* data_after = reinterpret_cast<std::uint8_t*>(PyByteArray_AsString(object_.get()));
  const Py_ssize_t length_after = PyByteArray_Size(object_.get());
  if (data_after != data_ || length_after != length_before) {
    if (size_ > 0) return Resize::content_lost;
    // Nothing written yet (a refused reservation): nothing lost either.
    data_ = data_after;
    capacity_ = static_cast<std::uint64_t>(length_after);
  }
  return Resize::refused;
}

DecodeResult<void> ResultBytearray::resize_attached(std::uint64_t new_capacity) {
  // A refusal (MemoryError) becomes the decoder's out_of_memory.
  switch (resize(new_capacity)) {
    case Resize::done:
      capacity_ = new_capacity;
      return {};
    case Resize::refused:
      break;
    case Resize::content_lost:
      lose_content();
      break;
  }
  return out_of_memory(Codec::output);
}

DecodeResult<void> ResultBytearray::reallocate(std::uint64_t new_capacity) {
  if (section_ == nullptr) return resize_attached(new_capacity);
  return section_->attached([&] { return resize_attached(new_capacity); });
}

bool ResultBytearray::release_slack() {
  // A bytearray shrinks its allocation to the length only when the length
  // is below half of it, and takes a large growth step as asked: so it
  // first grows past twice the content (the allocator remaps a large block
  // without touching its pages), then shrinks to the content.  Rare (a
  // grid that stops early, a stream whose ratio changes late): the memory
  // it gives back, the allocator may return to the system, to be faulted in
  // again by the next call.
  constexpr std::uint64_t PAST_DOUBLE = 64;
  Resize step = Resize::refused;
  if (size_ <= (max_capacity - PAST_DOUBLE) / 2) {
    step = resize(size_ * 2 + PAST_DOUBLE);
    if (step == Resize::done) step = resize(size_);
  }
  if (step != Resize::refused) return step == Resize::done;
  // A step refused: one exact copy, or failing that the result as it is.
  Ref exact = Ref::steal(PyByteArray_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(size_)));
  if (!exact) {
    PyErr_Clear();
    // Back to the content's length, slack and all.
    return resize(size_) != Resize::content_lost;
  }
  if (size_ > 0) std::memcpy(PyByteArray_AsString(exact.get()), data_, size_);
  object_ = std::move(exact);
  return true;
}

Result<Ref> ResultBytearray::finish() {
  if (lost()) return PendingError(ExceptionType::memory_error, {});
  // The trim gives the allocation back only when the content is below half
  // of it (rounded down, as the interpreter rounds it); within an eighth of
  // it, the rest may stay (the growth policy's aim).  Only in between is it
  // released.
  const bool slack_to_release = size_ >= capacity_ / 2 && capacity_ - size_ > size_ / 8;
  if (size_ != capacity_ && PyByteArray_Resize(object_.get(), static_cast<Py_ssize_t>(size_)) != 0) {
    return fetch_error();
  }
  data_ = reinterpret_cast<std::uint8_t*>(PyByteArray_AsString(object_.get()));
  if (slack_to_release && !release_slack()) return PendingError(ExceptionType::memory_error, {});
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
