# make            build the module and run the demo (the module's main job)
# make test       build everything and run every test (C++ unit tests, the
#                 reference-count run on the debug interpreter, then pytest)
# PYTHON=/path/to/python3.15 uses that interpreter instead of fetching one.

SHELL   := /bin/bash
.SHELLFLAGS := -o pipefail -c

BUILD   ?= build
JOBS    ?= 2
PY      := $(shell tools/provision-python)
PY_DBG  := $(dir $(PY))../../venv-dbg/bin/python
CMAKE   ?= cmake
MODULE_DIR := $(abspath $(BUILD))/python

.PHONY: all demo build test test-cpp test-python test-refcount clean

all: demo

build:
	@test -n "$(PY)" || { echo "no python: tools/provision-python failed" >&2; exit 1; }
	$(CMAKE) -S . -B $(BUILD) -DPython_EXECUTABLE=$(PY) -DCMAKE_BUILD_TYPE=Release > $(BUILD).configure.log 2>&1 \
	  || { cat $(BUILD).configure.log; exit 1; }
	$(CMAKE) --build $(BUILD) -j $(JOBS)

demo: build
	PYTHONPATH=$(MODULE_DIR) $(PY) tools/demo.py

test-cpp: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS) 2>&1 | tail -n 25

test-refcount: build
	@if [ -x $(PY_DBG) ]; then \
	  PYTHONPATH=$(MODULE_DIR) $(PY_DBG) -m pytest -q -p no:cacheprovider tests/python/test_refcount.py 2>&1 | tail -n 5; \
	else echo "no debug interpreter: reference-count run skipped"; fi

test-python: build
	PYTHONPATH=$(MODULE_DIR) $(PY) -m pytest -q -p no:cacheprovider tests/python

test: test-cpp test-refcount test-python

clean:
	rm -rf $(BUILD) $(BUILD).configure.log
