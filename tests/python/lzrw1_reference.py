"""Plain-Python models of the LZRW1 and Speed-chain decoders, and the test
data generators that go with them (an LZRW1 encoder, a Speed-chain builder,
survey-like content).

The decoders give the same bytes as the module's functions, or raise the
same exception type with the same message, for the same arguments (within
what argument conversion lets through: bytes, and integers in range).  They
follow the formats one byte and one field at a time, so that they are easy
to check by reading.
"""

import math
import random
import struct

OUT_OF_INPUT = "lzrw1_decompress: ran out of input data"
BAD_OFFSET = "lzrw1_decompress: back-reference offset out of range (corrupt data)"

SPEED_MAGIC_LENGTH = 16
SPEED_SUBHEADER_LENGTH = 12
SPEED_SUBTYPE = 1
SPEED_MARKER_STORED_RAW = 0xF0E1D2C3
SPEED_MARKER_LZRW1 = 0xF4E5D6C7
SPEED_EXPANSION_FACTOR = 9
MAX_PLAUSIBLE_DECOMPRESSED_LENGTH = 199_999_999
SPEED_MAX_CHUNK_CONTENT = 16368

NO_CHUNK_HEADER = "decode_speed_blob: truncated -- no chunk header"
RUNS_OFF = "decode_speed_blob: chunk chain runs off the end of the data -- truncated"
TOO_MANY = "decode_speed_blob: chunks decode to more bytes than the blob header declares"
STORED_CUT = "decode_speed_blob: truncated stored-raw payload -- file cut off mid-chunk?"


# ---------------------------------------------------------------------------
# Decoders

def _lzrw1_decode(data, start, length):
    out = bytearray()
    size = len(data)
    p = start
    while len(out) < length:
        if p >= size or p + 1 >= size:
            raise IndexError(OUT_OF_INPUT)
        control = data[p] | data[p + 1] << 8
        p += 2
        for item in range(16):
            if len(out) == length:
                break
            if not control >> item & 1:
                if p >= size:
                    raise IndexError(OUT_OF_INPUT)
                out.append(data[p])
                p += 1
                continue
            if p >= size or p + 1 >= size:
                raise IndexError(OUT_OF_INPUT)
            b0, b1 = data[p], data[p + 1]
            p += 2
            offset = (b0 >> 4) * 256 + b1
            count = (b0 & 0x0F) + 1
            if offset == 0 or offset > len(out):
                raise IndexError(BAD_OFFSET)
            count = min(count, length - len(out))
            for _ in range(count):
                out.append(out[-offset])
    return out


def lzrw1_decompress(data, start, decompressed_length):
    """Model of _native.lzrw1_decompress."""
    return _lzrw1_decode(data, start, decompressed_length)


def _i32(data, pos):
    return struct.unpack_from("<i", data, pos)[0]


def _implausible(length):
    return ValueError(
        f"decode_speed_blob: implausible decompressed_length={length}"
        " -- likely a misaligned or corrupt chunk header")


def speed_blob_output_length(data, total):
    size = len(data)
    if size < 12:
        raise IndexError(NO_CHUNK_HEADER)
    subtype = _i32(data, 8)
    if subtype != SPEED_SUBTYPE:
        raise ValueError(f"decode_speed_blob: not a Speed chunk (subtype={subtype})")
    if size < 28:
        raise IndexError(RUNS_OFF)
    first = _i32(data, 16)
    if not 1 <= first <= MAX_PLAUSIBLE_DECOMPRESSED_LENGTH:
        raise _implausible(first)
    if total > first:
        bound = SPEED_EXPANSION_FACTOR * size
        if bound < 2**64 and total > bound:
            raise ValueError(
                f"decode_speed_blob: blob header declares {total} decompressed byte(s),"
                f" more than {size} byte(s) of chunk data could possibly produce")
        return total
    return first


def decode_speed_chain(data, length):
    size = len(data)
    out = bytearray()
    h = SPEED_MAGIC_LENGTH
    if h + 12 > size:
        raise IndexError(RUNS_OFF)
    while True:
        dl, cl, marker = struct.unpack_from("<iiI", data, h)
        if not 1 <= dl <= MAX_PLAUSIBLE_DECOMPRESSED_LENGTH:
            raise _implausible(dl)
        if len(out) + dl > length:
            raise ValueError(TOO_MANY)
        if marker == SPEED_MARKER_STORED_RAW:
            if cl - 12 != dl:
                raise ValueError(
                    "decode_speed_blob: stored-raw chunk should have chunk_length-12 =="
                    f" decompressed_length (got chunk_length-12={cl - 12},"
                    f" decompressed_length={dl})")
            if h + 12 + dl > size:
                raise IndexError(STORED_CUT)
            out += data[h + 12:h + 12 + dl]
        elif marker == SPEED_MARKER_LZRW1:
            out += _lzrw1_decode(data, h + 12, dl)
        else:
            signed = marker - 2**32 if marker >= 2**31 else marker
            raise ValueError(f"decode_speed_blob: unrecognized marker value: {signed}")
        if len(out) == length:
            return out
        if cl < 12:
            raise ValueError(
                f"decode_speed_blob: implausible chunk_length={cl} -- corrupt chunk chain")
        h += cl
        if h + 12 > size:
            raise IndexError(RUNS_OFF)


def decode_speed_blob(data, total_decompressed_length):
    """Model of _native.decode_speed_blob."""
    return decode_speed_chain(data, speed_blob_output_length(data, total_decompressed_length))


# ---------------------------------------------------------------------------
# LZRW1 encoder: one-probe hash table over 3-byte prefixes, copies of 3 to
# 16 bytes at offsets 1 to 4095.

def _hash3(b0, b1, b2):
    return ((40543 * (((b0 << 4 ^ b1) << 4) ^ b2)) >> 4) & 0xFFF


def lzrw1_encode(content):
    content = bytes(content)
    n = len(content)
    table = {}
    out = bytearray()
    pos = 0
    while pos < n:
        control_at = len(out)
        out += b"\0\0"
        control = 0
        item = 0
        while item < 16 and pos < n:
            if n - pos >= 3:
                key = _hash3(content[pos], content[pos + 1], content[pos + 2])
                candidate = table.get(key)
                table[key] = pos
                if candidate is not None and pos - candidate <= 4095:
                    offset = pos - candidate
                    limit = min(16, n - pos)
                    length = 0
                    while length < limit and content[candidate + length] == content[pos + length]:
                        length += 1
                    if length >= 3:
                        out.append((offset >> 8) << 4 | (length - 1))
                        out.append(offset & 0xFF)
                        control |= 1 << item
                        pos += length
                        item += 1
                        continue
            out.append(content[pos])
            pos += 1
            item += 1
        out[control_at] = control & 0xFF
        out[control_at + 1] = control >> 8
    return bytes(out)


def run_stream(length):
    """A stream of `length` bytes "a" (length > 241): one literal, then
    copies of offset 1."""
    first = b"\xfe\xffa" + b"\x0f\x01" * 15
    group = b"\xff\xff" + b"\x0f\x01" * 16
    return first + group * -(-(length - 241) // 256)


def lzrw1_stream(items):
    """Packs items into a stream: an int is a literal byte, a pair
    (offset, length) a copy item (offset 0-4095, length 1-16)."""
    out = bytearray()
    for g in range(0, len(items), 16):
        group = items[g:g + 16]
        control = 0
        body = bytearray()
        for i, item in enumerate(group):
            if isinstance(item, int):
                body.append(item)
            else:
                offset, length = item
                control |= 1 << i
                body.append((offset >> 8) << 4 | (length - 1))
                body.append(offset & 0xFF)
        out += struct.pack("<H", control) + body
    return bytes(out)


# ---------------------------------------------------------------------------
# Speed chains

def _filler(rng, count):
    # Never zeros, so that bytes read by mistake look like garbage.
    return bytes(rng.randrange(256) | 1 for _ in range(count))


def speed_magic(subtype=SPEED_SUBTYPE, seed=0):
    rng = random.Random(seed ^ 0x5EED)
    return _filler(rng, 8) + struct.pack("<i", subtype) + _filler(rng, 4)


def speed_subheader(decompressed_length, chunk_length, marker):
    return struct.pack("<iiI", decompressed_length, chunk_length, marker)


def stored_raw_chunk(content):
    return speed_subheader(len(content), len(content) + 12, SPEED_MARKER_STORED_RAW) + bytes(content)


def lzrw1_chunk(content):
    stream = lzrw1_encode(content)
    return speed_subheader(len(content), len(stream) + 12, SPEED_MARKER_LZRW1) + stream


def build_speed_blob(content, chunk_content=SPEED_MAX_CHUNK_CONTENT, coding="automatic",
                     page_size=4096, seed=0):
    """A blob that decodes to `content` (not empty) for the total
    len(content).  coding: "automatic" (LZRW1 unless that does not make the
    chunk smaller), "stored_raw", "lzrw1" or "alternating"."""
    if not content:
        raise ValueError("a Speed chain holds at least one byte")
    if not 1 <= chunk_content <= SPEED_MAX_CHUNK_CONTENT:
        raise ValueError("chunk_content must be 1 to 16368")
    blob = bytearray(speed_magic(seed=seed))
    for index, pos in enumerate(range(0, len(content), chunk_content)):
        piece = content[pos:pos + chunk_content]
        if coding == "stored_raw" or (coding == "alternating" and index % 2 == 0):
            blob += stored_raw_chunk(piece)
        elif coding in ("lzrw1", "alternating"):
            blob += lzrw1_chunk(piece)
        elif coding == "automatic":
            chunk = lzrw1_chunk(piece)
            blob += chunk if len(chunk) < len(piece) + 12 else stored_raw_chunk(piece)
        else:
            raise ValueError(f"unknown coding {coding!r}")
    if page_size and len(blob) % page_size:
        blob += _filler(random.Random(seed ^ 0xFADE), page_size - len(blob) % page_size)
    return bytes(blob)


def survey_like_content(size, seed):
    """Text records and columns of quantised doubles, in the style of survey
    channel data; compresses to about half with LZRW1."""
    rng = random.Random(seed)
    out = bytearray()
    fiducial = rng.randrange(100000)
    phase = rng.random() * 2 * math.pi
    while len(out) < size:
        if rng.randrange(3) == 0:
            for _ in range(rng.randrange(4, 28)):
                out += (f"LINE {fiducial // 2000 + 10:4d} FID {fiducial:7d}"
                        f"  X={512000 + fiducial * 12.5:11.2f}"
                        f" Y={6712000 + 400 * math.sin(fiducial / 900):11.2f}"
                        f" MAG={55000 + 30 * math.sin(phase + fiducial / 50):9.2f}"
                        f" FLAG={'OKKKKKKX'[rng.randrange(8)]}\n").encode()
                fiducial += 1
        else:
            step = 0.01 if rng.randrange(2) else 0.125
            for _ in range(rng.randrange(64, 576)):
                phase += 0.01
                value = 1000 * math.sin(phase) + 3 * math.sin(phase * 37)
                if rng.randrange(16) == 0:
                    value += rng.random()
                out += struct.pack("<d", round(value / step) * step)
    return bytes(out[:size])


# ---------------------------------------------------------------------------
# Comparison

def outcome(function, *args):
    """("ok", type, bytes) or ("raised", type, args)."""
    try:
        result = function(*args)
    except Exception as error:
        return ("raised", type(error), error.args)
    return ("ok", type(result), bytes(result))
