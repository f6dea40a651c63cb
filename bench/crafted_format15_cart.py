#!/usr/bin/env python3
"""Writes a demo cartridge whose 191 format 15 pointers all lead to one crafted
stream: a reference-mode row of colour 0 followed by nothing but "cut run 128"
commands, each of which leaves the cursor where it was. It runs from the start
of the free region to the end of the file. A whole extraction of it shows
whether such commands cost constant time.

  python3 bench/crafted_format15_cart.py TILVEX_DEMO OUT.smc [SIZE]
  time tilvex 100 OUT.smc out.bin
"""
import subprocess
import sys

POINTER_TABLE = 0x37B1F
STREAM_START = 0x120200  # the free region
FORMAT15 = list(range(0x041, 0x045)) + list(range(0x11E, 0x1D9))


def crafted_stream(size):
    pattern = [1, 0] * 7 + [0] + [1, 1]  # count 128, command code 3
    stream = bytearray(size)
    bit = 28  # the first four stream bits share header byte 3
    bits = [1]  # reference-mode row
    period = 17 * 8  # after the row mode bit the bits repeat every 17 bytes
    while len(bits) < 1 + 4 + 2 * period:
        bits += pattern
    for b in bits[: 1 + 4 + 2 * period]:
        if b and bit // 8 < size:
            stream[bit // 8] |= 1 << (bit % 8)
        bit += 1
    unit = bytes(stream[5:5 + 17])  # from byte 5 on, whole periods
    at = 5
    while at < size:
        stream[at:at + 17] = unit[: size - at]
        at += 17
    return bytes(stream)


def main():
    demo, out = sys.argv[1], sys.argv[2]
    size = int(sys.argv[3], 0) if len(sys.argv) > 3 else 0x400200
    subprocess.run([demo, out, "--size", hex(size)], check=True, stdout=subprocess.DEVNULL)
    data = bytearray(open(out, "rb").read())
    data[STREAM_START:] = crafted_stream(len(data) - STREAM_START)
    linear = STREAM_START - 0x200
    address = linear | (0x400000 if linear < 0x300000 else 0xC00000)
    for index in FORMAT15:
        at = POINTER_TABLE + 3 * index
        data[at:at + 3] = address.to_bytes(3, "little")
    open(out, "wb").write(data)


if __name__ == "__main__":
    main()
