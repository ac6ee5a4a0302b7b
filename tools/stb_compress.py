#!/usr/bin/python3
"""A small compressor for the stream format that Dear ImGui's stb_decompress()
reads (AddFontFromMemoryCompressedTTF): a 16-byte header, literal and match
tokens, then 0x05 0xFA and the Adler-32 of the decompressed bytes.

  header: 57 BC 00 00 | 00 00 00 00 | length (big-endian) | window (big-endian)

Matching is greedy over a hash chain of 4-byte prefixes; the result is not as
small as the reference compressor's but decodes to the same bytes.
"""
import struct
import sys

MAGIC = 0x57BC0000
MIN_MATCH = 4
MAX_DISTANCE = 0x80000        # largest distance the 3-byte distance tokens encode
MAX_MATCH = 0x10000           # longest match a single token encodes
CHAIN_LIMIT = 48              # candidates looked at per position


def adler32(data):
    s1, s2 = 1, 0
    for start in range(0, len(data), 5552):
        for byte in data[start:start + 5552]:
            s1 += byte
            s2 += s1
        s1 %= 65521
        s2 %= 65521
    return (s2 << 16) | s1


def _literals(out, data, start, end):
    while start < end:
        n = min(end - start, 0x10000)
        if n <= 32:
            out.append(0x20 + n - 1)
        elif n <= 2048:
            out += struct.pack(">H", 0x0800 + n - 1)
        else:
            out.append(0x07)
            out += struct.pack(">H", n - 1)
        out += data[start:start + n]
        start += n


def _match(out, distance, length):
    d, n = distance - 1, length - 1
    if d < 0x100 and n < 0x80:
        out += bytes((0x80 + n, d))
    elif d < 0x4000 and n < 0x100:
        out += struct.pack(">HB", 0x4000 + d, n)
    elif d < 0x80000 and n < 0x100:
        out += struct.pack(">I", (0x180000 + d) << 8 | n)
    else:
        out += struct.pack(">I", (0x100000 + d) << 8 | (n >> 8))[:4] + bytes((n & 0xFF,))


def _match_cost(distance, length):
    d, n = distance - 1, length - 1
    if d < 0x100 and n < 0x80:
        return 2
    if d < 0x4000 and n < 0x100:
        return 3
    if n < 0x100:
        return 4
    return 5


def compress(data):
    data = bytes(data)
    size = len(data)
    out = bytearray(struct.pack(">IIII", MAGIC, 0, size, MAX_DISTANCE))
    heads = {}
    chain = [-1] * size
    literal_start = 0
    pos = 0
    while pos < size:
        best_len, best_dist = 0, 0
        if pos + MIN_MATCH <= size:
            key = data[pos:pos + MIN_MATCH]
            candidate = heads.get(key, -1)
            tries = CHAIN_LIMIT
            limit = min(size - pos, MAX_MATCH)
            while candidate >= 0 and pos - candidate <= MAX_DISTANCE and tries:
                length = MIN_MATCH
                while length < limit and data[candidate + length] == data[pos + length]:
                    length += 1
                if length > best_len:
                    best_len, best_dist = length, pos - candidate
                    if length == limit:
                        break
                candidate = chain[candidate]
                tries -= 1
        if best_len >= MIN_MATCH and _match_cost(best_dist, best_len) < best_len:
            _literals(out, data, literal_start, pos)
            _match(out, best_dist, best_len)
            end = pos + best_len
            while pos < end:
                _insert(data, heads, chain, pos, size)
                pos += 1
            literal_start = pos
        else:
            _insert(data, heads, chain, pos, size)
            pos += 1
    _literals(out, data, literal_start, size)
    out += bytes((0x05, 0xFA))
    out += struct.pack(">I", adler32(data))
    return bytes(out)


def _insert(data, heads, chain, pos, size):
    if pos + MIN_MATCH <= size:
        key = data[pos:pos + MIN_MATCH]
        chain[pos] = heads.get(key, -1)
        heads[key] = pos


def decompress(stream):
    """Reference decoder, used to check the compressor without a C++ build."""
    magic, high, size, _ = struct.unpack(">IIII", stream[:16])
    if magic != MAGIC or high != 0:
        raise ValueError("not a compressed stream")
    out = bytearray()
    i = 16
    while True:
        t = stream[i]
        if t >= 0x80:
            dist, n, i = stream[i + 1] + 1, t - 0x80 + 1, i + 2
        elif t >= 0x40:
            dist, n, i = (stream[i] << 8 | stream[i + 1]) - 0x4000 + 1, stream[i + 2] + 1, i + 3
        elif t >= 0x20:
            n = t - 0x20 + 1
            out += stream[i + 1:i + 1 + n]
            i += 1 + n
            continue
        elif t >= 0x18:
            dist = int.from_bytes(stream[i:i + 3], "big") - 0x180000 + 1
            n, i = stream[i + 3] + 1, i + 4
        elif t >= 0x10:
            dist = int.from_bytes(stream[i:i + 3], "big") - 0x100000 + 1
            n, i = int.from_bytes(stream[i + 3:i + 5], "big") + 1, i + 5
        elif t >= 0x08:
            n = int.from_bytes(stream[i:i + 2], "big") - 0x0800 + 1
            out += stream[i + 2:i + 2 + n]
            i += 2 + n
            continue
        elif t == 0x07:
            n = int.from_bytes(stream[i + 1:i + 3], "big") + 1
            out += stream[i + 3:i + 3 + n]
            i += 3 + n
            continue
        elif t == 0x05 and stream[i + 1] == 0xFA:
            if len(out) != size or struct.unpack(">I", stream[i + 2:i + 6])[0] != adler32(out):
                raise ValueError("length or checksum mismatch")
            return bytes(out)
        else:
            raise ValueError("unknown token 0x%02x" % t)
        for _ in range(n):
            out.append(out[-dist])


if __name__ == "__main__":
    raw = open(sys.argv[1], "rb").read()
    packed = compress(raw)
    assert decompress(packed) == raw
    print("%d -> %d bytes (%.1f%%)" % (len(raw), len(packed), 100.0 * len(packed) / len(raw)))
