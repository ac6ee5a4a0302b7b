#!/usr/bin/python3
"""Turns a file into a C++ source holding it as a byte array, optionally in the
GUI library's compressed font format:
  embed_file.py [--compress] input output.cpp symbol
defines starfell::resources::<symbol> and <symbol>Size (see resources/embedded.h).
"""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import stb_compress  # noqa: E402


def main():
    args = sys.argv[1:]
    compress = args[:1] == ["--compress"]
    if compress:
        args = args[1:]
    if len(args) != 3:
        sys.exit("usage: embed_file.py [--compress] input output.cpp symbol")
    source, target, symbol = args
    data = open(source, "rb").read()
    original = ""
    if compress:
        # What the decompressed bytes must be, so that tests can check the round trip.
        original = ("const std::size_t %sOriginalSize = %d;\n"
                    "const std::uint32_t %sOriginalAdler32 = 0x%08xu;\n\n"
                    % (symbol, len(data), symbol, stb_compress.adler32(data)))
        data = stb_compress.compress(data)
    lines = []
    for start in range(0, len(data), 24):
        lines.append("    " + ",".join("0x%02x" % b for b in data[start:start + 24]) + ",")
    text = (
        "// Generated at build time from %s%s; do not edit.\n"
        "#include \"resources/embedded.h\"\n\n"
        "namespace starfell::resources {\n\n"
        "alignas(4) const unsigned char %s[] = {\n%s\n};\n"
        "const std::size_t %sSize = %d;\n%s\n"
        "}  // namespace starfell::resources\n"
        % (os.path.basename(source), " (compressed)" if compress else "", symbol,
           "\n".join(lines), symbol, len(data), original))
    tmp = target + ".tmp"
    with open(tmp, "w") as f:
        f.write(text)
    os.replace(tmp, target)


if __name__ == "__main__":
    main()
