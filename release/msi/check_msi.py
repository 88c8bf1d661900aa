#!/usr/bin/env python3
"""Release checks of the built package, read back from its tables (there is no installer
validation on Linux). Prints each check; exits 1 if any fails.

usage: check_msi.py --msi MSI --exe SHIPPED_EXE
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


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--msi", required=True)
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
    remembered = [registry.get((r["Root"], r["Key"], r["Name"])) for r in table(msi, "RegLocator")]
    expect(remembered == ["[INSTALLDIR]"], "the folder is read back from where it is written")
    kinds = {row["Action"]: int(row["Type"]) for row in table(msi, "CustomAction")}
    deferred = {name for name, kind in kinds.items() if kind & 0xC00}  # in-script, no-impersonate
    expect(deferred == {"EndCopies"} and kinds["EndCopies"] == 0xC01,
           "only the DLL's action runs deferred, as the system: %s" % kinds)
    for sequence in ("InstallUISequence", "InstallExecuteSequence"):
        in_order(msi, sequence, ["Search64From32", "Search64", "AppSearch", "FolderRemembered",
                                 "FolderFound32", "FolderFound64", "LaunchConditions",
                                 "CostFinalize"])
    in_order(msi, "InstallExecuteSequence", [
        "InstallValidate", "RemoveExistingProducts", "InstallInitialize", "EndCopiesPath",
        "EndCopies", "RemoveFiles", "InstallFiles", "InstallFinalize", "StartAutoBackup"])
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
