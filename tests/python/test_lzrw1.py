"""lzrw1_decompress against the plain-Python model: the same bytes, or the
same exception type and message."""
import sys

import pytest
from hypothesis import example, given, strategies as st

import lzrw1_reference as reference
from lock_watch import lock_watch
from lzrw1_reference import (outcome, BAD_OFFSET, OUT_OF_INPUT, lzrw1_encode, lzrw1_stream,
                             run_stream)


def check(native, data, start, length):
    """Native and model agree; returns the outcome."""
    expected = outcome(reference.lzrw1_decompress, data, start, length)
    assert outcome(native.lzrw1_decompress, data, start, length) == expected
    return expected


def ok(content):
    return ("ok", bytearray, bytes(content))


def index_error(message):
    return ("raised", IndexError, (message,))


# ------------------------------------------------------------- edge cases

@pytest.mark.parametrize("data, start, length, expected", [
    # Nothing is read for an empty output.
    (b"", 0, 0, ok(b"")),
    (b"", 2**64 - 1, 0, ok(b"")),
    (b"\x01\x00\x00\x00", 0, 0, ok(b"")),  # would be a bad copy
    # The first control word must be whole.
    (b"", 0, 1, index_error(OUT_OF_INPUT)),
    (b"\x00\x00A", 3, 1, index_error(OUT_OF_INPUT)),
    (b"\x00\x00A", 2, 1, index_error(OUT_OF_INPUT)),  # a single byte left
    (b"\x00\x00A", 2**64 - 1, 1, index_error(OUT_OF_INPUT)),
    (b"\x00", 0, 1, index_error(OUT_OF_INPUT)),
    # Control word 0, literal "A".
    (b"\x00\x00A", 0, 1, ok(b"A")),
    (b"\x00\x00A", 0, 2, index_error(OUT_OF_INPUT)),
    (b"xy\x00\x00A", 2, 1, ok(b"A")),
    # Literal "a", then a copy of offset 1 and length 16, clipped at the end.
    (b"\x02\x00a\x0f\x01", 0, 17, ok(b"a" * 17)),
    (b"\x02\x00a\x0f\x01", 0, 5, ok(b"a" * 5)),
    (b"\x02\x00a\x0f\x01", 0, 2, ok(b"a" * 2)),
    (b"\x02\x00a\x0f\x01", 0, 18, index_error(OUT_OF_INPUT)),
    # A copy first; offset 0; offset = produced; offset = produced + 1.
    (b"\x01\x00\x00\x01", 0, 1, index_error(BAD_OFFSET)),
    (b"\x01\x00\xf0\xff", 0, 1, index_error(BAD_OFFSET)),
    (b"\x04\x00xy\x03\x00", 0, 6, index_error(BAD_OFFSET)),
    (b"\x08\x00abc\x04\x03", 0, 8, ok(b"abcabcab")),
    (b"\x08\x00abc\x04\x04", 0, 8, index_error(BAD_OFFSET)),
    # The offset is judged before the copy is clipped.
    (b"\x02\x00a\x00\x02", 0, 2, index_error(BAD_OFFSET)),
    # A copy cut after its first byte runs out of input; it is not judged.
    (b"\x02\x00a\x00", 0, 5, index_error(OUT_OF_INPUT)),
    (b"\x01\x00\x00", 0, 1, index_error(OUT_OF_INPUT)),
    # Control bits past the last item needed are never looked at.
    (b"\xfe\xffz", 0, 1, ok(b"z")),
])
def test_edge_cases(native, data, start, length, expected):
    assert check(native, data, start, length) == expected


SIXTEEN = bytes(range(0x41, 0x51))


@pytest.mark.parametrize("tail, length, expected", [
    (b"", 16, ok(SIXTEEN)),
    (b"", 17, index_error(OUT_OF_INPUT)),
    (b"\x00", 17, index_error(OUT_OF_INPUT)),
    (b"\x00\x00", 17, index_error(OUT_OF_INPUT)),
    (b"\x00\x00!", 17, ok(SIXTEEN + b"!")),
    (b"\x01\x00\x0f\x10", 32, ok(SIXTEEN * 2)),
])
def test_seventeenth_item_needs_a_new_control_word(native, tail, length, expected):
    assert check(native, b"\x00\x00" + SIXTEEN + tail, 0, length) == expected


@pytest.mark.parametrize("offset", [1, 2, 3, 4, 5, 6, 7, 8, 9, 15, 16, 17, 300, 4095])
@pytest.mark.parametrize("length", [1, 2, 7, 8, 9, 15, 16])
def test_overlapping_copies_repeat_the_last_bytes(native, offset, length):
    # A long literal tail keeps the copy away from the end of the output.
    prefix = [(7 * i + 1) % 256 for i in range(offset)]
    tail = [(13 * i) % 256 for i in range(300)]
    stream = lzrw1_stream(prefix + [(offset, length)] + tail)
    expected = bytearray(prefix)
    for _ in range(length):
        expected.append(expected[-offset])
    expected += bytes(tail)
    assert check(native, stream, 0, len(expected)) == ok(expected)


def test_trailing_input_is_ignored(native):
    content = reference.survey_like_content(20_000, 4)
    stream = lzrw1_encode(content)
    for junk in (b"\x00" * 100, b"\xff" * 100, bytes(range(256))):
        assert native.lzrw1_decompress(stream + junk, 0, len(content)) == content
        assert native.lzrw1_decompress(junk + stream + junk, len(junk), len(content)) == content


def test_result_is_a_new_writable_bytearray(native):
    stream = b"\x02\x00a\x0f\x01"
    first = native.lzrw1_decompress(stream, 0, 17)
    second = native.lzrw1_decompress(stream, 0, 17)
    assert type(first) is bytearray and first is not second
    first[0:1] = b"b"
    assert second == b"a" * 17


# ---------------------------------------------------------- differential

@given(data=st.binary(max_size=300), start=st.integers(0, 320), length=st.integers(0, 800))
@example(data=b"\x00\x00", start=0, length=1)
def test_random_bytes(native, data, start, length):
    check(native, data, start, length)


@st.composite
def item_lists(draw):
    """Items of a stream, mostly valid, with the count of bytes they
    produce: literals, copies of every length at short, long and the
    largest reachable offsets, and now and then an offset out of range."""
    items = []
    produced = 0
    literal_share = draw(st.integers(0, 4))
    for _ in range(draw(st.integers(0, 120))):
        if produced == 0 or draw(st.integers(0, 4)) < literal_share:
            items.append(draw(st.integers(0, 255) | st.sampled_from(b"ab")))
            produced += 1
            continue
        reach = min(produced, 4095)
        kind = draw(st.sampled_from(["short", "any", "reach", "bad"]) if draw(st.booleans())
                    else st.sampled_from(["short", "any", "reach"]))
        if kind == "short":
            offset = draw(st.integers(1, min(reach, 16)))
        elif kind == "any":
            offset = draw(st.integers(1, reach))
        elif kind == "reach":
            offset = reach
        else:
            offset = draw(st.sampled_from([0, min(produced + 1, 4095), 4095]))
        length = draw(st.integers(1, 16))
        items.append((offset, length))
        produced += length
    return items, produced


@given(items=item_lists(), delta=st.integers(-40, 40), prefix=st.binary(max_size=4),
       trailing=st.binary(max_size=4))
def test_generated_streams(native, items, delta, prefix, trailing):
    item_list, produced = items
    stream = prefix + lzrw1_stream(item_list) + trailing
    check(native, stream, len(prefix), max(0, produced + delta))


contents = (st.binary(max_size=3000)
            | st.lists(st.sampled_from([b"LINE ", b"10", b"20", b"\n", b"\x00" * 8, b"-1e32 ",
                                        b"\x9a\x99\x99\x99\x99\x99\xb9?"]),
                       max_size=400).map(b"".join)
            | st.builds(reference.survey_like_content, st.integers(1, 5000), st.integers(0, 99)))


@given(content=contents, delta=st.integers(-20, 20))
def test_encoder_output(native, content, delta):
    stream = lzrw1_encode(content)
    length = max(0, len(content) + delta)
    expected = check(native, stream, 0, length)
    if length <= len(content):
        assert expected == ok(content[:length])
    else:
        assert expected == index_error(OUT_OF_INPUT)


@given(content=contents.filter(len), data=st.data())
def test_corrupted_encoder_output(native, content, data):
    stream = bytearray(lzrw1_encode(content))
    for _ in range(data.draw(st.integers(1, 4))):
        position = data.draw(st.integers(0, len(stream) - 1))
        stream[position] ^= data.draw(st.integers(1, 255))
    check(native, bytes(stream), 0, len(content))


@pytest.mark.parametrize("size", [50, 2000])
def test_every_truncation(native, size):
    content = reference.survey_like_content(size, size)
    stream = lzrw1_encode(content)
    assert native.lzrw1_decompress(stream, 0, size) == content
    for cut in range(len(stream)):
        assert check(native, stream[:cut], 0, size) == index_error(OUT_OF_INPUT), cut


def test_large_real_looking_data(native):
    content = reference.survey_like_content(400_000, 11)
    stream = lzrw1_encode(content)
    assert len(stream) < len(content) * 0.6
    assert native.lzrw1_decompress(stream, 0, len(content)) == content
    assert check(native, stream, 0, len(content) - 12345) == ok(content[:-12345])


# ----------------------------------------------------------------- threads

@pytest.mark.skipif(not getattr(sys, "_is_gil_enabled", lambda: True)(),
                    reason="no lock to watch")
def test_watch_sees_a_held_lock():
    assert lock_watch(lambda: sum(range(3_000_000))) == 0


def test_lock_is_released_while_decoding(native):
    length = 64 << 20
    stream = run_stream(length)
    results = []
    # A decode this long outlasts a scheduling delay of the other thread
    # almost always; a few tries make a miss vanishingly unlikely.
    for _ in range(5):
        moved = lock_watch(lambda: results.append(native.lzrw1_decompress(stream, 0, length)))
        if moved:
            break
    assert moved > 0
    assert results[-1] == b"a" * length
