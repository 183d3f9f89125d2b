"""The module's main job, on data generated here: inflate a database blob
and a grid body, decode an LZRW1 stream and a Speed chunk chain, and turn a
fixed-width string column into a numpy unicode array."""
import struct
import time
import zlib

import _native


def timed(label, call, out_size):
    start = time.perf_counter()
    result = call()
    seconds = time.perf_counter() - start
    print(f"  {label:<46} {out_size / 1e6:8.2f} MB out  {seconds * 1e3:8.2f} ms")
    return result


def lzrw1_literals(data):
    """A valid LZRW1 stream that stores `data` as literals only."""
    out = bytearray()
    for i in range(0, len(data), 16):
        out += b"\0\0" + data[i:i + 16]
    return bytes(out)


def speed_chunk(payload, decoded_length, marker):
    return struct.pack("<iiI", decoded_length, len(payload) + 12, marker) + payload


def main():
    print("_native", _native.ping(), "-", ", ".join(_native.__all__))

    text = b"".join(b"line %06d: easting 512%03d northing 6417%03d\n" % (i, i % 997, i % 991)
                    for i in range(200_000))
    blob = zlib.compress(text, 6) + b"\0" * 512          # page padding after the stream
    out = timed("zlib_decompress (DB_COMP_SIZE blob)", lambda: _native.zlib_decompress(blob), len(text))
    assert out == text

    rows = [struct.pack("<1024f", *[float(r * 1024 + c) for c in range(1024)]) for r in range(64)]
    blocks = [zlib.compress(row) for row in rows]
    body, payloads, offset = bytearray(), [], 0
    for block in blocks:
        body += b"\0" * 16 + block                       # 16-byte block sub-header
        payloads.append((offset + 16, len(block)))
        offset += 16 + len(block)
    total = sum(map(len, rows))
    count, grid = timed(f"decompress_grd_blocks ({len(blocks)} blocks)",
                        lambda: _native.decompress_grd_blocks(bytes(body), payloads, total), total)
    assert count == len(blocks) and grid == b"".join(rows)

    stream = bytes.fromhex("0200610F01")                 # "a", then a copy of 16 from 1 back
    print("  lzrw1_decompress(02 00 61 0F 01, 0, 17)      ->",
          bytes(_native.lzrw1_decompress(stream, 0, 17)).decode())

    chunk1 = b"stored raw chunk | "
    chunk2 = b"lzrw1 chunk"
    magic = b"SPEEDBLB" + struct.pack("<i", 1) + b"\0\0\0\0"
    speed = (magic + speed_chunk(chunk1, len(chunk1), 0xF0E1D2C3)
             + speed_chunk(lzrw1_literals(chunk2), len(chunk2), 0xF4E5D6C7) + b"\xAA" * 64)
    decoded = _native.decode_speed_blob(speed, len(chunk1) + len(chunk2))
    print("  decode_speed_blob (2 chunks)                 ->", bytes(decoded).decode())

    names = [b"L%d" % (1000 + 10 * i) for i in range(1_000_000)]
    column = b"".join(n.ljust(64, b"\0") for n in names)
    max_len, ucs4 = timed("decode_fixed_width_strings_ucs4 (1M x 64)",
                          lambda: _native.decode_fixed_width_strings_ucs4(column, 64, len(names)),
                          len(names) * 4 * 5)
    try:
        import numpy
        array = numpy.frombuffer(ucs4, dtype=f"<U{max_len}")
        print(f"  numpy view: dtype {array.dtype}, {array[:3].tolist()} ... {array[-1]}")
    except ImportError:
        print(f"  max_len {max_len}, {len(ucs4)} bytes of UCS-4")


if __name__ == "__main__":
    main()
