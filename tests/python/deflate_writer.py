"""Hand-made DEFLATE streams for the inflation tests: a bit writer, and
streams of the classes that a lenient whole-buffer decoder (libdeflate)
takes but zlib does not, each wrapped with the Adler-32 of the content the
lenient decoder makes of it, so that only the decoding rules differ."""
import zlib

PRECODE_ORDER = [16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15]


class BitWriter:
    """DEFLATE's bit order: fields least significant bit first, Huffman
    codewords most significant bit first."""

    def __init__(self):
        self.value = 0
        self.count = 0

    def bits(self, value, count):
        self.value |= (value & ((1 << count) - 1)) << self.count
        self.count += count

    def code(self, codeword, length):
        self.bits(int(format(codeword, f"0{length}b")[::-1], 2), length)

    def finish(self):
        return self.value.to_bytes((self.count + 7) // 8, "little")


def canonical_codes(lens):
    counts = [0] * 16
    for length in lens:
        counts[length] += 1
    counts[0] = 0
    next_code, code = [0] * 16, 0
    for length in range(1, 16):
        code = (code + counts[length - 1]) << 1
        next_code[length] = code
    codes = []
    for length in lens:
        codes.append(next_code[length] if length else 0)
        if length:
            next_code[length] += 1
    return codes


class Code:
    def __init__(self, lens):
        self.lens, self.codes = lens, canonical_codes(lens)

    def put(self, writer, symbol):
        writer.code(self.codes[symbol], self.lens[symbol])


FIXED_LITLEN = Code([8] * 144 + [9] * 112 + [7] * 24 + [8] * 8)
FIXED_DIST = Code([5] * 32)
# A complete code-length code: symbols 0-12 four bits, 13-18 five bits.
PLAIN_PRECODE = [4] * 13 + [5] * 6


def code_lengths(count, assigned):
    lens = [0] * count
    for symbol, length in assigned.items():
        lens[symbol] = length
    return lens


def dynamic_header(writer, litlen_lens, dist_lens, length_symbols=None):
    """A final dynamic block's header; the code lengths sent one precode
    symbol each unless `length_symbols` ((symbol, extra, extra bits), ...)
    is given."""
    writer.bits(1, 1)
    writer.bits(2, 2)
    writer.bits(len(litlen_lens) - 257, 5)
    writer.bits(len(dist_lens) - 1, 5)
    writer.bits(19 - 4, 4)
    for symbol in PRECODE_ORDER:
        writer.bits(PLAIN_PRECODE[symbol], 3)
    precode = Code(PLAIN_PRECODE)
    if length_symbols is None:
        length_symbols = [(length, 0, 0) for length in litlen_lens + dist_lens]
    for symbol, extra, extra_bits in length_symbols:
        precode.put(writer, symbol)
        writer.bits(extra, extra_bits)


def zlib_wrap(raw, content):
    return b"\x78\x9c" + raw + zlib.adler32(content).to_bytes(4, "big")


A = ord("a")


def _too_many_length_codes():
    w = BitWriter()
    lit = code_lengths(288, {A: 1, 256: 2, 287: 2})
    dynamic_header(w, lit, [1, 1])
    code = Code(lit)
    code.put(w, A)
    code.put(w, A)
    code.put(w, 256)
    return w.finish(), b"aa"


def _fixed_length_symbol(symbol):
    w = BitWriter()
    w.bits(1, 1)
    w.bits(1, 2)
    FIXED_LITLEN.put(w, A)
    FIXED_LITLEN.put(w, symbol)  # taken as a 258-byte match by the lenient
    FIXED_DIST.put(w, 0)
    FIXED_LITLEN.put(w, 256)
    return w.finish(), b"a" * 259


def _repeat_past_the_end():
    w = BitWriter()
    lit = code_lengths(257, {A: 1, 256: 1})
    symbols = [(length, 0, 0) for length in lit] + [(1, 0, 0), (16, 0, 2)]
    dynamic_header(w, lit, [1, 1], symbols)
    code = Code(lit)
    code.put(w, A)
    code.put(w, 256)
    return w.finish(), b"a"


def _distance_code(dist_lens, bit, matches=1):
    w = BitWriter()
    lit = code_lengths(258, {A: 2, 256: 2, 257: 1})
    dynamic_header(w, lit, dist_lens)
    code = Code(lit)
    code.put(w, A)
    for _ in range(matches):
        code.put(w, 257)  # length 3
        w.bits(bit, 1)    # the distance codeword
    code.put(w, 256)
    return w.finish(), b"a" * (1 + 3 * matches)


def single_distance_code_stream(matches):
    """A zlib stream zlib accepts but whose distance code is incomplete (one
    codeword of one bit): `matches` matches of 3 bytes after a literal."""
    return zlib_wrap(*_distance_code([1], 0, matches))


def _single_length_code_sent_as_one():
    w = BitWriter()
    dynamic_header(w, code_lengths(257, {256: 1}), [1])
    w.bits(1, 1)
    return w.finish(), b""


# name -> (zlib stream, zlib accepts it)
def crafted_streams():
    made = {
        "too_many_length_codes": (_too_many_length_codes(), False),
        "fixed_length_symbol_286": (_fixed_length_symbol(286), False),
        "fixed_length_symbol_287": (_fixed_length_symbol(287), False),
        "repeat_past_the_end": (_repeat_past_the_end(), False),
        "empty_distance_code_used": (_distance_code([0], 1), False),
        "single_distance_code_sent_as_one": (_distance_code([1], 1), False),
        "single_distance_code_sent_as_zero": (_distance_code([1], 0), True),
        "single_length_code_sent_as_one": (_single_length_code_sent_as_one(), False),
    }
    return {name: (zlib_wrap(raw, content), accepted)
            for name, ((raw, content), accepted) in made.items()}
