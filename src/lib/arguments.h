// Binding of vectorcall arguments to parameters, and their conversion into
// byte spans, buffer views and 64-bit integers.  Every parameter of every
// function is required and may be given by position or by keyword.
#pragma once

#include "lib/python.h"  // first: it sets feature macros
#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

#include "lib/pending_error.h"

namespace native::py {

inline constexpr std::size_t MAX_PARAMETERS = 3;

struct ParameterDescription {
  std::string_view function;  // "lzrw1_decompress"
  std::array<std::string_view, MAX_PARAMETERS> names;
  std::size_t count;
};

// Borrowed arguments, one slot per parameter; the caller keeps them alive.
using ArgumentSlots = std::array<PyObject*, MAX_PARAMETERS>;

// Fills `slots` or fails with the TypeError of a call that does not fit the
// signature (no argument note).
Result<ArgumentSlots> bind_arguments(const ParameterDescription& description,
                                     PyObject* const* args, Py_ssize_t nargs,
                                     PyObject* kwnames);

// Adds the note "while processing '{parameter}'" to the error's exception.
PendingError with_argument_note(PendingError error, std::string_view parameter);

// A `bytes` object (or subclass), read in place: it cannot change, and the
// caller's reference keeps it alive, so it may be read while detached.
Result<std::span<const std::uint8_t>> convert_bytes_only(PyObject* object,
                                                         std::string_view parameter);

// Input bytes that stay still while the thread is detached: a module-owned
// copy (not zero-filled), or the memory of an exporter that cannot change.
struct Snapshot {
  std::unique_ptr<std::uint8_t[]> owned;  // null when `bytes` is borrowed
  std::span<const std::uint8_t> bytes;
};

// One acquired buffer export of unsigned bytes, released exactly once,
// attached, when the view is destroyed.
class BufferView {
 public:
  BufferView(BufferView&&) noexcept = default;
  BufferView& operator=(BufferView&&) noexcept = default;
  ~BufferView();

  const Py_buffer& record() const { return *record_; }
  std::uint64_t length() const { return static_cast<std::uint64_t>(record_->len); }
  // The exporter's memory; only meaningful for a C-contiguous view.
  std::span<const std::uint8_t> contiguous_bytes() const {
    return {static_cast<const std::uint8_t*>(record_->buf), static_cast<std::size_t>(record_->len)};
  }
  bool is_c_contiguous() const;
  // Releases the export now rather than at destruction.
  void release() { record_.reset(); }
  // The exporter's bytes in row-major order, whatever its layout.  An exact
  // `bytes` object is immutable and the export keeps it alive, so its memory
  // is used in place (valid while this view is); any other exporter is
  // copied inside an ExporterSection: one state of its bytes as far as its
  // own methods go (see there for writes through raw pointers).
  Result<Snapshot> snapshot() const;

 private:
  friend Result<BufferView> acquire_buffer(PyObject*, std::string_view);
  explicit BufferView(std::unique_ptr<Py_buffer> record) : record_(record.release()) {}
  struct Release {
    void operator()(Py_buffer* record) const;
  };
  std::unique_ptr<Py_buffer, Release> record_;
};

Result<BufferView> acquire_buffer(PyObject* object, std::string_view parameter);

// A critical section on the object that exports a view's memory (for a
// memoryview, on the memoryview and on the object it views), held while the
// thread stays attached: the exporter's own methods (bytearray and array
// writes, slice assignment, writes through a memoryview) cannot run on
// another thread meanwhile.  Writes through a raw pointer into the same
// memory (a NumPy array over it, another extension) take no such lock: a
// read that overlaps them sees an unspecified mix of old and new bytes, as
// CPython's own functions do.  The interpreter suspends the section while
// the thread detaches or blocks on another lock, so the code inside must be
// safe whatever bytes it reads.  On builds with the interpreter lock, which
// already keeps other threads out while this thread runs, it does nothing.
class ExporterSection {
 public:
  explicit ExporterSection(const BufferView& view);
  ~ExporterSection();
  ExporterSection(const ExporterSection&) = delete;
  ExporterSection& operator=(const ExporterSection&) = delete;

 private:
#if Py_LIMITED_API + 0 >= 0x030f0000
  Ref viewed_;  // the object a memoryview exporter views
  PyCriticalSection2 section_;
  bool active_ = false;  // false for an export that names no object
#endif
};

Result<std::uint64_t> convert_unsigned(PyObject* object, std::string_view parameter);
Result<std::int64_t> convert_signed(PyObject* object, std::string_view parameter);

}  // namespace native::py
