// Internal faults: broken invariants, never bad input.  They are the one
// exception-like channel of the module: thrown here, caught only by the
// interpreter frame's entry guard, which raises them as PanicException.
#pragma once

#include <stdexcept>
#include <string>

namespace native {

class InternalFault : public std::runtime_error {
 public:
  explicit InternalFault(const std::string& text) : std::runtime_error(text) {}
};

[[noreturn]] inline void internal_fault(const std::string& text) {
  throw InternalFault(text);
}

}  // namespace native
