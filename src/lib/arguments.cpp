#include "lib/python.h"  // first: it sets feature macros
#include "lib/arguments.h"

#include <cstring>
#include <string>

#include "lib/interpreter_caches.h"
#include "lib/pending_error.h"

namespace native::py {
namespace {

std::string label(const ParameterDescription& description) {
  return std::string(description.function) + "()";
}

PendingError binding_error(std::string text) {
  return PendingError(ExceptionType::type_error, std::move(text));
}

// str(name) as UTF-8, every part that cannot be encoded shown as U+FFFD.
std::string lossy_text(PyObject* name) {
  Ref str = Ref::steal(PyObject_Str(name));
  Ref encoded = str ? Ref::steal(PyUnicode_AsEncodedString(str.get(), "utf-8", "surrogatepass"))
                    : Ref();
  Ref decoded;
  if (encoded) {
    char* data = nullptr;
    Py_ssize_t size = 0;
    if (PyBytes_AsStringAndSize(encoded.get(), &data, &size) == 0) {
      decoded = Ref::steal(PyUnicode_DecodeUTF8(data, size, "replace"));
    }
  }
  Py_ssize_t size = 0;
  const char* text = decoded ? PyUnicode_AsUTF8AndSize(decoded.get(), &size) : nullptr;
  if (!text) {
    PyErr_Clear();
    return "<unprintable keyword>";
  }
  return std::string(text, static_cast<std::size_t>(size));
}

std::string missing_message(const ParameterDescription& description,
                            const std::vector<std::string_view>& missing) {
  std::string text = label(description) + " missing " + std::to_string(missing.size()) +
                     " required positional " + (missing.size() == 1 ? "argument" : "arguments") +
                     ": ";
  for (std::size_t i = 0; i < missing.size(); ++i) {
    if (i > 0) {
      if (missing.size() == 2) {
        text += " and ";
      } else {
        text += i + 1 == missing.size() ? ", and " : ", ";
      }
    }
    text += "'";
    text += missing[i];
    text += "'";
  }
  return text;
}

}  // namespace

Result<ArgumentSlots> bind_arguments(const ParameterDescription& description,
                                     PyObject* const* args, Py_ssize_t nargs,
                                     PyObject* kwnames) {
  ArgumentSlots slots{};
  const auto parameters = static_cast<Py_ssize_t>(description.count);
  if (args) {
    for (Py_ssize_t i = 0; i < std::min(nargs, parameters); ++i) slots[i] = args[i];
  }
  if (nargs > parameters) {
    return binding_error(label(description) + " takes " + std::to_string(parameters) +
                         " positional arguments but " + std::to_string(nargs) + " " +
                         (nargs == 1 ? "was" : "were") + " given");
  }
  if (kwnames) {
    const Py_ssize_t keywords = PyTuple_Size(kwnames);
    for (Py_ssize_t k = 0; k < keywords; ++k) {
      PyObject* name = PyTuple_GetItem(kwnames, k);
      Py_ssize_t size = 0;
      const char* text = name ? PyUnicode_AsUTF8AndSize(name, &size) : nullptr;
      if (!text) PyErr_Clear();  // a lone surrogate: cannot name a parameter
      std::size_t match = description.count;
      if (text) {
        const std::string_view keyword(text, static_cast<std::size_t>(size));
        for (std::size_t i = 0; i < description.count; ++i) {
          if (description.names[i] == keyword) {
            match = i;
            break;
          }
        }
      }
      if (match == description.count) {
        return binding_error(label(description) + " got an unexpected keyword argument '" +
                             lossy_text(name) + "'");
      }
      if (slots[match]) {
        return binding_error(label(description) + " got multiple values for argument '" +
                             std::string(description.names[match]) + "'");
      }
      slots[match] = args[nargs + k];
    }
  }
  if (nargs < parameters) {
    std::vector<std::string_view> missing;
    for (std::size_t i = static_cast<std::size_t>(nargs); i < description.count; ++i) {
      if (!slots[i]) missing.push_back(description.names[i]);
    }
    if (!missing.empty()) return binding_error(missing_message(description, missing));
  }
  return slots;
}

PendingError with_argument_note(PendingError error, std::string_view parameter) {
  std::string note_text = "while processing '" + std::string(parameter) + "'";
  Ref note = must_not_fail(
      PyUnicode_FromStringAndSize(note_text.data(), static_cast<Py_ssize_t>(note_text.size())));
  PyObject* method = interned_name_add_note();
  PyObject* exception = error.materialise();
  PyObject* call_args[] = {exception, note.get()};
  Ref outcome = Ref::steal(PyObject_VectorcallMethod(
      method, call_args, 2 | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr));
  if (!outcome) fetch_error();  // discarded: the conversion error is what matters
  return error;
}

Result<std::span<const std::uint8_t>> convert_bytes_only(PyObject* object,
                                                         std::string_view parameter) {
  if (!(PyType_GetFlags(Py_TYPE(object)) & Py_TPFLAGS_BYTES_SUBCLASS)) {
    return with_argument_note(type_mismatch(object, "bytes"), parameter);
  }
  const char* data = PyBytes_AsString(object);
  const Py_ssize_t size = PyBytes_Size(object);
  if (!data || size < 0) return with_argument_note(fetch_error(), parameter);
  return std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(data),
                                       static_cast<std::size_t>(size));
}

void BufferView::Release::operator()(Py_buffer* record) const {
  PyBuffer_Release(record);
  delete record;
}

BufferView::~BufferView() = default;

bool BufferView::is_c_contiguous() const {
  return PyBuffer_IsContiguous(record_.get(), 'C') != 0 && record_->buf != nullptr;
}

Result<Snapshot> BufferView::snapshot() const {
  Snapshot snapshot;
  if (record_->len == 0) return snapshot;
  if (record_->obj && PyBytes_CheckExact(record_->obj)) {
    snapshot.bytes = contiguous_bytes();  // a bytes export is one contiguous run
    return snapshot;
  }
  const auto size = static_cast<std::size_t>(record_->len);
  snapshot.owned = std::make_unique_for_overwrite<std::uint8_t[]>(size);
  int copied;
  {
    ExporterSection section(*this);
    copied = PyBuffer_ToContiguous(snapshot.owned.get(), record_.get(), record_->len, 'C');
  }
  if (copied < 0) return fetch_error();
  snapshot.bytes = {snapshot.owned.get(), size};
  return snapshot;
}

#if Py_LIMITED_API + 0 >= 0x030f0000
ExporterSection::ExporterSection(const BufferView& view) {
  PyObject* exporter = view.record().obj;
  if (!exporter) return;
  if (PyMemoryView_Check(exporter)) {
    // Its `obj`: the object whose methods write the memory (None when there
    // is none).  Reading the attribute of a live export cannot fail.
    viewed_ = Ref::steal(PyObject_GetAttr(exporter, interned_name_obj()));
    if (!viewed_) PyErr_Clear();
  }
  PyObject* other = viewed_ && viewed_.get() != Py_None ? viewed_.get() : exporter;
  PyCriticalSection2_Begin(&section_, exporter, other);
  active_ = true;
}

ExporterSection::~ExporterSection() {
  if (active_) PyCriticalSection2_End(&section_);
}
#else
// The abi3 build runs on interpreters with the lock only (3.12 to 3.14, and
// the GIL builds of later versions).
ExporterSection::ExporterSection(const BufferView&) {}
ExporterSection::~ExporterSection() = default;
#endif

namespace {

// The accepted item formats: none (the buffer protocol's "B"), "B", "c",
// and "@B", "=B", ">B", "@c", "=c", ">c".  Every other format is refused,
// "<B", "!B" and the empty string included.
bool is_u8_format(const char* format) {
  if (!format) return true;
  auto is_item = [](char c) { return c == 'B' || c == 'c'; };
  const std::size_t length = std::strlen(format);
  if (length == 1) return is_item(format[0]);
  if (length == 2) {
    return (format[0] == '@' || format[0] == '=' || format[0] == '>') && is_item(format[1]);
  }
  return false;
}

}  // namespace

Result<BufferView> acquire_buffer(PyObject* object, std::string_view parameter) {
  auto record = std::make_unique<Py_buffer>();
  if (PyObject_GetBuffer(object, record.get(), PyBUF_FULL_RO) != 0) {
    return with_argument_note(fetch_error(), parameter);
  }
  BufferView view(std::move(record));
  const Py_buffer& r = view.record();
  const char* problem = nullptr;
  if (!r.shape) {
    problem = "shape is null";
  } else if (!r.strides) {
    problem = "strides is null";
  } else if (r.itemsize != 1 || !is_u8_format(r.format)) {
    problem = "buffer contents are not compatible with u8";
  }
  if (problem) {
    { BufferView released(std::move(view)); }  // released before raising
    return with_argument_note(PendingError(ExceptionType::buffer_error, problem), parameter);
  }
  return view;
}

Result<std::uint64_t> convert_unsigned(PyObject* object, std::string_view parameter) {
  unsigned long long value;
  if (PyType_GetFlags(Py_TYPE(object)) & Py_TPFLAGS_LONG_SUBCLASS) {
    value = PyLong_AsUnsignedLongLong(object);
  } else {
    Ref index = Ref::steal(PyNumber_Index(object));
    if (!index) return with_argument_note(fetch_error(), parameter);
    value = PyLong_AsUnsignedLongLong(index.get());
  }
  if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
    return with_argument_note(fetch_error(), parameter);
  }
  return static_cast<std::uint64_t>(value);
}

// Where `long` has 64 bits (Linux, macOS) PyLong_AsLong is the conversion
// and its OverflowError the one raised.  Where it has 32 (Windows) the
// 64-bit conversion reports an overflow and the same error is raised here,
// with the message the interpreter gives for a 64-bit `long`: the argument's
// range and its error are one on every platform.
Result<std::int64_t> convert_signed(PyObject* object, std::string_view parameter) {
  if constexpr (sizeof(long) == sizeof(std::int64_t)) {
    const long value = PyLong_AsLong(object);
    if (value == -1 && PyErr_Occurred()) return with_argument_note(fetch_error(), parameter);
    return static_cast<std::int64_t>(value);
  } else {
    static_assert(sizeof(long long) == sizeof(std::int64_t));
    int overflow = 0;
    const long long value = PyLong_AsLongLongAndOverflow(object, &overflow);
    if (overflow != 0) {
      return with_argument_note(
          PendingError(ExceptionType::overflow_error, "Python int too large to convert to C long"),
          parameter);
    }
    if (value == -1 && PyErr_Occurred()) return with_argument_note(fetch_error(), parameter);
    return static_cast<std::int64_t>(value);
  }
}

}  // namespace native::py
