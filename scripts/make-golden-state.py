#!/usr/bin/env python3
"""Writes tests/fixtures/default-state-data.bin: the "data" value of the
effect's saved state as a freshly opened instance writes it.

Written from the documented defaults, independently of the code under test,
so that a change to the persisted format cannot go unnoticed: one element
record (scope 0, element 0, 22 parameters), every word big-endian, each
value the 32 bits of an IEEE 754 single-precision float.
"""
import pathlib
import struct

# Parameter ids 0..21 in order.
DEFAULTS = [0.0, 100.0] + [100.0] * 12 + [1.0, 1.0, 440.0, 25.0, 1.0, 100.0, 12.0, 0.0]
assert len(DEFAULTS) == 22

SCOPE_GLOBAL = 0
ELEMENT = 0


def main() -> None:
    blob = struct.pack(">III", SCOPE_GLOBAL, ELEMENT, len(DEFAULTS))
    for parameter_id, value in enumerate(DEFAULTS):
        blob += struct.pack(">If", parameter_id, value)
    assert len(blob) == 188
    target = pathlib.Path(__file__).resolve().parent.parent / "tests" / "fixtures" / "default-state-data.bin"
    target.write_bytes(blob)
    print(f"wrote {len(blob)} bytes to {target}")


if __name__ == "__main__":
    main()
