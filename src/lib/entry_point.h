// How a call reaches a module function's body: the entry point binds the
// vectorcall arguments to the parameters its signature declares, converts
// them, and calls the body (`*_impl`, in plain C++ types) with them, all
// inside the entry guard.  The method table points at these entry points.
#pragma once

#include "lib/python.h"  // first: it sets feature macros
#include <cstddef>
#include <optional>
#include <tuple>
#include <utility>

#include "lib/arguments.h"
#include "lib/entry_guard.h"
#include "lib/pending_error.h"
#include "lib/signatures.h"

namespace native::py {

// Binds the vectorcall arguments to the parameters of `signature`, converts
// them strictly in order (the first failure ends the call, dropping what was
// converted before it) and calls `body` with the converted values, one
// argument per parameter: the function's body in plain C++ types.
template <class... Kinds, class Body>
Result<Ref> call_with_arguments(const Signature<Kinds...>& signature, PyObject* const* args,
                                Py_ssize_t nargs, PyObject* kwnames, Body&& body) {
  auto slots = bind_arguments(signature.parameters, args, nargs, kwnames);
  if (!slots) return slots.error();
  std::tuple<std::optional<typename Kinds::Value>...> values;
  Result<void> converted;
  [&]<std::size_t... I>(std::index_sequence<I...>) {
    const auto convert_one = [&]<std::size_t J, class Kind>() {
      auto value = Kind::convert((*slots)[J], signature.parameters.names[J]);
      if (!value) {
        converted = value.error();
        return false;
      }
      std::get<J>(values).emplace(std::move(*value));
      return true;
    };
    (convert_one.template operator()<I, Kinds>() && ...);
  }(std::index_sequence_for<Kinds...>());
  if (!converted) return converted.error();
  return std::apply(
      [&](auto&... value) { return std::forward<Body>(body)(std::move(*value)...); }, values);
}

template <const auto& signature, auto body>
PyObject* entry_point(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return entry_guard(
      [&] { return call_with_arguments(signature, args, nargs, kwnames, body); });
}

}  // namespace native::py
