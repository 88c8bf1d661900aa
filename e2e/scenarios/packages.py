"""Scenarios of the packages as users get them, under Wine.

The zip (the primary, 32-bit build only): as cpack makes it, unpacked beside the stand-in backup
application in a folder with blanks in its path, the log-on entry registered with the user
guide's own command, the program started as that entry names it, one backup on a due daily
schedule.

The Windows Installer packages as a user and an administrator meet them, under Wine's msiexec.
The 64-bit build's package, in the 64-bit prefix: a folder given without the application, or
one every user may change, refused; the application found under Program Files, a silent install
leaving one copy running, which backs up; a silent upgrade while it runs leaving one copy, of the
new file; a downgrade refused; a failing upgrade rolled back; a removal ending the copy but not
one of another folder; then the application under Program Files (x86), with the earlier releases'
32-bit package replaced, and an application that moved followed by the next upgrade. The 32-bit
build's package: refused on the 64-bit prefix, installed and removed on a 32-bit one.

What they are given beyond the other scenarios' inputs (--cpack, --guide, --license, --package;
--msi, --exe, --dll, --version) comes from release/CMakeLists.txt; the package scripts they run
and read are release/'s own."""

import os
import re
import shutil
import subprocess
import sys
import time
import zipfile

import harness
from harness import expect

RELEASE = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..",
                                        "release"))
sys.path.insert(0, RELEASE)
import pe_image  # noqa: E402  (release/: the headers of a PE executable)

RUN_KEY = "Microsoft\\Windows\\CurrentVersion\\Run"

# --- the zip --------------------------------------------------------------------------------

USER_RUN_KEY = "HKCU\\Software\\" + RUN_KEY
GUIDE_PATH = r"C:\path\to\AutoBackup.exe"
ZIP_FOLDER = r"C:\Program Files\Tarvik Tools\Email Backup"
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
        lines = [line.strip() for line in f
                 if line.strip().startswith('reg add "%s"' % USER_RUN_KEY)]
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


def package(suite):
    options = suite.options
    members = make_package(options)
    check_members(members, options)

    folder = unix_path(suite, ZIP_FOLDER)
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    for name, data in members.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)
    shutil.copy(options.standin, os.path.join(folder, harness.STANDIN_NAME))
    standin = os.path.join(folder, harness.STANDIN_NAME)

    old = suite.daily_schedule("now-3.9")
    exe = ZIP_FOLDER + "\\AutoBackup.exe"
    command = guide_command(options.guide).replace(GUIDE_PATH, exe)
    code, output = run_batch(suite, "register.bat", command)
    print("%s: %d %s" % (command, code, output.strip()))
    expect(code == 0, "the guide's command failed (%d): %s" % (code, output))
    code, output = run_batch(suite, "query.bat", 'reg query "%s" /v AutoBackup' % USER_RUN_KEY)
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


# --- the Windows Installer packages ---------------------------------------------------------

FOLDER = "C:\\Program Files\\Tarvik Tools\\\u041f\u043e\u0447\u0442\u0430 Backup"
FOLDER_X86 = "C:\\Program Files (x86)\\Tarvik Tools\\Mail Backup"
MOVED = "C:\\Program Files\\Moved Backup"
OTHER = "C:\\Other Place"
NATIVE = "HKLM\\Software\\"
WOW = "HKLM\\Software\\Wow6432Node\\"
STOPPED = "LaunchConditions. Return value 0."  # 1603 through Wine's 8 bits, and where it stopped
# The commit of release 0.1.0, whose one package was 32-bit: the x64 package must replace it.
RELEASE_0_1_0 = "5ab647cb2463ccf4bf706d5ab5a95a5a8919b0ca"


def msiexec(suite, *words, arch="64"):
    """msiexec with a log; its exit code and the log's text."""
    log = unix_path(suite, "C:\\msiexec.log")
    if os.path.exists(log):
        os.remove(log)
    code = suite.run_tool("msiexec", [*words, "/l*", "C:\\msiexec.log"], 120, arch)[0]
    with open(log, "rb") as f:
        text = f.read().replace(b"\0", b"").decode("latin-1")  # Wine's log: ASCII, wide
    print("msiexec %s: %d" % (" ".join(words), code))
    for line in re.findall(r"^(?:ChooseFolder|EndCopies|StartCopies): .*$", text, re.MULTILINE):
        print("  " + line.rstrip())
    return code, text


def values(suite, key):
    """The string values of a registry key as {name: text}; {} when the key is absent."""
    code, output, errors = suite.run_tool("reg", ["export", key, "C:\\values.reg", "/y"], 120)
    if code != 0:
        expect("Unable to find the specified registry key" in output + errors,
               "reg export %s failed (%d): %s%s" % (key, code, output, errors))
        return {}
    with open(unix_path(suite, "C:\\values.reg"), "rb") as f:
        text = f.read().decode("utf-16")
    pairs = re.findall(r'^"((?:[^"\\]|\\.)*)"="((?:[^"\\]|\\.)*)"\r?$', text, re.MULTILINE)
    return {re.sub(r"\\(.)", r"\1", n): re.sub(r"\\(.)", r"\1", v) for n, v in pairs}


def expect_installed(suite, folder, exe, root=NATIVE):
    """`exe`'s bytes in `folder` (None: no file) and, in the registry view `root` alone, its one
    log-on entry and the remembered folder."""
    path = unix_path(suite, folder + "\\AutoBackup.exe")
    found = open(path, "rb").read() if os.path.exists(path) else None
    views = [NATIVE] + ([WOW] if suite.arch == "64" or root == WOW else [])
    state = [(values(suite, view + RUN_KEY).get("AutoBackup"), values(suite, view + "AutoBackup"))
             for view in views]
    wanted = [('"%s\\AutoBackup.exe"' % folder, {"InstallFolder": folder + "\\"})
              if exe and view == root else (None, {}) for view in views]
    expect(found == exe and state == wanted, "in %s: the file %s, the registry %s" % (
        folder, "as expected" if found == exe else "not as expected", state))


def copies(suite):
    """The running AutoBackup.exe processes of the scenario's prefix, as {pid: Windows path}."""
    found = {}
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open("/proc/%s/environ" % pid, "rb") as f:
                if ("WINEPREFIX=" + suite.prefix).encode() not in f.read().split(b"\0"):
                    continue
            with open("/proc/%s/cmdline" % pid, "rb") as f:
                first = f.read().split(b"\0")[0].decode("utf-8", "replace").strip()
        except OSError:
            continue
        if first.lower().endswith("\\autobackup.exe"):
            found[int(pid)] = first
    return found


def expect_copies(suite, folder, count):
    """`count` copies of `folder`'s AutoBackup.exe running, soon (Wine names a process late)."""
    deadline = time.monotonic() + 10 * suite.slow
    while True:
        running = {pid: path for pid, path in copies(suite).items()
                   if path.lower() == (folder + "\\AutoBackup.exe").lower()}
        if len(running) == count or time.monotonic() > deadline:
            break
        time.sleep(0.5)
    expect(len(running) == count, "%d copies of %s running, not %d: %s" % (
        len(running), folder, count, copies(suite)))
    return set(running)


def put_application(suite, folder, away_from=None):
    """The stand-in backup application into `folder` (out of `away_from`); its path."""
    if away_from:
        os.remove(unix_path(suite, away_from + "\\" + harness.STANDIN_NAME))
    os.makedirs(unix_path(suite, folder), exist_ok=True)
    path = unix_path(suite, folder + "\\" + harness.STANDIN_NAME)
    return shutil.copy(suite.options.standin, path)


def build(options, arch, step, exe, folder):
    """The package of the version `step` patch levels on, whose exe ends in a mark of its own;
    its Windows path on drive C: and the exe's bytes."""
    major, minor, patch = options.version.split(".")
    version = "%s.%s.%d" % (major, minor, int(patch) + step)
    exe = exe + b"version " + version.encode()
    with open(os.path.join(folder, "AutoBackup.exe"), "wb") as f:
        f.write(exe)
    out = os.path.join(folder, "%s.msi" % version)
    subprocess.run([sys.executable, os.path.join(RELEASE, "msi", "build_msi.py"), "--arch", arch,
                    "--wxs", os.path.join(RELEASE, "msi", "AutoBackup.wxs"), "--exe",
                    os.path.join(folder, "AutoBackup.exe"), "--dll", options.dll, "--version",
                    version, "--epoch", "0", "--out", out], check=True)
    return out, exe


def fail_late(msi):
    """The package with a deferred action, after the files are in place, that fails."""
    # A program run from the script (type 34, deferred) whose exit code is not 0.
    for query in ("INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES "
                  "('Fail', 1058, 'TARGETDIR', '[SystemFolder]cmd.exe /c exit 1')",
                  "INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) VALUES "
                  "('Fail', 6590)"):
        subprocess.run(["msibuild", msi, "-q", query], check=True)


def release_0_1_0(options, exe, folder):
    """Release 0.1.0's 32-bit package, built from that commit's own sources with `exe`; None when
    the history is not at hand."""
    sources = os.path.join(folder, "0.1.0")
    for path in ("release/ship.py", "release/msi/AutoBackup.wxs", "release/msi/build_msi.py",
                 "release/msi/end_copies.c"):
        shown = subprocess.run(["git", "-C", RELEASE, "show", "%s:%s" % (RELEASE_0_1_0, path)],
                               stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        if shown.returncode != 0:
            return None
        os.makedirs(os.path.dirname(os.path.join(sources, path)), exist_ok=True)
        with open(os.path.join(sources, path), "wb") as f:
            f.write(shown.stdout)
    msi = os.path.join(sources, "release", "msi")
    subprocess.run(["i686-w64-mingw32-gcc", "-shared", "-O2", "-o", "EndCopies.dll",
                    "end_copies.c", "-lmsi", "-Wl,--kill-at"], cwd=msi, check=True)
    with open(os.path.join(msi, "AutoBackup.exe"), "wb") as f:
        f.write(exe)
    subprocess.run([sys.executable, "build_msi.py", "--wxs", "AutoBackup.wxs", "--exe",
                    "AutoBackup.exe", "--dll", "EndCopies.dll", "--version", "0.1.0", "--epoch",
                    "0", "--out", os.path.join(folder, "0.1.0.msi")], cwd=msi, check=True)
    return os.path.join(folder, "0.1.0.msi")


def packages(suite, options, arch):
    """Each package the scenario installs, copied to C:\\: {name: (Windows path, exe bytes)}."""
    folder = os.path.join(options.build, "msi-scenario")
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    with open(options.exe, "rb") as f:
        made = {"first": (options.msi, f.read())}
    if arch == "x64":
        made["second"] = build(options, arch, 1, made["first"][1], folder)
        made["failing"] = build(options, arch, 2, made["first"][1], folder)
        fail_late(made["failing"][0])
        if not harness.emulation_of("32"):  # its 32-bit custom action
            old = release_0_1_0(options, made["first"][1] + b"0.1.0", folder)
            if old:
                made["0.1.0"] = (old, made["first"][1] + b"0.1.0")
    for name, (path, exe) in made.items():
        shutil.copy(path, unix_path(suite, "C:\\%s.msi" % name))
        made[name] = ("C:\\%s.msi" % name, exe)
    return made


def expect_refused(suite, why, *words, arch="64"):
    code, log = msiexec(suite, "/i", *words, "/qn", arch=arch)
    expect(code == 67 and STOPPED in log and why in log, "not refused for %r" % why)


def x64(suite, options):
    made = packages(suite, options, "x64")
    first = made["first"][0]
    # Wine logs no launch condition's text: that the install stopped there, and the custom
    # action's own line, are what show.
    expect_refused(suite, "was found in no folder", first)
    os.makedirs(unix_path(suite, OTHER))
    expect_refused(suite, "does not hold", first, "INSTALLDIR=%s" % OTHER)
    put_application(suite, OTHER)
    suite.tool("open-folder", OTHER)
    expect_refused(suite, "is refused: it grants Everyone", first, "INSTALLDIR=%s\\" % OTHER)
    left = [d for root in ("Program Files", "Program Files (x86)", "Other Place") for d, _, files
            in os.walk(unix_path(suite, "C:\\" + root)) if "AutoBackup.exe" in files]
    expect(not left, "left behind: %s" % left)

    # The copy the install starts is the one the user's log-on would start: it backs up.
    standin = put_application(suite, FOLDER)
    old = suite.daily_schedule("now-3.9")
    expect(msiexec(suite, "/i", first, "/qn")[0] == 0, "the install failed")
    expect_installed(suite, FOLDER, made["first"][1])
    running = expect_copies(suite, FOLDER, 1)
    deadline = time.monotonic() + 30 * suite.slow
    while not harness.parse_standin_log(harness.log_of(standin)) and time.monotonic() < deadline:
        time.sleep(0.2)
    time.sleep(harness.EXTRA_CHECKS_SECONDS)
    suite.expect_one_unattended_start(harness.parse_standin_log(harness.log_of(standin)))
    expect(suite.date("LastBackupDate")[0] == harness.double_bytes(
        harness.double_of(old) + 3.0), "LastBackupDate not 3 days on")

    expect(msiexec(suite, "/i", made["second"][0], "/qn")[0] == 0, "the upgrade failed")
    expect_installed(suite, FOLDER, made["second"][1])
    upgraded = expect_copies(suite, FOLDER, 1)
    expect(upgraded != running, "the copy of the old file still runs")
    expect_refused(suite, "", first)  # a downgrade
    expect_installed(suite, FOLDER, made["second"][1])

    # A failing upgrade: on Windows the old version comes back whole, and its own rollback action
    # starts its copies again. Wine runs the rollback script, this package's start among it, after
    # the new files are undone, but brings back nothing the old version's removal took.
    code, log = msiexec(suite, "/i", made["failing"][0], "/qn")
    failed = log.find("Fail. Return value 0.")
    expect(code == 1627 % 256 and failed > 0 and "StartCopies: started" not in log and
           log.find(": StartCopiesRollback.", failed) > 0, "the upgrade did not end in rollback")
    expect_copies(suite, FOLDER, 0)
    expect(msiexec(suite, "/i", made["second"][0], "/qn")[0] == 0, "the install failed")

    # A copy of AutoBackup.exe in another folder is not the installed file: it keeps running.
    shutil.copy(options.exe, unix_path(suite, OTHER + "\\AutoBackup.exe"))
    suite.start_second(unix_path(suite, OTHER + "\\AutoBackup.exe"))
    time.sleep(2)
    expect(msiexec(suite, "/x", made["second"][0], "/qn")[0] == 0, "the removal failed")
    expect_installed(suite, FOLDER, None)
    expect_copies(suite, FOLDER, 0)
    expect(suite.second.poll() is None, "the other folder's copy was ended")
    expect(os.path.exists(standin) and suite.tool("key")[0][:2] == ["key", "present"],
           "the backup application or its schedule went")

    # Under Program Files (x86), where earlier releases' 32-bit package put AutoBackup.
    put_application(suite, FOLDER_X86, away_from=FOLDER)
    if "0.1.0" in made:
        expect(msiexec(suite, "/i", made["0.1.0"][0], "/qn")[0] == 0, "0.1.0 did not install")
        expect_installed(suite, FOLDER_X86, made["0.1.0"][1], WOW)
    else:
        print("skipped: msi: release 0.1.0's package (its history is not at hand, or its 32-bit "
              "custom action runs through qemu-user here)")
    expect(msiexec(suite, "/i", first, "/qn")[0] == 0, "the install failed")
    expect_installed(suite, FOLDER_X86, made["first"][1])
    expect_copies(suite, FOLDER_X86, 1)

    # The application moved: the remembered folder no longer counts.
    put_application(suite, MOVED, away_from=FOLDER_X86)
    expect(msiexec(suite, "/i", made["second"][0], "/qn")[0] == 0, "the upgrade failed")
    expect_installed(suite, MOVED, made["second"][1])
    expect(not os.path.exists(unix_path(suite, FOLDER_X86 + "\\AutoBackup.exe")), "left behind")
    expect_copies(suite, MOVED, 1)
    expect(msiexec(suite, "/x", made["second"][0], "/qn")[0] == 0, "the removal failed")
    expect_installed(suite, MOVED, None)
    suite.expect_no_boxes()


def x86(suite, options):
    made = packages(suite, options, "x86")
    put_application(suite, FOLDER)
    code, log = msiexec(suite, "/i", made["first"][0], "/qn")
    expect(code == 67 and STOPPED in log and "ChooseFolder" not in log,
           "the 32-bit package went further than its refusal on 64-bit Windows")
    expect_installed(suite, FOLDER, None)
    if suite.emulation:
        raise harness.Skipped("its install on 32-bit Windows: the package's 32-bit custom "
                              "actions fail under qemu-user (their server crashes or spins)")
    # 32-bit Windows: a prefix of its own in place of the 64-bit one.
    suite.stop_wine()
    shutil.rmtree(suite.prefix)
    env = dict(suite.environment(300), WINEARCH="win32", WINEPREFIX=suite.prefix,
               WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d", DISPLAY="")
    for command in (["/usr/lib/wine/wine", "wineboot", "-i"], [harness.WINESERVER, "-w"]):
        subprocess.run(["timeout", "-k", "10", "300", *command], env=env, check=True,
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)  # the registry reaches its files at the end
    put_application(suite, FOLDER)
    shutil.copy(options.msi, unix_path(suite, made["first"][0]))
    expect(msiexec(suite, "/i", made["first"][0], "/qn", arch="32")[0] == 0, "the install failed")
    expect_installed(suite, FOLDER, made["first"][1])
    expect_copies(suite, FOLDER, 1)
    expect(msiexec(suite, "/x", made["first"][0], "/qn", arch="32")[0] == 0, "removal failed")
    expect_installed(suite, FOLDER, None)
    expect_copies(suite, FOLDER, 0)


def msi(suite):
    (x64 if suite.arch == "64" else x86)(suite, suite.options)
