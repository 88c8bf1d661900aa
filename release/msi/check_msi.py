#!/usr/bin/env python3
"""Release checks of the built package, read back from its tables (there is no installer
validation on Linux): what it installs and where, the remembered folder, the order and kind of
its actions. Prints each check; exits 1 if any fails.

usage: check_msi.py --msi MSI --exe SHIPPED_EXE --version X.Y.Z
"""

import argparse
import os
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from check_exe import expect, failures  # noqa: E402

RUN_KEY = r"Software\Microsoft\Windows\CurrentVersion\Run"
HKLM = "2"
DEFERRED, NO_IMPERSONATE = 1024, 2048


def table(msi, name):
    """The rows of a table as dicts by column name (after the three header lines)."""
    text = subprocess.run(["msiinfo", "export", msi, name], check=True,
                          stdout=subprocess.PIPE).stdout.decode("utf-8")
    lines = text.replace("\r\n", "\n").split("\n")
    columns = lines[0].split("\t")
    return [dict(zip(columns, line.split("\t"))) for line in lines[3:] if line]


def in_order(rows, actions):
    at = [int(rows[action]["Sequence"]) if action in rows else None for action in actions]
    return None not in at and at == sorted(at)


def check(options):
    msi = options.msi
    with tempfile.TemporaryDirectory() as scratch:
        subprocess.run(["msiextract", "-C", scratch, os.path.abspath(msi)], check=True,
                       stdout=subprocess.DEVNULL)
        found = [os.path.relpath(os.path.join(d, f), scratch)
                 for d, _, files in os.walk(scratch) for f in files]
        with open(options.exe, "rb") as f, open(os.path.join(scratch, found[0]), "rb") as g:
            same = f.read() == g.read()
    expect(len(found) == 1 and os.path.basename(found[0]) == "AutoBackup.exe" and same,
           "installs only AutoBackup.exe, the shipped bytes: %s" % found)
    properties = {row["Property"]: row["Value"] for row in table(msi, "Property")}
    expect(properties.get("ALLUSERS") == "1" and properties.get("ProductVersion") ==
           options.version, "per-machine, version %s" % options.version)
    expect("INSTALLDIR" in properties.get("SecureCustomProperties", "").split(";"),
           "INSTALLDIR reaches the elevated install")
    summary = {row["PropertyId"]: row["Value"] for row in table(msi, "_SummaryInformation")}
    expect(summary.get("7") == "Intel;1033", "a 32-bit package: %s" % summary.get("7"))

    registry = {(row["Root"], row["Key"], row["Name"]): row["Value"]
                for row in table(msi, "Registry")}
    expect(registry.get((HKLM, RUN_KEY, "AutoBackup")) == '"[INSTALLDIR]AutoBackup.exe"',
           "the log-on entry is the quoted path of the installed exe")
    remembered = [row for row in table(msi, "RegLocator") if row["Signature_"] ==
                  "RememberedFolder"]
    expect(len(remembered) == 1 and registry.get((remembered[0]["Root"], remembered[0]["Key"],
                                                  remembered[0]["Name"])) == "[INSTALLDIR]",
           "the folder is read back from where the install writes it")
    roots = sorted(row["Path"] for row in table(msi, "DrLocator") if not row["Parent"])
    expect(roots == ["[ProgramFilesFolder]", "[SEARCH64]"], "search roots %s" % roots)
    searched = {row["Property"] for row in table(msi, "AppSearch")}
    expect(searched == {"REMEMBEREDDIR", "FOUNDDIR32", "FOUNDDIR64"}, "searches %s" % searched)

    actions = {row["Action"]: row for row in table(msi, "CustomAction")}
    kinds = {name: int(row["Type"]) for name, row in actions.items()}
    expect(kinds.get("EndCopies") == 1 | DEFERRED | NO_IMPERSONATE,
           "the copies are ended by the DLL, deferred, as the system: %s" % kinds.get("EndCopies"))
    expect(all(kind & (DEFERRED | NO_IMPERSONATE) == 0 for name, kind in kinds.items()
               if name != "EndCopies"), "every other action immediate, as the user: %s" % kinds)
    finding = ["Search64From32", "Search64", "AppSearch", "FolderRemembered", "FolderFound32",
               "FolderFound64", "LaunchConditions", "CostFinalize"]
    for name in ("InstallUISequence", "InstallExecuteSequence"):
        rows = {row["Action"]: row for row in table(msi, name)}
        expect(in_order(rows, finding), "%s finds the folder first" % name)
    expect(in_order(rows, ["InstallValidate", "RemoveExistingProducts", "InstallInitialize",
                           "EndCopiesPath", "EndCopies", "RemoveFiles", "InstallFiles",
                           "InstallFinalize", "StartAutoBackup"]),
           "the old version goes first, the copies end before the file changes")
    expect(rows["StartAutoBackup"]["Condition"] == 'UILevel > 2 AND NOT REMOVE~="ALL"',
           "a copy starts after an interactive install only")
    conditions = [row["Condition"] for row in table(msi, "LaunchCondition")]
    expect(sorted(conditions) == ["Installed OR INSTALLDIR", "NOT WIX_DOWNGRADE_DETECTED"],
           "stops with no folder and on a downgrade: %s" % conditions)


def main():
    parser = argparse.ArgumentParser()
    for option in ("--msi", "--exe", "--version"):
        parser.add_argument(option, required=True)
    options = parser.parse_args()
    check(options)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
