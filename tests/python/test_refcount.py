"""Reference counts stay flat over repeated calls, on success and on every
kind of failure.  Meaningful on a debug interpreter (sys.gettotalrefcount);
`make test` runs this file on python3.15-dbg."""
import gc
import sys
import zlib

import pytest

import _native

pytestmark = pytest.mark.skipif(not hasattr(sys, "gettotalrefcount"),
                                reason="needs a debug interpreter")

SPEED_HEAD = (b"\0" * 8 + (1).to_bytes(4, "little") + b"\0" * 4)


def stored_raw_blob(payload):
    return (SPEED_HEAD + len(payload).to_bytes(4, "little")
            + (len(payload) + 12).to_bytes(4, "little")
            + (0xF0E1D2C3).to_bytes(4, "little") + payload)


class Index:
    def __index__(self):
        return 3


BLOCK = zlib.compress(b"grid block " * 50)
# Inflates to 512 times its size: the result grows, re-attached, several times.
EXPANDING = zlib.compress(bytes(1 << 20), 9)
CASES = {
    # successes
    "ping": lambda: _native.ping(),
    "lzrw1": lambda: _native.lzrw1_decompress(bytes.fromhex("02 00 61 0F 01"), 0, 17),
    "lzrw1-keywords": lambda: _native.lzrw1_decompress(
        decompressed_length=5, start=0, data=bytes.fromhex("02 00 61 0F 01")),
    "speed": lambda: _native.decode_speed_blob(stored_raw_blob(b"hello"), -1),
    "zlib": lambda: _native.zlib_decompress(bytearray(BLOCK)),
    "zlib-bytes": lambda: _native.zlib_decompress(BLOCK),
    "zlib-strided": lambda: _native.zlib_decompress(memoryview(BLOCK * 2)[::2]),
    "grid": lambda: _native.decompress_grd_blocks(BLOCK + BLOCK, [(0, len(BLOCK))] * 3, 10),
    "zlib-grows": lambda: _native.zlib_decompress(EXPANDING),
    "grid-grows": lambda: _native.decompress_grd_blocks(EXPANDING, [(0, len(EXPANDING))] * 2, 0),
    "fixed": lambda: _native.decode_fixed_width_strings_ucs4(b"L1\0\0L100", 4, Index()),
    # decode errors
    "lzrw1-truncated": lambda: _native.lzrw1_decompress(b"", 0, 1),
    "speed-subtype": lambda: _native.decode_speed_blob(b"\0" * 40, 0),
    "zlib-corrupt": lambda: _native.zlib_decompress(b"\x00" * 10),
    "zlib-cut-after-growth": lambda: _native.zlib_decompress(EXPANDING[:-2]),
    "grid-stops": lambda: _native.decompress_grd_blocks(BLOCK, [(0, 5)], 0),
    "fixed-short": lambda: _native.decode_fixed_width_strings_ucs4(b"abc", 4, 3),
    "fixed-strided": lambda: _native.decode_fixed_width_strings_ucs4(memoryview(b"abcd")[::2], 1, 1),
    # binding errors
    "too-many": lambda: _native.zlib_decompress(b"", b""),
    "missing": lambda: _native.decompress_grd_blocks(),
    "unknown-keyword": lambda: _native.zlib_decompress(**{"\udc80": 1}),
    "twice": lambda: _native.lzrw1_decompress(b"", 0, 1, start=0),
    # conversion errors (with the argument note)
    "not-bytes": lambda: _native.lzrw1_decompress(bytearray(b"x"), 0, 0),
    "not-buffer": lambda: _native.zlib_decompress("text"),
    "bad-format": lambda: _native.zlib_decompress(memoryview(b"ab").cast("b")),
    "negative": lambda: _native.lzrw1_decompress(b"", -1, 0),
    "float": lambda: _native.lzrw1_decompress(b"", 0, 1.0),
    "signed-overflow": lambda: _native.decode_speed_blob(b"", 2**63),
    "payloads-str": lambda: _native.decompress_grd_blocks(b"", "ab", 0),
    "payloads-gen": lambda: _native.decompress_grd_blocks(b"", (x for x in ()), 0),
    "payloads-item": lambda: _native.decompress_grd_blocks(b"", [(0, 1), [0, 1]], 0),
    "payloads-len": lambda: _native.decompress_grd_blocks(b"", [(0, 1, 2)], 0),
    "payloads-neg": lambda: _native.decompress_grd_blocks(b"", [(0, -1)], 0),
    # interpreter errors
    "negative-size": lambda: _native.lzrw1_decompress(b"", 0, 2**63),
    "memory": lambda: _native.lzrw1_decompress(b"", 0, 2**62),
}


def call(case):
    try:
        case()
    except (Exception,) as error:  # noqa: F841 - the exception is dropped here
        del error


@pytest.mark.parametrize("name", sorted(CASES))
def test_refcount_is_flat(name):
    case = CASES[name]
    for _ in range(20):
        call(case)
    gc.collect()
    before = sys.gettotalrefcount()
    for _ in range(300):
        call(case)
    gc.collect()
    leaked = sys.gettotalrefcount() - before
    # 300 calls: a leak of one reference per call shows as >= 300.
    assert leaked < 30, f"{name}: {leaked} references over 300 calls"
