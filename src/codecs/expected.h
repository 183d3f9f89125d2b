// The one result shape of the module: a value, or the error that prevented
// it.  The core routines return Expected<T, DecodeError> (decode_error.h);
// the interpreter frame returns Expected<T, PendingError>.  Every caller
// unpacks it the same way:
//
//   auto length = speed_blob_output_length(data, total);
//   if (!length) return length.error();
//   use(*length);
//
// Expected<void, E> is the result of a routine that fills a caller's
// buffer: `return {};` is success.
#pragma once

#include <utility>
#include <variant>

namespace native {

template <class T, class E>
class [[nodiscard]] Expected {
 public:
  Expected(T value) : state_(std::in_place_index<0>, std::move(value)) {}
  Expected(E error) : state_(std::in_place_index<1>, std::move(error)) {}

  bool has_value() const noexcept { return state_.index() == 0; }
  explicit operator bool() const noexcept { return has_value(); }
  T& operator*() { return std::get<0>(state_); }
  const T& operator*() const { return std::get<0>(state_); }
  T* operator->() { return &std::get<0>(state_); }
  const T* operator->() const { return &std::get<0>(state_); }
  // The error, to be moved on: `return result.error();`.
  E&& error() { return std::get<1>(std::move(state_)); }
  const E& error() const { return std::get<1>(state_); }

 private:
  std::variant<T, E> state_;
};

template <class E>
class [[nodiscard]] Expected<void, E> {
 public:
  Expected() = default;
  Expected(E error) : error_(std::in_place_index<1>, std::move(error)) {}

  bool has_value() const noexcept { return error_.index() == 0; }
  explicit operator bool() const noexcept { return has_value(); }
  E&& error() { return std::get<1>(std::move(error_)); }
  const E& error() const { return std::get<1>(error_); }

 private:
  std::variant<std::monostate, E> error_;
};

}  // namespace native
