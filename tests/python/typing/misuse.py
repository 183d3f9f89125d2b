"""Calls the stub must reject, one per line marked with its error code."""

import _native

_native.lzrw1_decompress(bytearray(b"\x02\x00a\x0f\x01"), 0, 17)  # E: arg-type
_native.decode_speed_blob(b"", 0.5)  # E: arg-type
_native.zlib_decompress("text")  # E: arg-type
_native.decompress_grd_blocks(b"", [(0, 14, 2)], 12)  # E: list-item
_native.decode_fixed_width_strings_ucs4(b"", 4)  # E: call-arg
text: str = _native.zlib_decompress(b"")  # E: assignment
_native.unknown_function()  # E: attr-defined
