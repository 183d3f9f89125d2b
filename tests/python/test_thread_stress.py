"""Eight threads calling every function at once with valid and invalid
inputs, switching as often as the interpreter allows: shared `bytes`,
bytearrays private to a thread that it resizes between its calls, and
bytearrays shared by all that the others keep resizing and rewriting.  Every
result equals a sequential call's (for a shared bytearray: the call on one
of its states), no thread is left with an exception set, and the total
reference count stays flat.  Meaningful on a debug interpreter
(sys.gettotalrefcount); `make test-stress` runs it on python3.15-dbg."""
import gc
import random
import sys
import threading
import zlib

import pytest

import _native
from call_cases import call_outcome, fixed_width_records, mixed_calls, outcomes, RECORD_WIDTH

pytestmark = pytest.mark.skipif(not hasattr(sys, "gettotalrefcount"),
                                reason="needs a debug interpreter")

THREADS = 8
ROUNDS = 40


class SharedBuffer:
    """A bytearray every thread passes to one function and rewrites, at
    another length, between its own calls; the outcomes of its states."""

    def __init__(self, name, states, make_args):
        self.name = name
        self.states = states
        self.make_args = make_args
        self.data = bytearray(states[0])
        self.allowed = [call_outcome(name, make_args(bytes(state))) for state in states]

    def call(self):
        return call_outcome(self.name, self.make_args(self.data))

    def rewrite(self, rng):
        try:
            self.data[:] = rng.choice(self.states)
        except BufferError:  # exported by a call on another thread right now
            pass


def shared_buffers():
    blobs = [zlib.compress(bytes(range(256)) * (40 + 9 * i), 1 + i) for i in range(3)]
    columns = [fixed_width_records(150 + 25 * i, seed=i) for i in range(3)]
    return [
        SharedBuffer("zlib_decompress", blobs, lambda data: (data,)),
        SharedBuffer("decode_fixed_width_strings_ucs4", columns,
                     lambda data: (data, RECORD_WIDTH, 150)),
        SharedBuffer("decompress_grd_blocks", blobs,
                     lambda data: (data, [(0, len(blobs[0])), (0, 60)], 0)),
    ]


def run_threads(calls, expected, shared, rounds):
    """Runs the calls on THREADS threads; returns the first mismatch per
    thread (None when there was none)."""
    barrier = threading.Barrier(THREADS)
    failures = [None] * THREADS
    # A private bytearray per thread: a zlib stream, to which its own thread
    # adds and removes trailing padding (ignored by the decoder) between calls.
    stream = zlib.compress(bytes(range(200)) * 50)
    private_expected = call_outcome("zlib_decompress", (stream,))

    def worker(index):
        rng = random.Random(index)
        mine = bytearray(stream)
        barrier.wait()
        for _ in range(rounds):
            order = list(range(len(calls)))
            rng.shuffle(order)
            for i in order:
                name, args = calls[i]
                got = call_outcome(name, args)
                if got != expected[i] and failures[index] is None:
                    failures[index] = (name, got[:2], expected[i][:2])
                buffer = rng.choice(shared)
                got = buffer.call()
                if got not in buffer.allowed and failures[index] is None:
                    failures[index] = ("shared " + buffer.name, got[:2])
                rng.choice(shared).rewrite(rng)
                mine.extend(bytes(rng.randrange(64)))
                got = call_outcome("zlib_decompress", (mine,))
                if got != private_expected and failures[index] is None:
                    failures[index] = ("private zlib_decompress", got[:2])
                del mine[len(stream):]
                if sys.exception() is not None and failures[index] is None:
                    failures[index] = ("exception left set", repr(sys.exception()))

    threads = [threading.Thread(target=worker, args=(i,)) for i in range(THREADS)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    return failures


def test_threads_calling_everything_at_once():
    calls = mixed_calls(5)
    expected = outcomes(calls)
    shared = shared_buffers()
    interval = sys.getswitchinterval()
    sys.setswitchinterval(1e-6)
    try:
        assert run_threads(calls, expected, shared, 1) == [None] * THREADS  # warm-up
        gc.collect()
        before = sys.gettotalrefcount()
        assert run_threads(calls, expected, shared, ROUNDS) == [None] * THREADS
        gc.collect()
        leaked = sys.gettotalrefcount() - before
    finally:
        sys.setswitchinterval(interval)
    total_calls = THREADS * ROUNDS * len(calls) * 3
    # A leak of one reference per call shows as >= total_calls.
    assert leaked < total_calls // 10, f"{leaked} references over {total_calls} calls"
    assert sys.exception() is None
