"""Calls every function as a reader would; mypy --strict must accept it
and infer the result types the stub declares."""

import zlib
from typing import assert_type

import numpy as np

import _native


class Offset:
    def __index__(self) -> int:
        return 0


assert_type(_native.ping(), str)
assert_type(_native.lzrw1_decompress(b"\x02\x00a\x0f\x01", Offset(), 17), bytearray)
assert_type(_native.decode_speed_blob(b"", np.int64(0)), bytearray)
assert_type(_native.zlib_decompress(memoryview(zlib.compress(b"x"))), bytearray)
blocks, grid = _native.decompress_grd_blocks(bytearray(), [(0, 14), (np.int32(14), 14)], 12)
assert_type(blocks, int)
assert_type(grid, bytearray)
max_len, strings = _native.decode_fixed_width_strings_ucs4(np.zeros(8, np.uint8), 4, 2)
assert_type(max_len, int)
assert_type(strings, bytearray)
assert_type(_native.__all__, list[str])
