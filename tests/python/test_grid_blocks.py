"""decompress_grd_blocks against the plain-Python model."""
import collections
import random
import sys
import zlib

import pytest

from lock_watch import lock_watch, run_while_rewritten
from hypothesis import given, strategies as st

import deflate_writer
from readme_example import readme_function
import zlib_reference as reference

EMPTY_CONTENT_STREAM = bytes.fromhex("789c030000000001")
U64_MAX = 2**64 - 1
PAYLOADS_NOTE = ["while processing 'payloads'"]
HINTS = [0, 1, 100, 2**40, 2**63, U64_MAX]

Payload = collections.namedtuple("Payload", "offset length")


def sample_content(length, seed):
    """Compressible but not trivial: a slow walk with noisy low bits."""
    rng = random.Random(seed)
    level = rng.randrange(256)
    out = bytearray(length)
    for i in range(length):
        if rng.randrange(8) == 0:
            level = (level + rng.randrange(-2, 3)) % 256
        out[i] = level ^ rng.randrange(4)
    return bytes(out)


def build_body(payloads):
    """A grid body: each payload after a 16-byte sub-header; and the
    payloads' locations."""
    body = bytearray()
    locations = []
    for payload in payloads:
        body += b"\xee" * 16
        locations.append((len(body), len(payload)))
        body += payload
    return bytes(body), locations


def outcome(function, *args):
    try:
        return ("ok", function(*args))
    except Exception as error:
        return ("raised", type(error), error.args, getattr(error, "__notes__", None))


def check(native, body, payloads, size_hint):
    """The module and the model agree; returns the native outcome."""
    got = outcome(native.decompress_grd_blocks, body, payloads, size_hint)
    assert got == outcome(reference.decompress_grd_blocks, body, payloads, size_hint)
    if got[0] == "ok":
        result = got[1]
        assert type(result) is tuple and len(result) == 2
        assert type(result[0]) is int and type(result[1]) is bytearray
        assert result[1].__alloc__() <= len(result[1]) + len(result[1]) // 8 + 64
    return got


def expect_blocks(native, body, payloads, count, content):
    """Every hint gives (count, content), and the model agrees."""
    for hint in HINTS + [len(content)]:
        assert native.decompress_grd_blocks(body, payloads, hint) == (count, bytearray(content))
        assert check(native, body, payloads, hint) == ("ok", (count, bytearray(content)))


A = sample_content(5000, 1)
B = sample_content(70_000, 2)
C = sample_content(300, 3)
BODY, (LA, LB, LC) = build_body([zlib.compress(A), zlib.compress(B, 1), zlib.compress(C, 9)])


# --------------------------------------------------------------------- blocks

@pytest.mark.parametrize("body", [BODY, b"", b"junk"])
def test_no_locations(native, body):
    expect_blocks(native, body, [], 0, b"")
    expect_blocks(native, body, (), 0, b"")


def test_good_blocks_concatenate_in_list_order(native):
    expect_blocks(native, BODY, [LA, LB, LC], 3, A + B + C)
    expect_blocks(native, BODY, [LC, LA, LB], 3, C + A + B)


@pytest.mark.parametrize("bad", [
    (LC[0], LC[1] + 1),
    (len(BODY) + 10, 5),
    (len(BODY), 1),
    (0, U64_MAX),
])
def test_location_past_the_end_stops_there(native, bad):
    # Later locations are not looked at, even valid ones.
    expect_blocks(native, BODY, [LA, LB, bad, LC], 2, A + B)
    expect_blocks(native, BODY, [bad, LA], 0, b"")


def test_location_ending_at_the_end_is_decoded(native):
    assert LC[0] + LC[1] == len(BODY)
    expect_blocks(native, BODY, [LC], 1, C)


@pytest.mark.parametrize("bad", [
    (U64_MAX, 1), (1, U64_MAX), (U64_MAX, U64_MAX), (LA[0], 2**64 - LA[0]), (U64_MAX, 0),
])
def test_overflowing_end_stops_there(native, bad):
    expect_blocks(native, BODY, [LA, bad, LB], 1, A)


def test_zero_length_location_stops(native):
    expect_blocks(native, BODY, [LA, (LB[0], 0), LB], 1, A)
    expect_blocks(native, BODY, [LA, (len(BODY), 0)], 1, A)


@pytest.mark.parametrize("size_hint", [0, 40 << 14, 80 << 14])
def test_result_is_allocated_at_its_length(native, size_hint):
    """A grid that stops early, and one whose hint is too small or too
    large, still ends with an allocation close to its content."""
    blocks = [zlib.compress(sample_content(1 << 14, seed), 6) for seed in range(40)]
    blocks[21] = blocks[21][:-4] + b"\0\0\0\0"  # a bad Adler-32: the grid stops there
    body, locations = build_body(blocks)
    count, content = native.decompress_grd_blocks(body, locations, size_hint)
    assert count == 21 and len(content) == 21 << 14
    assert content.__alloc__() <= len(content) + len(content) // 8 + 64


@pytest.mark.parametrize("length", [3000, 100_000, 1 << 20])
@pytest.mark.parametrize("hint", ["none", "exact", "double", "double and one", "huge"])
def test_hinted_result_is_allocated_at_its_length(native, length, hint):
    """Whatever the hint reserves, odd sizes included, the allocation ends
    within an eighth of the content."""
    content = random.Random(length).randbytes(length)
    body, locations = build_body([zlib.compress(content, 6)])
    size_hint = {"none": 0, "exact": length, "double": 2 * length,
                 "double and one": 2 * length + 1, "huge": 2**63}[hint]
    count, result = native.decompress_grd_blocks(body, locations, size_hint)
    assert count == 1 and result == content
    assert result.__alloc__() <= len(result) + len(result) // 8 + 64


def test_block_of_no_content_counts(native):
    body, (empty, la) = build_body([EMPTY_CONTENT_STREAM, zlib.compress(A)])
    expect_blocks(native, body, [empty, la, empty, empty], 4, A)
    expect_blocks(native, body, [empty], 1, b"")


def damaged(kind):
    stream = bytearray(zlib.compress(sample_content(100_000, 9)))
    if kind == "middle":
        stream[len(stream) // 2] ^= 0x55  # fails after much output
    elif kind == "trailer":
        stream[-1] ^= 1
    elif kind == "cut":
        del stream[-1]
    elif kind == "gzip":
        return zlib.compressobj(wbits=31).compress(A) + b"\x03\x00" * 20
    elif kind == "dictionary":
        compressor = zlib.compressobj(zdict=b"abc")
        return compressor.compress(A) + compressor.flush()
    return bytes(stream)


@pytest.mark.parametrize("kind", ["middle", "trailer", "cut", "gzip", "dictionary"])
def test_failing_block_after_good_ones_leaves_nothing_of_it(native, kind):
    body, locations = build_body(
        [zlib.compress(A), zlib.compress(B), damaged(kind), zlib.compress(C)])
    expect_blocks(native, body, locations, 2, A + B)


CRAFTED = deflate_writer.crafted_streams()


@pytest.mark.parametrize("name", sorted(CRAFTED))
def test_streams_a_lenient_decoder_takes(native, name):
    """Each block is judged as zlib judges it: a block outside zlib's rules
    ends the loop with nothing of it; one zlib accepts counts."""
    stream, accepted = CRAFTED[name]
    body, locations = build_body(
        [zlib.compress(A), zlib.compress(B), stream, zlib.compress(C)])
    if accepted:
        expect_blocks(native, body, locations, 4, A + B + zlib.decompress(stream) + C)
    else:
        expect_blocks(native, body, locations, 2, A + B)


def test_bytes_after_the_stream_in_its_range_are_ignored(native):
    payload = zlib.compress(A) + zlib.compress(B) + b"\xab" * 100
    body, [location] = build_body([payload])
    expect_blocks(native, body, [location, location], 2, A + A)


def test_repeated_and_overlapping_locations(native):
    b_and_c = (LB[0], LC[0] + LC[1] - LB[0])  # starts with b's stream
    expect_blocks(native, BODY, [LB, LB, b_and_c, LA, LB], 5, B + B + B + A + B)
    with_header = (LA[0] - 16, LA[1] + 16)  # starts with a sub-header
    expect_blocks(native, BODY, [LA, with_header, LA], 1, A)


@pytest.mark.parametrize("level", range(10))
def test_blocks_of_every_level(native, level):
    contents = [sample_content(n, level * 10 + n) for n in (0, 1, 1000, 40_000)]
    body, locations = build_body([zlib.compress(c, level) for c in contents])
    expect_blocks(native, body, locations, 4, b"".join(contents))


def test_large_blocks(native):
    big = bytes(range(256)) * 20_000 + sample_content(200_000, 4)
    zeros = bytes(50 << 20)
    body, locations = build_body([zlib.compress(big), zlib.compress(zeros, 9)])
    assert len(zeros) > 1000 * locations[1][1]
    count, content = native.decompress_grd_blocks(body, locations, 0)
    assert count == 2 and content == big + zeros
    assert native.decompress_grd_blocks(body, locations, len(big) + len(zeros))[1] == content


# ----------------------------------------------------------- argument forms

class LyingTuple(tuple):
    """len() and indexing say otherwise; the tuple's storage counts."""

    def __len__(self):
        return 5

    def __getitem__(self, index):
        return 999


class ByIndex:
    """A sequence by __getitem__ alone; records the indices asked for."""

    def __init__(self, items, fail_at=None, error=None, length=None):
        self.items, self.fail_at, self.error = items, fail_at, error
        self.length = len(items) if length is None else length
        self.asked = []

    def __getitem__(self, index):
        self.asked.append(index)
        if index == self.fail_at:
            raise self.error
        return self.items[index]

    def __len__(self):
        if isinstance(self.length, BaseException):
            raise self.length
        return self.length


class Index:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


@pytest.mark.parametrize("make", [
    list, tuple,
    lambda items: [Payload(*item) for item in items],
    lambda items: tuple(Payload(*item) for item in items),
    lambda items: [LyingTuple(item) for item in items],
    lambda items: [(Index(o), Index(n)) for o, n in items],
    ByIndex,
    lambda items: ByIndex(items, length=sys.maxsize),  # absurd len(): only a reservation
    lambda items: ByIndex(items, length=RuntimeError("len fails")),  # ignored
    collections.deque,
], ids=["list", "tuple", "named", "named_tuple_of", "tuple_subclass", "index_objects",
        "getitem_only", "absurd_length", "failing_length", "deque"])
def test_payload_containers(native, make):
    items = [LA, LB, LC]
    expect_blocks(native, BODY, make(items), 3, A + B + C)


def test_true_counts_as_one(native):
    body, [(offset, _)] = build_body([EMPTY_CONTENT_STREAM])
    assert offset == 16
    # (16, 8) given partly as bools: True is 1, False is 0.
    assert native.decompress_grd_blocks(body, [(16, 8), (True, False)], True) == (1, bytearray())


@pytest.mark.parametrize("make_body", [
    bytes, bytearray, memoryview, lambda b: memoryview(bytearray(b)),
    lambda b: memoryview(bytes(x for byte in b for x in (byte, 0x5A)))[::2],
], ids=["bytes", "bytearray", "memoryview", "memoryview_bytearray", "strided"])
def test_body_forms(native, make_body):
    expect_blocks(native, make_body(BODY), [LA, LB, LC], 3, A + B + C)


def test_keywords(native):
    assert native.decompress_grd_blocks(size_hint=0, payloads=[LC], body=BODY) == (1, bytearray(C))


# ---------------------------------------------------------- conversion table

class OnlyIter:
    def __iter__(self):
        return iter([LA])


class StrSubclass(str):
    pass


def failing_iteration():
    return ByIndex([LA, LB], fail_at=1, error=RuntimeError("boom"))


class IterFails:
    def __getitem__(self, index):
        return LA

    def __iter__(self):
        raise KeyError("no iterator")


class IndexFails:
    def __index__(self):
        raise ZeroDivisionError("index fails")


@pytest.mark.parametrize("payloads, error_type, message", [
    ("abc", TypeError, "Can't extract `str` to `Vec`"),
    ("", TypeError, "Can't extract `str` to `Vec`"),
    (StrSubclass("xy"), TypeError, "Can't extract `str` to `Vec`"),
    ((x for x in [LA]), TypeError, "'generator' object is not an instance of 'Sequence'"),
    ({LA}, TypeError, "'set' object is not an instance of 'Sequence'"),
    ({0: LA}, TypeError, "'dict' object is not an instance of 'Sequence'"),
    (5, TypeError, "'int' object is not an instance of 'Sequence'"),
    (iter([LA]), TypeError, "'list_iterator' object is not an instance of 'Sequence'"),
    (OnlyIter(), TypeError, "'OnlyIter' object is not an instance of 'Sequence'"),
    (None, TypeError, "'None' is not an instance of 'Sequence'"),
    (failing_iteration(), RuntimeError, "boom"),
    (IterFails(), KeyError, "no iterator"),
    ([[0, 1]], TypeError, "'list' object is not an instance of 'tuple'"),
    ([LA, None], TypeError, "'None' is not an instance of 'tuple'"),
    ([7], TypeError, "'int' object is not an instance of 'tuple'"),
    (b"\x00\x01", TypeError, "'int' object is not an instance of 'tuple'"),
    ([Payload(1, 2)._asdict()], TypeError, "'dict' object is not an instance of 'tuple'"),
    ([(0, 1, 2)], ValueError, "expected tuple of length 2, but got tuple of length 3"),
    ([LA, ()], ValueError, "expected tuple of length 2, but got tuple of length 0"),
    ([(0,)], ValueError, "expected tuple of length 2, but got tuple of length 1"),
    ([LyingTuple((1, 2, 3))], ValueError, "expected tuple of length 2, but got tuple of length 3"),
    ([(-1, 0)], OverflowError, "can't convert negative int to unsigned"),
    ([(0, -1)], OverflowError, "can't convert negative int to unsigned"),
    ([(2**64, 0)], OverflowError, "int too big to convert"),
    ([LA, (0, 2**70)], OverflowError, "int too big to convert"),
    ([(Index(-5), 0)], OverflowError, "can't convert negative int to unsigned"),
    ([(1.0, 0)], TypeError, "'float' object cannot be interpreted as an integer"),
    ([(0, "8")], TypeError, "'str' object cannot be interpreted as an integer"),
    ([(None, 0)], TypeError, "'NoneType' object cannot be interpreted as an integer"),
    ([(IndexFails(), 0)], ZeroDivisionError, "index fails"),
    # The first failure in item order decides.
    ([(0, 1, 2), [0, 1]], ValueError, "expected tuple of length 2, but got tuple of length 3"),
    ([(-1, "x")], OverflowError, "can't convert negative int to unsigned"),
    ([("x", -1)], TypeError, "'str' object cannot be interpreted as an integer"),
    ([LA, [0, 1], (0, 1, 2)], TypeError, "'list' object is not an instance of 'tuple'"),
])
def test_payloads_conversion_failures(native, payloads, error_type, message):
    with pytest.raises(error_type) as info:
        native.decompress_grd_blocks(BODY, payloads, 0)
    assert type(info.value) is error_type
    if error_type is KeyError:
        assert info.value.args == (message,)
    else:
        assert str(info.value) == message and info.value.args == (message,)
    assert info.value.__notes__ == PAYLOADS_NOTE
    if not isinstance(payloads, ByIndex):  # its record would differ
        assert check(native, BODY, payloads, 0)[0] == "raised"


def test_iteration_stops_at_the_failing_item(native):
    payloads = ByIndex([LA, (0, -1), LB, LC])
    with pytest.raises(OverflowError):
        native.decompress_grd_blocks(BODY, payloads, 0)
    assert payloads.asked == [0, 1]
    payloads = failing_iteration()
    with pytest.raises(RuntimeError) as info:
        native.decompress_grd_blocks(BODY, payloads, 0)
    assert payloads.asked == [0, 1]
    assert info.value.__notes__ == PAYLOADS_NOTE


class Watched:
    """An integer argument that records whether it was looked at."""

    def __init__(self, value=0):
        self.value, self.used = value, False

    def __index__(self):
        self.used = True
        return self.value


def test_size_hint_is_not_looked_at_after_a_payloads_failure(native):
    hint = Watched()
    with pytest.raises(TypeError) as info:
        native.decompress_grd_blocks(BODY, [LA, [0, 1]], hint)
    assert info.value.__notes__ == PAYLOADS_NOTE
    assert not hint.used
    assert native.decompress_grd_blocks(BODY, [LA], hint) == (1, bytearray(A))
    assert hint.used


def test_payloads_are_not_looked_at_after_a_body_failure(native):
    payloads = ByIndex([LA])
    with pytest.raises(TypeError) as info:
        native.decompress_grd_blocks("not a buffer", payloads, 0)
    assert info.value.__notes__ == ["while processing 'body'"]
    assert payloads.asked == []


def test_payloads_fail_before_size_hint(native):
    with pytest.raises(TypeError) as info:
        native.decompress_grd_blocks(BODY, None, -1)
    assert info.value.__notes__ == PAYLOADS_NOTE


@pytest.mark.parametrize("size_hint, error_type, message", [
    (-1, OverflowError, "can't convert negative int to unsigned"),
    (2**64, OverflowError, "int too big to convert"),
    (1.5, TypeError, "'float' object cannot be interpreted as an integer"),
    (None, TypeError, "'NoneType' object cannot be interpreted as an integer"),
])
def test_size_hint_failures(native, size_hint, error_type, message):
    with pytest.raises(error_type) as info:
        native.decompress_grd_blocks(BODY, [LA], size_hint)
    assert type(info.value) is error_type and info.value.args == (message,)
    assert info.value.__notes__ == ["while processing 'size_hint'"]
    check(native, BODY, [LA], size_hint)


@pytest.mark.parametrize("size_hint", [0, 1, 5000, 10**9, 2**63 - 1, 2**63, U64_MAX,
                                       Index(2**63), True])
def test_every_hint_gives_the_same_result(native, size_hint):
    assert native.decompress_grd_blocks(BODY, [LA, LB, LC], size_hint) == (3, bytearray(A + B + C))
    assert native.decompress_grd_blocks(BODY, [], size_hint) == (0, bytearray())


# ------------------------------------------------------ randomised comparisons

block_contents = st.one_of(
    st.binary(max_size=2000),
    st.builds(sample_content, st.integers(0, 20_000), st.integers(0, 2**32)),
    st.builds(lambda b, n: b * n, st.binary(min_size=1, max_size=4), st.integers(0, 50_000)),
)


@st.composite
def grid_cases(draw):
    payloads = []
    for content in draw(st.lists(block_contents, min_size=1, max_size=6)):
        payload = bytearray(zlib.compress(content, draw(st.integers(0, 9))))
        damage = {0: "cut", 1: "flip", 2: "tail"}.get(draw(st.integers(0, 7)), "none")
        if damage == "cut":
            del payload[draw(st.integers(0, len(payload) - 1)):]
        elif damage == "flip":
            payload[draw(st.integers(0, len(payload) - 1))] ^= 1 << draw(st.integers(0, 7))
        elif damage == "tail":
            payload += draw(st.binary(min_size=1, max_size=20))
        payloads.append(bytes(payload))
    body, locations = build_body(payloads)
    body += draw(st.binary(max_size=10))
    valid = st.sampled_from(locations)
    stray = st.one_of(
        st.tuples(st.integers(0, len(body) + 2), st.integers(0, 40)),
        st.tuples(st.integers(0, U64_MAX), st.integers(0, U64_MAX)),
    )
    location = st.integers(0, 7).flatmap(lambda pick: stray if pick == 0 else valid)
    chosen = draw(st.lists(location, min_size=draw(st.sampled_from([0, 1, 1, 1])), max_size=8))
    form = draw(st.sampled_from(["list", "tuple", "named"]))
    if form == "tuple":
        chosen = tuple(chosen)
    elif form == "named":
        chosen = [Payload(*item) for item in chosen]
    hint = draw(st.one_of(st.sampled_from(HINTS), st.integers(0, 200_000)))
    return body, chosen, hint


@given(grid_cases())
def test_random_grids(native, case):
    body, payloads, hint = case
    check(native, body, payloads, hint)


small = st.integers(0, 300)
numbers = st.one_of(small, small, small, st.integers(-3, 2**64 + 3),
                    st.sampled_from([U64_MAX, 2**64, -1]),
                    st.just(1.0), st.none(), st.booleans(), st.just("1"))
items = st.one_of(
    st.tuples(numbers, numbers), st.tuples(small, small), st.tuples(small, small),
    st.lists(numbers, max_size=3).map(tuple),
    st.lists(numbers, max_size=2),
    numbers,
)


@given(payloads=st.one_of(st.lists(items, max_size=6), st.lists(items, max_size=6).map(tuple),
                          items, st.text(max_size=3)))
def test_random_payload_objects(native, payloads):
    check(native, BODY, payloads, 0)


# ------------------------------------------------------------------- threads

@pytest.fixture(scope="module")
def large():
    """(body, locations, content): enough work to outlast a scheduling
    delay of another thread."""
    contents = [sample_content(100_000, seed) * 40 for seed in range(6)]
    body, locations = build_body([zlib.compress(c, 6) for c in contents])
    return body, locations, b"".join(contents)


def test_lock_is_released_while_inflating(native, large):
    body, locations, content = large
    results = []
    moved = lock_watch(lambda: results.append(native.decompress_grd_blocks(body, locations, 0)))
    assert moved > 0
    assert results == [(len(locations), bytearray(content))]


def test_changes_to_a_bytearray_body_during_the_call_do_not_matter(native, large):
    body, locations, content = large
    data = bytearray(body)
    result, changes = run_while_rewritten(
        lambda: native.decompress_grd_blocks(data, locations, len(content)),
        data, [bytes(len(data)), body[::-1]])
    assert changes > 0
    assert result == (len(locations), bytearray(content))


# ------------------------------------------------- the README's thread pool

POOL_CONTENTS = [sample_content(3000 + 500 * i, 40 + i) for i in range(9)]


@pytest.fixture(scope="module")
def threaded():
    return readme_function("decompress_grd_blocks_threaded")


@pytest.mark.parametrize("blocks, bad, workers, count", [
    (9, None, 3, 9),   # three calls of three blocks
    (9, 4, 3, 4),      # a bad block inside the middle call
    (9, 3, 3, 3),      # at the middle call's first block: it decodes nothing
    (9, 8, 2, 8),      # calls of five and four, the last one short
    (4, None, 12, 4),  # more workers than blocks
    (4, 2, 12, 2),
    (0, None, 3, 0),
], ids=["good", "bad_inside", "bad_first_of_call", "bad_in_last", "many_workers",
        "many_workers_bad", "empty"])
@pytest.mark.parametrize("hint", [0, sum(map(len, POOL_CONTENTS))])
def test_readme_thread_pool_matches_one_call(native, threaded, blocks, bad, workers, count, hint):
    streams = [zlib.compress(c) for c in POOL_CONTENTS[:blocks]]
    if bad is not None:
        streams[bad] = damaged("trailer")
    body, locations = build_body(streams)
    expected = (count, bytearray(b"".join(POOL_CONTENTS[:count])))
    assert native.decompress_grd_blocks(body, locations, hint) == expected
    for form in (bytes, bytearray):
        assert threaded(form(body), locations, hint, workers) == expected


def test_readme_thread_pool_raises_as_one_call(native, threaded):
    payloads = [(0, 1), LA, LB, (-1, 0)]  # a bad block first, a malformed pair last
    assert outcome(threaded, BODY, payloads, 0, 2) == outcome(
        native.decompress_grd_blocks, BODY, payloads, 0)
