"""Which objects the module locks, and what it does while it holds them: a
critical section on the exporter around every copy of an argument buffer
(an exact `bytes` is read in place, without either), and one around both
fixed-width passes and the creation of their result.  Seen from an
embedding program that logs the module's calls of those functions (on a
build with the interpreter lock the sections do nothing, so their placement
is checked here, not their effect)."""
import os
import sys

import pytest

import _native
from embedding import run_embedded

pytestmark = pytest.mark.skipif(
    sys.version_info < (3, 15) or not _native.__file__.endswith(".abi3t.so"),
    reason="critical sections are part of the abi3t build for 3.15 and later")

SCRIPT = """
import array, sys, zlib
sys.path.insert(0, {module_dir!r})
import _native
log = open({log!r}, "a")
blob = zlib.compress(b"survey line " * 100)
column = b"ab\\0\\0cdef"
arguments = {{
    "zlib bytearray": (_native.zlib_decompress, (bytearray(blob),)),
    "zlib memoryview": (_native.zlib_decompress, (memoryview(bytearray(blob)),)),
    "zlib array": (_native.zlib_decompress, (array.array("B", blob),)),
    "zlib bytes": (_native.zlib_decompress, (blob,)),
    "grid bytearray": (_native.decompress_grd_blocks, (bytearray(blob), [(0, len(blob))], 0)),
    "fixed bytearray": (_native.decode_fixed_width_strings_ucs4, (bytearray(column), 4, 2)),
    "fixed memoryview": (_native.decode_fixed_width_strings_ucs4,
                         (memoryview(bytearray(column))[2:], 2, 3)),
}}
for name, (function, args) in arguments.items():
    log.write(f"call {{name}}\\n")
    log.flush()
    function(*args)
log.write("call done\\n")
log.close()
"""


@pytest.fixture(scope="module")
def calls(tmp_path_factory):
    """{case: [logged lines of the module during that call]}."""
    directory = tmp_path_factory.mktemp("sections")
    log = directory / "calls.log"
    script = SCRIPT.format(module_dir=os.path.dirname(_native.__file__), log=str(log))
    completed = run_embedded(directory, 1, script, SECTION_LOG=str(log))
    assert completed.returncode == 0, completed.stdout + completed.stderr
    result, current = {}, None
    for line in log.read_text().splitlines():
        if line.startswith("call "):
            current = line[5:]
            result[current] = []
        elif current is not None:
            result[current].append(line)
    return result


def inside_section(lines, begin):
    """The lines between `begin` and the end of its section."""
    assert begin in lines, lines
    start = lines.index(begin)
    end = lines.index("end2 - - 1", start)
    return lines[start + 1:end]


@pytest.mark.parametrize("case, begin", [
    ("zlib bytearray", "begin2 bytearray bytearray 1"),
    ("zlib array", "begin2 array.array array.array 1"),
    # the memoryview and the bytearray whose methods write its memory
    ("zlib memoryview", "begin2 memoryview bytearray 0"),
    ("grid bytearray", "begin2 bytearray bytearray 1"),
])
def test_copy_runs_inside_a_section_on_the_exporter(calls, case, begin):
    inside = inside_section(calls[case], begin)
    assert len(inside) == 1 and inside[0].startswith("copy "), calls[case]
    # The result is created after the section, once the input is a copy.
    assert calls[case][-1] == "bytearray - - 1"


def test_bytes_is_read_in_place(calls):
    # An exact bytes object cannot change: no copy, so no section either.
    assert calls["zlib bytes"] == ["bytearray - - 1"]


@pytest.mark.parametrize("case, begin", [
    ("fixed bytearray", "begin2 bytearray bytearray 1"),
    ("fixed memoryview", "begin2 memoryview bytearray 0"),
])
def test_fixed_width_passes_run_inside_one_section(calls, case, begin):
    # Measuring comes before the result's creation and decoding after it:
    # the one section around it holds across both passes.
    assert calls[case][0] == begin
    assert inside_section(calls[case], begin) == ["bytearray - - 1"]
    assert calls[case][-1] == "end2 - - 1"
