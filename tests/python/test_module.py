"""What the interpreter sees of _native before any codec runs: the module
object, its functions and their metadata, ping(), the exported symbol, and
the exec step (also when it runs again for another module object)."""

import importlib
import importlib.util
import inspect
import os
import shutil
import subprocess
import sys
import types

import pytest

# Registration order, which is also the order of __all__.
FUNCTIONS = (
    "ping",
    "lzrw1_decompress",
    "decode_speed_blob",
    "zlib_decompress",
    "decompress_grd_blocks",
    "decode_fixed_width_strings_ucs4",
)

PARAMETERS = {
    "ping": (),
    "lzrw1_decompress": ("data", "start", "decompressed_length"),
    "decode_speed_blob": ("data", "total_decompressed_length"),
    "zlib_decompress": ("data",),
    "decompress_grd_blocks": ("body", "payloads", "size_hint"),
    "decode_fixed_width_strings_ucs4": ("data", "width", "count"),
}

# What the import system puts on every module loaded from a file.
MODULE_ATTRIBUTES = {"__name__", "__doc__", "__package__", "__loader__", "__spec__", "__file__"}

# Phrases every docstring must carry (compared with runs of whitespace
# collapsed to one blank, so line breaks in the text do not matter).
DOC_PHRASES = {
    "zlib_decompress": [
        "DB_COMP_SIZE", "writable", "bytearray", "padding", "lock",
        "decode_fixed_width_strings_ucs4",
    ],
    "lzrw1_decompress": [
        "decompressed_length", "LZRW1", "FLAG_BYTES", "data[start:]", "IndexError",
        "back-reference", "writable", "bytearray", "lock",
    ],
    "decode_speed_blob": [
        "DB_COMP_SPEED", "16368", "16-byte", "magic", "total_decompressed_length",
        "offset 24", "negative", "ValueError", "IndexError", "lock",
    ],
    "decompress_grd_blocks": [
        "(offset, length)", "payloads", "16-byte", "size_hint", "(n_blocks_decoded, buffer)",
        "all-or-nothing", "lock",
    ],
    "decode_fixed_width_strings_ucs4": [
        'raw[i*width:(i+1)*width].split(b"\\x00")[0].decode("ascii", errors="replace")',
        "U+FFFD", "(max_len, buffer)", "UCS-4", "little-endian", 'dtype=f"<U{max_len}"',
        "not `width`",
    ],
}

PING_DOC = "Round-trip check that the extension built and loaded correctly."


def flat(text):
    return " ".join(text.split())


# --- the module object -------------------------------------------------------

def test_module_holds_exactly_its_functions_and_all(native):
    assert set(vars(native)) == MODULE_ATTRIBUTES | set(FUNCTIONS) | {"__all__"}
    assert native.__name__ == "_native"


def test_all_lists_the_functions_in_registration_order(native):
    assert type(native.__all__) is list
    assert native.__all__ == list(FUNCTIONS)
    for name in native.__all__:
        assert type(name) is str
        assert isinstance(getattr(native, name), types.BuiltinFunctionType)


def test_star_import_gives_the_six_functions(native):
    namespace = {}
    exec("from _native import *", namespace)
    namespace.pop("__builtins__")
    assert namespace == {name: getattr(native, name) for name in FUNCTIONS}


def test_module_docstring_is_empty(native):
    assert native.__doc__ == ""


# CPython 3.15 and later load the abi3t build, exported through the slot-based
# hook; 3.12 to 3.14 the abi3 build, exported through an initialisation
# function.
if sys.version_info >= (3, 15):
    LIBRARY, EXPORTED = "_native.abi3t.so", "PyModExport__native"
else:
    LIBRARY, EXPORTED = "_native.abi3.so", "PyInit__native"


def test_module_is_the_stable_abi_library(native):
    assert os.path.basename(native.__file__) == LIBRARY
    assert native.__spec__.origin == native.__file__


def test_only_the_export_hook_is_exported(native):
    nm = shutil.which("nm")
    if nm is None:
        pytest.skip("nm is not installed")
    listing = subprocess.run([nm, "-D", "--defined-only", native.__file__],
                             capture_output=True, text=True, check=True).stdout
    symbols = [line.split()[-1] for line in listing.splitlines() if line.strip()]
    assert symbols == [EXPORTED]


# --- the function objects ----------------------------------------------------

@pytest.mark.parametrize("name", FUNCTIONS)
def test_function_names_and_binding(native, name):
    function = getattr(native, name)
    assert type(function) is types.BuiltinFunctionType
    assert function.__name__ == name
    assert function.__qualname__ == name
    assert function.__module__ == native.__name__
    assert function.__self__ is None


@pytest.mark.parametrize("name", FUNCTIONS)
def test_text_signature_is_the_parameter_list(native, name):
    function = getattr(native, name)
    assert function.__text_signature__ == "(" + ", ".join(PARAMETERS[name]) + ")"
    signature = inspect.signature(function)
    assert tuple(signature.parameters) == PARAMETERS[name]
    for parameter in signature.parameters.values():
        # Every parameter is required and may be given by position or keyword.
        assert parameter.kind is inspect.Parameter.POSITIONAL_OR_KEYWORD
        assert parameter.default is inspect.Parameter.empty


@pytest.mark.parametrize("name", FUNCTIONS)
def test_doc_begins_after_the_signature_block(native, name):
    doc = getattr(native, name).__doc__
    assert doc
    assert "\n--\n" not in doc
    assert not doc.startswith(name + "(")
    assert doc == doc.lstrip()
    assert not doc.startswith("--")


@pytest.mark.parametrize("name", sorted(DOC_PHRASES))
def test_doc_covers_the_function(native, name):
    doc = flat(getattr(native, name).__doc__)
    missing = [phrase for phrase in DOC_PHRASES[name] if flat(phrase) not in doc]
    assert missing == []


def test_ping_doc(native):
    assert native.ping.__doc__ == PING_DOC


# --- ping ----------------------------------------------------------------------

def test_ping_returns_pong(native):
    result = native.ping()
    assert type(result) is str
    assert result == "pong"
    assert native.ping() == "pong"


@pytest.mark.parametrize("args, kwargs, words", [
    ((1,), {}, "takes no arguments (1 given)"),
    ((None,), {}, "takes no arguments (1 given)"),
    ((1, 2), {}, "takes no arguments (2 given)"),
    ((), {"x": 1}, "takes no keyword arguments"),
    ((b"",), {"data": 1}, "takes no"),
])
def test_ping_rejects_any_argument(native, args, kwargs, words):
    # The interpreter refuses these itself, before the entry point runs.
    with pytest.raises(TypeError) as excinfo:
        native.ping(*args, **kwargs)
    assert type(excinfo.value) is TypeError
    assert words in str(excinfo.value)
    assert not hasattr(excinfo.value, "__notes__")


# --- the exec step -------------------------------------------------------------

def test_reimport_runs_the_exec_step_again(native):
    saved = sys.modules.pop("_native")
    try:
        fresh = importlib.import_module("_native")
        assert fresh is not saved
        assert set(vars(fresh)) == set(vars(saved))
        assert fresh.__all__ == list(FUNCTIONS)
        assert fresh.__all__ is not saved.__all__
        assert fresh.__doc__ == ""
        for name in FUNCTIONS:
            old, new = getattr(saved, name), getattr(fresh, name)
            assert new is not old
            assert new.__module__ == "_native"
            assert new.__self__ is None
            assert new.__text_signature__ == old.__text_signature__
            assert new.__doc__ == old.__doc__
        assert fresh.ping() == "pong"
        assert fresh.lzrw1_decompress(b"\x00\x00A", 0, 1) == bytearray(b"A")
        # The earlier module object is untouched and keeps working.
        assert saved.__all__ == list(FUNCTIONS)
        assert saved.ping() == "pong"
    finally:
        sys.modules["_native"] = saved


def unexecuted_module():
    """A new module object made from the library, its exec step not yet run."""
    found = importlib.util.find_spec("_native")
    return found, importlib.util.module_from_spec(found)


def test_exec_step_extends_an_existing_all_list(native):
    found, module = unexecuted_module()
    existing = ["earlier"]
    module.__all__ = existing
    found.loader.exec_module(module)
    assert module.__all__ is existing
    assert existing == ["earlier", *FUNCTIONS]


def test_functions_take_the_module_name_at_exec_time(native):
    found, module = unexecuted_module()
    module.__name__ = "renamed"
    found.loader.exec_module(module)
    for name in FUNCTIONS:
        assert getattr(module, name).__module__ == "renamed"
    assert module.__all__ == list(FUNCTIONS)


@pytest.mark.parametrize("value, message", [
    (("ping",), "'tuple' object is not an instance of 'list'"),
    (None, "'None' is not an instance of 'list'"),
    ("ping", "'str' object is not an instance of 'list'"),
])
def test_exec_step_refuses_an_all_that_is_not_a_list(native, value, message):
    found, module = unexecuted_module()
    module.__all__ = value
    with pytest.raises(TypeError) as excinfo:
        found.loader.exec_module(module)
    assert type(excinfo.value) is TypeError
    assert excinfo.value.args == (message,)
    # The first registration failed: no function was added.
    assert not set(FUNCTIONS) & set(vars(module))


def test_exec_step_passes_on_other_errors_reading_all(native):
    raised = []

    def module_getattr(name):
        raised.append(RuntimeError("lookup of " + name))
        raise raised[-1]

    found, module = unexecuted_module()
    module.__getattr__ = module_getattr
    with pytest.raises(RuntimeError) as excinfo:
        found.loader.exec_module(module)
    assert excinfo.value is raised[0]
    assert excinfo.value.args == ("lookup of __all__",)
    assert not set(FUNCTIONS) & set(vars(module))


def test_exec_step_creates_all_after_an_attribute_error(native):
    def module_getattr(name):
        raise AttributeError(name)

    found, module = unexecuted_module()
    module.__getattr__ = module_getattr
    found.loader.exec_module(module)
    assert type(module.__all__) is list
    assert module.__all__ == list(FUNCTIONS)
