"""Hostile inputs and threads: mutated valid inputs against the plain-Python
models, concurrent calls against sequential ones, inputs mutated by another
thread while a call runs, and bounded memory for hostile sizes."""
import os
import random
import subprocess
import sys
import threading
import zlib

import pytest
from hypothesis import given, settings, strategies as st

import _native
import lzrw1_reference as lz
import zlib_reference as zr

# Fewer under emulation (tools/emulated-venv), as for every property test.
MUTATION_EXAMPLES = settings(max_examples=150 if os.environ.get("NATIVE_EMULATOR") else 1500)


def outcome(call, *args):
    """The result, or (exception type, args): what a caller can observe."""
    try:
        result = call(*args)
    except (ValueError, IndexError, TypeError, OverflowError) as error:
        return (type(error), error.args)
    if isinstance(result, tuple):
        return ("ok", result[0], bytes(result[1]))
    return ("ok", bytes(result))


def fixed_width_model(data, width, count):
    needed = count * width
    if needed > len(data):
        raise IndexError(
            f"decode_fixed_width_strings_ucs4: need {needed} byte(s) for {count} record(s)"
            f" of width {width}, only {len(data)} available")
    strings = [data[i * width:(i + 1) * width].split(b"\x00")[0].decode("ascii", errors="replace")
               for i in range(count)]
    max_len = max(map(len, strings), default=0)
    return max_len, bytearray(b"".join(s.ljust(max_len, "\0").encode("utf-32-le") for s in strings))


@st.composite
def mutated(draw, valid):
    """`valid` with a few byte changes, a cut, or bytes added."""
    data = bytearray(valid)
    for _ in range(draw(st.integers(0, 4))):
        kind = draw(st.sampled_from(["flip", "set", "cut", "insert", "delete"]))
        if kind in ("flip", "set", "delete") and data:
            pos = draw(st.integers(0, len(data) - 1))
            if kind == "flip":
                data[pos] ^= 1 << draw(st.integers(0, 7))
            elif kind == "set":
                data[pos] = draw(st.sampled_from([0, 0xFF, 0x80, 0x7F, 0x0F, 0xF0]))
            else:
                del data[pos]
        elif kind == "cut":
            del data[draw(st.integers(0, len(data))):]
        elif kind == "insert":
            pos = draw(st.integers(0, len(data)))
            data[pos:pos] = draw(st.binary(min_size=1, max_size=8))
    return bytes(data)


CONTENTS = st.one_of(
    st.binary(min_size=1, max_size=600),
    st.integers(1, 3000).map(lambda n: lz.survey_like_content(n, n)),
    st.builds(lambda unit, n: (unit * n)[:4000], st.binary(min_size=1, max_size=5),
              st.integers(1, 800)),
)


@MUTATION_EXAMPLES
@given(st.data())
def test_lzrw1_mutated_streams(data):
    content = data.draw(CONTENTS)
    stream = data.draw(mutated(lz.lzrw1_encode(content)))
    start = data.draw(st.sampled_from([0, 0, 0, 1, 2, len(stream)]))
    length = data.draw(st.sampled_from([len(content), len(content) + 1, len(content) // 2, 0]))
    assert outcome(_native.lzrw1_decompress, stream, start, length) == \
        outcome(lz.lzrw1_decompress, stream, start, length)


@MUTATION_EXAMPLES
@given(st.data())
def test_speed_blob_mutated_chains(data):
    content = data.draw(CONTENTS)
    coding = data.draw(st.sampled_from(["automatic", "stored_raw", "lzrw1", "alternating"]))
    chunk = data.draw(st.sampled_from([lz.SPEED_MAX_CHUNK_CONTENT, 100, 7]))
    blob = data.draw(mutated(lz.build_speed_blob(content, chunk, coding, page_size=64)))
    total = data.draw(st.sampled_from([len(content), len(content) - 1, len(content) + 1, 0, -1,
                                       9 * len(blob), 9 * len(blob) + 1]))
    assert outcome(_native.decode_speed_blob, blob, total) == \
        outcome(lz.decode_speed_blob, blob, total)


@MUTATION_EXAMPLES
@given(st.data())
def test_zlib_mutated_streams(data):
    content = data.draw(CONTENTS)
    stream = data.draw(mutated(zlib.compress(content, data.draw(st.integers(0, 9)))))
    assert outcome(_native.zlib_decompress, stream) == outcome(zr.zlib_decompress, stream)


@MUTATION_EXAMPLES
@given(st.data())
def test_grid_blocks_mutated_bodies(data):
    blocks = [zlib.compress(data.draw(CONTENTS)) for _ in range(data.draw(st.integers(1, 4)))]
    payloads, offset = [], 0
    for block in blocks:
        payloads.append((offset + 16, len(block)))
        offset += 16 + len(block)
    body = data.draw(mutated(b"".join(b"\xAB" * 16 + block for block in blocks)))
    hint = data.draw(st.sampled_from([0, 1, offset, 2**40, 2**64 - 1]))
    assert outcome(_native.decompress_grd_blocks, body, payloads, hint) == \
        outcome(zr.decompress_grd_blocks, body, payloads, hint)


@MUTATION_EXAMPLES
@given(st.data())
def test_fixed_width_mutated_columns(data):
    width = data.draw(st.integers(0, 40))
    count = data.draw(st.integers(0, 60))
    names = [data.draw(st.binary(max_size=width)) for _ in range(count)]
    column = data.draw(mutated(b"".join(n.ljust(width, b"\0") for n in names)))
    assert outcome(_native.decode_fixed_width_strings_ucs4, column, width, count) == \
        outcome(fixed_width_model, column, width, count)


# -- threads ---------------------------------------------------------------

def _workload():
    rng = random.Random(7)
    content = lz.survey_like_content(300_000, 3)
    stream = lz.lzrw1_encode(content[:50_000])
    blob = lz.build_speed_blob(content, coding="alternating")
    blocks = [zlib.compress(content[i:i + 40_000]) for i in range(0, len(content), 40_000)]
    body = b"".join(blocks)
    payloads, offset = [], 0
    for block in blocks:
        payloads.append((offset, len(block)))
        offset += len(block)
    column = b"".join(bytes(rng.randrange(256) for _ in range(rng.randrange(0, 24))).ljust(24, b"\0")
                      for _ in range(2000))
    return [
        (_native.lzrw1_decompress, (stream, 0, 50_000)),
        (_native.lzrw1_decompress, (stream, 0, 50_001)),          # fails
        (_native.decode_speed_blob, (blob, len(content))),
        (_native.decode_speed_blob, (blob[:5000], len(content))),  # fails
        (_native.zlib_decompress, (bytearray(zlib.compress(content)),)),
        (_native.zlib_decompress, (zlib.compress(content)[:-1],)),  # fails
        (_native.decompress_grd_blocks, (body, payloads, len(content))),
        (_native.decompress_grd_blocks, (body[:-100], payloads, 0)),
        (_native.decode_fixed_width_strings_ucs4, (column, 24, 2000)),
        (_native.decode_fixed_width_strings_ucs4, (column, 24, 2001)),  # fails
    ]


def test_concurrent_calls_match_sequential_ones():
    work = _workload()
    expected = [outcome(f, *args) for f, args in work]
    threads, barrier = 6, threading.Barrier(6)
    results = [None] * threads

    def worker(index):
        barrier.wait()
        mine = []
        for round_ in range(4):
            order = work[index:] + work[:index] if round_ % 2 else work[::-1]
            mine.append({id(item): outcome(item[0], *item[1]) for item in order})
        results[index] = mine

    pool = [threading.Thread(target=worker, args=(i,)) for i in range(threads)]
    for t in pool:
        t.start()
    for t in pool:
        t.join()
    for per_thread in results:
        for round_results in per_thread:
            assert [round_results[id(item)] for item in work] == expected


@pytest.mark.parametrize("which", ["zlib", "grid"])
def test_buffer_mutated_by_another_thread(which):
    """The copying functions decode one state of a bytearray that another
    thread keeps rewriting (or trying to resize), never a mix of states."""
    content_a = lz.survey_like_content(400_000, 1)
    content_b = lz.survey_like_content(400_000, 2)
    stream_a, stream_b = zlib.compress(content_a, 1), zlib.compress(content_b, 1)
    size = max(len(stream_a), len(stream_b))
    state_a = stream_a.ljust(size, b"\0")
    state_b = stream_b.ljust(size, b"\0")
    shared = bytearray(state_a)
    stop = threading.Event()

    def mutate():
        flip = False
        while not stop.is_set():
            with memoryview(shared) as view:             # rewrite in place
                view[:] = state_b if flip else state_a
            flip = not flip
            try:
                shared.append(0)                         # a resize: refused while exported
            except BufferError:
                continue
            while True:                                  # back to the length of the states
                try:
                    del shared[-1]
                    break
                except BufferError:
                    pass

    if which == "zlib":
        call = lambda: bytes(_native.zlib_decompress(shared))
        allowed = {content_a, content_b}
    else:
        call = lambda: _native.decompress_grd_blocks(shared, [(0, size), (0, size)], 0)
        allowed = [(2, c + c) for c in (content_a, content_b)]
    mutator = threading.Thread(target=mutate)
    mutator.start()
    try:
        for _ in range(30):
            result = call()
            if which == "zlib":
                assert result in allowed
            else:
                assert (result[0], bytes(result[1])) in allowed
    finally:
        stop.set()
        mutator.join()


# -- hostile sizes -----------------------------------------------------------

def _peak_memory_mib(code):
    """Growth of the peak virtual memory size, in MiB, of a fresh
    interpreter running `code`: a reservation counts even if never touched."""
    script = "\n".join([
        "import sys, zlib",
        "import _native",
        "def peak():",
        "    with open('/proc/self/status') as status:",
        "        return next(int(l.split()[1]) for l in status if l.startswith('VmPeak:'))",
        "before = peak()",
        code,
        "print((peak() - before) // 1024)",
    ])
    done = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True,
                          check=True, env={"PYTHONPATH": ":".join(sys.path)})
    return int(done.stdout.strip().splitlines()[-1])


@pytest.mark.parametrize("code", [
    # a hint far beyond what the body could inflate to
    "body = zlib.compress(b'x' * 1000)\n"
    "assert _native.decompress_grd_blocks(body, [(0, len(body))], 2**62) == (1, bytearray(b'x' * 1000))",
    "assert _native.decompress_grd_blocks(b'', [], 2**64 - 1) == (0, bytearray())",
    "body = zlib.compress(b'y' * 10)\n"
    "assert _native.decompress_grd_blocks(body, [(0, len(body))] * 3, 2**33) == (3, bytearray(b'y' * 30))",
    # a declared total beyond nine times the input is refused before allocating
    "blob = bytes(8) + (1).to_bytes(4, 'little') + bytes(4) + (5).to_bytes(4, 'little')"
    " + (17).to_bytes(4, 'little') + (0xF0E1D2C3).to_bytes(4, 'little') + b'hello'\n"
    "try:\n    _native.decode_speed_blob(blob, 2**62)\nexcept ValueError:\n    pass\n"
    "else:\n    raise AssertionError('accepted')",
    # width 0 keeps no per-record lengths, whatever the count
    "assert _native.decode_fixed_width_strings_ucs4(b'', 0, 2**64 - 1) == (0, bytearray())",
    # lengths no allocator can meet end in MemoryError, nothing decoded
    "try:\n    _native.lzrw1_decompress(b'', 0, 2**62)\nexcept MemoryError:\n    pass\n"
    "else:\n    raise AssertionError('allocated')",
])
@pytest.mark.skipif(not sys.platform.startswith('linux'), reason='reads /proc')
def test_hostile_sizes_keep_memory_bounded(code):
    assert _peak_memory_mib(code) < 64
