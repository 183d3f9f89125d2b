"""decode_fixed_width_strings_ucs4 against the per-record Python decoding."""

import random
import sys
import time

import numpy as np
import pytest

from lock_watch import lock_watch
from hypothesis import example, given, strategies as st

U64_MAX = 2**64 - 1
NOT_CONTIGUOUS = "decode_fixed_width_strings_ucs4: buffer must be C-contiguous"


def reference_strings(data, width, count):
    data = bytes(data)
    return [data[i*width:(i+1)*width].split(b"\x00")[0].decode("ascii", errors="replace")
            for i in range(count)]


def reference_buffer(strings, max_len):
    """The <U{max_len} memory of `strings`: UCS-4 little-endian, zero padded."""
    return bytearray(b"".join(s.encode("utf-32-le").ljust(max_len * 4, b"\x00")
                              for s in strings))


def check(native, data, width, count):
    """Decodes natively and compares, record by record and byte by byte, with
    the Python decoding; returns the native result."""
    before = bytes(data)
    max_len, buffer = native.decode_fixed_width_strings_ucs4(data, width, count)
    strings = reference_strings(before, width, count)
    assert type(max_len) is int and type(buffer) is bytearray
    assert max_len == max(map(len, strings), default=0)
    assert len(buffer) == count * max_len * 4
    assert buffer == reference_buffer(strings, max_len)
    if max_len > 0:  # numpy has no zero-sized unicode items
        view = np.frombuffer(buffer, dtype=f"<U{max_len}")
        assert view.tolist() == strings
    assert bytes(data) == before  # the input is never modified
    return max_len, buffer


def raised(call, *args):
    with pytest.raises(Exception) as info:
        call(*args)
    return info.value


# ----------------------------------------------------------- worked examples

@pytest.mark.parametrize("data, width, count, max_len, expected", [
    (b"L1\x00\x00L100", 4, 2, 4,
     "4C000000 31000000 00000000 00000000 4C000000 31000000 30000000 30000000"),
    # "b" after the first record's NUL is ignored; each high byte is U+FFFD
    (b"a\x00b\xff\xfe\x00", 3, 2, 2, "61000000 00000000 FDFF0000 FDFF0000"),
    # a record without NUL is used whole; one that starts with NUL is empty
    (b"abc\x00xy", 3, 2, 3, "61000000 62000000 63000000 00000000 00000000 00000000"),
    (b"\x00\x7f\x80", 1, 3, 1, "00000000 7F000000 FDFF0000"),
    (b"\xff" * 4, 4, 1, 4, "FDFF0000 " * 4),
    (b"ab\x00\x00\x00\x00", 2, 3, 2, "61000000 62000000" + " 00000000" * 4),
], ids=["names", "high-bytes", "full-and-empty", "one-byte-records", "all-high", "trailing-empty"])
def test_worked_examples(native, data, width, count, max_len, expected):
    result = native.decode_fixed_width_strings_ucs4(data, width, count)
    assert result == (max_len, bytearray.fromhex(expected))
    check(native, data, width, count)


def test_shorter_records_are_zero_padded(native):
    data = b"abcdefg\x00" + b"a\x00zzzzzz" + b"\x00" * 8 + b"abc\x00\xff\xff\xff\xff"
    max_len, buffer = native.decode_fixed_width_strings_ucs4(data, 8, 4)
    assert max_len == 7
    slots = [buffer[i * 28:(i + 1) * 28] for i in range(4)]
    assert slots[0] == "abcdefg".encode("utf-32-le")
    assert slots[1] == b"a\x00\x00\x00" + bytes(24)
    assert slots[2] == bytes(28)
    assert slots[3] == "abc".encode("utf-32-le") + bytes(16)


def test_every_byte_value(native):
    data = bytes(range(256))
    max_len, buffer = check(native, data, 1, 256)
    assert max_len == 1
    expected = [0] + list(range(1, 128)) + [0xFFFD] * 128
    assert np.frombuffer(buffer, dtype="<u4").tolist() == expected
    # and all in one record, after a NUL-free start
    check(native, bytes(range(1, 256)) + b"\x00", 256, 1)


@pytest.mark.parametrize("width", [1, 2, 3, 4, 7, 8, 15, 16, 17, 31, 32, 33, 63, 64, 65, 300])
def test_nul_at_every_position(native, width):
    # Record p has its first NUL at p; the last has none.  What follows the
    # NUL mixes ASCII and high bytes that must not show.
    records = []
    for p in range(width + 1):
        text = bytes(0x41 + k % 26 for k in range(p))
        rest = bytes(0xFF if k % 2 else 0x7A for k in range(width - p - 1))
        records.append((text + b"\x00" + rest)[:width])
    max_len, buffer = check(native, b"".join(records), width, width + 1)
    assert max_len == width


@pytest.mark.parametrize("width", range(0, 71))
def test_every_length_up_to_the_width(native, width):
    rng = random.Random(width)
    records = [bytes(rng.randrange(1, 256) for _ in range(n)).ljust(width, b"\x00")
               for n in range(width + 1)]
    rng.shuffle(records)
    check(native, b"".join(records), width, width + 1)


# ------------------------------------------------------------------- empties

@pytest.mark.parametrize("data", [b"", b"abc", bytearray(b"\x00\xff")])
@pytest.mark.parametrize("width", [0, 1, 5, 2**40, U64_MAX])
def test_no_records(native, data, width):
    assert native.decode_fixed_width_strings_ucs4(data, width, 0) == (0, bytearray())


@pytest.mark.parametrize("count", [1, 5, 10**6, 2**40, 2**63, U64_MAX])
@pytest.mark.parametrize("data", [b"", b"abc"])
def test_width_zero(native, data, count):
    # Every record is empty whatever the count; nothing is stored per record.
    assert native.decode_fixed_width_strings_ucs4(data, 0, count) == (0, bytearray())


def test_all_records_empty(native):
    assert native.decode_fixed_width_strings_ucs4(b"\x00\xff\xff" * 50, 3, 50) == (0, bytearray())


# ---------------------------------------------------------- randomised columns

@st.composite
def columns(draw):
    """(data, width, count): random widths and counts, bytes of every value,
    NULs from dense to absent, sometimes extra bytes after the column."""
    width = draw(st.integers(0, 300))
    count = draw(st.integers(0, 3000 if width <= 60 else 600))
    seed = draw(st.integers(0, 2**32 - 1))
    nul_odds = draw(st.sampled_from([1, 2, 8, 40, 400, 0]))  # 0: no NUL at all
    high_odds = draw(st.sampled_from([0, 2, 50]))            # 0: ASCII only
    extra = draw(st.integers(0, 20))
    gen = np.random.default_rng(seed)
    size = width * count + extra
    values = gen.integers(1, 0x80, size, dtype=np.uint8)
    if high_odds:
        high = gen.integers(0, high_odds, size) == 0
        values[high] = gen.integers(0x80, 0x100, int(high.sum()), dtype=np.uint8)
    if nul_odds:
        values[gen.integers(0, nul_odds, size) == 0] = 0
    return values.tobytes(), width, count


@given(columns())
def test_random_columns(native, column):
    check(native, *column)


@st.composite
def small_columns(draw):
    """Record by record, so that a failure shrinks to a short readable case."""
    width = draw(st.integers(0, 40))
    records = draw(st.lists(st.binary(min_size=width, max_size=width), max_size=40))
    extra = draw(st.binary(max_size=8))
    return b"".join(records) + extra, width, len(records)


@given(small_columns())
@example((b"\x80\x00", 1, 2))
def test_small_columns(native, column):
    check(native, *column)


@given(columns())
def test_bytes_bytearray_and_memoryview_agree(native, column):
    data, width, count = column
    call = native.decode_fixed_width_strings_ucs4
    expected = call(data, width, count)
    assert call(bytearray(data), width, count) == expected
    assert call(memoryview(data), width, count) == expected
    assert call(memoryview(bytearray(data)), width, count) == expected
    # a contiguous slice in the middle of a larger buffer
    padded = b"\xff\x00" * 3 + data + b"\x01" * 5
    assert call(memoryview(padded)[6:6 + len(data)], width, count) == expected


@pytest.mark.parametrize("width, lengths", [
    (64, range(5, 9)),   # short names in a wide field
    (16, [16]),          # fully used narrow field
    (8, range(0, 9)),
    (32, range(20, 33)),
], ids=["names", "full", "narrow", "long"])
def test_many_records_match_numpy(native, width, lengths):
    # NUL-padded ASCII columns, where numpy's own cast gives the same strings.
    rng = random.Random(width)
    lengths = list(lengths)
    alphabet = b"ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_."
    count = 50_000
    data = b"".join(bytes(rng.choices(alphabet, k=rng.choice(lengths))).ljust(width, b"\x00")
                    for _ in range(count))
    max_len, buffer = check(native, data, width, count)
    assert max_len == max(lengths)
    expected = np.frombuffer(data, dtype=f"S{width}").astype(f"U{max_len}")
    assert np.array_equal(np.frombuffer(buffer, dtype=f"<U{max_len}"), expected)


# --------------------------------------------------------------- buffer forms

def fortran_order():
    array = np.zeros((3, 4), dtype=np.uint8, order="F")
    array[:] = np.arange(1, 13).reshape(3, 4)
    return array


@pytest.mark.parametrize("make", [
    lambda: memoryview(b"abcdefgh")[::2],
    lambda: memoryview(bytearray(b"abcdefgh"))[::-1],
    lambda: memoryview(b"abc")[::2],  # 2 bytes: the layout fails before the size
    lambda: memoryview(fortran_order()),
    fortran_order,
    lambda: np.arange(24, dtype=np.uint8).reshape(4, 6)[:, :3],
], ids=["step-2", "reversed", "short-strided", "fortran-view", "fortran-array", "column-slice"])
def test_non_contiguous_buffers_are_refused(native, make):
    error = raised(native.decode_fixed_width_strings_ucs4, make(), 2, 2)
    assert type(error) is ValueError
    assert error.args == (NOT_CONTIGUOUS,)
    assert not hasattr(error, "__notes__")
    # also when the sizes could not fit either
    error = raised(native.decode_fixed_width_strings_ucs4, make(), U64_MAX, U64_MAX)
    assert type(error) is ValueError and error.args == (NOT_CONTIGUOUS,)


def test_c_contiguous_2d_array_is_read_in_memory_order(native):
    array = np.frombuffer(b"ab\x00\x00cdef\xff\x00\x00\x00", dtype=np.uint8).reshape(3, 4)
    assert native.decode_fixed_width_strings_ucs4(array, 4, 3) == \
        native.decode_fixed_width_strings_ucs4(array.tobytes(), 4, 3)
    check(native, array.tobytes(), 6, 2)
    assert native.decode_fixed_width_strings_ucs4(array, 6, 2)[1] == \
        reference_buffer(["ab", "ef\ufffd"], 3)


# ------------------------------------------------------------------ the sizes

@pytest.mark.parametrize("available, width, count, needed", [
    (10, 4, 3, 12),
    (14, 3, 5, 15),
    (0, 1, 1, 1),
    (5, 6, 1, 6),
    (0, 2**32, 2**32, 18446744073709551616),
    (3, U64_MAX, 2, 2 * U64_MAX),
    (100, 1, U64_MAX, U64_MAX),
    (100, U64_MAX, U64_MAX, U64_MAX * U64_MAX),
])
def test_too_little_data(native, available, width, count, needed):
    assert needed == count * width
    data = bytes(range(available))
    for form in (bytes, bytearray, memoryview):
        error = raised(native.decode_fixed_width_strings_ucs4, form(data), width, count)
        assert type(error) is IndexError
        assert error.args == (
            f"decode_fixed_width_strings_ucs4: need {needed} byte(s) for {count} record(s) "
            f"of width {width}, only {available} available",)
        assert not hasattr(error, "__notes__")


def test_exact_product_message(native):
    error = raised(native.decode_fixed_width_strings_ucs4, b"", U64_MAX, U64_MAX)
    assert str(error) == (
        "decode_fixed_width_strings_ucs4: need 340282366920938463426481119284349108225 byte(s) "
        "for 18446744073709551615 record(s) of width 18446744073709551615, only 0 available")


def test_exactly_enough_data(native):
    check(native, b"abcdefghijkl", 4, 3)
    check(native, b"abcdefghijkl", 12, 1)
    check(native, b"abcdefghijkl", 1, 12)


@pytest.mark.parametrize("width, count, parameter", [
    (-1, 1, "width"),
    (1, -1, "count"),
    (-(2**70), 1, "width"),
    (-1, -1, "width"),  # the first failure ends the call
])
def test_negative_sizes(native, width, count, parameter):
    error = raised(native.decode_fixed_width_strings_ucs4, b"abcd", width, count)
    assert type(error) is OverflowError
    assert error.args == ("can't convert negative int to unsigned",)
    assert error.__notes__ == [f"while processing '{parameter}'"]


# ---------------------------------------------------------------- the result

def test_result_is_a_new_writable_bytearray(native):
    data = bytearray(b"abc\x00defg")
    max_len, buffer = native.decode_fixed_width_strings_ucs4(data, 4, 2)
    _, again = native.decode_fixed_width_strings_ucs4(data, 4, 2)
    assert buffer is not again and buffer == again
    buffer[0:4] = b"\xff\xff\xff\xff"
    buffer.extend(b"more")
    assert data == bytearray(b"abc\x00defg")
    data[0] = ord("X")
    assert again == reference_buffer(["abc", "defg"], 4)


def test_result_view_is_writable_through_numpy(native):
    max_len, buffer = native.decode_fixed_width_strings_ucs4(b"one\x00two\x00", 4, 2)
    view = np.frombuffer(buffer, dtype=f"<U{max_len}")
    view[1] = "six"
    assert bytes(buffer[12:24]) == "six".encode("utf-32-le")


# ------------------------------------------------------------------- threads

run_with_lock_watch = lock_watch


needs_gil = pytest.mark.skipif(not getattr(sys, "_is_gil_enabled", lambda: True)(),
                               reason="no lock to watch")


@pytest.fixture(scope="module")
def long_column():
    """A column that takes far longer to decode than the other thread needs
    to wake up, held in a bytearray that other code could change."""
    width, count = 64, 200_000
    rng = random.Random(64)
    record = bytes(rng.randrange(1, 256) for _ in range(width))
    return bytearray(record * count), width, count


@needs_gil
def test_harness_sees_a_released_lock():
    assert run_with_lock_watch(lambda: time.sleep(0.05)) > 0


@needs_gil
def test_harness_sees_a_held_lock():
    assert run_with_lock_watch(lambda: sum(range(3_000_000))) == 0


@needs_gil
def test_the_lock_is_held_for_the_whole_call(native, long_column):
    data, width, count = long_column
    results = []
    moved = run_with_lock_watch(
        lambda: results.append(native.decode_fixed_width_strings_ucs4(data, width, count)))
    assert moved == 0
    max_len, buffer = results[0]
    assert max_len == width
    assert buffer[:width * 4] == reference_buffer(reference_strings(data, width, 1), width)
    assert buffer == buffer[:width * 4] * count
