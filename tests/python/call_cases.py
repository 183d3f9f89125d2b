"""Calls of every function with valid and invalid inputs, and their outcomes
in a form that compares across threads and processes (picklable)."""
import zlib

import _native
from lzrw1_reference import build_speed_blob, lzrw1_encode, survey_like_content

RECORD_WIDTH = 16


def fixed_width_records(count, seed):
    """`count` records of RECORD_WIDTH bytes: short, full and non-ASCII ones."""
    out = bytearray()
    for i in range(count):
        text = (b"NAME%d-%d" % (seed, i) + bytes([0x80 + i % 128]) * (i % 9))[:RECORD_WIDTH]
        out += text.ljust(RECORD_WIDTH, b"\0")
    return bytes(out)


def mixed_calls(seed=0):
    """(function name, args) pairs; every argument is picklable."""
    content = survey_like_content(24000, seed)
    blob = zlib.compress(content)
    lzrw1 = lzrw1_encode(content[:5000])
    speed = build_speed_blob(content[:9000], seed=seed)
    blocks = [zlib.compress(content[i:i + 3000]) for i in range(0, 12000, 3000)]
    payloads, offset = [], 0
    for block in blocks:
        payloads.append((offset, len(block)))
        offset += len(block)
    body = b"".join(blocks)
    records = fixed_width_records(200, seed)
    return [
        ("ping", ()),
        ("lzrw1_decompress", (lzrw1, 0, 5000)),
        ("lzrw1_decompress", (lzrw1[:200], 0, 5000)),
        ("lzrw1_decompress", (bytearray(lzrw1), 0, 10)),
        ("decode_speed_blob", (speed, 9000)),
        ("decode_speed_blob", (speed[:60], 9000)),
        ("zlib_decompress", (blob,)),
        ("zlib_decompress", (bytearray(blob),)),
        ("zlib_decompress", (blob[:-9],)),
        ("zlib_decompress", (b"not a zlib stream",)),
        ("zlib_decompress", ("text",)),
        ("decompress_grd_blocks", (body, payloads, 12000)),
        ("decompress_grd_blocks", (bytearray(body), payloads[::-1], 0)),
        ("decompress_grd_blocks", (body[:-100], payloads, 0)),
        ("decompress_grd_blocks", (body, 5, 0)),
        ("decompress_grd_blocks", (body, [(0, 1, 2)], 0)),
        ("decode_fixed_width_strings_ucs4", (records, RECORD_WIDTH, 200)),
        ("decode_fixed_width_strings_ucs4", (bytearray(records), RECORD_WIDTH, 150)),
        ("decode_fixed_width_strings_ucs4", (records, RECORD_WIDTH, 201)),
        ("decode_fixed_width_strings_ucs4", (records, -1, 1)),
    ]


def call_outcome(name, args):
    """("ok", result) with the result as bytes (and the count of a tuple
    result), or ("raised", type name, message, notes)."""
    try:
        result = getattr(_native, name)(*args)
    except Exception as error:
        return ("raised", type(error).__name__, str(error), tuple(getattr(error, "__notes__", ())))
    if isinstance(result, tuple):
        return ("ok", result[0], bytes(result[1]))
    return ("ok", result if isinstance(result, str) else bytes(result))


def outcomes(calls):
    return [call_outcome(name, args) for name, args in calls]
