#include "lib/python.h"  // first: it sets feature macros
#include "lib/module_definition.h"

#include <string>

#include "codecs/internal_fault.h"
#include "lib/describe_exception.h"
#include "lib/entry_guard.h"
#include "lib/entry_point.h"
#include "lib/functions.h"
#include "lib/interpreter_caches.h"
#include "lib/pending_error.h"
#include "lib/signatures.h"

namespace native::py {
namespace {

template <class Function>
PyCFunction as_method(Function function) {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)(void)>(function));
}

constexpr int CODEC_FLAGS = METH_FASTCALL | METH_KEYWORDS | METH_STATIC;
static_assert(CODEC_FLAGS == 0xA2);
static_assert((METH_NOARGS | METH_STATIC) == 0x24);

constexpr const char ZLIB_DECOMPRESS_DOC[] =
    "zlib_decompress(data)\n--\n\n"
    "Decompress the raw zlib stream of a DB_COMP_SIZE blob into a new, writable\n"
    "bytearray.\n\n"
    "The output size cannot be worked out in advance (the blob header's row\n"
    "count is not filled in for compressed blobs), so the result grows as the\n"
    "stream is inflated. Inflation stops at the real end of the deflate stream;\n"
    "trailing padding after it is ignored. Raises ValueError for a corrupt or\n"
    "incomplete stream.\n\n"
    "`data` is read in place when it is an exact bytes object, which cannot\n"
    "change; any other buffer is copied first, with the interpreter lock held.\n"
    "The stream is inflated straight into the result with the lock released:\n"
    "the bytearray is not visible to Python before it is returned.\n"
    "decode_fixed_width_strings_ucs4 is the one function that cannot release the\n"
    "lock, because it reads its input in place from a buffer that may belong to\n"
    "a live, mutable object.";

constexpr const char LZRW1_DECOMPRESS_DOC[] =
    "lzrw1_decompress(data, start, decompressed_length)\n--\n\n"
    "Decompress `decompressed_length` bytes of canonical LZRW1 data (without the\n"
    "FLAG_BYTES prefix of the published algorithm) starting at data[start:].\n\n"
    "Raises IndexError on truncated or corrupt input: the source bytes run out,\n"
    "or a back-reference points before the start of the output decoded so far.\n"
    "This is the same contract as the pure-Python decoder, so callers need not\n"
    "know which one ran.\n\n"
    "Returns a writable bytearray, written in place with one allocation. The\n"
    "decode loop runs with the interpreter lock released; `data` can only be an\n"
    "immutable bytes object (a bytearray is refused), so reading it during that\n"
    "window is safe.";

constexpr const char DECODE_SPEED_BLOB_DOC[] =
    "decode_speed_blob(data, total_decompressed_length)\n--\n\n"
    "Decode every chunk of a DB_COMP_SPEED blob into one writable bytearray.\n\n"
    "A blob is a chain of chunks of at most 16368 decompressed bytes each, each\n"
    "stored raw or LZRW1-compressed; only the first is preceded by the 16-byte\n"
    "magic, and `data` starts at that magic. `total_decompressed_length` is the\n"
    "blob header's field at offset 24 and tells the decoder where the chain\n"
    "ends (the bytes after the last chunk are page padding, not zeros). A total\n"
    "that is not larger than the first chunk (0 or a negative value included)\n"
    "decodes just the first chunk.\n\n"
    "Raises ValueError for a malformed chunk or chain (bad marker, implausible\n"
    "lengths, a total the chain does not add up to) and IndexError for\n"
    "truncated data.\n\n"
    "The output is sized once, from the first chunk's header and the declared\n"
    "total, and filled in place with the interpreter lock released. A declared\n"
    "total larger than any chain could produce from `data` (LZRW1 expands at\n"
    "most 8 times, plus the 12-byte sub-headers) is refused before anything is\n"
    "allocated.";

constexpr const char DECOMPRESS_GRD_BLOCKS_DOC[] =
    "decompress_grd_blocks(body, payloads, size_hint)\n--\n\n"
    "Decompress every block of a grid file's compressed body into one writable\n"
    "bytearray, concatenated in block order.\n\n"
    "`payloads` gives each block's (offset, length) compressed-payload location\n"
    "within `body`, in on-disk order (the caller has already skipped each\n"
    "block's 16-byte sub-header). `size_hint` is the initial capacity of the\n"
    "accumulator (in practice the grid's declared total size); a wrong hint\n"
    "costs at most extra reallocations, never correctness.\n\n"
    "Returns (n_blocks_decoded, buffer). A block whose payload range runs past\n"
    "the end of `body`, or that fails to decompress, stops processing: `buffer`\n"
    "holds what the blocks before it produced and n_blocks_decoded is smaller\n"
    "than the number of payloads, which tells the caller to warn. A block is\n"
    "all-or-nothing, so a failing block never leaves a partial tail.\n\n"
    "The loop runs with the interpreter lock released, inflating each block\n"
    "straight into the result. An exact bytes `body`, which cannot change, is\n"
    "read in place; any other buffer is copied first, with the lock held.";

constexpr const char DECODE_FIXED_WIDTH_STRINGS_UCS4_DOC[] =
    "decode_fixed_width_strings_ucs4(data, width, count)\n--\n\n"
    "Decode `count` NUL-terminated ASCII strings of `width` bytes each from\n"
    "`data`, one record per `width` bytes, exactly like\n"
    "raw[i*width:(i+1)*width].split(b\"\\x00\")[0].decode(\"ascii\", errors=\"replace\"),\n"
    "including one U+FFFD for every byte of 0x80 or more: the semantics of the\n"
    "pure-Python decoding this replaces.\n\n"
    "Returns (max_len, buffer). `buffer` is a writable bytearray holding\n"
    "count * max_len UCS-4 code points, 4 bytes little-endian each: the memory\n"
    "layout of numpy's fixed-width unicode dtype with max_len characters, so\n"
    "the caller can view it with np.frombuffer(buffer, dtype=f\"<U{max_len}\")\n"
    "without creating one object per record. `max_len` is the length of the\n"
    "longest decoded record actually found, not `width`. UCS-4 is used because\n"
    "a replacement character needs one full code point.";

constexpr const char PING_DOC[] =
    "ping()\n--\n\nRound-trip check that the extension built and loaded correctly.";

// The method record of a codec function: named by its signature (a string
// literal, so NUL-terminated), entered through entry_point, and documented
// by a docstring that must begin with the signature line of that same
// declaration.
template <const auto& signature, auto body, const char* docstring>
PyMethodDef codec_method() {
  static_assert(begins_with_signature(docstring, signature.parameters));
  return {signature.parameters.function.data(), as_method(&entry_point<signature, body>),
          CODEC_FLAGS, docstring};
}

static_assert(begins_with_signature(PING_DOC, PING.parameters));

PyMethodDef METHODS[] = {
    {PING.parameters.function.data(), as_method(&ping), METH_NOARGS | METH_STATIC, PING_DOC},
    codec_method<LZRW1_DECOMPRESS, &lzrw1_decompress_impl, LZRW1_DECOMPRESS_DOC>(),
    codec_method<DECODE_SPEED_BLOB, &decode_speed_blob_impl, DECODE_SPEED_BLOB_DOC>(),
    codec_method<ZLIB_DECOMPRESS, &zlib_decompress_impl, ZLIB_DECOMPRESS_DOC>(),
    codec_method<DECOMPRESS_GRD_BLOCKS, &decompress_grd_blocks_impl,
                 DECOMPRESS_GRD_BLOCKS_DOC>(),
    codec_method<DECODE_FIXED_WIDTH_STRINGS_UCS4, &decode_fixed_width_strings_ucs4_impl,
                 DECODE_FIXED_WIDTH_STRINGS_UCS4_DOC>(),
};

// The module's __all__ list (new reference), created when missing.
Result<Ref> module_all_list(PyObject* module) {
  Ref all = Ref::steal(PyObject_GetAttr(module, interned_name___all__()));
  if (!all) {
    PendingError error = fetch_error();
    if (!PyErr_GivenExceptionMatches(error.materialise(), PyExc_AttributeError)) return error;
    all = must_not_fail(PyList_New(0));
    if (PyObject_SetAttr(module, interned_name___all__(), all.get()) < 0) return fetch_error();
    return all;
  }
  if (!(PyType_GetFlags(Py_TYPE(all.get())) & Py_TPFLAGS_LIST_SUBCLASS)) {
    return type_mismatch(all.get(), "list");
  }
  return all;
}

Result<void> register_function(PyObject* module, PyMethodDef* method) {
  Ref module_name = Ref::steal(PyModule_GetNameObject(module));
  if (!module_name) return fetch_error();
  Ref function = Ref::steal(PyCMethod_New(method, module, module_name.get(), nullptr));
  module_name = Ref();
  if (!function) return fetch_error();

  Ref name = Ref::steal(PyObject_GetAttr(function.get(), interned_name___name__()));
  if (!name) return fetch_error();
  if (!(PyType_GetFlags(Py_TYPE(name.get())) & Py_TPFLAGS_UNICODE_SUBCLASS)) {
    return type_mismatch(name.get(), "str");
  }
  auto all = module_all_list(module);
  if (!all) return all.error();
  if (PyList_Append(all->get(), name.get()) < 0) {
    PendingError error = fetch_error();
    internal_fault("could not append __name__ to __all__: " +
                   describe_exception(error.materialise(), Description::with_traceback));
  }
  if (PyObject_SetAttr(module, name.get(), function.get()) < 0) return fetch_error();
  return {};
}

Result<Ref> exec_body(PyObject* module) {
  if (!module) return fetch_error();
  if (!PyModule_Check(module)) return type_mismatch(module, "module");
  for (PyMethodDef& method : METHODS) {
    auto registered = register_function(module, &method);
    if (!registered) return registered.error();
  }
  return Ref::borrow(Py_None);
}

}  // namespace

int exec_module(PyObject* module) {
  Ref outcome = Ref::steal(entry_guard([&] { return exec_body(module); }));
  return outcome ? 0 : -1;
}

}  // namespace native::py
