"""zlib_decompress against the plain-Python model and the standard zlib."""
import array
import os
import platform
import random
import shutil
import subprocess
import sys
import threading
import zlib

import pytest

from lock_watch import lock_watch, run_while_rewritten
from hypothesis import assume, given, strategies as st

import deflate_writer
import zlib_reference as reference

EMPTY_CONTENT_STREAM = bytes.fromhex("789c030000000001")
CORRUPT = "zlib_decompress: corrupt deflate stream"
INCOMPLETE = "zlib_decompress: incomplete deflate stream"

STRATEGIES = [zlib.Z_DEFAULT_STRATEGY, zlib.Z_FILTERED, zlib.Z_HUFFMAN_ONLY,
              zlib.Z_RLE, zlib.Z_FIXED]


def deflate(content, level=6, strategy=zlib.Z_DEFAULT_STRATEGY, wbits=15,
            memlevel=8, zdict=None):
    args = (level, zlib.DEFLATED, wbits, memlevel, strategy)
    compressor = (zlib.compressobj(*args) if zdict is None
                  else zlib.compressobj(*args, zdict=zdict))
    return compressor.compress(content) + compressor.flush()


def mixed_content(length, seed):
    """Words, runs, noisy samples and noise: every block type gets used."""
    rng = random.Random(seed)
    words = [b"line", b"channel", b"grid", b"survey", b"-1e32", b"\n", b" ", b"0.25"]
    out = bytearray()
    while len(out) < length:
        kind = rng.randrange(4)
        if kind == 0:
            out += b"".join(rng.choice(words) for _ in range(40))
        elif kind == 1:
            out += bytes([rng.randrange(256)]) * rng.randrange(2000)
        elif kind == 2:
            sample = 100.0
            for _ in range(200):
                sample += rng.uniform(-1, 1)
                out += array.array("f", [sample]).tobytes()
        else:
            out += rng.randbytes(300)
    return bytes(out[:length])


def outcome(function, *args):
    """What a call gives: ("ok", result) or ("raised", type, args, notes)."""
    try:
        return ("ok", function(*args))
    except Exception as error:
        return ("raised", type(error), error.args, getattr(error, "__notes__", None))


def check(native, data):
    """The module and the model agree on `data`; returns the native outcome."""
    got = outcome(native.zlib_decompress, data)
    expected = outcome(reference.zlib_decompress, data)
    assert got == expected
    if got[0] == "ok":
        assert type(got[1]) is bytearray
        assert got[1] is not data
        assert got[1].__alloc__() <= len(got[1]) + len(got[1]) // 8 + 64
    return got


def expect_content(native, data, content):
    result = native.zlib_decompress(data)
    assert type(result) is bytearray
    assert result == content
    assert check(native, data) == ("ok", bytearray(content))


def expect_error(native, data, message):
    with pytest.raises(ValueError) as info:
        native.zlib_decompress(data)
    assert type(info.value) is ValueError
    assert info.value.args == (message,)
    assert not hasattr(info.value, "__notes__")
    check(native, data)


# -------------------------------------------------------- well-formed streams

@pytest.mark.parametrize("strategy", STRATEGIES)
@pytest.mark.parametrize("level", range(-1, 10))
def test_every_level_and_strategy(native, level, strategy):
    for length, seed in [(0, 0), (1, 1), (5000, 2), (150_000, 3)]:
        content = mixed_content(length, seed + level)
        stream = deflate(content, level, strategy)
        assert zlib.decompress(stream) == content
        expect_content(native, stream, content)


@pytest.mark.parametrize("wbits", range(9, 16))
@pytest.mark.parametrize("memlevel", [1, 9])
def test_smaller_windows(native, wbits, memlevel):
    content = mixed_content(100_000, wbits)
    expect_content(native, deflate(content, 9, wbits=wbits, memlevel=memlevel), content)


def test_empty_content(native):
    expect_content(native, EMPTY_CONTENT_STREAM, b"")
    for level in range(10):
        expect_content(native, zlib.compress(b"", level), b"")


def test_empty_input_is_incomplete(native):
    expect_error(native, b"", INCOMPLETE)
    expect_error(native, bytearray(), INCOMPLETE)
    expect_error(native, memoryview(b""), INCOMPLETE)


def test_several_megabytes(native):
    content = mixed_content(12 << 20, 5)
    stream = zlib.compress(content, 6)
    result = native.zlib_decompress(stream)
    assert result == zlib.decompress(stream) == content


def test_expansion_past_thousandfold(native):
    content = bytes(80 << 20)
    stream = zlib.compress(content, 9)
    assert len(content) > 1000 * len(stream)
    assert native.zlib_decompress(stream) == content


@pytest.mark.parametrize("length, compressible, padded_to", [
    (70000, False, 0), (1 << 20, False, 0), ((8 << 20) + 1, False, 0), (3 << 20, True, 0),
    (20 << 20, True, 0),
    (3000, False, 5648),  # a first window of 6001 bytes, twice the content and one more
])
def test_result_is_allocated_at_its_length(native, length, compressible, padded_to):
    """The result's allocation ends within an eighth (and the object's own
    header) of its content, whatever growth it took to get there."""
    content = mixed_content(length, 9) if compressible else random.Random(length).randbytes(length)
    stream = zlib.compress(content, 6)
    result = native.zlib_decompress(stream.ljust(padded_to, b"\0"))
    assert result == content
    assert result.__alloc__() <= len(result) + len(result) // 8 + 64


@pytest.mark.parametrize("length", [32767, 32768, 32769, 65536, 65537, 1 << 20])
def test_stored_streams_around_staging_boundaries(native, length):
    content = random.Random(length).randbytes(length)
    for level in (0, 6):
        expect_content(native, zlib.compress(content, level), content)


# -------------------------------------------------------------- trailing bytes

@pytest.mark.parametrize("tail", [
    b"\x00", b"\xff" * 3, b"junk after the stream", bytes(70000),
    zlib.compress(b"a second stream"), EMPTY_CONTENT_STREAM,
    b"\x78\x9c",  # the start of another stream, cut
])
def test_trailing_bytes_are_ignored(native, tail):
    content = mixed_content(40_000, 6)
    stream = zlib.compress(content)
    expect_content(native, stream + tail, content)
    expect_content(native, EMPTY_CONTENT_STREAM + tail, b"")


def test_same_stream_twice_gives_it_once(native):
    content = mixed_content(3000, 7)
    stream = zlib.compress(content)
    expect_content(native, stream + stream, content)


# ------------------------------------------------------------ cut and damaged

SHORT_STREAMS = [
    EMPTY_CONTENT_STREAM,
    zlib.compress(b"x", 0),
    zlib.compress(b"hello, hello, hello", 9),
    deflate(mixed_content(700, 8), 9, zlib.Z_FIXED),
    deflate(mixed_content(700, 9), 6, zlib.Z_HUFFMAN_ONLY),
    zlib.compress(bytes(50_000), 9),
]


@pytest.mark.parametrize("stream", SHORT_STREAMS, ids=lambda s: f"{len(s)}bytes")
def test_every_cut_is_incomplete(native, stream):
    for length in range(len(stream)):
        expect_error(native, stream[:length], INCOMPLETE)


def test_cuts_of_a_longer_stream(native):
    stream = zlib.compress(mixed_content(300_000, 10), 6)
    lengths = list(range(0, len(stream), 1499))
    lengths += [n for b in (32768, 65536) for n in range(b - 2, b + 3)]
    lengths += [len(stream) - back for back in range(1, 9)]
    for length in lengths:
        expect_error(native, stream[:length], INCOMPLETE)


@pytest.mark.parametrize("back", [1, 2, 3, 4])
@pytest.mark.parametrize("flip", [0x01, 0x80, 0xFF])
def test_changed_trailer_byte_is_corrupt(native, back, flip):
    for content in (b"", mixed_content(4000, 11)):
        stream = bytearray(zlib.compress(content))
        stream[-back] ^= flip
        expect_error(native, bytes(stream), CORRUPT)
        expect_error(native, bytes(stream) + b"more", CORRUPT)


def zlib_header(cmf, flags):
    """Two header bytes whose check field makes them a multiple of 31."""
    flg = flags & 0xE0
    flg += (31 - (cmf * 256 + flg) % 31) % 31
    return bytes([cmf, flg])


BODY = zlib.compress(mixed_content(3000, 12))[2:]
DICTIONARY_HEADER = zlib_header(0x78, 0x20 | 0x80)


@pytest.mark.parametrize("data, message", [
    pytest.param(deflate(mixed_content(3000, 13), wbits=-15), CORRUPT, id="raw_deflate"),
    pytest.param(deflate(mixed_content(3000, 13), wbits=31), CORRUPT, id="gzip"),
    pytest.param(b"\x1f\x8b", CORRUPT, id="gzip_magic"),
    pytest.param(zlib_header(0x77, 0x80) + BODY, CORRUPT, id="method_7"),
    pytest.param(zlib_header(0x88, 0x80) + BODY, CORRUPT, id="window_field_8"),
    pytest.param(zlib_header(0xF8, 0x80) + BODY, CORRUPT, id="window_field_15"),
    pytest.param(b"\x78\x9d" + BODY, CORRUPT, id="header_check"),
    pytest.param(DICTIONARY_HEADER + b"\x01\x02\x03\x04", CORRUPT, id="dictionary_id"),
    pytest.param(DICTIONARY_HEADER + b"\x01\x02\x03\x04" + BODY, CORRUPT,
                 id="dictionary_id_and_data"),
    pytest.param(DICTIONARY_HEADER, INCOMPLETE, id="dictionary_id_missing"),
    pytest.param(DICTIONARY_HEADER + b"\x01", INCOMPLETE, id="dictionary_id_1_byte"),
    pytest.param(DICTIONARY_HEADER + b"\x01\x02\x03", INCOMPLETE, id="dictionary_id_3_bytes"),
    pytest.param(deflate(b"needs the dictionary " * 20, zdict=b"dictionary"), CORRUPT,
                 id="stream_made_with_dictionary"),
    pytest.param(b"\x78", INCOMPLETE, id="half_header"),
    pytest.param(b"\x78\x9c", INCOMPLETE, id="header_only"),
    pytest.param(b"\x78\x01\x07\x00", CORRUPT, id="invalid_block_type"),
    # Fixed-code block whose first symbol is a match at distance 1.
    pytest.param(b"\x78\x01\x03\x02\x00\x00\x00\x00\x01", CORRUPT, id="distance_too_far_back"),
])
def test_bad_streams(native, data, message):
    expect_error(native, data, message)


CRAFTED = deflate_writer.crafted_streams()


@pytest.mark.parametrize("name", sorted(CRAFTED))
@pytest.mark.parametrize("tail", [b"", b"\x78\x9c\x03\x00"])
def test_streams_a_lenient_decoder_takes(native, name, tail):
    """Streams outside zlib's rules that a whole-buffer decoder may take:
    zlib's verdict and message, and zlib's content where it accepts one."""
    stream, accepted = CRAFTED[name]
    if accepted:
        expect_content(native, stream + tail, zlib.decompress(stream))
    else:
        expect_error(native, stream + tail, CORRUPT)


def test_raw_deflate_does_not_start_like_zlib():
    raw = deflate(mixed_content(3000, 13), wbits=-15)
    assert (raw[0] & 0x0F) != 8 or (raw[0] * 256 + raw[1]) % 31 != 0


# ------------------------------------------------------------- argument forms

def test_argument_forms_give_the_same_bytes(native):
    content = mixed_content(20_000, 14)
    stream = zlib.compress(content)
    interleaved = bytearray(2 * len(stream))
    interleaved[::2] = stream
    interleaved[1::2] = b"\xAA" * len(stream)
    class BytesSubclass(bytes):
        pass

    forms = [
        stream,
        BytesSubclass(stream),
        bytearray(stream),
        memoryview(stream),
        memoryview(bytearray(stream)),
        memoryview(bytes(interleaved))[::2],
        memoryview(interleaved)[::2],
        memoryview(stream).cast("c"),
        memoryview(bytes(2) + stream + bytes(3))[2:-3],
        array.array("B", stream),
    ]
    numpy = pytest.importorskip("numpy")
    padded = stream + bytes(-len(stream) % 2)
    # Two dimensions, rows apart in memory: row-major order is the stream.
    wide = numpy.zeros((len(padded) // 2, 4), dtype=numpy.uint8)
    wide[:, :2] = numpy.frombuffer(padded, dtype=numpy.uint8).reshape(-1, 2)
    forms += [
        numpy.frombuffer(stream, dtype=numpy.uint8),
        wide[:, :2],
        # Column-major storage: memory order differs from logical order.
        numpy.asfortranarray(numpy.frombuffer(padded, dtype=numpy.uint8).reshape(-1, 2)),
    ]
    assert not wide[:, :2].flags.c_contiguous
    for data in forms:
        result = native.zlib_decompress(data)
        assert type(result) is bytearray
        assert result == content
        assert check(native, data)[0] == "ok"
    # A strided view is read in logical order, not memory order.
    expect_error(native, memoryview(interleaved)[1::2], CORRUPT)


def test_argument_is_untouched_and_result_is_new(native):
    stream = bytearray(zlib.compress(b"abc" * 100))
    before = bytes(stream)
    first = native.zlib_decompress(stream)
    second = native.zlib_decompress(stream)
    assert stream == before
    assert first is not second and first == second
    first[0:3] = b"xyz"  # writable, and not shared
    assert second[0:3] == b"abc"
    stream.extend(b"resizable again")  # no buffer export left behind
    del stream[-30:]
    with pytest.raises(ValueError):
        native.zlib_decompress(stream)
    stream.extend(b"and again after a failure")


def test_keyword_argument(native):
    assert native.zlib_decompress(data=EMPTY_CONTENT_STREAM) == bytearray()


# ----------------------------------------------------- randomised comparisons

contents = st.one_of(
    st.binary(max_size=3000),
    st.builds(lambda n, seed: mixed_content(n, seed),
              st.integers(0, 60_000), st.integers(0, 2**32)),
    st.builds(lambda b, n: b * n, st.binary(min_size=1, max_size=8), st.integers(0, 20_000)),
)


@given(content=contents, level=st.integers(-1, 9), strategy=st.sampled_from(STRATEGIES),
       wbits=st.integers(9, 15), tail=st.binary(max_size=40))
def test_random_streams(native, content, level, strategy, wbits, tail):
    stream = deflate(content, level, strategy, wbits)
    assert check(native, stream + tail) == ("ok", bytearray(content))


@given(content=contents, level=st.integers(0, 9), data=st.data())
def test_random_damage(native, content, level, data):
    stream = bytearray(zlib.compress(content, level))
    kind = data.draw(st.sampled_from(["flip", "set", "cut", "drop", "insert"]))
    position = data.draw(st.integers(0, len(stream) - 1))
    if kind == "flip":
        stream[position] ^= 1 << data.draw(st.integers(0, 7))
    elif kind == "set":
        stream[position] = data.draw(st.integers(0, 255))
    elif kind == "cut":
        del stream[position:]
    elif kind == "drop":
        del stream[position]
    else:
        stream.insert(position, data.draw(st.integers(0, 255)))
    check(native, bytes(stream))


@given(data=st.binary(max_size=200))
def test_random_bytes(native, data):
    check(native, data)


@given(body=st.binary(max_size=100), flags=st.integers(0, 255))
def test_random_bytes_after_a_valid_header(native, body, flags):
    check(native, zlib_header(0x78, flags) + body)


# ------------------------------------------------------------------- threads

run_with_lock_watch = lock_watch


@pytest.fixture(scope="module")
def large():
    """(content, stream): long enough that the inflation surely outlasts a
    scheduling delay of the other thread."""
    content = mixed_content(1 << 20, 15) * 24
    return content, zlib.compress(content, 6)


@pytest.mark.skipif(not getattr(sys, "_is_gil_enabled", lambda: True)(),
                    reason="no lock to watch")
def test_harness_sees_a_held_lock():
    assert run_with_lock_watch(lambda: sum(range(3_000_000))) == 0


def test_lock_is_released_while_inflating(native, large):
    content, stream = large
    result = []
    moved = run_with_lock_watch(lambda: result.append(native.zlib_decompress(stream)))
    assert moved > 0
    assert result[0] == content


def test_changes_to_a_bytearray_during_the_call_do_not_matter(native, large):
    content, stream = large
    data = bytearray(stream)
    junk = bytes(range(256)) * (len(data) // 256) + bytes(len(data) % 256)
    result, changes = run_while_rewritten(lambda: native.zlib_decompress(data),
                                          data, [junk, bytes(len(data))])
    assert changes > 0
    assert result == content


def test_many_threads_at_once(native):
    streams = [zlib.compress(mixed_content(200_000, seed), seed % 10) for seed in range(8)]
    barrier = threading.Barrier(len(streams))
    results = [None] * len(streams)

    def work(index):
        barrier.wait()
        for _ in range(5):
            results[index] = native.zlib_decompress(streams[index])

    threads = [threading.Thread(target=work, args=(i,)) for i in range(len(streams))]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert results == [bytearray(zlib.decompress(s)) for s in streams]


# ------------------------------------------------------------ exhausted memory

CAPPED_SCRIPT = """
import resource, sys, zlib
import _native
compressor = zlib.compressobj(1)
zeros = bytes(1 << 20)
stream = b"".join(compressor.compress(zeros) for _ in range(512)) + compressor.flush()
small = zlib.compress(b"small" * 100)
# Cap the address space a little above what is mapped now.
with open("/proc/self/statm") as statm:
    pages = int(statm.read().split()[0])
limit = pages * resource.getpagesize() + (64 << 20)
resource.setrlimit(resource.RLIMIT_AS, (limit, limit))
try:
    _native.zlib_decompress(stream)
    print("no error")
except Exception as error:
    print(type(error).__name__, error.args)
body = small + stream + small
count, content = _native.decompress_grd_blocks(
    body, [(0, len(small)), (len(small), len(stream)), (0, len(small))], 0)
print(count, content == b"small" * 100)
"""


@pytest.mark.skipif(not sys.platform.startswith("linux"), reason="needs /proc and RLIMIT_AS")
@pytest.mark.skipif(bool(os.environ.get("NATIVE_EMULATOR")),
                    reason="qemu-user ignores setrlimit(RLIMIT_AS): the capped allocation succeeds")
def test_output_that_cannot_grow(native):
    """The output vector's growth failing is an orderly error; for a grid
    block it ends the loop quietly."""
    env = dict(os.environ, PYTHONPATH=os.path.dirname(native.__file__))
    done = subprocess.run([sys.executable, "-c", CAPPED_SCRIPT], env=env,
                          capture_output=True, text=True, check=True)
    assert done.stdout.splitlines() == [
        "ValueError ('zlib_decompress: out of memory',)",
        "1 True",
    ]


# A malloc that refuses one size, armed from the script: zlib's 32 KiB window
# is then the one allocation of a call that fails (glibc's own allocator
# behind every other; the input is shorter than 32 KiB, and so is the
# staging buffer).
REFUSING_MALLOC = r"""
#include <stddef.h>
extern void *__libc_malloc(size_t size);
static size_t refused_size;
void refuse_malloc_of_size(size_t size) { refused_size = size; }
void *malloc(size_t size) { return size && size == refused_size ? NULL : __libc_malloc(size); }
"""

WINDOW_REFUSED_SCRIPT = """
import ctypes, sys, _native
stream, content = bytes.fromhex(sys.argv[1]), bytes.fromhex(sys.argv[2])
refuse = ctypes.CDLL(None).refuse_malloc_of_size
refuse.argtypes = [ctypes.c_size_t]
refuse(32768)
try:
    print(repr(_native.zlib_decompress(stream)))
except Exception as error:
    print(type(error).__name__, error.args)
print(_native.decompress_grd_blocks(stream + stream, [(0, len(stream))] * 2, 0))
refuse(0)
print(_native.zlib_decompress(stream) == content)
"""


@pytest.mark.skipif(platform.libc_ver()[0] != "glibc" or bool(os.environ.get("NATIVE_EMULATOR")),
                    reason="interposes glibc's malloc in a native process")
def test_zlib_that_cannot_allocate_its_window(native, tmp_path):
    """zlib's own memory running out is said as such, not as corrupt data
    (a stream the fast decoder leaves to zlib)."""
    compiler = shutil.which("cc") or shutil.which("gcc")
    if not compiler:
        pytest.skip("no C compiler")
    (tmp_path / "refusing.c").write_text(REFUSING_MALLOC)
    shim = tmp_path / "refusing.so"
    subprocess.run([compiler, "-shared", "-fPIC", "-O1", str(tmp_path / "refusing.c"), "-o",
                    str(shim)], check=True)
    # Content past the first window: zlib returns before the stream's end,
    # and keeps a window from then on.
    stream = deflate_writer.single_distance_code_stream(10_000)
    env = dict(os.environ, PYTHONPATH=os.path.dirname(native.__file__), LD_PRELOAD=str(shim))
    done = subprocess.run(
        [sys.executable, "-c", WINDOW_REFUSED_SCRIPT, stream.hex(), zlib.decompress(stream).hex()],
        env=env, capture_output=True, text=True, check=True)
    assert done.stdout.splitlines() == [
        "ValueError ('zlib_decompress: out of memory',)",
        "(0, bytearray(b''))",  # a grid block stops the loop quietly
        "True",
    ]
