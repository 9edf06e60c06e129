#!/usr/bin/env python3
"""Writes vectors.txt: files encoded under a passphrase, worked out from the
format's rules alone with nothing of the engine's code, so that the engine's
tests have a yardstick it did not make itself.

Run by hand, once, whenever the set of vectors changes, and check in the
result; the build never runs it:

    python3 tests/vectors/make_vectors.py

Standard library only.
"""

import hashlib
import os

HEADER_SIZE = 128
HEADER_SEED = 7
BODY_SEED = 13
CHUNK_SIZE = 262144  # the engine reads and scrambles this much per step
SIGNATURE = b"Pelmot ver 1.00 - tovik -"


def draws(seed):
    """The keystream from seed: a 15-bit linear congruential generator."""
    state = seed
    while True:
        state = (state * 107 + 1013) % 32768
        yield state


def scramble(passphrase, seed, data):
    """Each byte combined with the passphrase byte its draw picks, in order."""
    stream = draws(seed)
    return bytes(b ^ passphrase[next(stream) % len(passphrase)] for b in data)


def encode(passphrase, plain):
    # The free header bytes after the signature's terminator are zeros here;
    # readers never look at them, and other writers may put anything there.
    header = SIGNATURE + b"\0" * (HEADER_SIZE - len(SIGNATURE))
    return scramble(passphrase, HEADER_SEED, header) + scramble(passphrase, BODY_SEED, plain)


def pattern(mul, add, length):
    return bytes((i * mul + add) % 256 for i in range(length))


def whole(name, passphrase, plain):
    return [
        "name: " + name,
        "passphrase_hex: " + passphrase.hex(),
        "plain_hex: " + plain.hex(),
        "encoded_hex: " + encode(passphrase, plain).hex(),
    ]


def by_digest(name, passphrase, mul, add, length):
    # Too large to write out: the plain bytes come from a formula, the
    # encoded ones are pinned by their whole header, their end and a digest.
    encoded = encode(passphrase, pattern(mul, add, length))
    return [
        "name: " + name,
        "passphrase_hex: " + passphrase.hex(),
        "plain_pattern: %d %d %d" % (mul, add, length),
        "encoded_length: %d" % len(encoded),
        "encoded_head_hex: " + encoded[:HEADER_SIZE].hex(),
        "encoded_tail_hex: " + encoded[-64:].hex(),
        "encoded_sha256: " + hashlib.sha256(encoded).hexdigest(),
    ]


def main():
    # The first draws the format fixes for each seed.
    assert next(draws(HEADER_SEED)) == 1762 and next(draws(BODY_SEED)) == 2404

    long_passphrase = bytes(33 + i % 94 for i in range(127))  # printable ASCII, 127 bytes
    vectors = [
        whole("empty", b"karvel", b""),
        whole("one-byte", b"key", b"\xff"),
        whole("short-text", b"correct horse", b"The quick brown fox jumps over the lazy dog.\r\n"),
        whole("one-character-passphrase", b"x", b"Every byte meets the same key byte.\n"),
        whole("127-character-passphrase", long_passphrase, pattern(31, 5, 300)),
        # Passphrases as a Japanese and a Western European system type them.
        whole("cp932-passphrase", "パスワード".encode("cp932"),
              "秘密のメモ\r\n".encode("cp932")),
        whole("cp1252-passphrase", "café crème".encode("cp1252"),
              "Crème brûlée\r\n".encode("cp1252")),
        by_digest("two-chunks", b"chunk boundary", 7, 3, CHUNK_SIZE + 300),
    ]

    lines = [
        "# Files encoded under a passphrase, written by make_vectors.py; do not edit.",
        "# Blocks are separated by a blank line; hex is lowercase, without separators.",
        "# The header's free bytes (26 to 127) are zeros before scrambling.",
        "# A plain file too large to write out is given as",
        "#   plain_pattern: MUL ADD LENGTH   (byte i is (i * MUL + ADD) mod 256)",
        "# and its encoded file by its length, its first 128 and last 64 bytes",
        "# and the SHA-256 of all of it.",
    ]
    for vector in vectors:
        lines.append("")
        lines.extend(vector)
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), "vectors.txt")
    with open(path, "w", encoding="ascii", newline="\n") as out:
        out.write("".join(line.rstrip() + "\n" for line in lines))


if __name__ == "__main__":
    main()
