#!/usr/bin/env python3
"""Whole-program scenarios: AutoBackup.exe under Wine against the real registry, timers and
process start. The harness is e2e/harness/; the scenarios are in files by group (schedules.py:
schedules and folders, copies.py: copies and the lock, failures.py: failures and the fault
table, packages.py: the zip and the MSI); this file holds their table and the command line.

usage: scenarios.py --build DIR --arch 64|32 --tool EXE --autobackup EXE --standin EXE
                    --decoy EXE [--box-tool EXE --faults EXE --nm NM --objdump OBJDUMP]
                    [--cpack CPACK --guide MD --license FILE --package NAME
                     --msi MSI --exe EXE --dll DLL --version X.Y.Z] SCENARIO
       scenarios.py --build DIR --arch 64|32 --tool EXE prepare
       scenarios.py --list

Each scenario runs apart from the others, in its own copy of the prepared prefix and on its own
display (e2e/harness/suite.py). The scenarios with message boxes read them with the box tool,
keep a screenshot of each in e2e-screens/ of the build folder, and, given --nm, name the
function that holds a reported offset. `--list` prints each scenario with the builds it runs on
and its time limit: the test registration is made from it. A new scenario is a function
`def name(suite)` in its group's file (the suite knows the scenario's name) and its entry in
SCENARIOS.
"""

import argparse
import os
import re
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import harness  # noqa: E402  (e2e/harness, beside this folder)
import copies  # noqa: E402
import failures  # noqa: E402
import packages  # noqa: E402
import schedules  # noqa: E402
from harness import LIMIT  # noqa: E402


# Every scenario, by the name of its test: its function, or its function and a dict of what sets
# it apart: "builds" (the builds it runs on, "32" and "64" when not given) and "seconds" (its
# time limit on a native build, LIMIT when not given: what its waits add up to, with room for a
# loaded machine; times four where the build's programs run emulated). The tests are registered
# from this table (`--list`).
SCENARIOS = {
    "no-schedule-key": schedules.no_schedule_key,
    "backup-time-missing": schedules.backup_time_missing,
    "daily-due": schedules.daily_due,
    "not-due": schedules.not_due,
    "started-with-arguments": schedules.started_with_arguments,
    "directory-with-blank": schedules.directory_with_blank,
    "started-elsewhere": schedules.started_elsewhere,
    "folder-unicode": lambda suite: schedules.folder_named(suite, "Почта 邮件"),
    # Deep enough for a path over 260 characters to the program wherever the build folder lies.
    # Evidence under Wine only: Wine starts AutoBackup.exe itself from that path and has a short
    # name for every folder; Windows starts a program from such a path only by its short name,
    # and a volume may keep none.
    "folder-deep": lambda suite: schedules.folder_named(suite, os.path.join(
        *["Почта 邮件 %02d" % level for level in range(17)])),
    "monthly-from-31st": schedules.monthly_from_31st,
    "two-copies-together": lambda suite: copies.two_copies(suite, 0),
    "two-copies-staggered": lambda suite: copies.two_copies(suite, 0.5),
    "check-lock-error-box": lambda suite: copies.check_lock(suite, "error-box"),
    "check-lock-name-held": lambda suite: copies.check_lock(suite, "name-held"),
    "last-backup-date-4-bytes": failures.last_backup_date_4_bytes,
    "backup-period-string": failures.backup_period_string,
    # Three boxes of up to 40 s each.
    "backup-application-missing": (failures.backup_application_missing, {"seconds": 180}),
    "fault-null-call": failures.fault_null_call,
    "fault-divide-by-zero": failures.fault_divide_by_zero,
    "fault-in-library": failures.fault_in_library,
    # The zip, on the primary (32-bit) build alone, and each build's Windows Installer package.
    "package": (packages.package, {"builds": "32", "seconds": 150}),
    "msi": (packages.msi, {"seconds": 300}),
}
SCENARIOS.update({name: failures.fault_table_case for name in failures.FAULT_TABLE})
PROPERTIES = ("builds", "seconds")


def scenario_entry(name):
    """The function of a scenario and its properties, defaults filled in."""
    entry = SCENARIOS[name]
    function, given = entry if isinstance(entry, tuple) else (entry, {})
    unknown = set(given) - set(PROPERTIES)
    if unknown:
        raise ValueError("scenario %s: unknown properties %s" % (name, sorted(unknown)))
    properties = dict({"builds": ("32", "64"), "seconds": LIMIT}, **given)
    if isinstance(properties["builds"], str):
        properties["builds"] = (properties["builds"],)
    if not set(properties["builds"]) <= {"32", "64"}:
        raise ValueError("scenario %s: builds %s, not 32 or 64" % (name, properties["builds"]))
    return function, properties


def list_scenarios():
    """One line per scenario: name, the builds it runs on (comma-separated), time limit."""
    for name in SCENARIOS:
        _, properties = scenario_entry(name)
        if not re.fullmatch(r"[a-z0-9-]+", name):
            raise ValueError("scenario %r: a name of lower-case letters, digits and -" % name)
        print("%s %s %d" % (name, ",".join(properties["builds"]), properties["seconds"]))


def main():
    if sys.argv[1:] == ["--list"]:
        list_scenarios()
        return 0
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--arch", choices=("64", "32"), required=True)
    parser.add_argument("--tool", required=True)
    parser.add_argument("--autobackup")
    parser.add_argument("--standin")
    parser.add_argument("--decoy")
    parser.add_argument("--box-tool")
    parser.add_argument("--faults")
    parser.add_argument("--nm")
    parser.add_argument("--objdump")
    for option in ("--cpack", "--guide", "--license", "--package", "--msi", "--exe", "--dll",
                   "--version"):
        parser.add_argument(option)  # the package scenarios' (packages.py)
    parser.add_argument("scenario", choices=sorted(SCENARIOS) + ["prepare"])
    options = parser.parse_args()
    if options.scenario == "prepare":
        try:
            harness.prepare(options)
        except harness.Failure as failure:
            print("FAILED: %s" % failure)
            return 1
        return 0
    function, properties = scenario_entry(options.scenario)
    return harness.run(options, options.scenario, properties["seconds"], function)


if __name__ == "__main__":
    sys.exit(main())
