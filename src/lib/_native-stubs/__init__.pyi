"""Native inner loops of the reader of .gdb channel databases and .grd grids.

Every codec function returns a new, writable bytearray (alone or with a
count); malformed data raises ValueError, truncated data IndexError.  Integer
arguments are int or anything with __index__ (numpy integers included).
"""

from collections.abc import Buffer, Sequence
from typing import SupportsIndex

__all__ = [
    "ping",
    "lzrw1_decompress",
    "decode_speed_blob",
    "zlib_decompress",
    "decompress_grd_blocks",
    "decode_fixed_width_strings_ucs4",
]

def ping() -> str:
    """Round-trip check that the extension built and loaded correctly."""

def lzrw1_decompress(
    data: bytes, start: SupportsIndex, decompressed_length: SupportsIndex
) -> bytearray:
    """Decode `decompressed_length` bytes of raw LZRW1 data from data[start:]."""

def decode_speed_blob(data: bytes, total_decompressed_length: SupportsIndex) -> bytearray:
    """Decode the chain of Speed chunks (DB_COMP_SPEED) that `data` starts with."""

def zlib_decompress(data: Buffer) -> bytearray:
    """Inflate the zlib stream of a DB_COMP_SIZE blob; trailing padding is ignored."""

def decompress_grd_blocks(
    body: Buffer,
    payloads: Sequence[tuple[SupportsIndex, SupportsIndex]],
    size_hint: SupportsIndex,
) -> tuple[int, bytearray]:
    """Inflate the blocks at `payloads` (offset, length) in `body`.

    Stops quietly at the first bad block; returns (n_blocks_decoded, buffer).
    """

def decode_fixed_width_strings_ucs4(
    data: Buffer, width: SupportsIndex, count: SupportsIndex
) -> tuple[int, bytearray]:
    """Decode `count` NUL-terminated ASCII records of `width` bytes into UCS-4.

    Returns (max_len, buffer), for numpy.frombuffer(buffer, dtype=f"<U{max_len}").
    """
