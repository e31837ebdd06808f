#!/usr/bin/env python3
"""Writes an Intel HEX file with pseudo-random data and the flash image that a
device of the given flash size must hold after the upload.

usage: make_hex.py HEX IMAGE FLASH_SIZE START LENGTH [SEED]
"""
import random
import sys


def record(address, kind, data):
    body = bytes([len(data), address >> 8 & 0xFF, address & 0xFF, kind]) + data
    checksum = -sum(body) & 0xFF
    return ":" + (body + bytes([checksum])).hex().upper() + "\n"


def main():
    hex_name, image_name = sys.argv[1], sys.argv[2]
    flash_size, start, length = (int(v, 0) for v in sys.argv[3:6])
    seed = int(sys.argv[6]) if len(sys.argv) > 6 else 1
    data = bytes(random.Random(seed).randrange(256) for _ in range(length))
    image = bytearray(b"\xff" * flash_size)
    image[start:start + length] = data
    with open(hex_name, "w", newline="\r\n") as out:
        for offset in range(0, length, 16):
            out.write(record(start + offset, 0, data[offset:offset + 16]))
        out.write(record(0, 1, b""))
    with open(image_name, "wb") as out:
        out.write(image)


if __name__ == "__main__":
    main()
