#!/usr/bin/env python3
"""The package as a user gets it, under Wine: the zip from cpack unpacked beside the stand-in
backup application in a folder with blanks in its path, the log-on entry registered with the user
guide's own command, the program started as that entry names it, one backup on a due daily
schedule. Runs as one of the whole-program scenarios, with their helpers, in its own prefix and
on its own display (see --help)."""

import argparse
import os
import re
import shutil
import subprocess
import sys
import time
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
import harness  # noqa: E402  (the whole-program scenarios' harness, e2e/harness)
import pe_image  # noqa: E402
from harness import expect  # noqa: E402

RUN_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Run"
GUIDE_PATH = r"C:\path\to\AutoBackup.exe"
FOLDER = r"C:\Program Files\Tarvik Tools\Email Backup"
SCRIPTS = r"C:\package-scenario"


def make_package(options):
    """The zip as cpack makes it; its members by name."""
    packages = os.path.join(options.build, "package-scenario")
    shutil.rmtree(packages, ignore_errors=True)
    result = subprocess.run([options.cpack, "-B", packages], cwd=options.build,
                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    expect(result.returncode == 0, "cpack failed: %s" % result.stdout.decode("latin-1"))
    with zipfile.ZipFile(os.path.join(packages, options.package + ".zip")) as package:
        return {name: package.read(name) for name in package.namelist()}


def check_members(members, options):
    expect(sorted(members) == ["AutoBackup.exe", "LICENSE.txt", "README.txt"],
           "the zip holds %s" % sorted(members))
    for name, source in (("README.txt", options.guide), ("LICENSE.txt", options.license)):
        with open(source, "rb") as f:
            expect(members[name] == f.read().replace(b"\n", b"\r\n"),
                   "%s is not %s with CR LF line ends" % (name, source))
    exe = members["AutoBackup.exe"]
    symbols = pe_image.PeImage(exe).symbol_count
    expect(symbols == 0, "AutoBackup.exe is not stripped: %d symbols" % symbols)
    print("zip: %s; AutoBackup.exe %d bytes, stripped" % (sorted(members), len(exe)))


def guide_command(guide):
    """The guide's command that registers the log-on entry, with its path."""
    with open(guide) as f:
        lines = [line.strip() for line in f if line.strip().startswith('reg add "%s"' % RUN_KEY)]
    expect(len(lines) == 1, "the guide has %d log-on commands, not one" % len(lines))
    expect(GUIDE_PATH in lines[0], "the guide's command names no %s" % GUIDE_PATH)
    return lines[0]


def unix_path(suite, windows_path):
    return os.path.join(suite.prefix, "drive_c", *windows_path.split("\\")[1:])


def run_batch(suite, name, line, limit=120):
    """Runs one command line through the command interpreter, as typed at a prompt."""
    os.makedirs(unix_path(suite, SCRIPTS), exist_ok=True)
    with open(unix_path(suite, SCRIPTS + "\\" + name), "w", newline="\r\n") as f:
        f.write("@echo off\n%s\n" % line)
    result = subprocess.run([harness.WINE_RUN, suite.home, suite.arch, "cmd", "/c",
                             SCRIPTS + "\\" + name], stdin=subprocess.DEVNULL,
                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                            env=suite.environment(limit), timeout=limit + 30)
    return result.returncode, result.stdout.decode("latin-1")


def package(suite, options):
    members = make_package(options)
    check_members(members, options)

    folder = unix_path(suite, FOLDER)
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    for name, data in members.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)
    shutil.copy(options.standin, os.path.join(folder, harness.STANDIN_NAME))
    standin = os.path.join(folder, harness.STANDIN_NAME)

    old = suite.daily_schedule("now-3.9")
    exe = FOLDER + "\\AutoBackup.exe"
    command = guide_command(options.guide).replace(GUIDE_PATH, exe)
    code, output = run_batch(suite, "register.bat", command)
    print("%s: %d %s" % (command, code, output.strip()))
    expect(code == 0, "the guide's command failed (%d): %s" % (code, output))
    code, output = run_batch(suite, "query.bat", 'reg query "%s" /v AutoBackup' % RUN_KEY)
    entry = re.search(r"^\s*AutoBackup\s+REG_SZ\s+(.*?)\s*$", output, re.MULTILINE)
    expect(code == 0 and entry, "no log-on entry AutoBackup: %s" % output)
    print("log-on entry: %s" % entry.group(1))
    expect(entry.group(1) == '"%s"' % exe, "the entry is %s, not the quoted path" % entry.group(1))

    # What the system does at log-on: the entry's text is the command line.
    with open(os.path.join(folder, "logon.bat"), "w", newline="\r\n") as f:
        f.write("@echo off\n%s\n" % entry.group(1))
    suite.start(os.path.join(folder, "logon.bat"))
    suite.wait_for_start(standin, 30)
    time.sleep(harness.EXTRA_CHECKS_SECONDS)
    suite.expect_one_unattended_start(harness.parse_standin_log(harness.log_of(standin)))
    new = suite.date("LastBackupDate")[0]
    expect(new == harness.double_bytes(harness.double_of(old) + 3.0),
           "LastBackupDate is %s, not 3 days after %s" % (new, old))
    suite.expect_running()
    suite.expect_no_boxes()


# What its waits add up to on a native build, with room for a loaded machine.
SECONDS = 150


def main():
    parser = argparse.ArgumentParser()
    for option in ("--build", "--tool", "--box-tool", "--standin", "--cpack", "--guide",
                   "--license", "--package"):
        parser.add_argument(option, required=True)
    parser.add_argument("--arch", choices=("64", "32"), required=True)
    options = parser.parse_args()
    # The log-on entry stays in the scenario's copy of the prefix, which the next run replaces.
    return harness.run(options, "package", SECONDS, lambda suite: package(suite, options))


if __name__ == "__main__":
    sys.exit(main())
