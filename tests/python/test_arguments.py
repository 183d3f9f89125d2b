"""Binding of call arguments to parameters and their conversion, for the five
codec functions; the exceptions a call ends with; and the release of every
buffer view on every path."""

import array
import ctypes
import itertools
import re
import struct
import sys
import zlib

import pytest

# --- the functions under test ---------------------------------------------------

# Parameters in order, with their kinds.
SIGNATURES = {
    "zlib_decompress": (("data", "buffer"),),
    "lzrw1_decompress": (("data", "bytes"), ("start", "unsigned"),
                         ("decompressed_length", "unsigned")),
    "decode_speed_blob": (("data", "bytes"), ("total_decompressed_length", "signed")),
    "decompress_grd_blocks": (("body", "buffer"), ("payloads", "payloads"),
                              ("size_hint", "unsigned")),
    "decode_fixed_width_strings_ucs4": (("data", "buffer"), ("width", "unsigned"),
                                        ("count", "unsigned")),
}
FUNCTIONS = tuple(SIGNATURES)


def names(function):
    return tuple(name for name, _ in SIGNATURES[function])


def parameters_of_kind(*kinds):
    return [(function, index, name)
            for function, parameters in SIGNATURES.items()
            for index, (name, kind) in enumerate(parameters) if kind in kinds]


def ucs4(*records):
    """The UCS-4 column decode_fixed_width_strings_ucs4 returns."""
    width = max(map(len, records))
    return bytearray("".join(r.ljust(width, "\0") for r in records).encode("utf-32-le"))


ABC = zlib.compress(b"abc")
XYZ = zlib.compress(b"xyz")
ZLIB_NOTHING = bytes.fromhex("789c030000000001")

SPEED_STORED_RAW = 0xF0E1D2C3


def speed_blob(*payloads, subtype=1):
    blob = b"\x11" * 8 + struct.pack("<i", subtype) + b"\x22" * 4
    for payload in payloads:
        blob += struct.pack("<iiI", len(payload), len(payload) + 12, SPEED_STORED_RAW) + payload
    return blob


SPEED_ABC_DE = speed_blob(b"abc", b"de")  # 45 bytes

# LZRW1: literal "a", then a copy with offset 1 and length 16.
LZRW1_RUN_OF_A = b"\x02\x00a\x0f\x01"

# One valid call per function and its result.
VALID = {
    "zlib_decompress": ((ABC,), bytearray(b"abc")),
    "lzrw1_decompress": ((LZRW1_RUN_OF_A, 0, 5), bytearray(b"aaaaa")),
    "decode_speed_blob": ((SPEED_ABC_DE, 5), bytearray(b"abcde")),
    "decompress_grd_blocks": ((ABC + XYZ, [(0, len(ABC)), (len(ABC), len(XYZ))], 0),
                              (2, bytearray(b"abcxyz"))),
    "decode_fixed_width_strings_ucs4": ((b"ab\x00cd\x00", 3, 2), (2, ucs4("ab", "cd"))),
}


class IntSubclass(int):
    pass


class Index:
    """Not an int, but usable as one."""

    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


class Recorder:
    """Logs every attempt to read it, as an integer or as a sequence."""

    def __init__(self, log, label, value=0, items=()):
        self.log, self.label, self.value, self.items = log, label, value, list(items)

    def __index__(self):
        self.log.append(self.label)
        return self.value

    def __len__(self):
        self.log.append(self.label)
        return len(self.items)

    def __getitem__(self, index):
        self.log.append(self.label)
        return self.items[index]

    def __iter__(self):
        self.log.append(self.label)
        return iter(self.items)


class Outer:
    class Inner:
        pass


# --- helpers ---------------------------------------------------------------------

def call(native, function, *args, **kwargs):
    return getattr(native, function)(*args, **kwargs)


def raised(exception_type, action):
    with pytest.raises(BaseException) as excinfo:
        action()
    error = excinfo.value
    assert type(error) is exception_type, repr(error)
    return error


def binding_message(action):
    """The text of the TypeError of a call that does not fit the signature."""
    error = raised(TypeError, action)
    assert not hasattr(error, "__notes__")
    assert len(error.args) == 1
    return error.args[0]


def check_conversion_error(error, exception_type, message, parameter):
    assert type(error) is exception_type, repr(error)
    assert error.args == (message,)
    assert error.__notes__ == [f"while processing '{parameter}'"]


def quoted_list(missing):
    quoted = [f"'{name}'" for name in missing]
    if len(quoted) == 1:
        return quoted[0]
    if len(quoted) == 2:
        return " and ".join(quoted)
    return ", ".join(quoted[:-1]) + ", and " + quoted[-1]


def resize(target):
    """Fails with BufferError while any export of `target` is held."""
    target.extend(b"x")
    del target[:]
    assert target == bytearray()


# --- binding: positional count ------------------------------------------------------

@pytest.mark.parametrize("action, message", [
    (lambda n: n.zlib_decompress(b"", b""),
     "zlib_decompress() takes 1 positional arguments but 2 were given"),
    (lambda n: n.lzrw1_decompress(b"", 0, 1, 2, foo=1),
     "lzrw1_decompress() takes 3 positional arguments but 4 were given"),
    (lambda n: n.lzrw1_decompress(b"", 0, 1, 2, start=0),
     "lzrw1_decompress() takes 3 positional arguments but 4 were given"),
    (lambda n: n.decode_speed_blob(None, None, None),
     "decode_speed_blob() takes 2 positional arguments but 3 were given"),
    (lambda n: n.decompress_grd_blocks(1, 2, 3, 4, 5, 6, 7),
     "decompress_grd_blocks() takes 3 positional arguments but 7 were given"),
])
def test_too_many_positional_examples(native, action, message):
    assert binding_message(lambda: action(native)) == message


@pytest.mark.parametrize("extra", [1, 2, 10])
@pytest.mark.parametrize("keywords", ["none", "unknown", "duplicate", "surrogate"])
@pytest.mark.parametrize("function", FUNCTIONS)
def test_positional_count_is_reported_first(native, function, extra, keywords):
    args = VALID[function][0] + (None,) * extra
    kwargs = {"none": {}, "unknown": {"foo": 1}, "duplicate": {names(function)[0]: None},
              "surrogate": {"\udc80": 1}}[keywords]
    n = len(names(function))
    assert binding_message(lambda: call(native, function, *args, **kwargs)) == (
        f"{function}() takes {n} positional arguments but {n + extra} were given")


# --- binding: keywords -------------------------------------------------------------

def near_misses(parameter):
    return [parameter.upper(), parameter.capitalize(), parameter + "_", parameter[:-1],
            "_" + parameter, parameter + "\x00", "\u00e4" + parameter[1:], "foo"]


NEAR_MISSES = sorted({(function, keyword) for function in FUNCTIONS
                      for parameter in names(function) for keyword in near_misses(parameter)
                      if keyword not in names(function)})


@pytest.mark.parametrize("function, keyword", NEAR_MISSES)
def test_unexpected_keyword(native, function, keyword):
    expected = f"{function}() got an unexpected keyword argument '{keyword}'"
    args = VALID[function][0]
    # With every parameter given by position ...
    assert binding_message(lambda: call(native, function, *args, **{keyword: 1})) == expected
    # ... and with every parameter missing: the unknown keyword comes first.
    assert binding_message(lambda: call(native, function, **{keyword: 1})) == expected


def test_unexpected_keyword_examples(native):
    assert binding_message(lambda: native.zlib_decompress(data=b"", Data=b"")) == (
        "zlib_decompress() got an unexpected keyword argument 'Data'")
    assert binding_message(lambda: native.zlib_decompress(b"", foo=1, data=b"")) == (
        "zlib_decompress() got an unexpected keyword argument 'foo'")
    assert binding_message(lambda: native.lzrw1_decompress(start=0, Start=0)) == (
        "lzrw1_decompress() got an unexpected keyword argument 'Start'")


@pytest.mark.parametrize("function", FUNCTIONS)
@pytest.mark.parametrize("keyword, shown", [
    ("\udc80", "\ufffd+"),
    ("d\udcffata", "d\ufffd+ata"),
    ("\ud800x\udfffy", "\ufffd+x\ufffd+y"),
])
def test_unexpected_keyword_with_lone_surrogate(native, function, keyword, shown):
    message = binding_message(lambda: call(native, function, **{keyword: 1}))
    assert re.fullmatch(
        re.escape(f"{function}() got an unexpected keyword argument '") + shown + "'", message)


class KeywordName(str):
    def __str__(self):
        return "shown"


@pytest.mark.parametrize("function", FUNCTIONS)
def test_keyword_name_of_a_str_subclass(native, function):
    # Matched by its text; an unknown one is shown as str() gives it.
    args, expected = VALID[function]
    kwargs = {KeywordName(name): value for name, value in zip(names(function), args)}
    assert call(native, function, **kwargs) == expected
    assert binding_message(lambda: call(native, function, **{KeywordName("foo"): 1})) == (
        f"{function}() got an unexpected keyword argument 'shown'")


@pytest.mark.parametrize("function", FUNCTIONS)
def test_first_offending_keyword_decides(native, function):
    first = names(function)[0]
    value = VALID[function][0][0]
    # Unknown before duplicate: the unknown one is reported.
    assert binding_message(
        lambda: call(native, function, value, **{"foo": 1, first: value})) == (
        f"{function}() got an unexpected keyword argument 'foo'")
    # Duplicate before unknown: the duplicate is reported.
    assert binding_message(
        lambda: call(native, function, value, **{first: value, "foo": 1})) == (
        f"{function}() got multiple values for argument '{first}'")


MULTIPLE = [(function, index) for function in FUNCTIONS for index in range(len(names(function)))]


@pytest.mark.parametrize("function, index", MULTIPLE)
def test_multiple_values(native, function, index):
    args = VALID[function][0]
    parameter = names(function)[index]
    expected = f"{function}() got multiple values for argument '{parameter}'"
    # Every parameter given by position, one again by keyword.
    assert binding_message(
        lambda: call(native, function, *args, **{parameter: args[index]})) == expected
    # Later parameters missing: the second value is reported, not them.
    assert binding_message(
        lambda: call(native, function, *args[:index + 1], **{parameter: None})) == expected


def test_multiple_values_example(native):
    assert binding_message(lambda: native.lzrw1_decompress(b"", 0, 1, start=0)) == (
        "lzrw1_decompress() got multiple values for argument 'start'")


# --- binding: missing arguments ------------------------------------------------------

@pytest.mark.parametrize("action, message", [
    (lambda n: n.zlib_decompress(),
     "zlib_decompress() missing 1 required positional argument: 'data'"),
    (lambda n: n.lzrw1_decompress(b""),
     "lzrw1_decompress() missing 2 required positional arguments: 'start' and "
     "'decompressed_length'"),
    (lambda n: n.decompress_grd_blocks(),
     "decompress_grd_blocks() missing 3 required positional arguments: 'body', 'payloads', "
     "and 'size_hint'"),
    (lambda n: n.lzrw1_decompress(start=0, decompressed_length=1),
     "lzrw1_decompress() missing 1 required positional argument: 'data'"),
    (lambda n: n.lzrw1_decompress(b"", decompressed_length=1),
     "lzrw1_decompress() missing 1 required positional argument: 'start'"),
    (lambda n: n.lzrw1_decompress(start=0),
     "lzrw1_decompress() missing 2 required positional arguments: 'data' and "
     "'decompressed_length'"),
    (lambda n: n.decode_fixed_width_strings_ucs4(width=1),
     "decode_fixed_width_strings_ucs4() missing 2 required positional arguments: 'data' and "
     "'count'"),
    (lambda n: n.decode_speed_blob(),
     "decode_speed_blob() missing 2 required positional arguments: 'data' and "
     "'total_decompressed_length'"),
])
def test_missing_examples(native, action, message):
    assert binding_message(lambda: action(native)) == message


def missing_cases():
    for function in FUNCTIONS:
        parameters = names(function)
        for positional in range(len(parameters)):
            rest = parameters[positional:]
            for size in range(len(rest)):
                for by_keyword in itertools.combinations(rest, size):
                    missing = [name for name in rest if name not in by_keyword]
                    yield function, positional, by_keyword, missing


@pytest.mark.parametrize("function, positional, by_keyword, missing", list(missing_cases()))
def test_missing_arguments(native, function, positional, by_keyword, missing):
    # The given values are unusable: binding fails before any conversion.
    kwargs = {name: None for name in reversed(by_keyword)}
    noun = "argument" if len(missing) == 1 else "arguments"
    assert binding_message(lambda: call(native, function, *[None] * positional, **kwargs)) == (
        f"{function}() missing {len(missing)} required positional {noun}: "
        f"{quoted_list(missing)}")


# --- binding: keywords bind like positions -----------------------------------------------

KEYWORD_ORDERS = [(function, order) for function in FUNCTIONS
                  for order in itertools.permutations(range(len(names(function))))]


@pytest.mark.parametrize("function, order", KEYWORD_ORDERS)
def test_keyword_calls_equal_positional_calls(native, function, order):
    args, expected = VALID[function]
    parameters = names(function)
    assert call(native, function, *args) == expected
    by_keyword = {parameters[i]: args[i] for i in order}
    assert call(native, function, **by_keyword) == expected
    # A positional prefix with the rest by keyword.
    for positional in range(1, len(args)):
        rest = {parameters[i]: args[i] for i in order if i >= positional}
        assert call(native, function, *args[:positional], **rest) == expected


# --- bytes-only arguments --------------------------------------------------------------

BYTES_ONLY_CALLS = {
    "lzrw1_decompress": lambda n, data: n.lzrw1_decompress(data, 0, 1),
    "decode_speed_blob": lambda n, data: n.decode_speed_blob(data, 5),
}


@pytest.mark.parametrize("function", BYTES_ONLY_CALLS)
@pytest.mark.parametrize("make, message", [
    (lambda: bytearray(b"\x00\x00A" * 20), "'bytearray' object is not an instance of 'bytes'"),
    (lambda: memoryview(b"\x00\x00A" * 20), "'memoryview' object is not an instance of 'bytes'"),
    (lambda: None, "'None' is not an instance of 'bytes'"),
    (lambda: "\x00\x00A", "'str' object is not an instance of 'bytes'"),
    (lambda: array.array("B", b"\x00\x00A"), "'array' object is not an instance of 'bytes'"),
    (lambda: 3, "'int' object is not an instance of 'bytes'"),
    (lambda: bytes, "'type' object is not an instance of 'bytes'"),
    (lambda: Outer.Inner(), "'Outer.Inner' object is not an instance of 'bytes'"),
], ids=["bytearray", "memoryview", "None", "str", "array", "int", "type", "nested-class"])
def test_bytes_only_refuses_other_types(native, function, make, message):
    error = raised(TypeError, lambda: BYTES_ONLY_CALLS[function](native, make()))
    check_conversion_error(error, TypeError, message, "data")


class BytesSubclass(bytes):
    pass


def test_bytes_subclass_accepted(native):
    assert native.lzrw1_decompress(BytesSubclass(LZRW1_RUN_OF_A), 0, 5) == bytearray(b"aaaaa")
    assert native.decode_speed_blob(BytesSubclass(SPEED_ABC_DE), 5) == bytearray(b"abcde")
    assert native.lzrw1_decompress(BytesSubclass(), 0, 0) == bytearray()


# --- buffer arguments ------------------------------------------------------------------

# 24 bytes each, the same logical content whatever the exporter.
BUFFER_CASES = {
    "zlib_decompress": (ABC.ljust(24, b"\xee"), lambda n, x: n.zlib_decompress(x),
                        bytearray(b"abc")),
    "decompress_grd_blocks": (
        (ABC + XYZ).ljust(24, b"\xee"),
        lambda n, x: n.decompress_grd_blocks(x, [(0, len(ABC)), (len(ABC), len(XYZ))], 0),
        (2, bytearray(b"abcxyz"))),
    "decode_fixed_width_strings_ucs4": (
        b"ab\x00\x00" b"cdef" b"\x00ghi" b"hiXj" b"k\x00zz" b"\x80m\x00\x00",
        lambda n, x: n.decode_fixed_width_strings_ucs4(x, 4, 6),
        (4, ucs4("ab", "cdef", "", "hiXj", "k", "\ufffdm"))),
}
BUFFER_PARAMETER = {"zlib_decompress": "data", "decompress_grd_blocks": "body",
                    "decode_fixed_width_strings_ucs4": "data"}


def numpy():
    return pytest.importorskip("numpy")


def exporter_module():
    return pytest.importorskip("_testbuffer")


def as_items(payload, format):
    if format.endswith("c"):
        return [bytes([b]) for b in payload]
    return list(payload)


def doubled(payload):
    """`payload` in every other byte, starting with the first."""
    spread = bytearray(b"\x99") * (2 * len(payload))
    spread[::2] = payload
    return bytes(spread)


def interleaved(payload):
    return memoryview(doubled(payload))[::2]


def fortran(payload):
    np = numpy()
    array_2d = np.asfortranarray(np.frombuffer(payload, dtype=np.uint8).reshape(4, 6))
    assert not array_2d.flags.c_contiguous
    return array_2d


def column_slice(payload):
    np = numpy()
    wide = np.zeros((4, 12), dtype=np.uint8)
    wide[:, ::2] = np.frombuffer(payload, dtype=np.uint8).reshape(4, 6)
    return wide[:, ::2]


CONTIGUOUS_EXPORTERS = {
    "bytes": lambda p: p,
    "bytes-subclass": lambda p: BytesSubclass(p),
    "bytearray": lambda p: bytearray(p),
    "memoryview": lambda p: memoryview(p),
    "memoryview-of-bytearray": lambda p: memoryview(bytearray(p)),
    "memoryview-c": lambda p: memoryview(p).cast("c"),
    "memoryview-@B": lambda p: memoryview(p).cast("@B"),
    "memoryview-@c": lambda p: memoryview(p).cast("@c"),
    "memoryview-2d": lambda p: memoryview(p).cast("B", shape=[4, 6]),
    "array-B": lambda p: array.array("B", p),
    "numpy-uint8": lambda p: numpy().frombuffer(p, dtype=numpy().uint8),
    "numpy-uint8-2d-C": lambda p: numpy().frombuffer(p, dtype=numpy().uint8).reshape(4, 6),
    "numpy->u1": lambda p: numpy().frombuffer(p, dtype=numpy().dtype(">u1")),
    **{f"exporter-{fmt}": (lambda fmt: lambda p: exporter_module().ndarray(
        as_items(p, fmt), shape=[len(p)], format=fmt))(fmt)
       for fmt in ["B", "@B", "=B", ">B", "c", "@c", "=c", ">c"]},
}

STRIDED_EXPORTERS = {
    "memoryview-step-2": interleaved,
    "memoryview-reversed": lambda p: memoryview(p[::-1])[::-1],
    "numpy-uint8-2d-F": fortran,
    "numpy-column-slice": column_slice,
    "exporter-suboffsets": lambda p: exporter_module().ndarray(
        list(p), shape=[4, 6], format="B", flags=exporter_module().ND_PIL),
}


@pytest.mark.parametrize("function", BUFFER_CASES)
@pytest.mark.parametrize("exporter", CONTIGUOUS_EXPORTERS)
def test_buffer_accepts_exporters_of_unsigned_bytes(native, function, exporter):
    payload, action, expected = BUFFER_CASES[function]
    assert action(native, payload) == expected
    data = CONTIGUOUS_EXPORTERS[exporter](payload)
    assert bytes(data) == payload
    assert action(native, data) == expected


@pytest.mark.parametrize("function", ["zlib_decompress", "decompress_grd_blocks"])
@pytest.mark.parametrize("exporter", STRIDED_EXPORTERS)
def test_copying_functions_read_strided_exporters_in_logical_order(native, function, exporter):
    payload, action, expected = BUFFER_CASES[function]
    data = STRIDED_EXPORTERS[exporter](payload)
    assert memoryview(data).tobytes() == payload
    assert action(native, data) == action(native, payload) == expected


@pytest.mark.parametrize("exporter", STRIDED_EXPORTERS)
def test_fixed_width_refuses_strided_exporters(native, exporter):
    payload, action, _ = BUFFER_CASES["decode_fixed_width_strings_ucs4"]
    error = raised(ValueError, lambda: action(native, STRIDED_EXPORTERS[exporter](payload)))
    assert error.args == ("decode_fixed_width_strings_ucs4: buffer must be C-contiguous",)
    assert not hasattr(error, "__notes__")


def test_step_two_view_copies_every_other_byte(native):
    stream = zlib.compress(b"ace")
    assert native.zlib_decompress(interleaved(stream)) == bytearray(b"ace")
    body = interleaved(stream + stream)
    assert native.decompress_grd_blocks(body, [(0, len(stream)), (len(stream), len(stream))],
                                        0) == (2, bytearray(b"aceace"))


@pytest.mark.parametrize("make", [
    lambda: b"", lambda: bytearray(), lambda: memoryview(b""), lambda: array.array("B"),
    lambda: memoryview(b"abc")[3:], lambda: memoryview(b"abcdef")[::2][3:],
], ids=["bytes", "bytearray", "memoryview", "array", "empty-slice", "empty-strided"])
def test_empty_buffers(native, make):
    error = raised(ValueError, lambda: native.zlib_decompress(make()))
    assert error.args == ("zlib_decompress: incomplete deflate stream",)
    assert not hasattr(error, "__notes__")
    assert native.decompress_grd_blocks(make(), [], 0) == (0, bytearray())
    assert native.decompress_grd_blocks(make(), [(0, 0)], 0) == (0, bytearray())
    data = make()
    if memoryview(data).c_contiguous:
        assert native.decode_fixed_width_strings_ucs4(data, 0, 0) == (0, bytearray())
        assert native.decode_fixed_width_strings_ucs4(data, 5, 0) == (0, bytearray())


def ctypes_array(item_type, payload):
    return (item_type * len(payload)).from_buffer_copy(payload)


def typed_array(code, payload):
    items = array.array(code)
    items.frombytes(payload)
    return items


REFUSED_FORMATS = {
    "array-b": lambda p: typed_array("b", p),
    "array-h": lambda p: typed_array("h", p),
    "array-I": lambda p: typed_array("I", p),
    "memoryview-b": lambda p: memoryview(p).cast("b"),
    "memoryview-h": lambda p: memoryview(p).cast("h"),
    "memoryview-?": lambda p: memoryview(p).cast("?"),
    "memoryview-@b": lambda p: memoryview(p).cast("@b"),
    "numpy-int8": lambda p: numpy().frombuffer(p, dtype=numpy().int8),
    "numpy-uint16": lambda p: numpy().frombuffer(p, dtype=numpy().uint16),
    "numpy-bool": lambda p: numpy().frombuffer(p, dtype=numpy().bool_),
    "numpy-S1": lambda p: numpy().frombuffer(p, dtype="S1"),
    **{f"exporter-{fmt}": (lambda fmt: lambda p: exporter_module().ndarray(
        as_items(p, fmt), shape=[len(p)], format=fmt))(fmt)
       for fmt in ["<B", "!B", "<c", "!c", "1B", "?"]},
    **{f"exporter-{fmt}": (lambda fmt: lambda p: exporter_module().ndarray(
        [b - 256 if b > 127 else b for b in p], shape=[len(p)], format=fmt))(fmt)
       for fmt in ["b", "@b", ">b"]},
    "exporter-h": lambda p: exporter_module().ndarray(list(range(12)), shape=[12], format="h"),
    "exporter-Bx": lambda p: exporter_module().ndarray([1] * 12, shape=[12], format="Bx"),
}


@pytest.mark.parametrize("function", BUFFER_CASES)
@pytest.mark.parametrize("exporter", REFUSED_FORMATS)
def test_buffer_refuses_other_item_formats(native, function, exporter):
    payload, action, _ = BUFFER_CASES[function]
    data = REFUSED_FORMATS[exporter](payload)
    error = raised(BufferError, lambda: action(native, data))
    check_conversion_error(error, BufferError, "buffer contents are not compatible with u8",
                           BUFFER_PARAMETER[function])


# Exports without shape (zero dimensions) or without strides (ctypes gives
# none even when asked for them).
MISSING_LAYOUT = {
    "0-d-memoryview": (lambda p: memoryview(p[:1]).cast("B", shape=[]), "shape is null"),
    "0-d-numpy": (lambda p: numpy().array(p[0], dtype=numpy().uint8), "shape is null"),
    "ctypes-ubyte": (lambda p: ctypes.c_ubyte(p[0]), "shape is null"),
    "ctypes-char": (lambda p: ctypes.c_char(p[:1]), "shape is null"),
    "ctypes-ubyte-array": (lambda p: ctypes_array(ctypes.c_ubyte, p), "strides is null"),
    "ctypes-char-array": (lambda p: ctypes_array(ctypes.c_char, p), "strides is null"),
    "ctypes-byte-array": (lambda p: ctypes_array(ctypes.c_byte, p), "strides is null"),
    "ctypes-empty-array": (lambda p: ctypes_array(ctypes.c_ubyte, b""), "strides is null"),
    "ctypes-2d-array": (lambda p: ((ctypes.c_ubyte * 6) * 4).from_buffer_copy(p),
                        "strides is null"),
    "ctypes-string-buffer": (lambda p: ctypes.create_string_buffer(p), "strides is null"),
}


@pytest.mark.parametrize("function", BUFFER_CASES)
@pytest.mark.parametrize("exporter", MISSING_LAYOUT)
def test_buffer_refuses_exports_without_layout(native, function, exporter):
    payload, action, _ = BUFFER_CASES[function]
    make, message = MISSING_LAYOUT[exporter]
    data = make(payload)
    error = raised(BufferError, lambda: action(native, data))
    check_conversion_error(error, BufferError, message, BUFFER_PARAMETER[function])
    if isinstance(data, memoryview):
        data.release()  # BufferError while an export of the view is held


@pytest.mark.parametrize("function", BUFFER_CASES)
@pytest.mark.parametrize("make, exception_type, message", [
    (lambda: "abc", TypeError, "a bytes-like object is required, not 'str'"),
    (lambda: None, TypeError, "a bytes-like object is required, not 'NoneType'"),
    (lambda: 12, TypeError, "a bytes-like object is required, not 'int'"),
    (lambda: [1, 2], TypeError, "a bytes-like object is required, not 'list'"),
    (lambda: Outer.Inner(), TypeError, "a bytes-like object is required, not 'Inner'"),
    (lambda: exporter_module().ndarray([1, 2], shape=[2], format="B",
                                  flags=exporter_module().ND_GETBUF_FAIL),
     BufferError, "ND_GETBUF_FAIL: forced test exception"),
], ids=["str", "None", "int", "list", "class", "failing-exporter"])
def test_buffer_passes_on_the_interpreters_refusal(native, function, make, exception_type,
                                                   message):
    _, action, _ = BUFFER_CASES[function]
    error = raised(exception_type, lambda: action(native, make()))
    check_conversion_error(error, exception_type, message, BUFFER_PARAMETER[function])


# --- integer arguments ------------------------------------------------------------------

class RaisingIndex:
    def __index__(self):
        raise ZeroDivisionError("no index here")


class WrongIndex:
    def __index__(self):
        return "7"


if sys.version_info >= (3, 15):
    WRONG_INDEX = f"{WrongIndex.__module__}.WrongIndex.__index__() must return an int, not str"
else:  # the interpreter's own wording before 3.15
    WRONG_INDEX = "__index__ returned non-int (type str)"


NEGATIVE = "can't convert negative int to unsigned"
TOO_BIG = "int too big to convert"
LONG_OVERFLOW = "Python int too large to convert to C long"

UNSIGNED_FAILURES = [
    (lambda: -1, OverflowError, NEGATIVE),
    (lambda: -2**70, OverflowError, NEGATIVE),
    (lambda: IntSubclass(-5), OverflowError, NEGATIVE),
    (lambda: Index(-1), OverflowError, NEGATIVE),
    (lambda: 2**64, OverflowError, TOO_BIG),
    (lambda: 2**100, OverflowError, TOO_BIG),
    (lambda: Index(2**64), OverflowError, TOO_BIG),
    (lambda: 1.0, TypeError, "'float' object cannot be interpreted as an integer"),
    (lambda: "1", TypeError, "'str' object cannot be interpreted as an integer"),
    (lambda: None, TypeError, "'NoneType' object cannot be interpreted as an integer"),
    (lambda: b"\x01", TypeError, "'bytes' object cannot be interpreted as an integer"),
    (lambda: WrongIndex(), TypeError, WRONG_INDEX),
    (lambda: RaisingIndex(), ZeroDivisionError, "no index here"),
]
UNSIGNED_FAILURE_IDS = ["-1", "-2**70", "int-subclass", "index-negative", "2**64", "2**100",
                        "index-2**64", "float", "str", "None", "bytes", "index-non-int",
                        "index-raises"]


@pytest.mark.parametrize("function, index, parameter", parameters_of_kind("unsigned"))
@pytest.mark.parametrize("make, exception_type, message", UNSIGNED_FAILURES,
                         ids=UNSIGNED_FAILURE_IDS)
def test_unsigned_conversion_failures(native, function, index, parameter, make,
                                      exception_type, message):
    args = list(VALID[function][0])
    args[index] = make()
    error = raised(exception_type, lambda: call(native, function, *args))
    check_conversion_error(error, exception_type, message, parameter)


def numpy_int(value):
    return numpy().uint64(value)


INTEGER_FORMS = {
    "int": int,
    "int-subclass": IntSubclass,
    "index": Index,
    "numpy-uint64": numpy_int,
}

# (call with an integer-like value, the value it is tried with, the result)
UNSIGNED_USES = {
    "start": (lambda n, v: n.lzrw1_decompress(b"\xff\xff\xff\x00\x00A", v, 1), 3,
              bytearray(b"A")),
    "decompressed_length": (lambda n, v: n.lzrw1_decompress(LZRW1_RUN_OF_A, 0, v), 7,
                            bytearray(b"a" * 7)),
    "size_hint": (lambda n, v: n.decompress_grd_blocks(ABC, [(0, len(ABC))], v), 5,
                  (1, bytearray(b"abc"))),
    "width": (lambda n, v: n.decode_fixed_width_strings_ucs4(b"ab\x00cd\x00ef\x00", v, 3), 3,
              (2, ucs4("ab", "cd", "ef"))),
    "count": (lambda n, v: n.decode_fixed_width_strings_ucs4(b"ab\x00cd\x00ef\x00", 3, v), 2,
              (2, ucs4("ab", "cd"))),
}


@pytest.mark.parametrize("parameter", UNSIGNED_USES)
@pytest.mark.parametrize("form", INTEGER_FORMS)
def test_unsigned_accepts_integers(native, parameter, form):
    action, value, expected = UNSIGNED_USES[parameter]
    assert action(native, INTEGER_FORMS[form](value)) == expected


@pytest.mark.parametrize("action, expected", [
    (lambda n: n.lzrw1_decompress(b"\xff\x00\x00A", True, 1), bytearray(b"A")),
    (lambda n: n.lzrw1_decompress(LZRW1_RUN_OF_A, False, True), bytearray(b"a")),
    (lambda n: n.lzrw1_decompress(LZRW1_RUN_OF_A, 0, False), bytearray()),
    (lambda n: n.decode_fixed_width_strings_ucs4(b"ab", True, True), (1, ucs4("a"))),
    # The largest unsigned 64-bit value is a value, not an error.
    (lambda n: n.lzrw1_decompress(b"", 2**64 - 1, 0), bytearray()),
    (lambda n: n.lzrw1_decompress(b"", Index(2**64 - 1), 0), bytearray()),
    (lambda n: n.decompress_grd_blocks(ABC, [(0, len(ABC))], 2**64 - 1),
     (1, bytearray(b"abc"))),
    (lambda n: n.decode_fixed_width_strings_ucs4(b"", 2**64 - 1, 0), (0, bytearray())),
], ids=["start-True", "length-True", "length-False", "width-count-True", "start-max",
        "start-index-max", "size-hint-max", "width-max"])
def test_unsigned_edge_values(native, action, expected):
    assert action(native) == expected


def test_unsigned_max_reaches_the_decoder(native):
    # Accepted by conversion; the interpreter then refuses the size.
    error = raised(SystemError, lambda: native.lzrw1_decompress(b"", 0, 2**64 - 1))
    assert not hasattr(error, "__notes__")


SPEED_TOTAL_FAILURES = [
    (lambda: 2**63, OverflowError, LONG_OVERFLOW),
    (lambda: -2**63 - 1, OverflowError, LONG_OVERFLOW),
    (lambda: 2**64, OverflowError, LONG_OVERFLOW),
    (lambda: -2**100, OverflowError, LONG_OVERFLOW),
    (lambda: Index(2**63), OverflowError, LONG_OVERFLOW),
    (lambda: IntSubclass(2**63), OverflowError, LONG_OVERFLOW),
    (lambda: 5.0, TypeError, "'float' object cannot be interpreted as an integer"),
    (lambda: "5", TypeError, "'str' object cannot be interpreted as an integer"),
    (lambda: None, TypeError, "'NoneType' object cannot be interpreted as an integer"),
    (lambda: WrongIndex(), TypeError, WRONG_INDEX),
    (lambda: RaisingIndex(), ZeroDivisionError, "no index here"),
]


@pytest.mark.parametrize("make, exception_type, message", SPEED_TOTAL_FAILURES,
                         ids=["2**63", "-2**63-1", "2**64", "-2**100", "index-2**63",
                              "int-subclass", "float", "str", "None", "index-non-int",
                              "index-raises"])
def test_signed_conversion_failures(native, make, exception_type, message):
    error = raised(exception_type, lambda: native.decode_speed_blob(SPEED_ABC_DE, make()))
    check_conversion_error(error, exception_type, message, "total_decompressed_length")


@pytest.mark.parametrize("total, expected", [
    (5, b"abcde"),
    (IntSubclass(5), b"abcde"),
    (Index(5), b"abcde"),
    # Not larger than the first chunk: only the first chunk.
    (3, b"abc"),
    (0, b"abc"),
    (True, b"abc"),
    (-1, b"abc"),
    (Index(-1), b"abc"),
    (IntSubclass(-1), b"abc"),
    (-2**63, b"abc"),
], ids=["5", "int-subclass", "index", "3", "0", "True", "-1",
        "index-minus-1", "int-subclass-minus-1", "-2**63"])
def test_signed_accepts_integers(native, total, expected):
    assert native.decode_speed_blob(SPEED_ABC_DE, total) == bytearray(expected)


def test_signed_largest_value_reaches_the_decoder(native):
    error = raised(ValueError, lambda: native.decode_speed_blob(SPEED_ABC_DE, 2**63 - 1))
    assert error.args == ("decode_speed_blob: blob header declares 9223372036854775807 "
                          "decompressed byte(s), more than 45 byte(s) of chunk data could "
                          "possibly produce",)
    assert not hasattr(error, "__notes__")


def test_signed_numpy_integers(native):
    np = numpy()
    assert native.decode_speed_blob(SPEED_ABC_DE, np.int64(5)) == bytearray(b"abcde")
    assert native.decode_speed_blob(SPEED_ABC_DE, np.int64(-1)) == bytearray(b"abc")
    error = raised(TypeError, lambda: native.decode_speed_blob(SPEED_ABC_DE, np.float64(5)))
    assert error.__notes__ == ["while processing 'total_decompressed_length'"]


# --- conversion order ---------------------------------------------------------------------

BAD_VALUES = {
    "bytes": (None, TypeError, "'None' is not an instance of 'bytes'"),
    "buffer": ("text", TypeError, "a bytes-like object is required, not 'str'"),
    "unsigned": (-1, OverflowError, NEGATIVE),
    "signed": (2**63, OverflowError, LONG_OVERFLOW),
    "payloads": ("bad", TypeError, "Can't extract `str` to `Vec`"),
}

FAILING_POSITIONS = [(function, index) for function in FUNCTIONS
                     for index in range(len(names(function)))]


@pytest.mark.parametrize("by_keyword", [False, True], ids=["positional", "keywords-reversed"])
@pytest.mark.parametrize("function, index", FAILING_POSITIONS)
def test_first_failing_conversion_ends_the_call(native, function, index, by_keyword):
    parameters = SIGNATURES[function]
    log = []
    args = list(VALID[function][0])
    bad, exception_type, message = BAD_VALUES[parameters[index][1]]
    args[index] = bad
    for later in range(index + 1, len(args)):
        args[later] = Recorder(log, parameters[later][0])
    if by_keyword:
        kwargs = {name: args[i] for i, (name, _) in reversed(list(enumerate(parameters)))}
        action = lambda: call(native, function, **kwargs)
    else:
        action = lambda: call(native, function, *args)
    error = raised(exception_type, action)
    check_conversion_error(error, exception_type, message, parameters[index][0])
    assert log == []


@pytest.mark.parametrize("action, expected_log", [
    (lambda n, log: n.lzrw1_decompress(
        decompressed_length=Recorder(log, "decompressed_length"),
        start=Recorder(log, "start"), data=b""), ["start", "decompressed_length"]),
    (lambda n, log: n.decompress_grd_blocks(
        size_hint=Recorder(log, "size_hint"), payloads=Recorder(log, "payloads"), body=b""),
     ["payloads", "payloads", "size_hint"]),
    (lambda n, log: n.decode_fixed_width_strings_ucs4(
        count=Recorder(log, "count"), width=Recorder(log, "width"), data=b""),
     ["width", "count"]),
    (lambda n, log: n.decode_speed_blob(
        total_decompressed_length=Recorder(log, "total", value=5), data=SPEED_ABC_DE),
     ["total"]),
])
def test_conversions_run_in_parameter_order(native, action, expected_log):
    # The recorders above do get read when every earlier argument is good.
    log = []
    action(native, log)
    assert log == expected_log


def test_both_wrong_reports_data_only(native):
    error = raised(TypeError, lambda: native.lzrw1_decompress(bytearray(b"x"), -1, 1.0))
    check_conversion_error(error, TypeError, "'bytearray' object is not an instance of 'bytes'",
                           "data")
    error = raised(TypeError, lambda: native.decode_speed_blob(None, 2**63))
    check_conversion_error(error, TypeError, "'None' is not an instance of 'bytes'", "data")
    error = raised(TypeError, lambda: native.decompress_grd_blocks("body", "bad", -1))
    check_conversion_error(error, TypeError, "a bytes-like object is required, not 'str'",
                           "body")


# --- views are released -----------------------------------------------------------------

class RaisingSequence:
    def __len__(self):
        return 3

    def __getitem__(self, index):
        raise RuntimeError("item lookup failed")


GRD_PAYLOADS = [(0, len(ABC)), (len(ABC), len(XYZ))]

# (buffer content, call with the buffer, expected result or exception type)
RELEASE_CASES = {
    "zlib-ok": (ABC, lambda n, b: n.zlib_decompress(b), bytearray(b"abc")),
    "zlib-by-keyword": (ABC, lambda n, b: n.zlib_decompress(data=b), bytearray(b"abc")),
    "zlib-corrupt": (b"\x00" * 16, lambda n, b: n.zlib_decompress(b), ValueError),
    "zlib-empty": (b"", lambda n, b: n.zlib_decompress(b), ValueError),
    "zlib-binding": (ABC, lambda n, b: n.zlib_decompress(b, foo=1), TypeError),
    "grd-ok": (ABC + XYZ, lambda n, b: n.decompress_grd_blocks(b, GRD_PAYLOADS, 0),
               (2, bytearray(b"abcxyz"))),
    "grd-bad-block": (ABC + XYZ, lambda n, b: n.decompress_grd_blocks(
        b, [(0, len(ABC)), (1, 5)], 0), (1, bytearray(b"abc"))),
    "grd-past-end": (ABC, lambda n, b: n.decompress_grd_blocks(b, [(0, 100)], 0),
                     (0, bytearray())),
    "grd-payloads-str": (ABC, lambda n, b: n.decompress_grd_blocks(b, "bad", 0), TypeError),
    "grd-payloads-int": (ABC, lambda n, b: n.decompress_grd_blocks(b, 5, 0), TypeError),
    "grd-payloads-set": (ABC, lambda n, b: n.decompress_grd_blocks(b, {(0, 1)}, 0),
                         TypeError),
    "grd-item-None": (ABC, lambda n, b: n.decompress_grd_blocks(b, [None], 0), TypeError),
    "grd-item-length": (ABC, lambda n, b: n.decompress_grd_blocks(b, [(0, 1, 2)], 0),
                        ValueError),
    "grd-offset-negative": (ABC, lambda n, b: n.decompress_grd_blocks(
        b, [(0, 11), (-1, 1)], 0), OverflowError),
    "grd-length-too-big": (ABC, lambda n, b: n.decompress_grd_blocks(b, [(0, 2**64)], 0),
                           OverflowError),
    "grd-iteration-raises": (ABC, lambda n, b: n.decompress_grd_blocks(
        b, RaisingSequence(), 0), RuntimeError),
    "grd-size-hint-negative": (ABC, lambda n, b: n.decompress_grd_blocks(b, [], -1),
                               OverflowError),
    "grd-size-hint-float": (ABC, lambda n, b: n.decompress_grd_blocks(b, [], 1.0), TypeError),
    "grd-size-hint-raises": (ABC, lambda n, b: n.decompress_grd_blocks(
        b, [], RaisingIndex()), ZeroDivisionError),
    "grd-binding": (ABC, lambda n, b: n.decompress_grd_blocks(b, [], 0, 0), TypeError),
    "fixed-ok": (b"ab\x00cd\x00", lambda n, b: n.decode_fixed_width_strings_ucs4(b, 3, 2),
                 (2, ucs4("ab", "cd"))),
    "fixed-width-negative": (b"ab", lambda n, b: n.decode_fixed_width_strings_ucs4(b, -1, 1),
                             OverflowError),
    "fixed-count-too-big": (b"ab", lambda n, b: n.decode_fixed_width_strings_ucs4(
        b, 1, 2**64), OverflowError),
    "fixed-count-float": (b"ab", lambda n, b: n.decode_fixed_width_strings_ucs4(b, 1, 1.0),
                          TypeError),
    "fixed-too-short": (b"ab", lambda n, b: n.decode_fixed_width_strings_ucs4(b, 2, 2),
                        IndexError),
}


def check_outcome(action, expected):
    if isinstance(expected, type):
        raised(expected, action)
    else:
        assert action() == expected


@pytest.mark.parametrize("case", RELEASE_CASES)
def test_bytearray_argument_can_be_resized_after_the_call(native, case):
    content, action, expected = RELEASE_CASES[case]
    target = bytearray(content)
    check_outcome(lambda: action(native, target), expected)
    resize(target)


@pytest.mark.parametrize("case", RELEASE_CASES)
def test_memoryview_argument_can_be_released_after_the_call(native, case):
    content, action, expected = RELEASE_CASES[case]
    target = bytearray(content)
    view = memoryview(target)
    check_outcome(lambda: action(native, view), expected)
    view.release()  # BufferError while an export of the view is held
    resize(target)


@pytest.mark.parametrize("function", BUFFER_CASES)
@pytest.mark.parametrize("view_kind", ["format-b", "format-h", "0-d", "strided"])
def test_views_released_after_refused_or_strided_buffers(native, function, view_kind):
    payload, action, expected = BUFFER_CASES[function]
    if view_kind == "strided":
        target = bytearray(doubled(payload))
        view = memoryview(target)[::2]
        if function == "decode_fixed_width_strings_ucs4":
            raised(ValueError, lambda: action(native, view))
        else:
            assert action(native, view) == expected
    else:
        target = bytearray(payload)
        view = {"format-b": lambda: memoryview(target).cast("b"),
                "format-h": lambda: memoryview(target).cast("h"),
                "0-d": lambda: memoryview(target)[:1].cast("B", shape=[])}[view_kind]()
        raised(BufferError, lambda: action(native, view))
    view.release()
    resize(target)


@pytest.mark.parametrize("action", [
    lambda n, a: n.lzrw1_decompress(a[0], a[1], a[2]),
    lambda n, a: n.lzrw1_decompress(a[0], a[1], a[3]),
    lambda n, a: n.lzrw1_decompress(a[4], a[1], a[2]),
    lambda n, a: n.decode_speed_blob(a[0], a[3]),
    lambda n, a: n.decode_speed_blob(a[4], a[1]),
    lambda n, a: n.zlib_decompress(a[0]),
    lambda n, a: n.decompress_grd_blocks(a[0], a[5], a[3]),
    lambda n, a: n.decompress_grd_blocks(a[0], a[6], a[1]),
    lambda n, a: n.decode_fixed_width_strings_ucs4(a[0], a[1], a[3]),
    lambda n, a: n.decode_fixed_width_strings_ucs4(a[0], a[1], a[2]),
], ids=["lzrw1-decode-error", "lzrw1-conversion", "lzrw1-data-type", "speed-conversion",
        "speed-data-type", "zlib-decode-error", "grd-size-hint", "grd-payload-item",
        "fixed-conversion", "fixed-too-short"])
def test_failed_calls_keep_no_reference(native, action):
    arguments = [BytesSubclass(b"\x01\x00\x00\x01"), Index(1), Index(5), Index(-1),
                 bytearray(b"xy"), [(0, 1)], [(0, Index(1)), (0, Index(-1))]]
    before = [sys.getrefcount(a) for a in arguments]
    for _ in range(3):
        with pytest.raises(Exception):
            action(native, arguments)
    assert [sys.getrefcount(a) for a in arguments] == before


# --- exceptions and results of the decoders --------------------------------------------------

@pytest.mark.parametrize("action, exception_type, message", [
    (lambda n: n.lzrw1_decompress(b"", 0, 1), IndexError,
     "lzrw1_decompress: ran out of input data"),
    (lambda n: n.lzrw1_decompress(b"\x01\x00\x00\x01", 0, 1), IndexError,
     "lzrw1_decompress: back-reference offset out of range (corrupt data)"),
    (lambda n: n.decode_speed_blob(b"", 0), IndexError,
     "decode_speed_blob: truncated -- no chunk header"),
    (lambda n: n.decode_speed_blob(speed_blob(b"abc", subtype=2), 0), ValueError,
     "decode_speed_blob: not a Speed chunk (subtype=2)"),
    (lambda n: n.zlib_decompress(b""), ValueError, "zlib_decompress: incomplete deflate stream"),
    (lambda n: n.zlib_decompress(b"\x00" * 16), ValueError,
     "zlib_decompress: corrupt deflate stream"),
    (lambda n: n.decode_fixed_width_strings_ucs4(bytearray(10), 4, 3), IndexError,
     "decode_fixed_width_strings_ucs4: need 12 byte(s) for 3 record(s) of width 4, "
     "only 10 available"),
    (lambda n: n.decode_fixed_width_strings_ucs4(memoryview(b"abcd")[::2], 1, 1), ValueError,
     "decode_fixed_width_strings_ucs4: buffer must be C-contiguous"),
], ids=["lzrw1-input", "lzrw1-offset", "speed-truncated", "speed-subtype", "zlib-incomplete",
        "zlib-corrupt", "fixed-too-short", "fixed-strided"])
def test_decode_errors_are_plain_builtin_exceptions(native, action, exception_type, message):
    error = raised(exception_type, lambda: action(native))
    assert error.args == (message,)
    assert str(error) == message
    assert not hasattr(error, "__notes__")
    assert error.__cause__ is None
    assert error.__context__ is None


@pytest.mark.parametrize("length", [2**63, 2**63 + 1, 2**64 - 1])
def test_result_length_of_2_63_or_more_is_a_negative_size(native, length):
    # Nothing is decoded: empty input would otherwise give an IndexError.
    error = raised(SystemError, lambda: native.lzrw1_decompress(b"", 0, length))
    assert "Negative size" in str(error)
    assert not hasattr(error, "__notes__")


@pytest.mark.parametrize("length", [2**62, 2**63 - 2**32])
def test_result_length_that_cannot_be_allocated(native, length):
    error = raised(MemoryError, lambda: native.lzrw1_decompress(b"", 0, length))
    assert not hasattr(error, "__notes__")


@pytest.mark.parametrize("action, expected", [
    (lambda n: n.lzrw1_decompress(b"", 0, 0), bytearray()),
    (lambda n: n.lzrw1_decompress(b"", 10**9, 0), bytearray()),
    (lambda n: n.zlib_decompress(ZLIB_NOTHING), bytearray()),
    (lambda n: n.decompress_grd_blocks(b"", [], 0), (0, bytearray())),
    (lambda n: n.decompress_grd_blocks(ZLIB_NOTHING, [(0, 8)], 0), (1, bytearray())),
    (lambda n: n.decode_fixed_width_strings_ucs4(b"", 0, 0), (0, bytearray())),
    (lambda n: n.decode_fixed_width_strings_ucs4(b"\x00\x00\x00", 1, 3), (0, bytearray())),
], ids=["lzrw1", "lzrw1-far-start", "zlib", "grd-no-payloads", "grd-empty-block", "fixed",
        "fixed-empty-records"])
def test_zero_length_results_are_empty_bytearrays(native, action, expected):
    result = action(native)
    assert result == expected
    buffer = result if isinstance(result, bytearray) else result[1]
    assert type(buffer) is bytearray


@pytest.mark.parametrize("function", FUNCTIONS)
def test_results_are_new_writable_bytearrays(native, function):
    args, expected = VALID[function]
    first = call(native, function, *args)
    second = call(native, function, *args)
    assert first == second == expected
    if isinstance(expected, tuple):
        assert type(first) is tuple and len(first) == 2
        assert type(first[0]) is int
        first, second = first[1], second[1]
    assert type(first) is bytearray
    assert first is not second
    assert all(first is not arg for arg in args)
    assert not memoryview(first).readonly
    first[0] ^= 0xFF
    first.extend(b"more")
    assert second == (expected[1] if isinstance(expected, tuple) else expected)


def test_result_is_never_the_input_object(native):
    stream = bytearray(ABC)
    result = native.zlib_decompress(stream)
    assert result is not stream
    assert stream == bytearray(ABC)
