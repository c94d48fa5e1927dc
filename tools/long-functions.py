#!/usr/bin/env python3
"""Lists the functions longer than a number of lines (default 80), longest first.

    tools/long-functions.py [LIMIT] [FOLDER ...]

A function is counted from its name's line to the closing brace; the project's layout puts a
function body's braces in the first column, which is what this relies on (no parser needed).
Defaults to the program's own folders (tests and benchmarks left out).
"""
import pathlib
import re
import sys

args = sys.argv[1:]
limit = int(args.pop(0)) if args and args[0].isdigit() else 80
folders = args or ["common", "molecule", "enm", "haptics", "render", "app", "cli"]
root = pathlib.Path(__file__).resolve().parent.parent
name = re.compile(r"([A-Za-z_][\w:~]*)\s*\(")
found = []
for folder in folders:
    for path in sorted((root / folder).rglob("*.cpp")):
        lines = path.read_text(errors="replace").splitlines()
        for i, line in enumerate(lines):
            if line != "{":
                continue
            # The signature: back to the line that starts in the first column.
            start = i - 1
            while start > 0 and (lines[start].startswith((" ", "\t")) or lines[start] == ""):
                start -= 1
            end = next((j for j in range(i + 1, len(lines)) if lines[j].startswith("}")), len(lines) - 1)
            match = name.search(lines[start]) if start >= 0 else None
            if match and end - start + 1 > limit:
                found.append((end - start + 1, f"{path.relative_to(root)}:{start + 1}", match.group(1)))
for length, where, function in sorted(found, reverse=True):
    print(f"{length:5d}  {function:45s} {where}")
print(f"{len(found)} functions over {limit} lines", file=sys.stderr)
