"""decode_speed_blob against the plain-Python model: the same bytes, or the
same exception type and message."""
import struct

import pytest
from hypothesis import given, strategies as st

import lzrw1_reference as reference
from lock_watch import lock_watch
from lzrw1_reference import (outcome, BAD_OFFSET, NO_CHUNK_HEADER, OUT_OF_INPUT, RUNS_OFF, STORED_CUT,
                             SPEED_MARKER_LZRW1, SPEED_MARKER_STORED_RAW, TOO_MANY,
                             build_speed_blob, lzrw1_chunk, run_stream, speed_magic,
                             speed_subheader, stored_raw_chunk)

INT64_MIN, INT64_MAX = -2**63, 2**63 - 1


def check(native, data, total):
    """Native and model agree; returns the outcome."""
    expected = outcome(reference.decode_speed_blob, data, total)
    assert outcome(native.decode_speed_blob, data, total) == expected
    return expected


def ok(content):
    return ("ok", bytearray, bytes(content))


def index_error(message):
    return ("raised", IndexError, (message,))


def value_error(message):
    return ("raised", ValueError, (message,))


def implausible(printed):
    return value_error(f"decode_speed_blob: implausible decompressed_length={printed}"
                       " -- likely a misaligned or corrupt chunk header")


def put(blob, position, fmt, value):
    blob = bytearray(blob)
    struct.pack_into(fmt, blob, position, value)
    return bytes(blob)


# "hello" stored raw: decompressed_length 5, chunk_length 17; a second
# sub-header would start at 33.
HELLO = speed_magic(seed=3) + stored_raw_chunk(b"hello")


# ------------------------------------------------------------------- head

@pytest.mark.parametrize("size", range(12))
def test_no_chunk_header(native, size):
    assert check(native, HELLO[:size], 0) == index_error(NO_CHUNK_HEADER)


@pytest.mark.parametrize("size", range(12, 28))
def test_subtype_before_length(native, size):
    assert check(native, HELLO[:size], 0) == index_error(RUNS_OFF)
    assert check(native, put(HELLO, 8, "<i", 2)[:size], 0) == value_error(
        "decode_speed_blob: not a Speed chunk (subtype=2)")


@pytest.mark.parametrize("field, printed", [
    (0, "0"), (2, "2"), (0xFFFFFFFF, "-1"), (0x80000000, "-2147483648"),
    (0x7FFFFFFF, "2147483647"), (0x101, "257")])
def test_subtype_printed_signed(native, field, printed):
    assert check(native, put(HELLO, 8, "<I", field), 0) == value_error(
        f"decode_speed_blob: not a Speed chunk (subtype={printed})")


@pytest.mark.parametrize("filler", [0x00, 0xFF, 0x5A])
def test_magic_bytes_other_than_the_subtype_are_free(native, filler):
    blob = bytes([filler]) * 8 + HELLO[8:12] + bytes([filler]) * 4 + HELLO[16:]
    assert check(native, blob, 0) == ok(b"hello")


@pytest.mark.parametrize("field, printed", [
    (0, "0"), (0xFFFFFFFF, "-1"), (200_000_000, "200000000"), (0x80000000, "-2147483648"),
    (0x7FFFFFFF, "2147483647")])
@pytest.mark.parametrize("total", [0, -1, 5, INT64_MAX])
def test_implausible_first_length(native, field, printed, total):
    assert check(native, put(HELLO, 16, "<I", field), total) == implausible(printed)


def test_largest_plausible_first_length(native):
    # Accepted: the chunk's own checks come next.
    blob = put(HELLO, 16, "<i", 199_999_999)
    assert check(native, blob, 0) == value_error(
        "decode_speed_blob: stored-raw chunk should have chunk_length-12 == decompressed_length"
        " (got chunk_length-12=5, decompressed_length=199999999)")


@pytest.mark.parametrize("total", [0, -1, 3, 5, INT64_MIN])
def test_small_totals_decode_the_first_chunk(native, total):
    # A broken sub-header after the chunk is never read.
    assert check(native, HELLO, total) == ok(b"hello")
    assert check(native, HELLO + speed_subheader(0, 0, 0), total) == ok(b"hello")


def test_total_bounded_by_nine_times_the_blob(native):
    blob = HELLO + stored_raw_chunk(bytes(range(55)))
    assert len(blob) == 100
    assert check(native, blob, 60) == ok(b"hello" + bytes(range(55)))
    # 900 passes the bound and fails only for want of more chunks.
    assert check(native, blob, 900) == index_error(RUNS_OFF)
    for total in (901, INT64_MAX):
        assert check(native, blob, total) == value_error(
            f"decode_speed_blob: blob header declares {total} decompressed byte(s),"
            " more than 100 byte(s) of chunk data could possibly produce")


# ------------------------------------------------------------------ chain

def test_second_subheader_must_be_whole(native):
    blob = HELLO + stored_raw_chunk(b"!")
    assert check(native, blob, 6) == ok(b"hello!")
    for size in range(33, 45):
        assert check(native, blob[:size], 6) == index_error(RUNS_OFF)
    assert check(native, blob[:45], 6) == index_error(STORED_CUT)


def test_chunk_past_the_total(native):
    blob = HELLO + stored_raw_chunk(b"world")
    assert check(native, blob, 10) == ok(b"helloworld")
    for total in (6, 9):
        assert check(native, blob, total) == value_error(TOO_MANY)
    # Before the marker and the stored-raw rule.
    assert check(native, put(blob, 41, "<I", 0), 9) == value_error(TOO_MANY)
    assert check(native, put(blob, 37, "<i", 3), 9) == value_error(TOO_MANY)


@pytest.mark.parametrize("field, printed", [
    (0, "0"), (0xFFFFFFFF, "-1"), (200_000_000, "200000000"), (0x80000000, "-2147483648")])
def test_implausible_later_length(native, field, printed):
    blob = put(HELLO + stored_raw_chunk(b"world"), 33, "<I", field)
    blob = put(blob, 41, "<I", 0xDEADBEEF)  # checked later
    assert check(native, blob, 10) == implausible(printed)


@pytest.mark.parametrize("field, printed", [
    (0xF0E1D2C4, "-253635900"), (0x80000000, "-2147483648"), (0, "0"),
    (0x7FFFFFFF, "2147483647"), (SPEED_MARKER_LZRW1 ^ 1, "-186263866")])
def test_unrecognized_marker(native, field, printed):
    message = value_error(f"decode_speed_blob: unrecognized marker value: {printed}")
    assert check(native, put(HELLO, 24, "<I", field), 0) == message
    assert check(native, put(HELLO + stored_raw_chunk(b"world"), 41, "<I", field), 10) == message


@pytest.mark.parametrize("field, printed", [
    (0, "-12"), (16, "4"), (18, "6"), (5, "-7"), (0xFFFFFFFF, "-13"),
    (0x80000000, "-2147483660"), (0x7FFFFFFF, "2147483635")])
def test_stored_raw_chunk_length(native, field, printed):
    expected = value_error(
        "decode_speed_blob: stored-raw chunk should have chunk_length-12 == decompressed_length"
        f" (got chunk_length-12={printed}, decompressed_length=5)")
    blob = put(HELLO, 20, "<I", field)
    assert check(native, blob, 0) == expected
    assert check(native, blob[:30], 0) == expected  # before the payload's truncation


@pytest.mark.parametrize("size", range(28, 33))
def test_stored_raw_payload_cut(native, size):
    assert check(native, HELLO[:size], 0) == index_error(STORED_CUT)


def test_lzrw1_stream_not_bounded_by_its_chunk_length(native):
    content = reference.survey_like_content(3000, 5)
    blob = put(speed_magic() + lzrw1_chunk(content), 20, "<i", 12)
    assert check(native, blob, 0) == ok(content)
    assert check(native, blob[:-1], 0) == index_error(OUT_OF_INPUT)


def test_lzrw1_chunk_starting_with_a_copy(native):
    # Earlier chunks' output is out of reach of a later stream.
    first = speed_magic() + stored_raw_chunk(b"hello")
    stream = b"\x01\x00\x00\x01"
    blob = first + speed_subheader(1, 16, SPEED_MARKER_LZRW1) + stream
    assert check(native, blob, 6) == index_error(BAD_OFFSET)
    blob = speed_magic() + speed_subheader(1, 16, SPEED_MARKER_LZRW1) + stream
    assert check(native, blob, 0) == index_error(BAD_OFFSET)


@pytest.mark.parametrize("field, printed", [
    (11, "11"), (0, "0"), (0xFFFFFFF4, "-12"), (0x80000000, "-2147483648")])
def test_chunk_length_examined_only_when_a_further_chunk_is_needed(native, field, printed):
    blob = speed_magic() + lzrw1_chunk(b"first chunk") + lzrw1_chunk(b"second chunk")
    blob += lzrw1_chunk(b"third")
    second = 16 + struct.unpack_from("<i", blob, 20)[0]
    assert check(native, blob, 28) == ok(b"first chunksecond chunkthird")
    broken = put(blob, second + 4, "<I", field)
    assert check(native, broken, 28) == value_error(
        f"decode_speed_blob: implausible chunk_length={printed} -- corrupt chunk chain")
    assert check(native, broken, 23) == ok(b"first chunksecond chunk")


def test_chunk_length_twelve(native):
    # The next sub-header starts where the LZRW1 stream does: 02 00 00 00 is
    # both the control word 2 with the literal 00 and decompressed_length 2.
    blob = (speed_magic() + speed_subheader(1, 12, SPEED_MARKER_LZRW1)
            + speed_subheader(2, 14, SPEED_MARKER_STORED_RAW) + b"OK")
    assert check(native, blob, 3) == ok(b"\x00OK")


# ---------------------------------------------------------- differential

def totals_for(blob, content_length):
    """Totals worth trying for a blob: none, negative, around the first
    chunk, around the whole chain, around 9 x the blob length."""
    first = struct.unpack_from("<i", blob, 16)[0]
    bound = 9 * len(blob)
    return (st.sampled_from([0, -1, INT64_MIN, INT64_MAX, first - 1, first, first + 1,
                             content_length - 1, content_length, content_length + 1,
                             bound, bound + 1])
            | st.integers(-5, content_length + 50))


contents = (st.binary(min_size=1, max_size=3000)
            | st.builds(reference.survey_like_content, st.integers(1, 6000), st.integers(0, 99))
            | st.builds(lambda n, b: bytes([b]) * n, st.integers(1, 5000), st.integers(0, 255)))

blob_options = st.fixed_dictionaries({
    "chunk_content": st.sampled_from([1, 7, 100, 1000, 16368]) | st.integers(1, 3000),
    "coding": st.sampled_from(["automatic", "stored_raw", "lzrw1", "alternating"]),
    "page_size": st.sampled_from([0, 0, 512, 4096]),
    "seed": st.integers(0, 3),
})


@given(content=contents, options=blob_options, data=st.data())
def test_built_blobs(native, content, options, data):
    blob = build_speed_blob(content, **options)
    assert check(native, blob, len(content)) == ok(content)
    check(native, blob, data.draw(totals_for(blob, len(content))))


@given(content=contents, options=blob_options, data=st.data())
def test_corrupted_blobs(native, content, options, data):
    blob = bytearray(build_speed_blob(content, **options))
    total = data.draw(st.just(len(content)) | totals_for(blob, len(content)))
    for _ in range(data.draw(st.integers(1, 4))):
        # Sub-headers are few bytes among many; aim at the head often.
        limit = len(blob) - 1 if data.draw(st.booleans()) else min(len(blob) - 1, 60)
        position = data.draw(st.integers(0, limit))
        blob[position] ^= data.draw(st.integers(1, 255))
    check(native, bytes(blob), total)


FIELD_VALUES = st.sampled_from([0, 1, 5, 11, 12, 13, 17, 40, 0x7FFFFFFF, -1, -12, -2**31,
                                200_000_000, 199_999_999]) | st.integers(-3, 60)
MARKERS = st.sampled_from([SPEED_MARKER_STORED_RAW, SPEED_MARKER_LZRW1, 0, 0x80000000,
                           0xF0E1D2C4]) | st.integers(0, 2**32 - 1)


@given(chunks=st.lists(st.tuples(FIELD_VALUES, FIELD_VALUES, MARKERS,
                                 st.binary(max_size=40)), min_size=1, max_size=5),
       subtype=st.sampled_from([1, 1, 1, 0, 2, -1]),
       total=st.integers(-3, 200) | st.sampled_from([INT64_MIN, INT64_MAX]))
def test_hand_made_chains(native, chunks, subtype, total):
    blob = speed_magic(subtype)
    for decompressed_length, chunk_length, marker, payload in chunks:
        blob += speed_subheader(decompressed_length, chunk_length, marker) + payload
    check(native, blob, total)


@given(chunks=st.lists(st.tuples(st.binary(min_size=1, max_size=50), st.booleans()),
                       min_size=1, max_size=6),
       chunk_length_delta=st.integers(-14, 14), which=st.integers(0, 5), data=st.data())
def test_well_formed_chains_with_one_bad_length(native, chunks, chunk_length_delta, which,
                                                data):
    blob = bytearray(speed_magic())
    starts = []
    for payload, raw in chunks:
        starts.append(len(blob))
        blob += stored_raw_chunk(payload) if raw else lzrw1_chunk(payload)
    content_length = sum(len(payload) for payload, _ in chunks)
    h = starts[which % len(starts)]
    struct.pack_into("<i", blob, h + 4, struct.unpack_from("<i", blob, h + 4)[0]
                     + chunk_length_delta)
    check(native, bytes(blob), data.draw(totals_for(blob, content_length)))


@pytest.mark.parametrize("coding", ["alternating", "lzrw1"])
def test_every_truncation(native, coding):
    content = reference.survey_like_content(900, 8)
    blob = build_speed_blob(content, chunk_content=200, coding=coding, page_size=0)
    assert check(native, blob, len(content)) == ok(content)
    for cut in range(len(blob)):
        result = check(native, blob[:cut], len(content))
        assert result[0] == "raised", cut


def test_large_blob(native):
    content = reference.survey_like_content(300_000, 21)
    blob = build_speed_blob(content, coding="alternating")
    assert native.decode_speed_blob(blob, len(content)) == content
    assert check(native, blob, 16368 * 7) == ok(content[:16368 * 7])


# ----------------------------------------------------------------- threads

@pytest.mark.parametrize("marker", ["lzrw1", "stored_raw"])
def test_lock_is_released_while_decoding(native, marker):
    length = 64 << 20
    if marker == "lzrw1":
        payload = run_stream(length)
        blob = speed_magic() + speed_subheader(length, len(payload) + 12, SPEED_MARKER_LZRW1)
        expected = b"a" * length
    else:
        payload = expected = bytes(range(256)) * (length // 256)
        blob = speed_magic() + speed_subheader(length, length + 12, SPEED_MARKER_STORED_RAW)
    blob += payload
    results = []
    for _ in range(5):
        moved = lock_watch(lambda: results.append(native.decode_speed_blob(blob, 0)))
        if moved:
            break
    assert moved > 0
    assert results[-1] == expected
