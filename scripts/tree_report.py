#!/usr/bin/env python3
"""Measures the shape of the source tree: include circles among the units of
src/ (a header and its source are one unit), calls of endRun outside the
driver, how often each name of the tail's files is spelled in src/ and
tools/, and the longest functions.

Usage: scripts/tree_report.py [ROOT]   (default: the repository holding it)
Exit status 1 when there is an include circle or an endRun outside the driver.
"""

import os
import re
import sys

ROOT = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), ".."))
DRIVER = "src/launcher/driver.cpp"
# The names the tail's plan gives its entries; each belongs in one place.
TAIL_NAMES = ['"lzma64"', '"nativesplash.png"', '"cacerts"', '-archive.p2.l2"', '-version.txt"']
LONG_FUNCTION = 70


def sources(*folders):
    for folder in folders:
        for directory, _, files in os.walk(os.path.join(ROOT, folder)):
            for name in sorted(files):
                if name.endswith((".cpp", ".h")):
                    path = os.path.join(directory, name)
                    yield os.path.relpath(path, ROOT), open(path, encoding="utf-8").read()


def strip(text):
    """The code without preprocessor lines, comments, string and character literals (kept as
    empty quotes)."""
    text = re.sub(r"^[ \t]*#[^\n]*", "", text, flags=re.M)
    out, i, n = [], 0, len(text)
    while i < n:
        c = text[i]
        if text.startswith("//", i):
            i = text.find("\n", i) if text.find("\n", i) >= 0 else n
        elif text.startswith("/*", i):
            end = text.find("*/", i + 2)
            out.append("\n" * text.count("\n", i, end))
            i = end + 2
        elif text.startswith('R"', i):
            delimiter = text[i + 2:text.find("(", i)]
            end = text.find(")" + delimiter + '"', i) + len(delimiter) + 2
            out.append('""' + "\n" * text.count("\n", i, end))
            i = end
        elif c in "\"'":
            j = i + 1
            while j < n and text[j] != c:
                j += 2 if text[j] == "\\" else 1
            out.append(c + c)
            i = j + 1
        else:
            out.append(c)
            i += 1
    return "".join(out)


def include_circles():
    units = {}
    for path, text in sources("src"):
        unit = os.path.splitext(os.path.relpath(path, "src"))[0]
        includes = {os.path.splitext(i)[0] for i in re.findall(r'#include "([^"]+)"', text)}
        units.setdefault(unit, set()).update(includes - {unit})
    index, low, stack, on, circles, counter = {}, {}, [], set(), [], [0]

    def visit(v):
        index[v] = low[v] = counter[0]
        counter[0] += 1
        stack.append(v)
        on.add(v)
        for w in units[v]:
            if w not in units:
                continue
            if w not in index:
                visit(w)
                low[v] = min(low[v], low[w])
            elif w in on:
                low[v] = min(low[v], index[w])
        if low[v] == index[v]:
            circle = []
            while True:
                w = stack.pop()
                on.discard(w)
                circle.append(w)
                if w == v:
                    break
            if len(circle) > 1:
                circles.append(sorted(circle))

    for unit in sorted(units):
        if unit not in index:
            visit(unit)
    return circles


def functions(path, text):
    """(length in lines, first line, path) of every function body at namespace or class level."""
    code = strip(text)
    found, kinds, header_start, line = [], [], 0, 1
    for i, c in enumerate(code):
        if c == "\n":
            line += 1
        elif c in ";}":
            if c == "}" and kinds:
                kind, start = kinds.pop()
                if kind == "function":
                    found.append((line - start + 1, start, path))
            header_start = i + 1
        elif c == "{":
            header = code[header_start:i]
            outer = kinds[-1][0] if kinds else "namespace"
            words = header.split()
            if outer in ("namespace", "type") and ")" in header and "=" not in header.split(")")[-1] \
                    and not (words and words[0] in ("namespace", "class", "struct", "enum", "union", "extern")):
                kinds.append(("function", line - header.strip().count("\n")))
            elif re.match(r"\s*(namespace\b|extern\s)", header) or not header.strip():
                kinds.append(("namespace" if outer == "namespace" else "other", line))
            elif re.match(r"\s*(template\s*<.*>\s*)?(class|struct|union|enum)\b", header, re.S) and outer != "function":
                kinds.append(("type", line))
            else:
                kinds.append(("other", line))
            header_start = i + 1
    return found


def main():
    failed = False
    circles = include_circles()
    print(f"include circles among src units: {len(circles)}")
    for circle in circles:
        print("  " + " <-> ".join(circle))
    failed |= bool(circles)

    calls = [f"{path}:{text[:m.start()].count(chr(10)) + 1}" for path, text in sources("src", "tools")
             if path != DRIVER for m in re.finditer(r"\bendRun\s*\(", strip(text))]
    print(f"endRun outside {DRIVER}: {len(calls)}")
    for call in calls:
        print("  " + call)
    failed |= bool(calls)

    print("tail file names spelled in the code of src/ and tools/ (comments aside):")
    for name in TAIL_NAMES:
        places = [path for path, text in sources("src", "tools")
                  for line in text.splitlines() if not line.lstrip().startswith("//")
                  for _ in re.finditer(re.escape(name), line)]
        print(f"  {name}: {len(places)} ({', '.join(sorted(set(places)))})")

    everything = sorted((f for path, text in sources("src", "tools") for f in functions(path, text)), reverse=True)
    print(f"longest functions (lines): {', '.join(f'{n} {p}:{s}' for n, s, p in everything[:5])}")
    over = [f for f in everything if f[0] > LONG_FUNCTION]
    print(f"functions over {LONG_FUNCTION} lines: {len(over)}")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
