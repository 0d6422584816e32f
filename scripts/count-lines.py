#!/usr/bin/python3
"""Counts the lines of tests against the lines of code, run from the
repository's root: non-blank lines that are not whole-line comments, in .cpp,
.h, .inc, .c, .sh, .py, CMakeLists.txt and .cmake files. Tests are tests/ and
fuzz/; code is src/, demo-site/ and tools/; bench/, scripts/ and the root's
build files are on neither side. With -v, each folder's own count too.

    scripts/count-lines.py [-v]
"""
import os
import sys

C_COMMENTS = ("//", "/*", "*")
HASH_COMMENTS = ("#",)


def comment_marks(filename):
    ext = os.path.splitext(filename)[1]
    if ext in (".cpp", ".h", ".inc", ".c"):
        return C_COMMENTS
    if ext in (".sh", ".py", ".cmake") or filename == "CMakeLists.txt":
        return HASH_COMMENTS
    return None


def count(root, per_folder=None):
    total = 0
    for dirpath, _, filenames in os.walk(root):
        for filename in filenames:
            marks = comment_marks(filename)
            if marks is None:
                continue
            with open(os.path.join(dirpath, filename), errors="replace") as f:
                lines = sum(1 for line in f if line.strip() and not line.strip().startswith(marks))
            total += lines
            if per_folder is not None:
                per_folder[dirpath] = per_folder.get(dirpath, 0) + lines
    return total


def main():
    verbose = "-v" in sys.argv[1:]
    folders = {}
    counts = {d: count(d, folders) for d in ["tests", "fuzz", "src", "demo-site", "tools"]}
    tests = counts["tests"] + counts["fuzz"]
    code = counts["src"] + counts["demo-site"] + counts["tools"]
    if verbose:
        for folder in sorted(folders):
            print(f"{folders[folder]:6}  {folder}")
    print(counts, "tests", tests, "code", code, "ratio %.3f" % (tests / code))


if __name__ == "__main__":
    main()
