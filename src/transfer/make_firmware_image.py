#!/usr/bin/env python3
"""Writes the placeholder firmware image: 89,676 deterministic bytes whose
XOR is 0xBB and whose 32-bit sum is 0x00777883, so that the closing bytes of
its upload, BB 00 77 78 83, follow the XOR-then-sum rule used for every
uploaded block. Run from this folder: python3 make_firmware_image.py"""
import sys

SIZE = 89676
XOR_TARGET = 0xBB
SUM_TARGET = 0x00777883
TAIL = 4  # bytes solved at the end


def lcg(seed):
    while True:
        seed = (seed * 1103515245 + 12345) & 0x7FFFFFFF
        yield seed >> 16


def main(path):
    gen = lcg(0x5679)
    # Mean 87 keeps the running sum near the target.
    data = bytearray(next(gen) % 175 for _ in range(SIZE - TAIL))
    # Nudge bytes, spread over the image, until what is left for the tail
    # is within reach of four bytes.
    i = 7
    while not 300 <= SUM_TARGET - sum(data) <= 700:
        i = (i * 31 + 17) % len(data)
        if SUM_TARGET - sum(data) > 700 and data[i] < 255:
            data[i] += 1
        elif SUM_TARGET - sum(data) < 300 and data[i] > 0:
            data[i] -= 1
    xor = 0
    for b in data:
        xor ^= b
    total = sum(data)
    need_sum = SUM_TARGET - total
    need_xor = XOR_TARGET ^ xor
    # Pick the first two tail bytes, solve the last two: a + b = s, a ^ b = x.
    for p in range(256):
        for q in range(256):
            s = need_sum - p - q
            x = need_xor ^ p ^ q
            if s < 0 or s > 510 or (s - x) % 2:
                continue
            both = (s - x) // 2  # bits set in both a and b
            if both & x or both > 255 or x > 255:
                continue
            a, b = both | x, both
            if a > 255:
                continue
            data += bytes([p, q, a, b])
            assert len(data) == SIZE
            x_all = 0
            for v in data:
                x_all ^= v
            assert x_all == XOR_TARGET and sum(data) & 0xFFFFFFFF == SUM_TARGET
            with open(path, "wb") as f:
                f.write(data)
            return 0
    raise SystemExit("no solution")


if __name__ == "__main__":
    sys.exit(main(sys.argv[1] if len(sys.argv) > 1 else "firmware_image.bin"))
