#!/usr/bin/env python3
"""Writes the date cross-check table of the date! unit tests.

100,000 dates drawn at random (fixed seed) between 1 January 1 and 31 December 9999 of the
proleptic Gregorian calendar, one per line: year month day, the ordinal day number
(1 January 1 = 1), the ISO weekday (Monday = 1) and the ISO week number, all from Python's
datetime. Day differences are the differences of ordinals.

    python3 tools/date-table.py > tests/unit/data/date-crosscheck.txt
"""
import datetime
import random

rng = random.Random(20201231)
first = datetime.date(1, 1, 1).toordinal()
last = datetime.date(9999, 12, 31).toordinal()
out = []
for _ in range(100000):
    d = datetime.date.fromordinal(rng.randint(first, last))
    iso = d.isocalendar()
    out.append(f"{d.year} {d.month} {d.day} {d.toordinal()} {iso[2]} {iso[1]}")
print("\n".join(out))
