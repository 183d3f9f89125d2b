// The bodies of the module functions, in plain C++ types: each takes the
// converted values of its parameters (signatures.h) and returns the result
// object or the pending error.  ping is an entry point of its own (it takes
// no arguments).
#pragma once

#include "lib/python.h"  // first: it sets feature macros
#include <cstdint>
#include <span>
#include <vector>

#include "codecs/grid_blocks.h"
#include "lib/arguments.h"
#include "lib/pending_error.h"

namespace native::py {

PyObject* ping(PyObject* self, PyObject* unused);

Result<Ref> lzrw1_decompress_impl(std::span<const std::uint8_t> data, std::uint64_t start,
                                  std::uint64_t decompressed_length);
Result<Ref> decode_speed_blob_impl(std::span<const std::uint8_t> data,
                                   std::int64_t total_decompressed_length);
Result<Ref> zlib_decompress_impl(BufferView data);
Result<Ref> decompress_grd_blocks_impl(BufferView body, std::vector<BlockLocation> payloads,
                                       std::uint64_t size_hint);
Result<Ref> decode_fixed_width_strings_ucs4_impl(BufferView data, std::uint64_t width,
                                                 std::uint64_t count);

}  // namespace native::py
