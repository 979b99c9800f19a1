#!/usr/bin/env python3
"""Writes src/compat/upper_case_table.h: Unicode's simple upper-case mapping
of the Basic Multilingual Plane, the table NTFS compares names by, as runs.

    scripts/make_upper_case_table.py [UNICODE_DATA_FOLDER]

The folder (default /usr/share/unicode, Debian's unicode-data package) holds
UnicodeData.txt and DerivedAge.txt, whose first line gives the version. The
mapping is field 12 of UnicodeData.txt; code points beyond the BMP are left
out, as NTFS compares their surrogates unmapped.
"""
import os
import re
import sys

folder = sys.argv[1] if len(sys.argv) > 1 else "/usr/share/unicode"
with open(os.path.join(folder, "DerivedAge.txt"), encoding="utf-8") as age:
    version = re.search(r"DerivedAge-([0-9.]+)\.txt", age.readline()).group(1)

upper = {}
with open(os.path.join(folder, "UnicodeData.txt"), encoding="utf-8") as data:
    for line in data:
        fields = line.split(";")
        code = int(fields[0], 16)
        if code > 0xFFFF or not fields[12]:
            continue
        mapped = int(fields[12], 16)
        if mapped > 0xFFFF:
            sys.exit(f"U+{code:04X} maps beyond the BMP; the table cannot hold it")
        if mapped != code:
            upper[code] = mapped


def delta(code):
    return (upper[code] - code) & 0xFFFF


# Runs of code points first, first + step, ... up to last, all mapped by the
# same delta (modulo 2^16). A run of step 2 holds no mapped code point between
# its members, so runs never overlap and a binary search finds the one run a
# code unit can belong to.
codes = sorted(upper)
runs = []
i = 0
while i < len(codes):
    first = codes[i]
    step = 1
    if (i + 1 < len(codes) and codes[i + 1] == first + 2 and delta(codes[i + 1]) == delta(first)
            and first + 1 not in upper):
        step = 2
    last = first
    j = i + 1
    while (j < len(codes) and codes[j] == last + step and delta(codes[j]) == delta(first)
           and (step == 1 or last + 1 not in upper)):
        last = codes[j]
        j += 1
    runs.append((first, last, step, delta(first)))
    i = j

out_path = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "src", "compat", "upper_case_table.h")
with open(out_path, "w", encoding="utf-8") as out:
    out.write(f"""// Unicode {version}'s simple upper-case mapping of the Basic Multilingual
// Plane ({len(upper)} code points), as {len(runs)} runs. Written by
// scripts/make_upper_case_table.py from Unicode's UnicodeData.txt; do not edit.
#pragma once

namespace compat::upperCaseTable {{

// The code points first, first + step, ... up to last each map to itself plus
// delta, modulo 2^16. Sorted by first; no two runs overlap.
struct Run {{
    char16_t first;
    char16_t last;
    char16_t step;
    char16_t delta;
}};

// clang-format off
constexpr Run runs[] = {{
""")
    for first, last, step, d in runs:
        out.write(f"    {{0x{first:04X}, 0x{last:04X}, {step}, 0x{d:04X}}},\n")
    out.write("""};
// clang-format on

}  // namespace compat::upperCaseTable
""")
print(f"{out_path}: Unicode {version}, {len(upper)} code points in {len(runs)} runs")
