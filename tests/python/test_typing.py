"""The stub package as type checkers see it: found for the installed (or
built) module by PEP 561's <module>-stubs rule, accepted by mypy --strict on
a reader's calls, rejecting wrong calls, and matching the runtime module
under stubtest (which must also notice a stub that no longer matches)."""

import importlib.util
import os
import pathlib
import re
import shutil
import subprocess
import sys

import pytest

pytest.importorskip("mypy", reason="mypy checks the stub (tools/requirements.txt has it)")
INTERPRETED_MYPY = importlib.util.find_spec("mypy.build").origin.endswith(".py")
if os.environ.get("NATIVE_EMULATOR") and INTERPRETED_MYPY:
    pytest.skip("no compiled mypy for this machine and version: interpreted mypy under emulation "
                "takes some ten minutes a run, six runs here (the stub is checked on the other runs)",
                allow_module_level=True)

HERE = pathlib.Path(__file__).parent / "typing"


def run_mypy(native, tmp_path, *arguments, path_first=()):
    """mypy (or one of its tools) in a subprocess that finds the module, and
    through it the stub package, on sys.path, as an installed copy would."""
    module_dir = os.path.dirname(native.__file__)
    env = dict(os.environ)
    env["PYTHONPATH"] = os.pathsep.join([*map(str, path_first), module_dir])
    # The working directory keeps mypy's cache out of the source tree.
    result = subprocess.run([sys.executable, "-m", *arguments], cwd=tmp_path, env=env,
                            capture_output=True, text=True, timeout=600)
    return result.returncode, result.stdout + result.stderr


def test_mypy_strict_accepts_a_readers_calls(native, tmp_path):
    status, output = run_mypy(native, tmp_path, "mypy", "--strict", str(HERE / "usage.py"))
    assert status == 0, output
    assert "Success: no issues found in 1 source file" in output


def test_mypy_rejects_wrong_calls_with_the_expected_errors(native, tmp_path):
    source = HERE / "misuse.py"
    expected = {(number, match.group(1))
                for number, line in enumerate(source.read_text().splitlines(), 1)
                if (match := re.search(r"# E: ([\w-]+)$", line))}
    status, output = run_mypy(native, tmp_path, "mypy", "--strict", str(source))
    assert status == 1, output
    reported = {(int(match.group(1)), match.group(2))
                for match in re.finditer(r"misuse\.py:(\d+): error: .*\[([\w-]+)\]$",
                                         output, re.MULTILINE)}
    assert reported == expected, output
    assert "Cannot find implementation or library stub" not in output


def test_stubtest_finds_the_stub_consistent(native, tmp_path):
    status, output = run_mypy(native, tmp_path, "mypy.stubtest", "_native")
    assert status == 0, output
    assert "Success: no issues found in 1 module" in output


@pytest.mark.parametrize("edit, complaint", [
    (("width: SupportsIndex", "size: SupportsIndex"), "decode_fixed_width_strings_ucs4"),
    (('    "ping",\n', ""), "_native.__all__"),
    (("def ping() -> str:", "def pong() -> str:"), "_native.pong"),
])
def test_stubtest_reports_a_stub_that_no_longer_matches(native, tmp_path, edit, complaint):
    stub = pathlib.Path(native.__file__).with_name("_native-stubs") / "__init__.pyi"
    broken = tmp_path / "broken" / "_native-stubs"
    broken.mkdir(parents=True)
    text = stub.read_text(encoding="utf-8")
    assert edit[0] in text
    (broken / "__init__.pyi").write_text(text.replace(edit[0], edit[1], 1), encoding="utf-8")
    shutil.copystat(stub, broken / "__init__.pyi")
    status, output = run_mypy(native, tmp_path, "mypy.stubtest", "_native",
                              path_first=[broken.parent])
    assert status == 1, output
    assert complaint in output, output
