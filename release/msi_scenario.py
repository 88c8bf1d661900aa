#!/usr/bin/env python3
"""The Windows Installer package as a user and an administrator meet it, under Wine's 64-bit
msiexec: no backup application, so no install; the search finding the application in a folder
with a non-ASCII name; the log-on entry's command starting one backup on a due schedule; an
upgrade to a second version (built here) and a removal, each while a copy runs; a downgrade
refused; INSTALLDIR on the command line. One of the whole-program scenarios, in its own prefix
and on its own display (see --help)."""

import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

from package_scenario import harness, unix_path  # the scenarios' harness, e2e/harness

expect = harness.expect
HERE = os.path.dirname(os.path.abspath(__file__))
FOLDER = "C:\\Program Files\\Tarvik Tools\\\u041f\u043e\u0447\u0442\u0430 Backup"
OTHER = "C:\\Other Place"
WOW = "HKLM\\Software\\Wow6432Node\\"
STOPPED = "LaunchConditions. Return value 0."  # 1603 through Wine's 8 bits, and where it stopped
RUN_KEY = "Microsoft\\Windows\\CurrentVersion\\Run"


def wine64(suite, *words):
    """A Windows program of the 64-bit side; its exit code (8 bits through Wine) and output."""
    # A file, not a pipe: a program the install starts inherits it and outlives the install.
    with tempfile.TemporaryFile() as out:
        code = subprocess.run([harness.WINE_RUN, suite.home, "64", *words],
                              stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT,
                              env=suite.environment(120), timeout=150).returncode
        out.seek(0)
        return code, out.read().decode("latin-1")


def msiexec(suite, *words):
    """msiexec with a log; its exit code and the log's text."""
    log = unix_path(suite, "C:\\msiexec.log")
    if os.path.exists(log):
        os.remove(log)
    code, output = wine64(suite, "msiexec", *words, "/l*", "C:\\msiexec.log")
    with open(log, "rb") as f:
        text = f.read().replace(b"\0", b"").decode("latin-1")  # Wine's log: ASCII, wide
    print("msiexec %s: %d" % (" ".join(words), code))
    return code, text


def values(suite, key):
    """The string values of a registry key as {name: text}; {} when the key is absent."""
    code, _ = wine64(suite, "reg", "export", key, "C:\\values.reg", "/y")
    if code != 0:
        return {}
    with open(unix_path(suite, "C:\\values.reg"), "rb") as f:
        text = f.read().decode("utf-16")
    pairs = re.findall(r'^"((?:[^"\\]|\\.)*)"="((?:[^"\\]|\\.)*)"\r?$', text, re.MULTILINE)
    return {re.sub(r"\\(.)", r"\1", n): re.sub(r"\\(.)", r"\1", v) for n, v in pairs}


def installed(suite, folder):
    """The installed exe's bytes (None when absent), its log-on entries and remembered folder."""
    path = unix_path(suite, folder + "\\AutoBackup.exe")
    exe = open(path, "rb").read() if os.path.exists(path) else None
    entries = [values(suite, root + RUN_KEY).get("AutoBackup") for root in ("HKLM\\Software\\",
                                                                            WOW)]
    return exe, [entry for entry in entries if entry], values(suite, WOW + "AutoBackup")


def expect_installed(suite, folder, exe):
    state = installed(suite, folder)
    expect(state == (exe, ['"%s\\AutoBackup.exe"' % folder], {"InstallFolder": folder + "\\"})
           if exe else state == (None, [], {}), "in %s: %s" % (folder, (state[0] == exe,) +
                                                               state[1:]))


def second_version(options, exe):
    """A package of the next version whose exe differs in its last bytes."""
    folder = os.path.join(options.build, "msi-scenario")
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    major, minor, patch = options.version.split(".")
    version = "%s.%s.%d" % (major, minor, int(patch) + 1)
    with open(os.path.join(folder, "AutoBackup.exe"), "wb") as f:
        f.write(exe + b"second version")
    subprocess.run([sys.executable, os.path.join(HERE, "msi", "build_msi.py"), "--wxs",
                    os.path.join(HERE, "msi", "AutoBackup.wxs"), "--exe",
                    os.path.join(folder, "AutoBackup.exe"), "--dll", options.dll, "--version",
                    version, "--epoch", "0", "--out", os.path.join(folder, "second.msi")],
                   check=True)
    return os.path.join(folder, "second.msi"), exe + b"second version"


def msi(suite, options):
    if suite.emulation:
        raise harness.Skipped("the package's 32-bit custom action fails under qemu-user "
                              "(its server crashes or spins)")
    with open(options.exe, "rb") as f:
        exe = f.read()
    second, second_exe = second_version(options, exe)
    for path, name in ((options.msi, "first.msi"), (second, "second.msi")):
        shutil.copy(path, unix_path(suite, "C:\\" + name))

    code, log = msiexec(suite, "/i", "C:\\first.msi", "/qn")
    # Wine logs no launch condition's text: that the install stopped there is what shows.
    expect(code == 67 and STOPPED in log, "installed without the application")
    left = [d for root in ("Program Files", "Program Files (x86)") for d, _, files in os.walk(
        os.path.join(suite.prefix, "drive_c", root)) if "AutoBackup.exe" in files]
    expect(not left, "left behind: %s" % left)
    expect_installed(suite, FOLDER, None)

    folder = unix_path(suite, FOLDER)
    os.makedirs(folder)
    shutil.copy(options.standin, os.path.join(folder, harness.STANDIN_NAME))
    standin = os.path.join(folder, harness.STANDIN_NAME)
    old = suite.daily_schedule("now-3.9")
    expect(msiexec(suite, "/i", "C:\\first.msi", "/qn")[0] == 0, "the install failed")
    expect_installed(suite, FOLDER, exe)

    # At log-on the entry's text is the command line: one quoted path (checked above), started
    # here by its path, as Wine's cmd cannot spell this folder.
    suite.start(unix_path(suite, installed(suite, FOLDER)[1][0].strip('"')))
    runs = suite.wait_for_starts(standin, 1, 30)
    time.sleep(harness.EXTRA_CHECKS_SECONDS)
    suite.expect_one_unattended_start(harness.parse_standin_log(harness.log_of(standin)))
    expect(suite.date("LastBackupDate")[0] == harness.double_bytes(
        harness.double_of(old) + 3.0), "LastBackupDate not 3 days on")
    print("started after %.1f s: %s" % (suite.seconds_running(), runs[0]["line"]))

    # Interactive: the new version starts a copy of its own once the old one is ended.
    code, log = msiexec(suite, "/i", "C:\\second.msi", "/qr")
    expect(code == 0 and "StartAutoBackup. Return value 1." in log, "the upgrade failed")
    expect_installed(suite, FOLDER, second_exe)
    suite.wait_for_exit(30)

    code, log = msiexec(suite, "/i", "C:\\first.msi", "/qn")
    expect(code == 67 and STOPPED in log, "the downgrade was not refused")
    expect_installed(suite, FOLDER, second_exe)

    # A copy of AutoBackup.exe in another folder is not the installed file: it keeps running.
    os.makedirs(unix_path(suite, OTHER))
    shutil.copy(options.exe, unix_path(suite, OTHER + "\\AutoBackup.exe"))
    suite.start_second(unix_path(suite, OTHER + "\\AutoBackup.exe"))
    time.sleep(2)
    expect(msiexec(suite, "/x", "C:\\second.msi", "/qn")[0] == 0, "the removal failed")
    expect_installed(suite, FOLDER, None)
    expect(suite.second.poll() is None, "the other folder's copy was ended")
    expect(os.path.exists(standin) and suite.tool("key")[0][:2] == ["key", "present"],
           "the backup application or its schedule went")

    code, _ = msiexec(suite, "/i", "C:\\first.msi", "/qn", "INSTALLDIR=%s\\" % OTHER)
    expect(code == 0, "the install into INSTALLDIR failed")
    expect_installed(suite, OTHER, exe)
    expect(not os.path.exists(os.path.join(folder, "AutoBackup.exe")), "installed in the found")
    expect(msiexec(suite, "/x", "C:\\first.msi", "/qn")[0] == 0, "the removal failed")
    expect_installed(suite, OTHER, None)
    suite.expect_no_boxes()


def main():
    parser = argparse.ArgumentParser()
    for option in ("--build", "--tool", "--box-tool", "--standin", "--msi", "--exe", "--dll",
                   "--version"):
        parser.add_argument(option, required=True)
    parser.add_argument("--arch", choices=("32",), required=True)
    options = parser.parse_args()
    return harness.run(options, "msi", 240, lambda suite: msi(suite, options))


if __name__ == "__main__":
    sys.exit(main())
