# make              build the module and run the demo (the module's main job)
# make test         build everything and run every test: C++ unit tests, the
#                   same under ASan/UBSan, a short run of every fuzzer, the
#                   quick benchmark check, the reference-count run on the
#                   debug interpreter, then pytest (last, for its summary)
# make bench        the full benchmark table (bench-quick: a smoke run)
# make fuzz         every fuzzer for FUZZ_SECONDS (default 300) seconds
# PYTHON=/path/to/python3.15 uses that interpreter instead of fetching one.

SHELL   := /bin/bash
.SHELLFLAGS := -o pipefail -c

BUILD   ?= build
JOBS    ?= 2
PY      := $(shell tools/provision-python)
PY_DBG  := $(dir $(PY))../../venv-dbg/bin/python
CMAKE   ?= cmake
MODULE_DIR := $(abspath $(BUILD))/python
CI_FUZZ_SECONDS ?= 30
export PYTHON_FOR_TOOLS := $(PY)

.PHONY: all demo build test test-cpp test-sanitize test-fuzz-short test-bench-quick \
        test-refcount test-python bench bench-quick fuzz clean

all: demo

build:
	@test -n "$(PY)" || { echo "no python: tools/provision-python failed" >&2; exit 1; }
	$(CMAKE) -S . -B $(BUILD) -DPython_EXECUTABLE=$(PY) -DCMAKE_BUILD_TYPE=Release > $(BUILD).configure.log 2>&1 \
	  || { cat $(BUILD).configure.log; exit 1; }
	$(CMAKE) --build $(BUILD) -j $(JOBS)

demo: build
	PYTHONPATH=$(MODULE_DIR) $(PY) tools/demo.py

test-cpp: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS) | tail -n 25

test-sanitize:
	tools/run-sanitized-tests

test-fuzz-short:
	FUZZ_SECONDS=$(CI_FUZZ_SECONDS) tools/run-fuzzers

test-bench-quick: build
	tools/run-bench --quick

test-refcount: build
	@if [ -x $(PY_DBG) ]; then \
	  PYTHONPATH=$(MODULE_DIR) $(PY_DBG) -m pytest -q -p no:cacheprovider tests/python/test_refcount.py | tail -n 5; \
	else echo "no debug interpreter: reference-count run skipped"; fi

test-python: build
	PYTHONPATH=$(MODULE_DIR) $(PY) -m pytest -q -p no:cacheprovider tests/python

test: test-cpp test-sanitize test-fuzz-short test-bench-quick test-refcount test-python

bench: build
	tools/run-bench

bench-quick: test-bench-quick

fuzz:
	FUZZ_SECONDS=$${FUZZ_SECONDS:-300} tools/run-fuzzers

clean:
	rm -rf $(BUILD) $(BUILD).configure.log build-asan build-fuzz build-bench
