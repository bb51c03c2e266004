#!/usr/bin/env python3
"""Writes a deterministic placeholder firmware image of an exact size.

No real firmware is at hand at build time, so each image is a fixed pseudo-random byte
string drawn from its name: the same name and size always give the same bytes, and no
two images share a prefix, so a download of the wrong image is easy to tell apart.
"""
import argparse
import hashlib
import os
import sys

SEED_PREFIX = b"varnex-410-placeholder-firmware:"


def placeholder_bytes(name: str, size: int) -> bytes:
    return hashlib.shake_256(SEED_PREFIX + name.encode("ascii")).digest(size)


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--name", required=True, help="resource name, e.g. BOOTLOADER")
    parser.add_argument("--size", required=True, type=int, help="exact size in bytes")
    parser.add_argument("--out", required=True, help="file to write")
    args = parser.parse_args()
    if args.size <= 0:
        print(f"placeholder firmware: size must be positive, got {args.size}", file=sys.stderr)
        return 1
    data = placeholder_bytes(args.name, args.size)
    temporary = args.out + ".tmp"
    with open(temporary, "wb") as out:
        out.write(data)
    os.replace(temporary, args.out)  # never leave a half-written image behind
    return 0


if __name__ == "__main__":
    sys.exit(main())
