"""Plain-Python models of _native.zlib_decompress and
_native.decompress_grd_blocks, built on the standard zlib module.

They take the same arguments, return the same values and raise the same
exceptions (type, message, argument notes) for the inputs the tests use.
"""
import ctypes
import operator
import zlib

U64_MAX = 2**64 - 1

# A byte order character may stand before the item code; "<" and "!" are
# refused although every item is a single byte.
U8_FORMATS = {"B", "c", "@B", "@c", "=B", "=c", ">B", ">c"}

_sequence_check = ctypes.pythonapi.PySequence_Check
_sequence_check.argtypes = [ctypes.py_object]
_sequence_check.restype = ctypes.c_int


def _noted(error, parameter):
    error.add_note(f"while processing '{parameter}'")
    return error


def _type_mismatch(obj, expected):
    if obj is None:
        return TypeError(f"'None' is not an instance of '{expected}'")
    return TypeError(
        f"'{type(obj).__qualname__}' object is not an instance of '{expected}'")


def buffer_bytes(obj, parameter):
    """The bytes of a buffer argument in logical order (the owned copy)."""
    try:
        view = memoryview(obj)
    except TypeError:
        raise _noted(TypeError(
            f"a bytes-like object is required, not '{type(obj).__name__}'"),
            parameter) from None
    with view:
        if view.itemsize != 1 or view.format not in U8_FORMATS:
            raise _noted(BufferError("buffer contents are not compatible with u8"),
                         parameter)
        return view.tobytes()


def unsigned(obj, parameter):
    """The unsigned 64-bit conversion of an integer argument."""
    try:
        # Like PyNumber_Index: an int (subclass included) gives its value,
        # anything else goes through __index__.
        value = operator.index(obj)
        if value < 0:
            raise OverflowError("can't convert negative int to unsigned")
        if value > U64_MAX:
            raise OverflowError("int too big to convert")
        return value
    except Exception as error:
        raise _noted(error, parameter)


def convert_payloads(payloads):
    """The list of (offset, length) pairs, item by item: the first failure
    ends the walk, later items are never looked at."""
    converted = []
    try:
        if issubclass(type(payloads), str):
            raise TypeError("Can't extract `str` to `Vec`")
        if not _sequence_check(payloads):
            raise _type_mismatch(payloads, "Sequence")
        iterator = iter(payloads)
    except Exception as error:
        raise _noted(error, "payloads")
    while True:
        try:
            item = next(iterator)
        except StopIteration:
            return converted
        except Exception as error:
            raise _noted(error, "payloads")
        try:
            if not issubclass(type(item), tuple):
                raise _type_mismatch(item, "tuple")
            # The tuple's own storage, whatever a subclass makes of len().
            size = tuple.__len__(item)
            if size != 2:
                raise ValueError(
                    f"expected tuple of length 2, but got tuple of length {size}")
        except Exception as error:
            raise _noted(error, "payloads")
        offset = unsigned(tuple.__getitem__(item, 0), "payloads")
        length = unsigned(tuple.__getitem__(item, 1), "payloads")
        converted.append((offset, length))


def inflate(stream):
    """The content of the zlib stream at the start of `stream`, or the
    failure text: what a standard decompression object makes of it."""
    inflater = zlib.decompressobj(zlib.MAX_WBITS)
    try:
        content = inflater.decompress(stream)
    except zlib.error:
        return None, "corrupt deflate stream"
    if not inflater.eof:
        return None, "incomplete deflate stream"
    return content, None


def zlib_decompress(data):
    stream = buffer_bytes(data, "data")
    content, failure = inflate(stream)
    if failure is not None:
        raise ValueError(f"zlib_decompress: {failure}")
    return bytearray(content)


def inflate_grid_blocks(body, locations):
    """(blocks decoded, content): the blocks in order up to the first one
    out of range or failing."""
    content = bytearray()
    count = 0
    for offset, length in locations:
        end = offset + length
        if end > U64_MAX or end > len(body):
            break
        block, failure = inflate(body[offset:end])
        if failure is not None:
            break
        content += block
        count += 1
    return count, content


def decompress_grd_blocks(body, payloads, size_hint):
    data = buffer_bytes(body, "body")
    locations = convert_payloads(payloads)
    unsigned(size_hint, "size_hint")  # reserved only: never changes the result
    return inflate_grid_blocks(data, locations)
