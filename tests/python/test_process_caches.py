"""The process-wide caches across re-entry, processes and runtimes: an
initialiser that comes back into its own cache, forked and spawned workers,
a fork taken while another thread is filling a cache, and an embedding
application that finalises the runtime and initialises it again.  Each case
runs in a fresh interpreter (the caches are filled once per process), with a
timeout, since the faults these guard against are hangs."""
import json
import multiprocessing
import os
import subprocess
import sys
import textwrap

import pytest

import _native
from call_cases import mixed_calls, outcomes
from embedding import run_embedded

MODULE_DIR = os.path.dirname(_native.__file__)
TIMEOUT = 120


def run_fresh(code):
    """Runs `code` in a fresh interpreter that finds the modules under test;
    returns what it printed last, parsed as JSON (`report` prints it; json
    is imported only then: it imports collections)."""
    prelude = (f"import sys\nsys.path.insert(0, {MODULE_DIR!r})\n"
               "def report(value):\n    import json\n    print(json.dumps(value))\n")
    completed = subprocess.run(
        [sys.executable, "-I", "-c", prelude + textwrap.dedent(code)],
        capture_output=True, text=True, timeout=TIMEOUT)
    assert completed.returncode == 0, completed.stderr
    return json.loads(completed.stdout.strip().splitlines()[-1])


# A meta-path finder asked for `collections` while the module looks up
# collections.abc.Sequence for the first time calls the module again.
REENTRY = """
import _native

def described(error):
    return [type(error).__name__, str(error), getattr(error, "__notes__", [])]

inner = []
class Finder:
    def find_spec(self, name, path=None, target=None):
        if name == "collections" and not inner:
            try:
                _native.decompress_grd_blocks(b"", 5, 0)
            except BaseException as error:
                inner.append(described(error))
                if {reraise}:
                    raise
        return None

assert "collections" not in sys.modules
sys.meta_path.insert(0, Finder())
outer = []
for _ in range(2):
    try:
        _native.decompress_grd_blocks(b"", 5, 0)
    except BaseException as error:
        outer.append(described(error))
report([inner, outer])
"""

REENTRY_TEXT = ("could not import collections.abc.Sequence: asked for again by the "
                "thread that is filling it")
NOT_A_SEQUENCE = ["TypeError", "'int' object is not an instance of 'Sequence'",
                  ["while processing 'payloads'"]]


def test_reentered_fill_is_an_internal_fault_not_a_hang():
    inner, outer = run_fresh(REENTRY.format(reraise=False))
    assert inner == [["PanicException", REENTRY_TEXT, []]]
    # The outer call fills the cache and goes on as usual.
    assert outer == [NOT_A_SEQUENCE, NOT_A_SEQUENCE]


def test_fault_raised_through_the_initialiser_leaves_the_cache_empty():
    inner, outer = run_fresh(REENTRY.format(reraise=True))
    assert inner == [["PanicException", REENTRY_TEXT, []]]
    # The import failed with the inner fault: the outer call faults too, and
    # the next call fills the cache.
    assert outer == [
        ["PanicException", "could not import collections.abc.Sequence: PanicException: "
         + REENTRY_TEXT, []],
        NOT_A_SEQUENCE,
    ]


def test_probe_cache_reentry():
    pytest.importorskip("_frame_probe")
    result = run_fresh("""
        import _frame_probe as probe
        seen = []
        def initialiser():
            try:
                probe.cached()
            except BaseException as error:
                seen.append([type(error).__name__, str(error)])
            return "filled"
        probe.set_cache_initialiser(initialiser)
        report([probe.cached(), probe.cached(), seen, probe.cache_initialiser_run_count()])
    """)
    assert result == ["filled", "filled",
                      [["PanicException",
                        "probe cache: asked for again by the thread that is filling it"]], 1]


def test_fork_while_another_thread_fills_a_cache():
    pytest.importorskip("_frame_probe")
    result = run_fresh("""
        import os, threading, time, warnings
        import _frame_probe as probe
        warnings.simplefilter("ignore", DeprecationWarning)  # fork with threads
        parent = os.getpid()
        inside, release = threading.Event(), threading.Event()
        def initialiser():
            if os.getpid() != parent:
                return "child"
            inside.set()
            release.wait()
            return "parent"
        probe.set_cache_initialiser(initialiser)
        results = []
        filler = threading.Thread(target=lambda: results.append(probe.cached()))
        filler.start()
        inside.wait()
        child = os.fork()
        if child == 0:
            os._exit(0 if probe.cached() == "child" else 3)
        deadline = time.monotonic() + 60
        while (waited := os.waitpid(child, os.WNOHANG))[0] == 0 and time.monotonic() < deadline:
            time.sleep(0.01)
        if waited[0] == 0:
            os.kill(child, 9)
            os.waitpid(child, 0)
        release.set()
        filler.join()
        report([waited[0] == child and os.waitstatus_to_exitcode(waited[1]),
                results, probe.cached()])
    """)
    assert result == [0, ["parent"], "parent"]


LEGACY_USE = """
import sys
sys.path.insert(0, {module_dir!r})
import _native, _frame_probe as probe
try:
    _native.decompress_grd_blocks(b"", 5, 0)
except TypeError as error:
    assert error.__notes__ == ["while processing 'payloads'"], error.__notes__
panic = probe.panic_type()
try:
    probe.fault("inside")
except BaseException as error:
    assert type(error) is panic and error.args == ("inside",)
"""


def test_legacy_subinterpreters_share_the_caches():
    """Legacy sub-interpreters (shared allocator and interned strings) use
    the process's caches; what the first one filled stays usable in the main
    interpreter after it has ended."""
    pytest.importorskip("_testcapi")
    pytest.importorskip("_frame_probe")
    use = LEGACY_USE.format(module_dir=MODULE_DIR)
    result = run_fresh(f"""
        import _testcapi
        codes = [_testcapi.run_in_subinterp({use!r}) for _ in range(2)]
        exec({use!r})
        report([codes, panic.__name__, panic.__module__, panic.__bases__ == (BaseException,)])
    """)
    assert result == [[0, 0], "PanicException", "pyo3_runtime", True]


def calls_in_worker(seed):
    return outcomes(mixed_calls(seed))


# Windows has only spawn; fork and forkserver run wherever the system has them.
@pytest.mark.parametrize("method", [
    pytest.param(method, marks=pytest.mark.skipif(
        method not in multiprocessing.get_all_start_methods(),
        reason=f"no {method} start method on this system"))
    for method in ("fork", "spawn", "forkserver")])
def test_workers_decode_like_the_parent(method):
    expected = [outcomes(mixed_calls(seed)) for seed in range(3)]
    context = multiprocessing.get_context(method)
    with context.Pool(2) as pool:
        assert pool.map(calls_in_worker, range(3)) == expected


# ---------------------------------------------------------------------------
# Embedding: Py_Initialize, use the module, Py_FinalizeEx, three times over.

EMBEDDED_USE = """
import sys
sys.path.insert(0, {module_dir!r})
import _native
try:
    _native.decompress_grd_blocks(b"", 5, 0)
except TypeError as error:
    assert str(error) == "'int' object is not an instance of 'Sequence'", error
    assert error.__notes__ == ["while processing 'payloads'"], error.__notes__
assert _native.__all__[0] == "ping" and _native.ping.__name__ == "ping"
try:
    import _frame_probe as probe
except ImportError:
    probe = None
if probe is not None:
    panic = probe.panic_type()
    assert (panic.__module__, panic.__name__) == ("pyo3_runtime", "PanicException")
    assert panic.__bases__ == (BaseException,)
    # Created in this runtime: its collector tracks it (a class left over
    # from a finalised runtime is tracked by none).
    import gc
    assert any(o is panic for o in gc.get_objects()), "PanicException of another runtime"
    try:
        probe.fault("round")
    except BaseException as error:
        assert type(error) is panic, type(error)
        assert error.args == ("round",)
import collections.abc
assert collections.abc.Sequence is not None
print("round done", flush=True)
"""


def test_runtime_finalised_and_initialised_again(tmp_path):
    completed = run_embedded(tmp_path, 3, EMBEDDED_USE.format(module_dir=MODULE_DIR))
    assert completed.returncode == 0, completed.stdout + completed.stderr
    assert completed.stdout.splitlines() == ["round done"] * 3
