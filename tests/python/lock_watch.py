"""A watch on the interpreter lock, shared by the tests of the functions
that release it and of the one that must not."""

import sys
import threading
import time


def lock_watch(call):
    """Runs `call` on this thread while another thread counts, and returns
    how far it counted during the call.  With the switch interval out of
    reach, the counter can only move while this thread has released the
    interpreter lock of its own accord."""
    state = {"count": 0, "stop": False}

    def count():
        while not state["stop"]:
            state["count"] += 1
            time.sleep(0.0001)  # hands the lock back

    interval = sys.getswitchinterval()
    sys.setswitchinterval(1000.0)
    worker = threading.Thread(target=count)
    try:
        worker.start()
        before = state["count"]
        call()
        moved = state["count"] - before
    finally:
        state["stop"] = True
        worker.join()
        sys.setswitchinterval(interval)
    return moved


def run_while_rewritten(call, data, states):
    """Runs `call` while another thread keeps rewriting the bytearray `data`
    in place with the `states` (each of len(data)) in turn, starting once
    this thread has released the interpreter lock.  Returns the call's
    result and how many rewrites happened during it."""
    state = {"go": False, "stop": False, "changes": 0}

    def scribble():
        while not state["go"]:
            time.sleep(0.0001)
        while not state["stop"]:
            data[:] = states[state["changes"] % len(states)]
            state["changes"] += 1
            time.sleep(0.0001)

    interval = sys.getswitchinterval()
    sys.setswitchinterval(1000.0)
    worker = threading.Thread(target=scribble)
    try:
        worker.start()
        state["go"] = True  # seen by the worker only once the lock is released
        result = call()
        changes = state["changes"]
    finally:
        state["stop"] = True
        worker.join()
        sys.setswitchinterval(interval)
    return result, changes
