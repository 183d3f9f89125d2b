# make              build the module and run the demo (the module's main job)
# make test         build everything and run every test: C++ unit tests, the
#                   same under ASan/UBSan, the threaded ones under TSan, a
#                   short run of every fuzzer, the quick benchmark check, the
#                   reference-count and thread-stress runs on the debug
#                   interpreter, pytest against the abi3 build on the
#                   older interpreters, the release-wheel audit (the four
#                   wheels built from the tree with zig, repaired, checked,
#                   the aarch64 ones imported under qemu-user), the other
#                   platforms from here (test-cross), the offline lint of
#                   the release workflow, then pytest (last, for its
#                   summary)
# make test-cross   the core's unit tests built by zig for Windows x64 (run
#                   under wine), musl x86-64 (run directly) and musl aarch64
#                   (under qemu-user); the module linked for Windows x64 and
#                   arm64, macOS arm64 and x86-64, musl x86-64 and aarch64,
#                   and its exports and imports checked (tools/cross-check)
# make build-abi3   the abi3 build for CPython 3.12 to 3.14 (build-abi3/python)
# make bench        the full benchmark table (bench-quick: a smoke run)
# make fuzz         every fuzzer for FUZZ_SECONDS (default 300) seconds
# make wheels       the release files in dist/: the sdist and the manylinux
#                   wheels built from it for x86-64 and aarch64, audited,
#                   then each installed into fresh venvs and tested there:
#                   on 3.15 and OLDER_PYTHONS, and under qemu-user on
#                   Debian's arm64 3.15 and 3.13
# ARCHES="x86_64 aarch64" are the machines the release wheels are built for
# (aarch64 is cross-built against a sysroot of Debian's arm64 packages and
# tested under qemu-user).  With PYTHON given it defaults to this machine.
# PYTHON=/path/to/python3.15 uses that interpreter instead of fetching one;
# nothing is then installed on the system (missing host packages are named).
# OLDER_PYTHONS="3.14 3.13 /path/to/python3.12" are the interpreters the abi3
# build is tested on: versions tools/provision-python fetches, or paths of
# your own (3.12 to 3.14, with headers); the oldest one's headers build it.
# With PYTHON given it defaults to none.
#
# Interpreters are provisioned when a target first needs one, never while
# the Makefile is read: `make clean` or `make -n` fetches nothing.

SHELL   := /bin/bash
.SHELLFLAGS := -o pipefail -c

BUILD   ?= build
JOBS    ?= 2
# The 3.15 venv interpreter, provisioned on first use and then remembered.
# PYTHON is handed over explicitly: make does not put command-line variables
# into the environment of $(shell).
PY       = $(eval PY := $$(shell $(if $(PYTHON),PYTHON='$(PYTHON)') tools/provision-python))$(PY)
PY_DBG   = $(dir $(PY))../../venv-dbg/bin/python
CMAKE   ?= cmake
MODULE_DIR := $(abspath $(BUILD))/python
CI_FUZZ_SECONDS ?= 25
OLDER_PYTHONS ?= $(if $(PYTHON),,3.14 3.13)
ARCHES ?= $(if $(PYTHON),$(shell uname -m),x86_64 aarch64)
BUILD_ABI3 ?= build-abi3

.PHONY: all host-packages demo build build-abi3 test test-cpp test-sanitize test-tsan test-fuzz-short \
        test-bench-quick test-refcount test-stress test-python-older test-python test-wheels-quick \
        test-workflows test-cross bench bench-quick fuzz wheels clean

all: demo

build:
	@test -n "$(PY)" || { echo "no python: tools/provision-python failed" >&2; exit 1; }
	$(CMAKE) -S . -B $(BUILD) -DPython_EXECUTABLE=$(PY) -DCMAKE_BUILD_TYPE=Release > $(BUILD).configure.log 2>&1 \
	  || { cat $(BUILD).configure.log; exit 1; }
	$(CMAKE) --build $(BUILD) -j $(JOBS)

demo: build
	PYTHONPATH=$(MODULE_DIR) $(PY) tools/demo.py

# $(call summarised,command,n): the command's last n lines when it passes,
# all of its output when it fails (a tail could hide the failing test).
summarised = out=$$($(1) 2>&1); status=$$?; \
	if [ $$status = 0 ]; then tail -n $(2) <<<"$$out"; else echo "$$out"; fi; exit $$status

test-cpp: build
	@cd $(BUILD) && $(call summarised,ctest --output-on-failure -j $(JOBS),3)

# GoogleTest and clang for the targets that need no interpreter.
host-packages:
	@$(if $(PYTHON),PYTHON='$(PYTHON)') tools/provision-python --host-packages

test-sanitize: host-packages
	tools/run-sanitized-tests

test-tsan: host-packages
	tools/run-sanitized-tests --thread

test-fuzz-short: host-packages
	FUZZ_SECONDS=$(CI_FUZZ_SECONDS) tools/run-fuzzers

test-bench-quick: build
	PYTHON_FOR_TOOLS=$(PY) tools/run-bench --quick

# The debug-interpreter runs.  Without one they are skipped, except where
# one must be there: under CI=true, and when the build fetched the
# interpreters itself (no PYTHON), which fetches the debug build too.
dbg_required = $(if $(filter true,$(CI)),CI=true,$(if $(PYTHON),,the fetched interpreters include it))
debug_run = if [ -x $(PY_DBG) ]; then \
	  $(call summarised,env PYTHONPATH=$(MODULE_DIR) $(PY_DBG) -m pytest -q -p no:cacheprovider $(1),2); \
	elif [ -n "$(dbg_required)" ]; then \
	  echo "no debug interpreter at $(PY_DBG) ($(dbg_required)): $(2) failed" >&2; exit 1; \
	else echo "no debug interpreter: $(2) skipped"; fi

test-refcount: build
	@$(call debug_run,tests/python/test_refcount.py,reference-count run)

# The venv interpreters of OLDER_PYTHONS, oldest first.
older_pythons = for p in $(OLDER_PYTHONS); do \
	  py=$$(tools/provision-python $$p) || exit 1; \
	  echo "$$($$py -c 'import sys; print(sys.version_info[1])') $$py"; \
	done | sort -n | cut -d' ' -f2

build-abi3:
	@pys=$$($(older_pythons)) && test -n "$$pys" || { echo "no older python" >&2; exit 1; }; \
	$(CMAKE) -S . -B $(BUILD_ABI3) -DPython_EXECUTABLE=$${pys%%$$'\n'*} -DNATIVE_STABLE_ABI=abi3 \
	  -DNATIVE_BUILD_TESTS=OFF -DNATIVE_BUILD_PROBE=ON -DCMAKE_BUILD_TYPE=Release \
	  > $(BUILD_ABI3).configure.log 2>&1 || { cat $(BUILD_ABI3).configure.log; exit 1; }
	$(CMAKE) --build $(BUILD_ABI3) -j $(JOBS) --target _native _frame_probe

# Eight threads calling every function at once, on the debug interpreter.
test-stress: build
	@$(call debug_run,tests/python/test_thread_stress.py,thread stress run)

ifeq ($(strip $(OLDER_PYTHONS)),)
test-python-older:
	@echo "no OLDER_PYTHONS: the abi3 build is not tested (give OLDER_PYTHONS=\"3.14 3.13\" or paths)"
else
test-python-older: build-abi3
	@pys=$$($(older_pythons)) || exit 1; for py in $$pys; do \
	  echo "== the abi3 build on $$($$py -c 'import platform; print(platform.python_version())')"; \
	  PYTHONPATH=$(abspath $(BUILD_ABI3))/python $$py -m pytest -q -p no:cacheprovider tests/python \
	    || exit 1; \
	done
endif

# The release wheels with the Makefile's interpreters (no OLDER_PYTHONS: no
# 3.12+ wheel).
release_env = $(if $(PYTHON),PYTHON='$(PYTHON)') OLDER_PYTHONS='$(strip $(OLDER_PYTHONS))' \
	ARCHES='$(strip $(ARCHES))'

test-wheels-quick:
	$(release_env) tools/build-release-wheels --quick

wheels:
	$(release_env) tools/build-release-wheels
	$(release_env) tools/check-wheels dist

# The GitHub workflows, checked offline: SchemaStore's workflow schema
# (check-jsonschema) and zizmor's security audits (unpinned actions,
# permissions, credentials, template injection), both from tools/workflow-requirements.txt.
WORKFLOWS = $(wildcard .github/workflows/*.yml)

test-workflows:
	@bin=$$(dirname "$$($(if $(PYTHON),PYTHON='$(PYTHON)') tools/provision-python --workflow-tools)") || exit 1; \
	  $$bin/check-jsonschema --builtin-schema vendor.github-workflows $(WORKFLOWS) && \
	  $$bin/zizmor --offline --no-progress $(WORKFLOWS)

# The abi3 modules are built with the oldest of OLDER_PYTHONS' headers.
test-cross:
	@abi3=$$($(older_pythons) | head -n 1) || exit 1; \
	  PYTHON_FOR_TOOLS=$(PY) ABI3_PYTHON=$$abi3 JOBS=$(JOBS) tools/cross-check

test-python: build
	PYTHONPATH=$(MODULE_DIR) $(PY) -m pytest -q -p no:cacheprovider tests/python

test: test-cpp test-sanitize test-tsan test-fuzz-short test-bench-quick test-refcount test-stress \
      test-python-older test-wheels-quick test-cross test-workflows test-python

# The full run builds the module it measures itself, with the release
# wheels' compiler (build-bench-module); the quick one takes $(BUILD).
bench:
	PYTHON_FOR_TOOLS=$(PY) tools/run-bench

bench-quick: test-bench-quick

fuzz: host-packages
	FUZZ_SECONDS=$${FUZZ_SECONDS:-300} tools/run-fuzzers

clean:
	rm -rf $(BUILD) $(BUILD).configure.log build-asan build-tsan build-fuzz build-bench build-bench-module \
	  $(BUILD_ABI3) $(BUILD_ABI3).configure.log build-wheel build-release build-platform dist
