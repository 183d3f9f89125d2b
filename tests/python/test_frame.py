"""The frame's fault, error and cache paths, through the test-only
_frame_probe module, which shares the frame's code with _native."""
import sys
import threading
import time

import pytest

probe = pytest.importorskip("_frame_probe")

GENERIC_FAULT_TEXT = "internal fault in the native code of _native (no message given)"


def panic_class():
    return probe.panic_type()


@pytest.mark.parametrize("call, text", [
    (lambda: probe.fault("boom"), "boom"),
    (lambda: probe.fault_detached("fault while detached"), "fault while detached"),
    (probe.fault_without_text, GENERIC_FAULT_TEXT),
    (probe.capacity_overflow, "capacity overflow"),
    (lambda: probe.fault("ünïcödé"), "ünïcödé"),
])
def test_internal_fault_becomes_panic_exception(call, text):
    with pytest.raises(BaseException) as info:
        try:
            call()
        except Exception:  # a PanicException must get past this
            pytest.fail("PanicException was caught as an Exception")
    assert type(info.value) is panic_class()
    assert info.value.args == (text,)


def test_panic_exception_class():
    cls = panic_class()
    assert cls is panic_class()
    assert cls.__module__ == "pyo3_runtime"
    assert cls.__name__ == "PanicException"
    assert cls.__bases__ == (BaseException,)
    assert not issubclass(cls, Exception)
    assert cls.__doc__.startswith("\n") and cls.__doc__.endswith("\n")
    assert "BaseException" in cls.__doc__ and "SystemExit" in cls.__doc__
    with pytest.raises(cls) as first:
        probe.fault("a")
    with pytest.raises(cls) as second:
        probe.fault_detached("b")
    assert type(first.value) is type(second.value) is cls


def test_thread_is_attached_again_after_a_detached_fault():
    for _ in range(3):
        with pytest.raises(BaseException):
            probe.fault_detached("x")
    # Interpreter work on this thread and others still runs normally.
    results = []
    worker = threading.Thread(target=lambda: results.append(sum(range(1000))))
    worker.start()
    worker.join()
    assert results == [499500]


def test_exhausted_native_memory_is_memory_error():
    with pytest.raises(MemoryError):
        probe.out_of_memory()


@pytest.mark.parametrize("exc_type", [KeyError, ValueError, IndexError, OSError])
def test_deferred_error_of_an_exception_class(exc_type):
    with pytest.raises(exc_type) as info:
        probe.deferred(exc_type, "message")
    assert type(info.value) is exc_type
    assert info.value.args == ("message",)


@pytest.mark.parametrize("not_a_class", [int, object, 5, None, "ValueError", ValueError("x")])
def test_deferred_error_whose_type_is_no_exception_class(not_a_class):
    with pytest.raises(TypeError) as info:
        probe.deferred(not_a_class, "message")
    assert type(info.value) is TypeError
    assert info.value.args == ("exceptions must derive from BaseException",)


def test_fetch_with_nothing_set():
    with pytest.raises(SystemError) as info:
        probe.fetch_with_nothing_set()
    assert info.value.args == ("attempted to fetch exception but none was set",)


def test_fetched_exception_passes_unchanged():
    error = LookupError("original")

    def fail():
        raise error

    with pytest.raises(LookupError) as info:
        probe.call_and_fetch(fail)
    assert info.value is error
    assert info.value.__traceback__ is not None


def test_fetched_panic_exception_resumes_as_fault(capfd):
    cls = panic_class()

    def fail():
        raise cls("inner fault")

    with pytest.raises(cls) as info:
        probe.call_and_fetch(fail)
    assert info.value.args == ("inner fault",)
    err = capfd.readouterr().err
    assert "Python stack trace below:" in err
    assert "inner fault" in err


def test_fetched_panic_subclass_is_an_ordinary_error():
    sub = type("Sub", (panic_class(),), {})

    def fail():
        raise sub("plain")

    with pytest.raises(sub) as info:
        probe.call_and_fetch(fail)
    assert type(info.value) is sub


def test_call_that_must_not_fail(monkeypatch):
    seen = []
    monkeypatch.setattr(sys, "unraisablehook", lambda u: seen.append(u))
    with pytest.raises(BaseException) as info:
        probe.must_not_fail_failing(ValueError)
    assert type(info.value) is panic_class()
    assert info.value.args == ("PyObject pointer is null",)
    assert len(seen) == 1
    assert type(seen[0].exc_value) is ValueError
    assert str(seen[0].exc_value) == "failure that must not happen"


def test_process_cache_is_filled_once_across_threads():
    made = []

    def slow_initialiser():
        time.sleep(0.2)  # gives every other thread time to arrive
        made.append(object())
        return made[-1]

    probe.set_cache_initialiser(slow_initialiser)
    barrier = threading.Barrier(8)
    results = [None] * 8

    def worker(i):
        barrier.wait()
        results[i] = probe.cached()

    threads = [threading.Thread(target=worker, args=(i,)) for i in range(8)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert probe.cache_initialiser_run_count() == 1
    assert len(made) == 1
    assert all(r is made[0] for r in results)
    assert probe.cached() is made[0]
