#!/usr/bin/python3
"""Writes the 32-bit image of a one-image .ico file as a PNG (the desktop icon of the Linux package).
usage: ico_to_png.py launcher.ico out.png"""
import struct
import sys
import zlib


def main():
    data = open(sys.argv[1], "rb").read()
    width, height, _, _, _, bits, _, offset = struct.unpack_from("<BBBBHHII", data, 6)
    if bits != 32 or data[offset:offset + 4] != struct.pack("<I", 40):
        sys.exit("ico_to_png.py: only a 32-bit BMP image is supported")
    width, height = width or 256, height or 256
    pixels = data[offset + 40:offset + 40 + 4 * width * height]
    rows = []
    for y in range(height - 1, -1, -1):  # BMP rows run bottom-up, BGRA
        row = pixels[4 * width * y:4 * width * (y + 1)]
        rgba = bytearray(row)
        rgba[0::4], rgba[2::4] = row[2::4], row[0::4]
        rows.append(b"\0" + bytes(rgba))

    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))
    png = (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0))
           + chunk(b"IDAT", zlib.compress(b"".join(rows), 9)) + chunk(b"IEND", b""))
    open(sys.argv[2], "wb").write(png)


main()
