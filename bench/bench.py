"""Benchmarks of the _native module against what a user has without it.

    python bench/bench.py [--quick] [--module-dir DIR] [--data-tool PATH] [--chart PATH]

Every module function is timed against its alternatives (the plain-Python
reference decoders in tests/python, Python's zlib, numpy) on data generated
here: synthetic sets from fixed seeds, and a "mixed" corpus of this machine's
own text files and binaries, coded with the project's LZRW1 encoder and Speed
chain builder (the data tool, bench/bench_data.cpp).  One table of
comparisons; the inflation functions side by side with every peer inflater
from PyPI (bench/requirements.txt), on survey-like data and on long matches
at short distances; their peak memory on large outputs and on large streams
that fail near their end; then the scaling of each function over sizes
spanning at least 100x, the throughput of the functions with one and
two threads, and one large grid split across a pool of two threads (the
README's example) against one call over it.

Each comparison runs in a fresh subprocess, and the peak memory of each side
in a fresh subprocess of its own, so that no allocator state carries over.
Peak memory is the growth of the process's resident high-water mark (VmHWM,
the figure getrusage reports as ru_maxrss) over the resident size just before
the call, reset through /proc/self/clear_refs where the kernel allows it.
VmHWM is read from /proc because ru_maxrss of a child started by vfork+exec,
as subprocess does, can still carry the parent's peak.

--chart PATH draws the inflaters table as a PNG bar chart (MB/s of the
module and of each peer per data set) with matplotlib, imported only then.

Every result is checked against the content it was made from.  The exit
status is 1 when a module function gives a wrong result or fails, never
because of a time; --quick (for CI) uses small data and few repetitions.
"""
import argparse
import gc
import json
import math
import os
import platform
import shutil
import statistics
import subprocess
import sys
import tempfile
import threading
import time
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
KiB = 1024
MiB = 1024 * KiB

SPEED_STORED_RAW = 0xF0E1D2C3
SEED = 20261208

# --------------------------------------------------------------- helpers


def size_label(n):
    for unit, name in ((MiB, "MiB"), (KiB, "KiB")):
        if n >= unit and n % unit == 0:
            return f"{n // unit} {name}"
    if n >= MiB:
        return f"{n / MiB:.1f} MiB"
    if n >= KiB:
        return f"{n / KiB:.1f} KiB"
    return f"{n} B"


def time_label(seconds):
    if seconds is None:
        return "-"
    if seconds >= 1:
        return f"{seconds:.2f} s"
    if seconds >= 1e-3:
        return f"{seconds * 1e3:.2f} ms"
    return f"{seconds * 1e6:.1f} us"


def ratio_label(ratio):
    return f"{ratio:.2f}x" if ratio < 10 else f"{ratio:.0f}x"


def proc_status_kib(field):
    try:
        with open("/proc/self/status") as status:
            for line in status:
                if line.startswith(field + ":"):
                    return int(line.split()[1])
    except OSError:
        pass
    return None


def reset_peak_rss():
    """Sets the resident high-water mark to the current resident size."""
    try:
        with open("/proc/self/clear_refs", "w") as f:
            f.write("5")
        return True
    except OSError:
        return False


def best_time(call, budget, min_samples, max_samples):
    """(best, median) CPU seconds per call.  Quick calls are timed in
    batches of about 2 ms, so that the clock's own cost does not count;
    at least min_samples samples, more while within budget.  Garbage
    collection is off, as in timeit.

    CPU time of the process (all its threads; these calls use one) rather
    than wall time, so that other work on a shared machine disturbs the
    figures less; on a quiet machine the two agree for these calls, which
    do no I/O.
    """
    clock = time.process_time
    gc_was_enabled = gc.isenabled()
    gc.disable()
    try:
        t0 = clock()
        call()
        first = clock() - t0
        batch = max(1, int(0.002 / first)) if first < 0.002 else 1
        samples = [first] if batch == 1 else []  # a slow call counts at once
        started = time.perf_counter()
        while len(samples) < min_samples or (
                len(samples) < max_samples and time.perf_counter() - started < budget):
            t0 = clock()
            for _ in range(batch):
                call()
            samples.append((clock() - t0) / batch)
    finally:
        if gc_was_enabled:
            gc.enable()
    return min(samples), statistics.median(samples)


# ------------------------------------------------------------ data sets
#
# A data set is a dict: function, label, files (name -> path, read as bytes
# in the worker), params (JSON-able), in_size, out_size.


class DataMaker:
    def __init__(self, tool, directory):
        self.tool = tool
        self.directory = directory
        self.cache = {}

    def _run(self, args, stdin=None):
        done = subprocess.run([self.tool, *map(str, args)], input=stdin,
                              stdout=subprocess.PIPE, check=True)
        return done.stdout

    def content(self, name, size, seed=SEED):
        key = ("content", name, size, seed)
        if key not in self.cache:
            self.cache[key] = self._run(["content", name, size, seed])
            assert len(self.cache[key]) == size
        return self.cache[key]

    def lzrw1(self, content, literal=False):
        return self._run(["lzrw1_literal" if literal else "lzrw1"], stdin=content)

    def speed(self, content, coding):
        return self._run(["speed", coding], stdin=content)

    def column(self, count, width, min_name, max_name, seed=SEED):
        return self._run(["column", count, width, min_name, max_name, seed])

    def save(self, tag, **blobs):
        paths = {}
        for name, blob in blobs.items():
            path = os.path.join(self.directory, f"{tag}.{name}")
            with open(path, "wb") as f:
                f.write(blob)
            paths[name] = path
        return paths


def lzrw1_set(maker, label, size):
    if label == "all-literal":
        content = maker.content("random", size)
        stream = maker.lzrw1(content, literal=True)
    else:
        content = maker.content({"long-run": "long_run"}.get(label, label), size)
        stream = maker.lzrw1(content)
    tag = f"lzrw1-{label}-{size}"
    return dict(function="lzrw1_decompress", label=label,
                files=maker.save(tag, input=stream, expect=content),
                params={}, in_size=len(stream), out_size=size)


def speed_set(maker, coding, source, size):
    content = maker.content(source, size)
    blob = maker.speed(content, coding)
    label = {"stored_raw": "stored-raw", "lzrw1": "LZRW1",
             "automatic": "auto"}[coding] + f" chain, {source}"
    tag = f"speed-{coding}-{source}-{size}"
    return dict(function="decode_speed_blob", label=label,
                files=maker.save(tag, input=blob, expect=content),
                params={}, in_size=len(blob), out_size=size)


def source_label(source):
    """The data-tool name of a content kind as a table shows it."""
    if source.startswith("period_"):
        return f"period {source[len('period_'):]}"
    if source.startswith("grid_blank_"):
        return f"grid {source[len('grid_blank_'):]}% dummy"
    return source


def zlib_set(maker, size, source="mixed"):
    content = maker.content(source, size)
    stream = zlib.compress(content, 6)
    tag = f"zlib-{source}-{size}"
    return dict(function="zlib_decompress", label=f"{source_label(source)} {size_label(size)}",
                files=maker.save(tag, input=stream, expect=content),
                params={}, in_size=len(stream), out_size=size)


# zlib's error codes and the module's message for the same verdict.
FAILURE_MESSAGES = {-5: "zlib_decompress: incomplete deflate stream",
                    -3: "zlib_decompress: corrupt deflate stream"}


def failing_zlib_set(maker, size, damage):
    """A zlib stream of `size` bytes of grid content that fails near its
    end: "cut" drops its last 1 KiB, "damaged" overwrites 16 bytes 4 KiB
    before the end.  params["fails"] is the module's message for zlib's
    verdict on it."""
    stream = bytearray(zlib.compress(maker.content("grid", size), 6))
    if damage == "cut":
        del stream[-1024:]
    else:
        stream[-4096:-4080] = bytes(range(0x55, 0x65))
    try:
        zlib.decompress(stream)
    except zlib.error as error:
        code = int(str(error).split()[1].rstrip(":"))  # "Error -5 while ..."
    else:
        raise AssertionError(f"the {damage} stream inflates")
    tag = f"zlib-failing-{damage}-{size}"
    return dict(function="zlib_decompress",
                label=f"grid {size_label(size)}, {'cut short' if damage == 'cut' else 'damaged'}",
                files=maker.save(tag, input=bytes(stream)),
                params={"fails": FAILURE_MESSAGES[code], "zlib_code": code},
                in_size=len(stream), out_size=size)


def grid_set(maker, total, block):
    content = maker.content("grid", total)
    body = bytearray()
    payloads = []
    block_sizes = []
    for pos in range(0, total, block):
        payload = zlib.compress(content[pos:pos + block], 6)
        body += b"\xab" * 16                      # the block's sub-header
        payloads.append((len(body), len(payload)))
        block_sizes.append(len(content[pos:pos + block]))
        body += payload
    tag = f"grid-{total}-{block}"
    return dict(function="decompress_grd_blocks",
                label=f"{size_label(block)} blocks x{len(payloads)}",
                files=maker.save(tag, input=bytes(body), expect=content),
                params={"payloads": payloads, "size_hint": total, "block_sizes": block_sizes},
                in_size=len(body), out_size=total)


def column_set(maker, shape, count):
    if shape == "narrow":
        width, lo, hi = 16, 16, 16
        label = f"narrow {count // 1000}k x 16 B, full"
    else:
        width, lo, hi = 64, 5, 8
        label = f"wide {count // 1000}k x 64 B, 5-8 chars"
    column = maker.column(count, width, lo, hi)
    max_len = 0
    for start in range(0, len(column), width):
        nul = column.find(b"\0", start, start + width)
        max_len = max(max_len, width if nul < 0 else nul - start)
    tag = f"column-{shape}-{count}"
    return dict(function="decode_fixed_width_strings_ucs4", label=label,
                files=maker.save(tag, input=column),
                params={"width": width, "count": count, "max_len": max_len},
                in_size=len(column), out_size=count * max_len * 4)


# ------------------------------------------------------------- the calls
#
# Built in the worker: (callable, check) pairs for the module function and
# each alternative.  A check takes the call's result and returns True when
# it is right.

ALTERNATIVES = {
    "lzrw1_decompress": ["reference"],
    "decode_speed_blob": ["reference"],
    "zlib_decompress": ["zlib.decompress", "bytearray(decompressobj)", "reference"],
    "decompress_grd_blocks": ["per-block loop", "reference"],
    "decode_fixed_width_strings_ucs4": ["per-record expr", "numpy astype", "uint8 widening"],
}

ALTERNATIVE_TEXT = {
    "reference": "plain-Python reference",
    "zlib.decompress": "zlib.decompress",
    "bytearray(decompressobj)": "bytearray(decompressobj().decompress)",
    "per-block loop": "out += decompressobj().decompress(body[o:o+n])",
    "per-record expr": "per-record split/decode",
    "numpy astype": "np.frombuffer(S{w}).astype(U{max_len})",
    # The memory bound of a column whose records fill their width: every
    # input byte widened to 4, nothing else (the same output bytes then).
    "uint8 widening": "np.frombuffer(u8).astype(u32)",
}


def load_references():
    sys.path.insert(0, os.path.join(ROOT, "tests", "python"))
    refs = {}
    for module_name, names in (("lzrw1_reference", ("lzrw1_decompress", "decode_speed_blob")),
                               ("zlib_reference", ("zlib_decompress", "decompress_grd_blocks"))):
        try:
            module = __import__(module_name)
        except ImportError:
            continue
        for name in names:
            if callable(getattr(module, name, None)):
                refs[name] = getattr(module, name)
    return refs


def read(path):
    with open(path, "rb") as f:
        return f.read()


def build_calls(native, ds, want):
    """{"native": (call, check), alternative: (call, check) or None}, with
    only the entries named in `want`."""
    fn = ds["function"]
    files, params = ds["files"], ds["params"]
    data = read(files["input"])
    expect = read(files["expect"]) if "expect" in files else None
    refs = load_references() if any(w != "native" for w in want) else {}
    calls = {}

    def equal_expect(result):
        return result == expect

    if fn == "lzrw1_decompress":
        n = len(expect)
        calls["native"] = (lambda: native.lzrw1_decompress(data, 0, n), equal_expect)
        ref = refs.get("lzrw1_decompress")
        calls["reference"] = ref and (lambda: ref(data, 0, n), equal_expect)
    elif fn == "decode_speed_blob":
        n = len(expect)
        calls["native"] = (lambda: native.decode_speed_blob(data, n), equal_expect)
        ref = refs.get("decode_speed_blob")
        calls["reference"] = ref and (lambda: ref(data, n), equal_expect)
    elif fn == "zlib_decompress" and "fails" in params:
        # A stream that fails: each call returns the exception it raised.
        message, code = params["fails"], params["zlib_code"]

        def raised(inflate):
            def call():
                try:
                    inflate(data)
                except Exception as error:
                    return error
                return None
            return call

        calls["native"] = (raised(native.zlib_decompress),
                           lambda error: type(error) is ValueError and str(error) == message)
        calls["zlib.decompress"] = (
            raised(zlib.decompress),
            lambda error: isinstance(error, zlib.error) and str(error).startswith(f"Error {code} "))
    elif fn == "zlib_decompress":
        calls["native"] = (lambda: native.zlib_decompress(data), equal_expect)
        calls["zlib.decompress"] = (lambda: zlib.decompress(data), equal_expect)
        calls["bytearray(decompressobj)"] = (
            lambda: bytearray(zlib.decompressobj().decompress(data)), equal_expect)
        ref = refs.get("zlib_decompress")
        calls["reference"] = ref and (lambda: ref(data), equal_expect)
    elif fn == "decompress_grd_blocks":
        payloads = [tuple(p) for p in params["payloads"]]
        hint = params["size_hint"]

        def grid_ok(result):
            return result[0] == len(payloads) and result[1] == expect

        def per_block_loop():
            out = bytearray()
            for off, length in payloads:
                out += zlib.decompressobj().decompress(data[off:off + length])
            return len(payloads), out

        calls["native"] = (lambda: native.decompress_grd_blocks(data, payloads, hint), grid_ok)
        calls["per-block loop"] = (per_block_loop, grid_ok)
        ref = refs.get("decompress_grd_blocks")
        calls["reference"] = ref and (lambda: ref(data, payloads, hint), grid_ok)
    elif fn == "decode_fixed_width_strings_ucs4":
        import numpy as np
        width, count, max_len = params["width"], params["count"], params["max_len"]

        def per_record():
            return [data[i * width:(i + 1) * width].split(b"\x00")[0]
                    .decode("ascii", errors="replace") for i in range(count)]

        def native_array():
            found, buffer = native.decode_fixed_width_strings_ucs4(data, width, count)
            return np.frombuffer(buffer, dtype=f"<U{found}")

        # The list every implementation must match, made once, untimed.
        truth = per_record() if ds.get("check", True) else None

        def array_ok(array):
            return truth is None or (array.dtype == np.dtype(f"<U{max_len}")
                                     and array.tolist() == truth)

        calls["native"] = (native_array, array_ok)
        calls["per-record expr"] = (per_record, lambda result: truth is None or result == truth)
        calls["numpy astype"] = (
            lambda: np.frombuffer(data, dtype=f"S{width}").astype(f"U{max_len}"), array_ok)
        if max_len == width:
            calls["uint8 widening"] = (
                lambda: np.frombuffer(data, np.uint8).astype(np.uint32),
                lambda array: truth is None or array.view(f"<U{width}").tolist() == truth)
    else:
        raise ValueError(f"unknown function {fn}")
    return {name: calls.get(name) for name in want}


# ---------------------------------------------------------------- workers


def import_native(module_dir):
    if module_dir:
        sys.path.insert(0, module_dir)
    import _native
    return _native


def worker_compare(job):
    """Checks and times the module function and one alternative."""
    native = import_native(job["module_dir"])
    ds, alt = job["dataset"], job["alternative"]
    calls = build_calls(native, ds, ["native", alt])
    out = {"native_ok": None, "alt_ok": None, "native": None, "alt": None, "error": None}
    budget, reps = job["budget"], job["reps"]
    try:
        call, check = calls["native"]
        out["native_ok"] = bool(check(call()))
    except Exception as error:  # a failing module function is a wrong result
        out["native_ok"] = False
        out["error"] = f"{type(error).__name__}: {error}"
    if out["native_ok"]:
        out["native"] = best_time(calls["native"][0], budget, reps[0], reps[1])
    if calls[alt] is not None:
        call, check = calls[alt]
        try:
            out["alt_ok"] = bool(check(call()))
        except Exception as error:
            out["alt_ok"] = False
            out["alt_error"] = f"{type(error).__name__}: {error}"
        if out["alt_ok"]:
            # Slow alternatives get one call (or a few) within the budget.
            out["alt"] = best_time(call, budget, 1, reps[1])
    return out


def worker_memory(job):
    """Peak resident growth of the first call of one implementation."""
    native = import_native(job["module_dir"])
    calls = build_calls(native, dict(job["dataset"], check=False), [job["which"]])
    entry = calls[job["which"]]
    if entry is None:
        return {"peak": None}
    call = entry[0]
    gc.collect()
    try:  # hand free heap pages back, so that the call's own pages count
        import ctypes
        ctypes.CDLL(None).malloc_trim(0)
    except (OSError, AttributeError):
        pass
    exact = reset_peak_rss()
    before = proc_status_kib("VmRSS")
    t0 = time.process_time()
    result = call()
    first = time.process_time() - t0
    peak = proc_status_kib("VmHWM")
    del result
    if before is None or peak is None:
        import resource
        return {"peak": None, "first": first, "method": "unavailable",
                "maxrss": resource.getrusage(resource.RUSAGE_SELF).ru_maxrss}
    return {"peak": max(0, peak - before) * 1024, "first": first,
            "method": "exact" if exact else "upper"}


def worker_scaling(job):
    """Native time per call for each data set of one function."""
    native = import_native(job["module_dir"])
    rows = []
    for ds in job["datasets"]:
        call, check = build_calls(native, dict(ds, check=False), ["native"])["native"]
        ok = bool(check(call()))
        best = best_time(call, job["budget"], job["reps"][0], job["reps"][1]) if ok else None
        rows.append({"ok": ok, "time": best})
    return {"rows": rows}


def worker_threads(job):
    """Wall time of one call alone and of two calls on two threads at once."""
    native = import_native(job["module_dir"])
    call, check = build_calls(native, dict(job["dataset"], check=False), ["native"])["native"]
    if not check(call()):
        return {"ok": False}
    calls_per_thread = job["calls"]

    def run(threads):
        barrier = threading.Barrier(threads + 1)
        done = []

        def body():
            barrier.wait()
            for _ in range(calls_per_thread):
                call()
            done.append(time.perf_counter())

        workers = [threading.Thread(target=body) for _ in range(threads)]
        for w in workers:
            w.start()
        barrier.wait()
        start = time.perf_counter()
        for w in workers:
            w.join()
        return max(done) - start

    one = min(run(1) for _ in range(job["trials"]))
    two = min(run(2) for _ in range(job["trials"]))
    return {"ok": True, "one": one, "two": two}


def worker_pool(job):
    """Wall time of one call over a grid's blocks and of the README's thread
    pool over the same blocks; both results checked."""
    native = import_native(job["module_dir"])
    sys.path.insert(0, os.path.join(ROOT, "tests", "python"))
    from readme_example import readme_function
    threaded = readme_function("decompress_grd_blocks_threaded")
    ds, workers = job["dataset"], job["workers"]
    call, check = build_calls(native, dict(ds, check=False), ["native"])["native"]
    data = read(ds["files"]["input"])
    payloads = [tuple(p) for p in ds["params"]["payloads"]]
    hint = ds["params"]["size_hint"]

    def pooled():
        return threaded(data, payloads, hint, workers)

    if not (check(call()) and check(pooled())):
        return {"ok": False}

    def wall(run):
        best = math.inf
        for _ in range(job["trials"]):
            start = time.perf_counter()
            for _ in range(job["calls"]):
                run()
            best = min(best, time.perf_counter() - start)
        return best

    return {"ok": True, "one": wall(call), "pool": wall(pooled)}


def worker_selfcheck(job):
    """Known answers, error kinds included: the README's examples."""
    import struct
    native = import_native(job["module_dir"])
    failures = []

    def expect(label, got, want):
        if got != want:
            failures.append(f"{label}: got {got!r}, want {want!r}")

    def expect_raises(label, kind, call):
        try:
            call()
        except kind:
            return
        except Exception as error:
            failures.append(f"{label}: raised {type(error).__name__}, want {kind.__name__}")
            return
        failures.append(f"{label}: no exception, want {kind.__name__}")

    expect("ping", native.ping(), "pong")
    expect("zlib", native.zlib_decompress(zlib.compress(b"channel data") + b"\0" * 100),
           bytearray(b"channel data"))
    expect_raises("zlib empty", ValueError, lambda: native.zlib_decompress(b""))
    expect("lzrw1", native.lzrw1_decompress(bytes.fromhex("02 00 61 0F 01"), 0, 17),
           bytearray(b"a" * 17))
    expect_raises("lzrw1 short", IndexError,
                  lambda: native.lzrw1_decompress(bytes.fromhex("00 00 41"), 0, 2))
    blob = (b"\0" * 8 + struct.pack("<i", 1) + b"\0" * 4
            + struct.pack("<iiI", 5, 17, SPEED_STORED_RAW) + b"hello")
    expect("speed", native.decode_speed_blob(blob, 0), bytearray(b"hello"))
    expect_raises("speed subtype", ValueError,
                  lambda: native.decode_speed_blob(b"\0" * 8 + struct.pack("<i", 2) + b"\0" * 20, 0))
    body = zlib.compress(b"row 0 ") + zlib.compress(b"row 1 ")
    expect("grid", native.decompress_grd_blocks(body, [(0, 14), (14, 14)], 12),
           (2, bytearray(b"row 0 row 1 ")))
    expect("grid stops", native.decompress_grd_blocks(body, [(0, 14), (14, 99)], 0),
           (1, bytearray(b"row 0 ")))
    expect("fixed", native.decode_fixed_width_strings_ucs4(b"a\0b\xff\xfe\0", 3, 2),
           (2, bytearray(bytes.fromhex("61000000 00000000 fdff0000 fdff0000"))))
    return {"failures": failures}


# Peer inflaters from PyPI (bench/requirements.txt): what a user could call
# instead.  Each entry: name -> (import, call on (data, exact size)).
def peer_inflaters():
    found = {"zlib": lambda data, size: zlib.decompress(data)}
    try:
        from isal import isal_zlib
        found["isal"] = lambda data, size: isal_zlib.decompress(data)
    except ImportError:
        pass
    try:
        from zlib_ng import zlib_ng
        found["zlib-ng"] = lambda data, size: zlib_ng.decompress(data)
    except ImportError:
        pass
    try:
        import deflate
        found["libdeflate"] = lambda data, size: deflate.zlib_decompress(data, size)
    except ImportError:
        pass
    return found


INFLATER_COLUMNS = ["zlib", "isal", "zlib-ng", "libdeflate"]


def worker_inflaters(job):
    """The module function and every peer inflater on one data set, timed
    in turn in one process: {name: best CPU seconds per call or None}."""
    native = import_native(job["module_dir"])
    ds = job["dataset"]
    data = read(ds["files"]["input"])
    expect = read(ds["files"]["expect"])
    peers = peer_inflaters()
    calls = {}
    if ds["function"] == "zlib_decompress":
        calls["native"] = lambda: native.zlib_decompress(data)
        for name in INFLATER_COLUMNS:
            if name in peers:
                calls[name] = (lambda f: lambda: f(data, len(expect)))(peers[name])
    else:
        payloads = [tuple(p) for p in ds["params"]["payloads"]]  # JSON made them lists
        hint = ds["params"]["size_hint"]
        calls["native"] = lambda: native.decompress_grd_blocks(data, payloads, hint)[1]
        blocks = [(off, length, size) for (off, length), size
                  in zip(payloads, ds["params"]["block_sizes"])]
        view = memoryview(data)

        def loop(inflate):
            def run():
                out = bytearray()
                for off, length, size in blocks:
                    out += inflate(view[off:off + length], size)
                return out
            return run
        for name in INFLATER_COLUMNS:
            if name in peers:
                calls[name] = loop(peers[name])
    times = {}
    for name, call in calls.items():
        if bytes(call()) != expect:
            times[name] = None
            if name == "native":
                return {"ok": False}
            continue
        times[name] = best_time(call, job["budget"], job["reps"][0], job["reps"][1])[0]
    return {"ok": True, "times": times}


WORKERS = {"compare": worker_compare, "memory": worker_memory, "scaling": worker_scaling,
           "threads": worker_threads, "pool": worker_pool, "selfcheck": worker_selfcheck,
           "inflaters": worker_inflaters}


def spawn(job):
    """Runs one worker job in a fresh interpreter; its JSON result."""
    done = subprocess.run([sys.executable, os.path.abspath(__file__), "--worker"],
                          input=json.dumps(job).encode(), stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE)
    if done.returncode != 0:
        return {"crashed": done.stderr.decode(errors="replace")[-2000:]}
    return json.loads(done.stdout)


# ------------------------------------------------------------------ plans


def plan(maker, quick):
    if quick:
        lz, speed_size, chain_size = 64 * KiB, 64 * KiB, 256 * KiB
        zlib_sizes, grid_total, columns = [1 * KiB, 64 * KiB], 256 * KiB, 20_000
    else:
        lz, speed_size, chain_size = 4 * MiB, 4 * MiB, 16 * MiB
        zlib_sizes, grid_total, columns = [1 * KiB, 64 * KiB, 1 * MiB, 64 * MiB], 8 * MiB, 1_000_000
    sets = []
    for label in ("all-literal", "long-run", "mixed", "survey"):
        sets.append(lzrw1_set(maker, label, lz))
    sets.append(speed_set(maker, "stored_raw", "mixed", chain_size))
    sets.append(speed_set(maker, "lzrw1", "mixed", speed_size))
    sets.append(speed_set(maker, "automatic", "survey", speed_size))
    for size in zlib_sizes:
        sets.append(zlib_set(maker, size))
    for block in (1 * KiB, 4 * KiB, 16 * KiB, 64 * KiB):
        sets.append(grid_set(maker, grid_total, block))
    sets.append(column_set(maker, "narrow", columns))
    sets.append(column_set(maker, "wide", columns))
    return sets


def inflaters_plan(maker, quick):
    sizes = [4 * KiB, 64 * KiB] if quick else [4 * KiB, 64 * KiB, 1 * MiB, 16 * MiB]
    sets = [zlib_set(maker, size, source)
            for source in ("grid", "channel", "csv") for size in sizes]
    # Long matches at short distances: p random bytes repeated, and grids
    # whose blank regions hold one dummy value.
    short = 64 * KiB if quick else 1 * MiB
    sets += [zlib_set(maker, short, f"period_{p}") for p in (1, 2, 3, 4, 8, 16)]
    sets += [zlib_set(maker, short, f"grid_blank_{percent}") for percent in (30, 100)]
    total = 256 * KiB if quick else 8 * MiB
    sets += [grid_set(maker, total, block) for block in (4 * KiB, 64 * KiB)]
    return sets


def memory_plan(maker, quick):
    """(data set, alternative) pairs of the memory table."""
    grid, failing, zeros = (4 * MiB, 8 * MiB, 16 * MiB) if quick else (64 * MiB, 256 * MiB, 256 * MiB)
    return [
        (zlib_set(maker, grid, "grid"), "zlib.decompress"),
        (grid_set(maker, grid, 64 * KiB), "per-block loop"),
        (failing_zlib_set(maker, failing, "cut"), "zlib.decompress"),
        (failing_zlib_set(maker, failing, "damaged"), "zlib.decompress"),
        (zlib_set(maker, zeros, "zeros"), "zlib.decompress"),
    ]


def scaling_plan(maker, quick):
    if quick:
        sizes, zsizes, records = [1 * KiB, 16 * KiB, 128 * KiB], [1 * KiB, 16 * KiB, 128 * KiB], [1000, 10_000, 100_000]
    else:
        sizes = [16 * KiB, 256 * KiB, 4 * MiB, 16 * MiB]
        zsizes = [1 * KiB, 64 * KiB, 4 * MiB]
        records = [10_000, 100_000, 1_000_000]
    groups = [
        ("lzrw1_decompress", [lzrw1_set(maker, "mixed", s) for s in sizes]),
        ("decode_speed_blob", [speed_set(maker, "lzrw1", "mixed", s) for s in sizes]),
        ("decode_speed_blob", [speed_set(maker, "stored_raw", "mixed", s) for s in sizes]),
        ("zlib_decompress", [zlib_set(maker, s) for s in zsizes]),
        ("decompress_grd_blocks", [grid_set(maker, s, min(s, 16 * KiB)) for s in sizes]),
        ("decode_fixed_width_strings_ucs4", [column_set(maker, "wide", n) for n in records]),
    ]
    return groups


def threads_plan(maker, quick):
    size = 256 * KiB if quick else 4 * MiB
    return [
        lzrw1_set(maker, "mixed", size),
        speed_set(maker, "lzrw1", "mixed", size),
        zlib_set(maker, size),
        grid_set(maker, size, 16 * KiB),
        column_set(maker, "wide", 20_000 if quick else 1_000_000),
    ]


def pool_plan(maker, quick):
    total = 256 * KiB if quick else 16 * MiB
    return [grid_set(maker, total, block) for block in (16 * KiB, 64 * KiB)]


# ------------------------------------------------------------------ output


def print_table(headers, rows, aligns):
    widths = [max(len(str(h)), *(len(str(r[i])) for r in rows)) if rows else len(h)
              for i, h in enumerate(headers)]

    def line(cells):
        return "| " + " | ".join(str(c).rjust(w) if a == "r" else str(c).ljust(w)
                                 for c, w, a in zip(cells, widths, aligns)) + " |"

    print(line(headers))
    print("|" + "|".join(("-" * (w + 1) + ":") if a == "r" else ("-" * (w + 2))
                         for w, a in zip(widths, aligns)) + "|")
    for row in rows:
        print(line(row))


def load_pyplot():
    """matplotlib's pyplot on the Agg backend (files only, no display).
    Imported here, for --chart only: the quick run needs no matplotlib."""
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot
    return matplotlib.pyplot


# Legend text per column (matplotlib hides labels that start with "_").
CHART_SERIES = {"native": "module (_native)", "zlib": "zlib", "isal": "isal", "zlib-ng": "zlib-ng",
                "libdeflate": "libdeflate"}


def draw_chart(pyplot, path, rows):
    """Horizontal bars of MB/s, one group per data set in the table's
    order, one bar per inflater; rows are (label, {column: MB/s}).  The
    x axis is logarithmic: long matches at short distances run over ten
    times as fast as the rest."""
    from matplotlib.ticker import FuncFormatter, LogLocator
    series = [name for name in CHART_SERIES if any(name in speeds for _, speeds in rows)]
    bar = 0.8 / len(series)
    fig, ax = pyplot.subplots(figsize=(10, 1.6 + 0.5 * len(rows)), layout="constrained")
    for i, name in enumerate(series):
        ys = [g + (i - (len(series) - 1) / 2) * bar
              for g, (_, speeds) in enumerate(rows) if name in speeds]
        ax.barh(ys, [speeds[name] for _, speeds in rows if name in speeds], height=bar,
                label=CHART_SERIES[name], color=f"C{i}")
    ax.set_yticks(range(len(rows)), [label for label, _ in rows])
    ax.set_ylim(len(rows) - 0.5, -0.5)  # the table's first row on top
    ax.set_xscale("log")
    slowest = min(speed for _, speeds in rows for speed in speeds.values())
    ax.set_xlim(left=10 ** math.floor(math.log10(slowest)))  # bars start at a power of ten
    ax.xaxis.set_major_locator(LogLocator(subs=(1, 2, 5)))
    ax.xaxis.set_major_formatter(FuncFormatter(lambda x, _: f"{x:g}"))
    ax.xaxis.set_minor_formatter(FuncFormatter(lambda x, _: ""))
    ax.grid(axis="x", which="major", alpha=0.4)
    ax.set_axisbelow(True)
    ax.set_xlabel("MB/s: output MB (1e6 bytes) per CPU second, best of repeated calls"
                  " (log scale; higher is faster)")
    ax.set_title("zlib_decompress by data set, and decompress_grd_blocks against a Python loop of\n"
                 "each peer over the blocks; content compressed by zlib at level 6\n"
                 f"bench.py, {time.strftime('%Y-%m-%d %H:%M %Z')}, {platform.node()}, "
                 f"Python {platform.python_version()}", fontsize=10)
    fig.legend(loc="outside lower center", ncols=len(series))
    fig.savefig(path, dpi=100)
    pyplot.close(fig)


def machine_header(module_dir):
    cpu = "unknown CPU"
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    cpu = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    try:
        import numpy
        numpy_version = numpy.__version__
    except ImportError:
        numpy_version = "absent"
    load = os.getloadavg()
    print(f"date:        {time.strftime('%Y-%m-%d %H:%M:%S %Z')}")
    print(f"machine:     {platform.node()}, {cpu}, {os.cpu_count()} logical CPUs, "
          f"Linux {platform.release()}")
    print(f"interpreter: {sys.executable}, Python {platform.python_version()} "
          f"({'free-threaded' if not getattr(sys, '_is_gil_enabled', lambda: True)() else 'GIL'}), "
          f"numpy {numpy_version}, zlib {zlib.ZLIB_RUNTIME_VERSION} (shared by _native in this process)")
    print(f"module:      {module_dir}")
    print(f"load:        {load[0]:.2f} {load[1]:.2f} {load[2]:.2f} (1/5/15 min) at start")


SECTIONS = ["comparisons", "inflaters", "memory", "scaling", "threads", "pool"]


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--quick", action="store_true", help="small data, few repetitions; for CI")
    parser.add_argument("--module-dir", default=os.path.join(ROOT, "build", "python"))
    parser.add_argument("--data-tool", default=os.path.join(ROOT, "build-bench", "bench", "native_bench_data"))
    parser.add_argument("--only", metavar="FUNCTION", help="only the rows of this module function")
    parser.add_argument("--section", action="append", choices=SECTIONS,
                        help="only this table (repeatable): " + ", ".join(SECTIONS))
    parser.add_argument("--chart", metavar="PATH",
                        help="after the inflaters table, draw its MB/s as a PNG bar chart "
                             "(needs matplotlib: bench/requirements.txt)")
    parser.add_argument("--worker", action="store_true", help=argparse.SUPPRESS)
    args = parser.parse_args()

    if args.worker:
        job = json.loads(sys.stdin.buffer.read())
        print(json.dumps(WORKERS[job["kind"]](job)))
        return 0

    if not os.access(args.data_tool, os.X_OK):
        print(f"bench.py: no data tool at {args.data_tool}; build it with tools/run-bench "
              f"(or cmake -DNATIVE_BUILD_BENCHMARKS=ON)", file=sys.stderr)
        return 2
    module_dir = os.path.abspath(args.module_dir)
    quick = args.quick
    sections = args.section or SECTIONS
    pyplot = None
    if args.chart:
        if "inflaters" not in sections:
            print("bench.py: --chart draws the inflaters table; give --section inflaters too",
                  file=sys.stderr)
            return 2
        try:
            pyplot = load_pyplot()
        except ImportError:
            print(f"bench.py: --chart needs matplotlib ({sys.executable} -m pip install "
                  f"-r bench/requirements.txt)", file=sys.stderr)
            return 2
    budget = 0.05 if quick else 0.3
    reps = [1, 3] if quick else [3, 50]
    broken = []
    started = time.perf_counter()

    machine_header(module_dir)
    directory = tempfile.mkdtemp(prefix="native-bench-")
    try:
        maker = DataMaker(args.data_tool, directory)

        check = spawn({"kind": "selfcheck", "module_dir": module_dir})
        if "crashed" in check:
            broken.append(f"known answers: worker crashed:\n{check['crashed']}")
        else:
            broken += [f"known answers: {f}" for f in check["failures"]]

        def wanted(fn):
            return args.only is None or fn == args.only

        # ---------------------------------------------------- comparisons
        if "comparisons" in sections:
            print("\nComparisons: native and alt time = CPU time per call, best of repeated calls;"
                  "\n1st call = the native call in a fresh process (its memory not yet mapped);"
                  "\nratio = alt time / native time; MB/s = output MB (1e6 bytes) per CPU second of"
                  "\nthe native call; peak/out = resident memory growth during a fresh process's"
                  "\nfirst call / output size.\n")
            sets = [ds for ds in plan(maker, quick) if wanted(ds["function"])]
            refs_present = set(load_references())
            native_memory = {}
            native_first = {}
            rows = []
            for ds in sets:
                fn = ds["function"]
                for alt in ALTERNATIVES[fn]:
                    job = {"kind": "compare", "module_dir": module_dir, "dataset": ds,
                           "alternative": alt, "budget": budget, "reps": reps}
                    res = spawn(job)
                    key = (fn, ds["label"], ds["in_size"])
                    if "crashed" in res:
                        broken.append(f"{fn} {ds['label']}: worker crashed:\n{res['crashed']}")
                        continue
                    if not res["native_ok"]:
                        broken.append(f"{fn} {ds['label']}: wrong result {res.get('error') or ''}")
                    if res["alt_ok"] is False:
                        print(f"warning: alternative {alt} gave a wrong result on {fn} {ds['label']}"
                              f" {res.get('alt_error', '')}", file=sys.stderr)
                    if key not in native_memory:
                        mem = spawn({"kind": "memory", "module_dir": module_dir, "dataset": ds,
                                     "which": "native"})
                        native_memory[key] = mem.get("peak")
                        native_first[key] = mem.get("first")
                    alt_mem = (spawn({"kind": "memory", "module_dir": module_dir, "dataset": ds,
                                      "which": alt}).get("peak")
                               if res["alt_ok"] else None)
                    out_size = ds["out_size"]
                    native_t = res["native"][0] if res["native"] else None
                    alt_t = res["alt"][0] if res["alt"] else None
                    if alt == "reference" and fn not in refs_present:
                        alt_text = "plain-Python reference (not present yet)"
                    else:
                        alt_text = ALTERNATIVE_TEXT[alt]
                    rows.append([
                        fn, ds["label"], size_label(ds["in_size"]), size_label(out_size),
                        time_label(native_t), time_label(native_first[key]), alt_text, time_label(alt_t),
                        ratio_label(alt_t / native_t) if native_t and alt_t else "-",
                        f"{out_size / native_t / 1e6:.0f}" if native_t else "-",
                        f"{native_memory[key] / out_size:.2f}" if native_memory[key] is not None else "-",
                        f"{alt_mem / out_size:.2f}" if alt_mem is not None else "-",
                    ])
            print_table(["function", "data set", "in", "out", "native", "1st call", "alternative",
                         "alt time", "ratio", "MB/s", "peak/out", "alt peak/out"],
                        rows, "llrrrrlrrrrr")

        # ----------------------------------------------------- inflaters
        if "inflaters" in sections:
            print("\nInflaters side by side: native = CPU time per call of the module function;"
                  "\nthe other columns = that inflater's time / native time (above 1: the module"
                  "\nis faster), all timed in one process, one after the other.  zlib_decompress"
                  "\nagainst zlib.decompress, isal_zlib.decompress, zlib_ng.decompress and"
                  "\ndeflate.zlib_decompress given the exact size (libdeflate); grid blocks against"
                  "\na Python loop of out += <inflater>.decompress(view[o:o+n]) over the blocks"
                  "\n(libdeflate given each block's size).  Content compressed by zlib at level 6;"
                  "\n\"period p\": p random bytes repeated; \"grid N% dummy\": the grid with N% of its"
                  "\ncells set to 1.70141e38 in blank margins of varying width at both ends of its rows.\n")
            rows = []
            chart_rows = []
            for ds in [d for d in inflaters_plan(maker, quick) if wanted(d["function"])]:
                res = spawn({"kind": "inflaters", "module_dir": module_dir, "dataset": ds,
                             "budget": budget, "reps": reps})
                fn = ds["function"]
                if "crashed" in res or not res["ok"]:
                    broken.append(f"{fn} {ds['label']} (inflaters): wrong result or crash "
                                  f"{res.get('crashed', '')}")
                    continue
                times = res["times"]
                native_t = times["native"]
                ratios = [ratio_label(times[c] / native_t) if times.get(c) else "-"
                          for c in INFLATER_COLUMNS]
                label = ds["label"] if fn == "zlib_decompress" else f"grid, {ds['label']}, loop"
                rows.append([fn, label, size_label(ds["out_size"]), time_label(native_t),
                             f"{ds['out_size'] / native_t / 1e6:.0f}", *ratios])
                chart_rows.append((ds["label"] if fn == "zlib_decompress" else f"{fn}, {ds['label']}",
                                   {name: ds["out_size"] / t / 1e6 for name, t in times.items() if t}))
            print_table(["function", "data set", "out", "native", "MB/s", *INFLATER_COLUMNS],
                        rows, "llrrrrrrr")
            if pyplot and chart_rows:
                try:
                    draw_chart(pyplot, args.chart, chart_rows)
                    print(f"\nchart: {args.chart}")
                except OSError as error:
                    print(f"bench.py: chart not written: {error}", file=sys.stderr)
            elif pyplot:
                print("bench.py: no inflater rows, so no chart", file=sys.stderr)

        # --------------------------------------------------------- memory
        if "memory" in sections:
            print("\nMemory: peak/out = growth of the resident high-water mark during the first call"
                  "\nin a fresh process / the output size (for a failing stream: the size the"
                  "\ncontent would have had); 1st call = that call's CPU time; best = best CPU time"
                  "\nof repeated calls; ratio = alternative's best / module's best.  Failing streams:"
                  "\ngrid content cut short (last 1 KiB gone) or damaged 4 KiB before its end; both"
                  "\nsides must fail with the same verdict.\n")
            rows = []
            for ds, alt in [(d, a) for d, a in memory_plan(maker, quick) if wanted(d["function"])]:
                fn, out_size = ds["function"], ds["out_size"]
                peaks, firsts = {}, {}
                for which in ("native", alt):
                    mem = spawn({"kind": "memory", "module_dir": module_dir, "dataset": ds,
                                 "which": which})
                    if "crashed" in mem:
                        broken.append(f"{fn} {ds['label']} (memory, {which}): worker crashed:\n"
                                      f"{mem['crashed']}")
                    peaks[which], firsts[which] = mem.get("peak"), mem.get("first")
                res = spawn({"kind": "compare", "module_dir": module_dir, "dataset": ds,
                             "alternative": alt, "budget": budget, "reps": [1, 3] if quick else [2, 5]})
                if "crashed" in res:
                    broken.append(f"{fn} {ds['label']} (memory): worker crashed:\n{res['crashed']}")
                    continue
                if not res["native_ok"]:
                    broken.append(f"{fn} {ds['label']} (memory): wrong result {res.get('error') or ''}")
                if res["alt_ok"] is False:
                    print(f"warning: {alt} gave a wrong result on {ds['label']}", file=sys.stderr)
                native_t = res["native"][0] if res["native"] else None
                alt_t = res["alt"][0] if res["alt"] else None

                def per_out(peak):
                    return f"{peak / out_size:.2f}" if peak is not None else "-"
                label = ds["label"] if fn == "zlib_decompress" else f"grid, {ds['label']}"
                rows.append([fn, label, size_label(out_size),
                             per_out(peaks["native"]), ALTERNATIVE_TEXT[alt], per_out(peaks[alt]),
                             time_label(firsts["native"]), time_label(firsts[alt]),
                             time_label(native_t), time_label(alt_t),
                             ratio_label(alt_t / native_t) if native_t and alt_t else "-"])
            print_table(["function", "data set", "out", "peak/out", "alternative", "alt peak/out",
                         "1st call", "alt 1st call", "best", "alt best", "ratio"],
                        rows, "llrrlrrrrrr")

        # -------------------------------------------------------- scaling
        if "scaling" in sections:
            print("\nScaling: native CPU time per call and per output byte over sizes spanning >= 100x.\n")
            rows = []
            for fn, group in [g for g in scaling_plan(maker, quick) if wanted(g[0])]:
                res = spawn({"kind": "scaling", "module_dir": module_dir, "datasets": group,
                             "budget": budget, "reps": reps})
                if "crashed" in res:
                    broken.append(f"{fn} scaling: worker crashed:\n{res['crashed']}")
                    continue
                for ds, r in zip(group, res["rows"]):
                    if not r["ok"]:
                        broken.append(f"{fn} {ds['label']} (scaling): wrong result")
                        continue
                    t = r["time"][0]
                    rows.append([fn, ds["label"], size_label(ds["in_size"]), size_label(ds["out_size"]),
                                 time_label(t), f"{t / ds['out_size'] * 1e9:.3f}",
                                 f"{ds['out_size'] / t / 1e6:.0f}"])
            print_table(["function", "data set", "in", "out", "time/call", "ns/out byte", "MB/s"],
                        rows, "llrrrrr")

        # -------------------------------------------------------- threads
        if "threads" in sections:
            print("\nThreads: wall time of calls on one thread, and of the same calls on each of two"
                  "\nthreads at once (2 cores); 2T/1T is 1.0 for perfect overlap, 2.0 when serialised.\n")
            rows = []
            calls = 1 if quick else 3
            for ds in [d for d in threads_plan(maker, quick) if wanted(d["function"])]:
                res = spawn({"kind": "threads", "module_dir": module_dir, "dataset": ds,
                             "calls": calls, "trials": 2 if quick else 5})
                fn = ds["function"]
                if "crashed" in res or not res["ok"]:
                    broken.append(f"{fn} {ds['label']} (threads): wrong result or crash")
                    continue
                out = ds["out_size"] * calls
                rows.append([fn, ds["label"], f"{calls} x {size_label(ds['out_size'])}",
                             time_label(res["one"]), time_label(res["two"]),
                             f"{res['two'] / res['one']:.2f}",
                             f"{out / res['one'] / 1e6:.0f}", f"{2 * out / res['two'] / 1e6:.0f}"])
            print_table(["function", "data set", "per thread", "1 thread", "2 threads", "2T/1T",
                         "MB/s 1T", "MB/s 2T"], rows, "llrrrrrr")

        # ----------------------------------------------------------- pool
        if "pool" in sections and wanted("decompress_grd_blocks"):
            workers = 2
            print(f"\nPool: wall time of one decompress_grd_blocks call over a grid's blocks, and of"
                  f"\nthe README's decompress_grd_blocks_threaded over the same blocks on {workers}"
                  f"\nthreads (one call per thread; the pool's start and the join included);"
                  f"\nspeed-up = one call / pool, {workers}.0 at best.\n")
            rows = []
            calls = 1 if quick else 3
            for ds in pool_plan(maker, quick):
                res = spawn({"kind": "pool", "module_dir": module_dir, "dataset": ds,
                             "workers": workers, "calls": calls, "trials": 2 if quick else 5})
                if "crashed" in res or not res["ok"]:
                    broken.append(f"decompress_grd_blocks {ds['label']} (pool): wrong result or "
                                  f"crash {res.get('crashed', '')}")
                    continue
                out = ds["out_size"] * calls
                rows.append(["decompress_grd_blocks", ds["label"],
                             f"{calls} x {size_label(ds['out_size'])}",
                             time_label(res["one"]), time_label(res["pool"]),
                             f"{res['one'] / res['pool']:.2f}x",
                             f"{out / res['one'] / 1e6:.0f}", f"{out / res['pool'] / 1e6:.0f}"])
            print_table(["function", "data set", "calls", "one call", f"pool of {workers}",
                         "speed-up", "MB/s one", "MB/s pool"], rows, "llrrrrrr")
    finally:
        shutil.rmtree(directory, ignore_errors=True)

    load = os.getloadavg()
    print(f"\nload at end: {load[0]:.2f} {load[1]:.2f} {load[2]:.2f}; "
          f"run took {time.perf_counter() - started:.0f} s")
    if broken:
        print("\nBROKEN:", file=sys.stderr)
        for b in broken:
            print(f"  {b}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
