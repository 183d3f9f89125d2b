// Internal faults: broken invariants, never bad input.  They are the one
// exception-like channel of the module: thrown here, caught only by the
// interpreter frame's entry guard, which raises them as PanicException.
#pragma once

#include <cstdint>
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

// a * b for sizes of module-owned memory; overflow past the signed 64-bit
// range is the fault "capacity overflow".
inline std::uint64_t checked_size_product(std::uint64_t a, std::uint64_t b) {
  std::uint64_t product;
  if (__builtin_mul_overflow(a, b, &product) || product > INT64_MAX) {
    internal_fault("capacity overflow");
  }
  return product;
}

}  // namespace native
