"""Builds and runs embed_rounds.c, a program that embeds this interpreter's
own libpython: for what only an embedding application can do (finalise the
runtime and start it again) or see (the module's calls into libpython)."""
import os
import shlex
import shutil
import subprocess
import sys
import sysconfig
from pathlib import Path

import pytest

TIMEOUT = 120
# Under emulation (tools/emulated-venv) the program is built for the emulated
# machine by the compiler that NATIVE_EMULATED_CC names, and run by the
# emulator that NATIVE_EMULATOR names.
EMULATOR = shlex.split(os.environ.get("NATIVE_EMULATOR", ""))


def _toolchain():
    """(compiler command, compile-and-link arguments, environment), or None."""
    if EMULATOR:
        compiler = shlex.split(os.environ.get("NATIVE_EMULATED_CC", ""))
    else:
        compiler = [shutil.which("cc") or shutil.which("gcc") or ""]
    if not compiler or not compiler[0]:
        return None
    version = sysconfig.get_config_var("VERSION")
    prefix = Path(sys.base_prefix)
    include = sysconfig.get_path("include")
    for libdir in (prefix / "lib" / (sysconfig.get_config_var("MULTIARCH") or ""), prefix / "lib"):
        # The debug library where there is one: freed memory is poisoned, so
        # an object of a finalised runtime cannot pass for a live one.
        for name in (f"python{version}d", f"python{version}{sys.abiflags}"):
            if (libdir / f"lib{name}.so").exists():
                args = [f"-I{include}", f"-I{Path(include).parent}", f"-L{libdir}", f"-l{name}",
                        "-rdynamic", "-Wl,--allow-shlib-undefined", "-Wl,--disable-new-dtags",
                        f"-Wl,-rpath,{libdir}"]
                loader = libdir / "ld-linux-x86-64.so.2"
                if loader.exists():  # a relocated interpreter with its own C library
                    args.append(f"-Wl,--dynamic-linker={loader}")
                return compiler, args, dict(os.environ, PYTHONHOME=str(prefix))
    return None


def embedding_program(directory):
    """(path of the built program, its environment); skips the test where
    no libpython or compiler is at hand."""
    toolchain = _toolchain()
    if toolchain is None:
        pytest.skip("no libpython or C compiler to embed the interpreter with")
    compiler, args, environment = toolchain
    program = Path(directory) / "embed_rounds"
    built = subprocess.run(
        [*compiler, "-O1", str(Path(__file__).with_name("embed_rounds.c")), "-o", str(program),
         *args], capture_output=True, text=True, timeout=TIMEOUT)
    if built.returncode != 0:
        pytest.skip("cannot build an embedding program here:\n" + built.stderr[-2000:])
    return program, environment


def run_embedded(directory, rounds, script, **environment):
    program, base = embedding_program(directory)
    return subprocess.run([*EMULATOR, str(program), str(rounds), script], capture_output=True, text=True,
                          timeout=TIMEOUT, env=dict(base, **environment))
