#!/usr/bin/python3
"""Reports functions longer than a limit (120 lines by default) in the project's C++ sources.

    long-functions.py [--limit N] FILE...

A function here is a definition whose opening line starts in the first column and whose body
ends with a "}" in the first column, as the project's formatting writes them. Prints one line
a long function and always exits 0: it reports, it does not judge.
"""

import re
import sys

START = re.compile(r"^[A-Za-z_][\w:<>,\s\*&~\[\]]*\([^;]*$")


def long_functions(path, limit):
    with open(path, encoding="utf-8", errors="replace") as source:
        lines = source.read().split("\n")
    found = []
    index = 0
    while index < len(lines):
        line = lines[index]
        if START.match(line) and not line.startswith(("namespace", "class", "struct", "enum")):
            # The body opens on this line or a following one, and closes at column 0.
            opening = index
            while opening < len(lines) and "{" not in lines[opening] and ";" not in lines[opening]:
                opening += 1
            if opening < len(lines) and "{" in lines[opening]:
                closing = opening
                while closing < len(lines) and not (closing > opening and lines[closing].startswith("}")) \
                        and not lines[opening].rstrip().endswith("}"):
                    closing += 1
                length = closing - index + 1
                if length > limit:
                    found.append((index + 1, length, line.strip()))
                index = max(closing, index) + 1
                continue
        index += 1
    return found


def main(arguments):
    limit = 120
    if len(arguments) >= 2 and arguments[0] == "--limit":
        limit = int(arguments[1])
        arguments = arguments[2:]
    count = 0
    for path in arguments:
        for line, length, head in long_functions(path, limit):
            print(f"{path}:{line}: {length} lines: {head[:80]}")
            count += 1
    print(f"long-functions: {count} function(s) over {limit} lines")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
