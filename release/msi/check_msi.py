#!/usr/bin/env python3
"""Release checks of the built package, read back from its tables (there is no installer
validation on Linux). Prints each check; exits 1 if any fails.

usage: check_msi.py --msi MSI --arch x86|x64 --exe SHIPPED_EXE
"""

import argparse
import os
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from check_exe import expect, failures  # noqa: E402


def table(msi, name):
    """The rows of a table as dicts by column name (after the three header lines)."""
    lines = subprocess.run(["msiinfo", "export", msi, name], check=True, stdout=subprocess.PIPE,
                           text=True).stdout.replace("\r\n", "\n").split("\n")
    return [dict(zip(lines[0].split("\t"), line.split("\t"))) for line in lines[3:] if line]


def in_order(msi, sequence, actions):
    at = {row["Action"]: int(row["Sequence"]) for row in table(msi, sequence)}
    at = [at.get(action) for action in actions]
    expect(None not in at and at == sorted(at), "%s runs %s in order" % (sequence, actions))


# CustomAction type bits: a DLL (1) or a program (2, 18, 34, 50) in the low six bits; result
# ignored (0x40), rollback (0x100), commit (0x200), in script (0x400), as the system (0x800).
PROGRAMS = {2, 18, 34, 50}
START = 0xC41  # a DLL, result ignored, in script, as the system
STARTS = {"StartCopiesRollback": START | 0x100, "StartCopies": START | 0x200,
          "StartCopiesNow": START}
# What the starts and the rest need to run: never after a removal; the commit form only where
# commit actions run, the plain one where they do not.
CONDITIONS = {"StartCopies": 'NOT RollbackDisabled AND NOT REMOVE~="ALL"',
              "StartCopiesNow": 'RollbackDisabled AND NOT REMOVE~="ALL"',
              "StartCopiesRollback": "", "EndCopies": ""}


def check_tables(msi, arch):
    """What Wine's msiexec cannot show: architecture, transaction, Restart Manager, whose token
    the copies start with."""
    summary = subprocess.run(["msiinfo", "suminfo", msi], check=True, stdout=subprocess.PIPE,
                             text=True).stdout
    template = {"x86": "Intel", "x64": "x64"}[arch] + ";1033"
    expect("Template: %s\n" % template in summary, "Template %s" % template)
    bits = [int(row["Attributes"]) & 256 for row in table(msi, "Component")]
    expect(bits == [256 if arch == "x64" else 0], "the component's 64-bit bit: %s" % bits)
    views = {r["Signature_"]: int(r["Type"]) & 16 for r in table(msi, "RegLocator")}
    expect(views == ({"RememberedFolder": 16, "RememberedFolder32": 0} if arch == "x64" else
                     {"RememberedFolder": 0}), "the remembered folder's registry views: %s" % views)
    properties = {row["Property"]: row["Value"] for row in table(msi, "Property")}
    expect(properties.get("MSIRESTARTMANAGERCONTROL") == "Disable" and
           properties.get("ALLUSERS") == "1", "per machine, Restart Manager off")
    conditions = {row["Condition"] for row in table(msi, "LaunchCondition")}
    expect("Privileged" in conditions and ("NOT VersionNT64" in conditions) == (arch == "x86"),
           "launch conditions: %s" % sorted(conditions))

    kinds = {row["Action"]: int(row["Type"]) for row in table(msi, "CustomAction")}
    expect(not [a for a, kind in kinds.items() if kind & 0x3F in PROGRAMS],
           "no action starts a program with the installer's token")
    dlls = {a: kind for a, kind in kinds.items() if kind & 0x3F == 1}
    expect(dlls == dict(STARTS, ChooseFolder=1, EndCopies=0xC01),
           "the DLL's actions, deferred as the system but for the folder's choice: %s" % dlls)
    steps = table(msi, "InstallExecuteSequence")
    conditions = {row["Action"]: row["Condition"] for row in steps}
    expect(all(conditions.get(a) == c for a, c in CONDITIONS.items()),
           "when the copies are ended and started")
    at = sorted((int(row["Sequence"]), row["Action"]) for row in steps)
    actions = [action for _, action in at]
    between = actions[actions.index("InstallInitialize") + 1:
                      actions.index("RemoveExistingProducts")]
    expect(not [a for a in between if kinds.get(a, 0) & 0x3F != 51],
           "the old version removed inside the transaction: %s" % between)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--msi", required=True)
    parser.add_argument("--arch", choices=("x86", "x64"), required=True)
    parser.add_argument("--exe", required=True)
    options = parser.parse_args()
    msi = options.msi
    with tempfile.TemporaryDirectory() as scratch:
        subprocess.run(["msiextract", "-C", scratch, os.path.abspath(msi)], check=True,
                       stdout=subprocess.DEVNULL)
        found = {f: os.path.join(d, f) for d, _, files in os.walk(scratch) for f in files}
        with open(options.exe, "rb") as f, open(found.get("AutoBackup.exe", os.devnull), "rb") as g:
            expect(list(found) == ["AutoBackup.exe"] and f.read() == g.read(),
                   "installs only AutoBackup.exe, the shipped bytes: %s" % list(found))
    registry = {(r["Root"], r["Key"], r["Name"]): r["Value"] for r in table(msi, "Registry")}
    remembered = {registry.get((r["Root"], r["Key"], r["Name"])) for r in table(msi, "RegLocator")}
    expect(remembered == {"[INSTALLDIR]"}, "the folder is read back from where it is written")
    check_tables(msi, options.arch)
    for sequence in ("InstallUISequence", "InstallExecuteSequence"):
        in_order(msi, sequence, ["AppSearch", "ChooseFolder", "LaunchConditions", "CostFinalize"])
    in_order(msi, "InstallExecuteSequence", [
        "InstallValidate", "InstallInitialize", "RemoveExistingProducts", "StartCopiesRollback",
        "EndCopies", "RemoveFiles", "InstallFiles", "StartCopies", "StartCopiesNow",
        "InstallFinalize"])
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
