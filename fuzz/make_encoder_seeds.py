"""Seeds for the inflation fuzzers from encoders other than zlib.

    python fuzz/make_encoder_seeds.py CORPUS_DIR

Writes CORPUS_DIR/fast_inflate/enc-* (raw DEFLATE behind the harness's case
head, see fuzz_input.h) and CORPUS_DIR/zlib_stream/enc-* (whole zlib
streams) made by ISA-L's igzip (isal_zlib, levels 0 to 3) and zlib-ng
(zlib_ng: its quick, fast, medium and slow levels and its RLE, filtered and
fixed-code strategies), which choose blocks, codes and matches differently
from zlib.  The contents are those the decoders meet in survey files and
those that stress match copies: survey-like text, float32 grids and float64
channels with runs of one dummy value, every period of 1 to 16 bytes, long
runs of zeros, noise.  Everything comes from fixed seeds, so that the same
package versions write the same files.  Needs the packages of
fuzz/seed-requirements.txt (tools/run-fuzzers installs them).
"""
import os
import random
import struct
import sys

from isal import isal_zlib
from zlib_ng import zlib_ng

# Streams longer than this are left out (zlib-ng's RLE strategy codes most
# periods as literals), so that the corpus stays small.
MAX_SEED_SIZE = 8192
GRID_DUMMY = struct.pack("<f", 1.70141e38)
CHANNEL_DUMMY = struct.pack("<d", -1.0e32)


# -------------------------------------------------------------- contents


def survey_text(size, seed):
    rng = random.Random(seed)
    lines = []
    total = 0
    fid = 1
    while total < size:
        line = (f"{fid},{512000 + 0.5 * fid:.2f},{6700000 + rng.uniform(-3, 3):.2f},"
                f"{52000 + rng.uniform(-20, 20):.3f},{rng.randrange(4)}\n")
        lines.append(line)
        total += len(line)
        fid += 1
    return "".join(lines).encode()[:size]


def dummy_grid(rows, columns, blank_from, seed):
    """float32 cells, blank margins of varying width, whole rows blank from
    `blank_from` on."""
    rng = random.Random(seed)
    out = bytearray()
    for row in range(rows):
        left = columns if row >= blank_from else rng.randrange(columns // 3)
        right = 0 if row >= blank_from else rng.randrange(columns // 3)
        for column in range(columns):
            if column < left or column >= columns - right:
                out += GRID_DUMMY
            else:
                out += struct.pack("<f", round(52000 + 3 * column + rng.uniform(-0.5, 0.5), 2))
    return bytes(out)


def dummy_channel(samples, seed):
    """float64 samples of a random walk with gaps of the dummy value."""
    rng = random.Random(seed)
    out = bytearray()
    level = 1000.0
    while len(out) < samples * 8:
        if rng.random() < 0.1:
            out += CHANNEL_DUMMY * rng.randrange(8, 200)
            continue
        level += rng.uniform(-0.3, 0.3)
        out += struct.pack("<d", round(level, 3))
    return bytes(out[:samples * 8])


def periodic(size, period, seed):
    pattern = random.Random(seed).randbytes(period)
    return (pattern * (size // period + 1))[:size]


def contents():
    """(name, content, large): large ones go to fewer encoders."""
    found = [
        ("text", survey_text(12_000, 1), True),
        ("grid", dummy_grid(48, 64, 36, 2), True),
        ("channel", dummy_channel(1500, 3), True),
        ("noise", random.Random(4).randbytes(2000), True),
        ("zeros", bytes(256 * 1024), False),
        ("grid_blank", GRID_DUMMY * (64 * 1024), False),
        ("mixed", survey_text(3000, 5) + bytes(20_000) + dummy_grid(8, 64, 4, 6)
         + periodic(5000, 6, 7), False),
    ]
    found += [(f"period{p}", periodic(60_000 + 101 * p, p, 100 + p), False)
              for p in range(1, 17)]
    return found


# -------------------------------------------------------------- encoders


def zlib_ng_with(level, strategy=zlib_ng.Z_DEFAULT_STRATEGY):
    def encode(data):
        compressor = zlib_ng.compressobj(level, zlib_ng.DEFLATED, 15, 8, strategy)
        return compressor.compress(data) + compressor.flush()
    return encode


ENCODERS = [(f"isal{level}", (lambda lv: lambda data: isal_zlib.compress(data, lv))(level))
            for level in range(4)]
ENCODERS += [
    ("ng1", zlib_ng_with(1)),   # deflate_quick: fixed codes
    ("ng3", zlib_ng_with(3)),   # deflate_fast
    ("ng6", zlib_ng_with(6)),   # deflate_medium
    ("ng9", zlib_ng_with(9)),   # deflate_slow
    ("ngrle", zlib_ng_with(6, zlib_ng.Z_RLE)),
    ("ngfiltered", zlib_ng_with(6, zlib_ng.Z_FILTERED)),
    ("ngfixed", zlib_ng_with(6, zlib_ng.Z_FIXED)),
]
# Large contents: every ISA-L level, zlib-ng's quick and slow ends.
LARGE_ENCODERS = {"isal0", "isal1", "isal2", "isal3", "ng1", "ng9", "ngrle"}
# Whole streams for zlib_stream: a few of each encoder.
ZLIB_STREAM_CONTENTS = {"grid", "zeros", "period3", "mixed"}


def fast_inflate_head(room, prefix):
    """Raw mode with the output's room (0 one byte, 1 exact, 2 one more, 3
    one less); level, strategy, memory level, flips and flip seed unused."""
    return bytes([1 | room << 1, 0, 0, 7, 0]) + (0).to_bytes(4, "little") + bytes([prefix])


def main():
    if len(sys.argv) != 2:
        print(f"usage: {sys.argv[0]} CORPUS_DIR", file=sys.stderr)
        return 2
    root = sys.argv[1]
    written = {"fast_inflate": [0, 0], "zlib_stream": [0, 0]}

    def write(corpus, name, seed):
        if len(seed) > MAX_SEED_SIZE:
            return
        directory = os.path.join(root, corpus)
        os.makedirs(directory, exist_ok=True)
        with open(os.path.join(directory, f"enc-{name}"), "wb") as f:
            f.write(seed)
        written[corpus][0] += 1
        written[corpus][1] += len(seed)

    for index, (content_name, content, large) in enumerate(contents()):
        for number, (encoder_name, encode) in enumerate(ENCODERS):
            if large and encoder_name not in LARGE_ENCODERS:
                continue
            stream = encode(content)
            if zlib_ng.decompress(stream) != content:
                raise AssertionError(f"{encoder_name} on {content_name}: does not round-trip")
            name = f"{encoder_name}-{content_name}"
            # The harness wraps raw DEFLATE with its own header and trailers.
            head = fast_inflate_head((index + number) % 4, index % 5)
            write("fast_inflate", name, head + stream[2:-4])
            if content_name in ZLIB_STREAM_CONTENTS:
                write("zlib_stream", name, stream)
    for corpus, (count, size) in written.items():
        print(f"  {corpus:12s} {count:3d} encoder seeds, {size / 1024:.0f} KiB")
    return 0


if __name__ == "__main__":
    sys.exit(main())
