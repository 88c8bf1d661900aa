#!/usr/bin/env python3
"""The import check of check_exe.py on made-up `objdump -p` import tables: it passes the listed
imports, and fails on one not listed and on a header naming an older Windows than they need."""

import sys

import check_exe

CASES = [  # KERNEL32.dll's imports, the header's Windows, the one failure expected (None: passes)
    (["CloseHandle", "CreateMutexExA"], "6.0", None),
    (["CloseHandle", "MadeUpFunction", "CreateMutexExA"], "6.0",
     "add kernel32.dll MadeUpFunction, each with the oldest Windows that has it"),
    (["CloseHandle", "CreateMutexExA"], "5.1", "need, Vista (CreateMutexExA), is the header's 5.1"),
]
wrong = []
for names, windows, expected in CASES:
    text = "\tDLL Name: KERNEL32.dll\n\tvma:  Hint/Ord Member-Name Bound-To\n" + "".join(
        "\t%x\t %5d  %s\n" % (0x33988 + 16 * hint, hint, name) for hint, name in enumerate(names))
    got = check_exe.failures
    del got[:]
    check_exe.check_imports(text + "\n", windows)
    if not (not got if expected is None else len(got) == 1 and expected in got[0]):
        wrong.append((names, windows, list(got)))
print("wrong: %s" % wrong if wrong else "all %d cases as expected" % len(CASES))
sys.exit(1 if wrong else 0)
