"""The type stub _native-stubs/__init__.pyi that sits next to the library:
its functions and __all__ against the module's, each function's parameters
against the interpreter's __text_signature__, and its annotations against
what the functions accept and return."""

import ast
import inspect
import pathlib
import typing
import zlib

import pytest

SPEED_HELLO = (bytes(8) + (1).to_bytes(4, "little") + bytes(4)
               + (5).to_bytes(4, "little") + (17).to_bytes(4, "little")
               + (0xF0E1D2C3).to_bytes(4, "little") + b"hello")
GRID_BODY = zlib.compress(b"row 0 ") + zlib.compress(b"row 1 ")

# One valid call of each function (keyword arguments) and its result.
CALLS = {
    "ping": ({}, "pong"),
    "lzrw1_decompress": (
        {"data": bytes.fromhex("02 00 61 0F 01"), "start": 0, "decompressed_length": 17},
        bytearray(b"a" * 17)),
    "decode_speed_blob": (
        {"data": SPEED_HELLO, "total_decompressed_length": 0}, bytearray(b"hello")),
    "zlib_decompress": ({"data": zlib.compress(b"channel data")}, bytearray(b"channel data")),
    "decompress_grd_blocks": (
        {"body": GRID_BODY, "payloads": [(0, 14), (14, 14)], "size_hint": 12},
        (2, bytearray(b"row 0 row 1 "))),
    "decode_fixed_width_strings_ucs4": (
        {"data": b"L1\0\0L100", "width": 4, "count": 2},
        (4, bytearray("L1\0\0L100".encode("utf-32-le")))),
}


@pytest.fixture(scope="module")
def stub(native):
    path = pathlib.Path(native.__file__).with_name("_native-stubs") / "__init__.pyi"
    assert path.is_file(), f"no stub next to {native.__file__}"
    return ast.parse(path.read_text(encoding="utf-8"), filename=str(path))


def stub_functions(tree):
    return {node.name: node for node in tree.body if isinstance(node, ast.FunctionDef)}


def stub_all(tree):
    values = [node.value for node in tree.body if isinstance(node, ast.Assign)
              and [ast.unparse(target) for target in node.targets] == ["__all__"]]
    assert len(values) == 1
    return ast.literal_eval(values[0])


def annotation_namespace(tree):
    """The names the stub imports, resolved at run time."""
    namespace = {}
    for node in tree.body:
        if isinstance(node, (ast.Import, ast.ImportFrom)):
            exec(compile(ast.Module(body=[node], type_ignores=[]), "<stub>", "exec"), namespace)
    return namespace


def resolved(tree, annotation):
    assert annotation is not None
    return eval(ast.unparse(annotation), annotation_namespace(tree))


def parameter_annotations(tree, name):
    node = stub_functions(tree)[name]
    return {arg.arg: resolved(tree, arg.annotation) for arg in node.args.args}


def conforms(value, annotation):
    """Exact conformance of a result to its return annotation."""
    if typing.get_origin(annotation) is tuple:
        items = typing.get_args(annotation)
        return (type(value) is tuple and len(value) == len(items)
                and all(conforms(v, a) for v, a in zip(value, items)))
    return type(value) is annotation


def test_stub_all_is_the_modules(native, stub):
    assert stub_all(stub) == native.__all__


def test_stub_defines_exactly_the_modules_functions(native, stub):
    assert list(stub_functions(stub)) == native.__all__
    public = {node.targets[0].id for node in stub.body if isinstance(node, ast.Assign)}
    assert public == {"__all__"}


@pytest.mark.parametrize("name", CALLS)
def test_parameters_match_the_text_signature(native, stub, name):
    function = getattr(native, name)
    arguments = stub_functions(stub)[name].args
    # Every parameter is required and may be passed by position or keyword.
    assert arguments.posonlyargs == [] and arguments.kwonlyargs == []
    assert arguments.vararg is None and arguments.kwarg is None
    assert arguments.defaults == []
    names = [arg.arg for arg in arguments.args]
    assert function.__text_signature__ == "(" + ", ".join(names) + ")"
    parameters = inspect.signature(function).parameters.values()
    assert [(p.name, p.kind) for p in parameters] == [
        (n, inspect.Parameter.POSITIONAL_OR_KEYWORD) for n in names]
    assert set(CALLS[name][0]) == set(names)


@pytest.mark.parametrize("name", CALLS)
def test_results_conform_to_the_return_annotation(native, stub, name):
    returns = resolved(stub, stub_functions(stub)[name].returns)
    arguments, expected = CALLS[name]
    result = getattr(native, name)(**arguments)
    assert result == expected
    assert conforms(result, returns), (result, returns)


class Index:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


def test_annotations_say_what_each_parameter_accepts(native, stub):
    from collections.abc import Buffer, Sequence

    seen = set()
    for name, (arguments, expected) in CALLS.items():
        function = getattr(native, name)
        for parameter, annotation in parameter_annotations(stub, name).items():
            seen.add(annotation)
            value = arguments[parameter]
            if annotation is bytes:
                # bytes-only: any other buffer is refused
                with pytest.raises(TypeError):
                    function(**{**arguments, parameter: bytearray(value)})
                continue
            if annotation is Buffer:
                other = memoryview(bytearray(value))
            elif annotation is typing.SupportsIndex:
                other = Index(value)
            elif annotation == Sequence[tuple[typing.SupportsIndex, typing.SupportsIndex]]:
                other = tuple((Index(offset), Index(length)) for offset, length in value)
            else:
                pytest.fail(f"{name}({parameter}): unexpected annotation {annotation!r}")
            assert isinstance(other, typing.get_origin(annotation) or annotation)
            assert function(**{**arguments, parameter: other}) == expected
    assert len(seen) == 4
