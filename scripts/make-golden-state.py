#!/usr/bin/env python3
"""Writes tests/fixtures/default-state-data.bin: the "data" value of the
effect's saved state as a freshly opened instance writes it.

Written from the documented defaults, independently of the code under test,
so that a change to the persisted format cannot go unnoticed: one element
record (scope 0, element 0, 22 parameters), every word big-endian, each
value the 32 bits of an IEEE 754 single-precision float. Also
tests/fixtures/two-element-state-data.bin: the same with a second element's
record after it.
"""
import pathlib
import struct

# Parameter ids 0..21 in order.
DEFAULTS = [0.0, 100.0] + [100.0] * 12 + [1.0, 1.0, 440.0, 25.0, 1.0, 100.0, 12.0, 0.0]
assert len(DEFAULTS) == 22

SCOPE_GLOBAL = 0
ELEMENT = 0


def record(scope: int, element: int, values: list) -> bytes:
    blob = struct.pack(">III", scope, element, len(values))
    for parameter_id, value in values:
        blob += struct.pack(">If", parameter_id, value)
    return blob


def main() -> None:
    fixtures = pathlib.Path(__file__).resolve().parent.parent / "tests" / "fixtures"
    blob = record(SCOPE_GLOBAL, ELEMENT, list(enumerate(DEFAULTS)))
    assert len(blob) == 188
    # The same, then a record of a second element: input scope (1), element 1,
    # holding parameter 6 = 1.0. Both header words differ from their byte swaps.
    second = blob + record(1, 1, [(6, 1.0)])
    for name, data in (("default-state-data.bin", blob), ("two-element-state-data.bin", second)):
        (fixtures / name).write_bytes(data)
        print(f"wrote {len(data)} bytes to {fixtures / name}")


if __name__ == "__main__":
    main()
