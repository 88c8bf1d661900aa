#!/usr/bin/env python3
"""Whole-program scenarios: AutoBackup.exe under Wine against the real registry, timers and
process start.

usage: scenarios.py --build DIR --arch 64|32 --tool EXE --autobackup EXE --standin EXE
                    --decoy EXE [--box-tool EXE --faults EXE --nm NM] SCENARIO
       scenarios.py --build DIR --arch 64|32 --tool EXE prepare
       scenarios.py --list

Scenarios run side by side, each apart from the others: `prepare` makes one Wine prefix per
build folder (e2e-wine/template), and every scenario starts from its own copy of it
(e2e-wine/SCENARIO: the files hard-linked, the registry files copied) with its own wineserver and
its own Xvfb display on a free number (so a message box blocks as it does for a user instead of
failing at once, and a screenshot shows that scenario's boxes alone). Each one stops every Wine
process of its copy at its end, prints what it saw and exits 1 with the reason when an
expectation fails. The scenarios with message boxes read them with the box tool, keep a
screenshot of each in e2e-screens/ of the build folder, and, given --nm, name the function that
holds a reported offset. `--list` prints each scenario with the builds it runs on and its time
limit: the test registration is made from it.
"""

import argparse
import ctypes
import datetime
import os
import re
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
WINE_RUN = os.path.join(HERE, "..", "..", "scripts", "wine-run")
WINESERVER = "/usr/lib/wine/wineserver"
STANDIN_NAME = "TarvikEmailBackup.exe"
SW_SHOWNORMAL = 1
sys.path.insert(0, os.path.join(HERE, "..", "..", "release"))
import pe_image  # noqa: E402  (the PE reader the release checks share)
DAY = datetime.timedelta(days=1)


class Failure(Exception):
    pass


class Skipped(Exception):
    pass


# CTest's SKIP_RETURN_CODE for these scenarios.
SKIP_CODE = 77
# A scenario's time limit on a native build, unless its entry in SCENARIOS gives its own.
LIMIT = 120


def expect(condition, message):
    if not condition:
        raise Failure(message)


def stamp(text):
    """The tool's readable date ("YYYY-MM-DD hh:mm:ss.mmm") as a datetime."""
    return datetime.datetime.strptime(text, "%Y-%m-%d %H:%M:%S.%f")


def double_bytes(value):
    return struct.pack("<d", value).hex()


def double_of(hex_bytes):
    return struct.unpack("<d", bytes.fromhex(hex_bytes))[0]


def parse_standin_log(path):
    """The complete records of a stand-in log (format in e2e/standin/standin.cpp)."""
    try:
        with open(path, "rb") as f:
            text = f.read().decode("utf-8", "replace")
    except FileNotFoundError:
        return []
    runs, current = [], None
    for line in text.split("\n")[:-1]:  # the last piece is unfinished or empty
        line = line.rstrip("\r")
        word, _, rest = line.partition(" ")
        if word == "run":
            role, _, when = rest.partition(" ")
            current = {"role": role, "time": when, "path": "", "show": "", "line": "", "args": []}
        elif current is not None and word in ("path", "folder", "show", "line"):
            current[word] = rest
        elif current is not None and word == "arg":
            current["args"].append(rest)
        elif current is not None and word == "end":
            if rest == str(len(current["args"])):
                runs.append(current)
            current = None
        else:
            current = None
    return runs


def log_of(exe_path):
    return os.path.splitext(exe_path)[0] + ".log"


def end_with_parent():
    """In a child before it runs: it gets SIGTERM when the scenario's process ends, also when
    that is killed for its time limit."""
    ctypes.CDLL(None).prctl(1, signal.SIGTERM)  # PR_SET_PDEATHSIG


def copy_prefix(template, prefix):
    """A copy of a prefix no Wine process runs in: below drive_c and dosdevices the files are hard
    links (Wine adds files there and replaces them whole, never writes into one, and none of the
    tests' own files lives there), the files at the top (the registry among them) are copied.
    About 0.3 s and 3 MB instead of 20 s and 1.3 GB for a whole copy."""
    os.makedirs(prefix)
    for entry in os.listdir(template):
        source = os.path.join(template, entry)
        if os.path.isdir(source) and not os.path.islink(source):
            subprocess.run(["cp", "-al", source, prefix], check=True)
        else:
            shutil.copy2(source, prefix, follow_symlinks=False)


def emulation_of(arch):
    """Why the build's programs run emulated here, or None when they run natively: where the
    kernel has no 32-bit user mode, the setup has qemu-user run the 32-bit Wine loader."""
    if arch != "32":
        return None
    try:
        with open("/proc/sys/fs/binfmt_misc/qemu-i386") as f:
            if f.readline().strip() == "enabled":
                return "the 32-bit Wine loader runs through qemu-user on this machine"
    except OSError:
        pass
    return None


class Suite:
    def __init__(self, options, name):
        self.build = os.path.abspath(options.build)
        self.arch = options.arch
        self.tool_exe = options.tool
        self.options = options
        self.name = name
        # The folder that wine-run is given: the scenario's own prefix lies in it.
        self.home = os.path.join(self.build, "e2e-wine", name)
        self.prefix = os.path.join(self.home, "wineprefix")
        self.display = None
        self.outputs = []  # what the started programs wrote, shown when the scenario fails
        self.emulation = emulation_of(self.arch)
        # Under an emulator everything takes longer.
        self.slow = 4 if self.emulation else 1
        # An absolute address in the report: as wide as a pointer of the build.
        self.address_digits = 16 if self.arch == "64" else 8
        self.program = None
        self.started_at = None
        self.second = None  # a second copy of the program, for the scenarios that run two

    # --- Wine ---------------------------------------------------------------------------------

    def environment(self, limit):
        env = dict(os.environ, WINE_RUN_TIMEOUT=str(limit))
        if self.display:
            env["DISPLAY"] = self.display
        else:
            env.pop("DISPLAY", None)
        return env

    def run_tool(self, exe, words, limit):
        """Runs one of the test tools once under Wine; its exit code, output and error output."""
        # Files, not pipes: the wineserver that a run starts inherits them and outlives the run,
        # and waiting for the end of a pipe would wait for the server.
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            code = subprocess.run([WINE_RUN, self.home, self.arch, exe, *words],
                                  stdin=subprocess.DEVNULL, stdout=out, stderr=err,
                                  env=self.environment(limit), timeout=limit + 30).returncode
            out.seek(0)
            err.seek(0)
            return code, out.read().decode("latin-1"), err.read().decode("latin-1")

    def tool(self, *words):
        """Runs the schedule tool once with the given commands; its output lines, split."""
        code, output, errors = self.run_tool(self.tool_exe, words, 60 * self.slow)
        if code != 0:
            raise Failure("schedule tool %s failed (%d): %s%s" % (" ".join(words), code, output,
                                                                   errors))
        return [line.rstrip("\r").split(" ") for line in output.splitlines() if line.strip()]

    def start(self, exe, arguments=(), limit=120):
        self.started_at = time.monotonic()
        self.program = self.launch(exe, arguments, limit, "wine-output.txt")

    def start_second(self, exe, limit=120):
        """Starts another copy of `exe` beside the program under test."""
        self.second = self.launch(exe, (), limit, "wine-output-second.txt")

    def launch(self, exe, arguments, limit, output_name):
        self.outputs.append(os.path.join(os.path.dirname(exe), output_name))
        with open(self.outputs[-1], "w") as log:
            return subprocess.Popen([WINE_RUN, self.home, self.arch, exe, *arguments],
                                    stdin=subprocess.DEVNULL, stdout=log, stderr=subprocess.STDOUT,
                                    env=self.environment(limit * self.slow))

    def seconds_running(self):
        return time.monotonic() - self.started_at

    def running(self):
        return self.program is not None and self.program.poll() is None

    def wait_for_exit(self, limit):
        try:
            return self.program.wait(timeout=limit * self.slow)
        except subprocess.TimeoutExpired:
            raise Failure("AutoBackup.exe still running after %d s" % (limit * self.slow))

    def stop_wine(self):
        """Ends every process of the prefix, the program under test included."""
        if not os.path.isdir(self.prefix):
            return
        env = dict(os.environ, WINEPREFIX=self.prefix)
        subprocess.run(["timeout", "-k", "5", "60", WINESERVER, "-k"], env=env,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        for process in (self.program, self.second):
            if process is None:
                continue
            try:
                process.wait(timeout=30)
            except subprocess.TimeoutExpired:
                process.send_signal(signal.SIGTERM)  # timeout(1) passes it on
                process.wait(timeout=30)
        subprocess.run(["timeout", "-k", "5", "60", WINESERVER, "-w"], env=env,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def fresh_prefix(self):
        """This scenario's own prefix, a copy of the prepared one."""
        self.stop_wine()  # a copy left running by an interrupted run
        shutil.rmtree(self.home, ignore_errors=True)
        expect(os.path.exists(os.path.join(self.build, TEMPLATE, "ready")),
               "no prepared prefix: the wine_prefix fixture has not run")
        copy_prefix(os.path.join(self.build, TEMPLATE, "wineprefix"), self.prefix)

    def start_display(self):
        """A private Xvfb display on a free number, for this scenario alone; its process."""
        number_file = os.path.join(self.home, "display-number")
        with open(number_file, "w") as out, open(os.path.join(self.home, "xvfb.txt"), "w") as log:
            # -displayfd: Xvfb picks a free display number itself and writes it once it is ready.
            xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(out.fileno()), "-screen", "0",
                                     "1024x768x24", "-nolisten", "tcp"], pass_fds=(out.fileno(),),
                                    stdin=subprocess.DEVNULL, stdout=log, stderr=log,
                                    preexec_fn=end_with_parent)
        deadline = time.monotonic() + 30
        number = ""
        while not number.endswith("\n"):
            expect(xvfb.poll() is None, "Xvfb ended at once (see %s/xvfb.txt)" % self.home)
            expect(time.monotonic() < deadline, "Xvfb gave no display number within 30 s")
            time.sleep(0.1)
            with open(number_file) as f:
                number = f.read()
        self.display = ":" + number.strip()
        print("display %s (Xvfb %d), prefix %s" % (self.display, xvfb.pid, self.prefix))
        return xvfb

    def print_outputs(self):
        for path in self.outputs:
            with open(path, "rb") as f:
                print("--- %s\n%s" % (path, f.read().decode("latin-1")))

    # --- the schedule -------------------------------------------------------------------------

    def value(self, name):
        """(type, bytes) of a schedule value, or None when it is absent."""
        line = self.tool("get", name)[0]
        if line[2] == "absent":
            return None
        return int(line[3]), line[7]

    def date(self, name):
        line = self.tool("show-date", name)[0]
        return line[3], " ".join(line[5:7])  # bytes, readable text

    def daily_schedule(self, last, interval=1):
        """A daily schedule with its last backup at `last` (a tool date); its 8 bytes."""
        lines = self.tool("delete-key", "put-date", "LastBackupDate", last, "put-date",
                          "BackupTime", "now", "put-dword", "BackupPeriod", "1", "put-dword",
                          "BackupInterval", str(interval))
        return lines[1][7]

    # --- the scratch directory ----------------------------------------------------------------

    def scratch(self, name, program_folder="."):
        """A fresh directory for one scenario with AutoBackup.exe and the stand-in in
        `program_folder` below it; the path of AutoBackup.exe."""
        root = os.path.join(self.build, "e2e-runs", name)
        shutil.rmtree(root, ignore_errors=True)
        folder = os.path.normpath(os.path.join(root, program_folder))
        os.makedirs(folder)
        shutil.copy(self.options.autobackup, os.path.join(folder, "AutoBackup.exe"))
        shutil.copy(self.options.standin, os.path.join(folder, STANDIN_NAME))
        return os.path.join(folder, "AutoBackup.exe")

    def wait_for_starts(self, standin, count, limit):
        """Polls the stand-in's log until it holds `count` records, the program ends or `limit`
        seconds have passed."""
        deadline = time.monotonic() + limit * self.slow
        runs = parse_standin_log(log_of(standin))
        while len(runs) < count and time.monotonic() < deadline and self.running():
            time.sleep(0.2)
            runs = parse_standin_log(log_of(standin))
        return runs

    def expect_no_boxes(self):
        boxes = [line for line in self.tool("boxes") if line[0] == "box"]
        expect(not boxes, "message boxes on the screen: %s" % [" ".join(b) for b in boxes])

    def expect_one_unattended_start(self, runs):
        expect(len(runs) == 1, "the backup application was started %d times, not once: %s" % (
            len(runs), runs))
        expect(runs[0]["role"] == "stand-in", "the %s ran instead of the stand-in" % runs[0]["role"])
        expect(runs[0]["args"] == ["/auto"],
               "the backup application got the arguments %s, not just /auto" % runs[0]["args"])

    # --- message boxes ------------------------------------------------------------------------

    def box_tool(self, *words):
        """Runs the box tool once; its exit code and output lines."""
        code, output, errors = self.run_tool(self.options.box_tool, words, 90 * self.slow)
        if code not in (0, 1):
            raise Failure("box tool %s failed (%d): %s%s" % (" ".join(words), code, output, errors))
        return code, [line.rstrip("\r") for line in output.splitlines()]

    def wait_for_box(self, title, limit):
        """The box titled `title` once it is on the screen, as {"handle", "text" (its exact
        bytes), "open" (the titles of every box then open)}; fails when none comes in time."""
        code, lines = self.box_tool("wait", title, str(limit * self.slow), "count")
        fields = {}
        for line in lines:
            word, _, rest = line.partition(" ")
            fields.setdefault(word, []).append(rest)
        expect(code == 0 and fields.get("box") == ["found"],
               "no box titled %r within %d s (running: %s): %s" % (title, limit, self.running(),
                                                                   lines))
        expect(fields["title"] == [title], "the box found is titled %r" % fields["title"])
        return {"handle": fields["handle"][0], "text": bytes.fromhex(fields["hex"][0].strip("-")),
                "open": fields.get("open-title", []), "count": int(fields["open"][0])}

    def press_ok(self, title):
        code, lines = self.box_tool("press", title)
        expect(code == 0 and lines == ["pressed"], "could not press OK on %r: %s" % (title, lines))

    def screenshot(self, name):
        """The whole screen, trimmed to what is on it, into e2e-screens/ of the build folder."""
        folder = os.path.join(self.build, "e2e-screens")
        os.makedirs(folder, exist_ok=True)
        path = os.path.join(folder, name + ".png")
        env = self.environment(60)
        result = subprocess.run(["timeout", "-k", "5", "60", "import", "-window", "root", "-trim",
                                 "+repage", path], env=env, stdin=subprocess.DEVNULL,
                                stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        expect(result.returncode == 0, "no screenshot: %s" % result.stdout.decode("latin-1"))
        print("screenshot %s" % path)


# --- the scenarios ----------------------------------------------------------------------------

# The first check comes after the start-up tick and twelve settling ticks. Exiting sooner means a
# tick was skipped; the bound leaves room for timer jitter but not for a whole tick less.
FIRST_CHECK_NOT_BEFORE = 13.5
# Checks that run after a start before the results are read: later ticks must not start again.
EXTRA_CHECKS_SECONDS = 3.5


def run_to_quiet_exit(suite, name, waited_for):
    """Runs a scratch copy that must end by itself with exit code 0, not before `waited_for`
    could happen, and without starting the backup application."""
    exe = suite.scratch(name)
    suite.start(exe, limit=60)
    code = suite.wait_for_exit(60)
    seconds = suite.seconds_running()
    print("exit code %d after %.1f s" % (code, seconds))
    expect(code == 0, "exit code %d, not 0" % code)
    expect(seconds >= FIRST_CHECK_NOT_BEFORE, "ended after %.1f s, before %s" % (
        seconds, waited_for))
    expect(parse_standin_log(log_of(os.path.join(os.path.dirname(exe), STANDIN_NAME))) == [],
           "the backup application was started")


def no_schedule_key(suite):
    lines = suite.tool("delete-key", "key")
    expect(lines[1] == ["key", "absent", "parent", "absent"], "key not removed: %s" % lines[1])
    run_to_quiet_exit(suite, "no-schedule-key", "the settling delay could pass")
    key = suite.tool("key")[0]
    expect(key == ["key", "present", "values", "0", "subkeys", "0"],
           "the schedule key is not there empty: %s" % " ".join(key))


def backup_time_missing(suite):
    # Due if "BackupTime" were there: a check that ignored its absence would start a backup.
    suite.daily_schedule("now-3.9")
    suite.tool("delete", "BackupTime")
    before = {name: suite.value(name) for name in ("LastBackupDate", "BackupPeriod",
                                                   "BackupInterval")}
    run_to_quiet_exit(suite, "backup-time-missing", "the first check could run")
    for name, value in before.items():
        expect(suite.value(name) == value, "%s changed from %s" % (name, value))
    expect(suite.value("BackupTime") is None, "BackupTime was written")
    key = suite.tool("key")[0]
    expect(key[:4] == ["key", "present", "values", "3"], "values added: %s" % " ".join(key))


def due_daily(suite, name, arguments=(), program_folder=".", decoy=None):
    """A daily schedule last run 3.9 days ago: one start with /auto, the date 3 days on with
    its time of day, the program still running."""
    old = suite.daily_schedule("now-3.9")
    old_text = suite.date("LastBackupDate")[1]
    exe = suite.scratch(name, program_folder)
    if decoy:
        shutil.copy(suite.options.decoy, os.path.join(os.path.dirname(exe), decoy))
    standin = os.path.join(os.path.dirname(exe), STANDIN_NAME)
    suite.start(exe, arguments)
    runs = suite.wait_for_starts(standin, 1, 30)
    if decoy:
        decoy_runs = parse_standin_log(log_of(os.path.join(os.path.dirname(exe), decoy)))
        expect(not decoy_runs, "the decoy ran: %s" % decoy_runs)
    expect(runs, "no start of the backup application after %.0f s (running: %s)" % (
        suite.seconds_running(), suite.running()))
    print("started after %.1f s: %s" % (suite.seconds_running(), runs[0]["line"]))
    time.sleep(EXTRA_CHECKS_SECONDS)
    expect(suite.running(), "AutoBackup.exe ended (code %s)" % suite.program.returncode)
    runs = parse_standin_log(log_of(standin))
    suite.expect_one_unattended_start(runs)
    if decoy:
        expect(not parse_standin_log(log_of(os.path.join(os.path.dirname(exe), decoy))),
               "the decoy ran")
    suite.expect_no_boxes()
    new, new_text = suite.date("LastBackupDate")
    print("LastBackupDate %s -> %s" % (old_text, new_text))
    expect(new == double_bytes(double_of(old) + 3.0),
           "LastBackupDate is %s (%s), not 3 days after %s (%s)" % (new, new_text, old, old_text))
    expect(stamp(new_text) - stamp(old_text) == 3 * DAY, "time of day not kept")
    expect(suite.running(), "AutoBackup.exe ended (code %s)" % suite.program.returncode)
    return standin, runs[0]


def daily_due(suite):
    due_daily(suite, "daily-due")


def started_with_arguments(suite):
    due_daily(suite, "started-with-arguments", ["/auto", "-x", "two words", "C:\\elsewhere\\"])


def directory_with_blank(suite):
    # Unquoted, "...\Mail Backup\TarvikEmailBackup.exe" would run "...\Mail.exe" first.
    due_daily(suite, "directory-with-blank", program_folder="Mail Backup", decoy="../Mail.exe")


def folder_named(suite, name, program_folder):
    """The program and the stand-in in `program_folder`: the due backup starts the stand-in there
    once with /auto, shown normally; once the stand-in is gone, the next due check shows the
    "Error!" box, writes nothing, and the check after OK tries again."""
    standin, run = due_daily(suite, name, program_folder=program_folder)
    where = "Z:" + standin.replace("/", "\\")
    print("%d characters to the stand-in; it ran as %s, show state %s" % (len(where), run["path"],
                                                                         run["show"]))
    expect(run["show"] == str(SW_SHOWNORMAL), "show state %s, not normal" % run["show"])
    # Deeper than the classic limit the start goes through the short form, which the program may
    # see as its own path; its log beside it is what shows where it ran.
    expect(len(where) >= 260 or run["path"].lower() == where.lower(),
           "the stand-in ran as %s, not %s" % (run["path"], where))
    expect(run["folder"].lower() == run["path"].rpartition("\\")[0].lower(),
           "the stand-in ran in %s, not in its own folder" % run["folder"])
    os.remove(standin)
    old = suite.tool("put-date", "LastBackupDate", "now-3.9")[0][7]
    box = suite.wait_for_box(LAUNCH_FAILURE_TITLE, 15)
    expect(box["text"] == b"Auto Backup: Tarvik Email Backup not found!",
           "the box says %r" % box["text"])
    suite.press_ok(LAUNCH_FAILURE_TITLE)
    expect(suite.wait_for_box(LAUNCH_FAILURE_TITLE, 15)["handle"] != box["handle"],
           "no new box after OK")
    expect(suite.value("LastBackupDate") == (3, old), "LastBackupDate changed from %s" % old)


def started_elsewhere(suite):
    """Started from C:\\windows, as at log-on: the backup application runs in its own folder."""
    here = os.getcwd()
    os.chdir(os.path.join(suite.prefix, "drive_c", "windows"))
    try:
        standin, run = due_daily(suite, "started-elsewhere")
    finally:
        os.chdir(here)
    own = "Z:" + os.path.dirname(standin).replace("/", "\\")
    expect(run["folder"].lower() == own.lower(), "the application ran in %s, not %s" % (
        run["folder"], own))


def not_due(suite):
    old = suite.daily_schedule("now-1.5", interval=2)
    before = {name: suite.value(name) for name in ("LastBackupDate", "BackupTime", "BackupPeriod",
                                                   "BackupInterval")}
    exe = suite.scratch("not-due")
    standin = os.path.join(os.path.dirname(exe), STANDIN_NAME)
    suite.start(exe)
    # The first check runs at about 14 s; by 20 s several have found nothing due.
    while suite.seconds_running() < 20 and suite.running():
        time.sleep(0.5)
    expect(suite.running(), "AutoBackup.exe ended (code %s)" % suite.program.returncode)
    expect(parse_standin_log(log_of(standin)) == [], "the backup application was started")
    for name, value in before.items():
        expect(suite.value(name) == value, "%s changed from %s" % (name, value))
    suite.expect_no_boxes()
    # Still checking, and every check reads the registry afresh: once the schedule falls due the
    # next tick starts the backup.
    lines = suite.tool("put-date", "LastBackupDate", "now-2.5")
    due = lines[0][7]
    seen = time.monotonic()
    runs = suite.wait_for_starts(standin, 1, 15)
    expect(runs, "no start within %.0f s of the schedule falling due" % (time.monotonic() - seen))
    time.sleep(EXTRA_CHECKS_SECONDS)
    suite.expect_one_unattended_start(parse_standin_log(log_of(standin)))
    expect(suite.date("LastBackupDate")[0] == double_bytes(double_of(due) + 2.0),
           "LastBackupDate did not move on by one 2-day interval from %s (was %s)" % (due, old))
    expect(suite.running(), "AutoBackup.exe ended (code %s)" % suite.program.returncode)


def two_copies(suite, name, stagger):
    """Two copies beside one stand-in on a due daily schedule, the second started `stagger`
    seconds after the first: one start with /auto, LastBackupDate moved on once to the date the
    rules give, both copies still running. Each copy writes the date only in the check that
    started the backup, so one start is one write."""
    old = suite.daily_schedule("now-3.9")
    exe = suite.scratch(name)
    standin = os.path.join(os.path.dirname(exe), STANDIN_NAME)
    suite.start(exe)
    time.sleep(stagger)
    suite.start_second(exe)
    runs = suite.wait_for_starts(standin, 1, 30)
    expect(runs, "no start of the backup application after %.0f s (running: %s)" % (
        suite.seconds_running(), suite.running()))
    print("started after %.1f s: %s" % (suite.seconds_running(), runs[0]["line"]))
    # Both copies check every second from here on: a second start would come now.
    time.sleep(EXTRA_CHECKS_SECONDS)
    suite.expect_one_unattended_start(parse_standin_log(log_of(standin)))
    expected = suite.tool("decide", "hex:" + old, "1", "1", "now")[0]
    new, new_text = suite.date("LastBackupDate")
    print("LastBackupDate now %s" % new_text)
    expect(expected[1] == "due" and new == expected[3],
           "LastBackupDate is %s (%s), the rules give %s" % (new, new_text, " ".join(expected)))
    expect(suite.running(), "the first copy ended (code %s)" % suite.program.returncode)
    expect(suite.second.poll() is None, "the second copy ended (code %s)" % suite.second.poll())
    suite.expect_no_boxes()


# A copy's first check comes about 14 s after its start: one tick of start-up, twelve settling;
# the rest is room for Wine's start on a machine running four scenarios at once. A lock that kept
# the copy from its first check would keep it for good, so this still tells the two apart.
FIRST_CHECK_BY = 20


def check_lock(suite, name, variant):
    """Nothing outside one copy's check keeps the check lock from the user's other copies. With
    "error-box" a stale copy in a folder without the backup application has its "Error!" box
    open when a good copy starts 2 s later beside the application; with "name-held" a helper
    holds the lock's global name under a NULL DACL, as another account could. Either way the good
    copy starts the backup once by its first check and writes the date the rules give. The helper
    gives the name Everyone as its owner, which only Wine allows: Windows refuses an owner that is
    a group SID the caller may not assign (ERROR_INVALID_OWNER), so there it takes another
    account."""
    old = suite.daily_schedule("now-3.9")
    exe = suite.scratch(name)
    standin = os.path.join(os.path.dirname(exe), STANDIN_NAME)
    if variant == "error-box":
        stale = suite.scratch(name + "-stale")
        os.remove(os.path.join(os.path.dirname(stale), STANDIN_NAME))
        suite.start_second(stale)
        time.sleep(2)
    else:
        helper = suite.launch(suite.tool_exe, ["hold-lock-name", "120"], 150, name + ".txt")
        said = os.path.join(os.path.dirname(suite.tool_exe), name + ".txt")
        deadline = time.monotonic() + 60 * suite.slow
        while "holding" not in open(said).read():
            expect(helper.poll() is None and time.monotonic() < deadline,
                   "the helper did not take the name: %s" % open(said).read())
            time.sleep(0.2)
        print(open(said).read().strip())
    suite.start(exe)
    runs = suite.wait_for_starts(standin, 1, FIRST_CHECK_BY)
    expect(runs, "no start of the backup application after %.1f s (running: %s)" % (
        suite.seconds_running(), suite.running()))
    print("started after %.1f s" % suite.seconds_running())
    if variant == "error-box":
        box = suite.wait_for_box(LAUNCH_FAILURE_TITLE, 5)
        expect(box["count"] == 1, "%d boxes open, not the stale copy's one" % box["count"])
    else:
        expect(helper.poll() is None, "the helper let go of the name before the start")
    time.sleep(EXTRA_CHECKS_SECONDS)
    suite.expect_one_unattended_start(parse_standin_log(log_of(standin)))
    expected = suite.tool("decide", "hex:" + old, "1", "1", "now")[0]
    new, new_text = suite.date("LastBackupDate")
    expect(expected[1] == "due" and new == expected[3],
           "LastBackupDate is %s (%s), the rules give %s" % (new, new_text, " ".join(expected)))
    if variant == "error-box":
        # After OK the stale copy finds nothing due: no second box.
        suite.press_ok(LAUNCH_FAILURE_TITLE)
        time.sleep(EXTRA_CHECKS_SECONDS)
        suite.expect_no_boxes()
        expect(suite.second.poll() is None, "the stale copy ended (code %s)" % suite.second.poll())
    expect(suite.running(), "AutoBackup.exe ended (code %s)" % suite.program.returncode)


def add_months(moment, count):
    """Calendar-month stepping with the day clamped to the target month, time of day kept."""
    month = moment.month - 1 + count
    year, month = moment.year + month // 12, month % 12 + 1
    next_first = datetime.date(year + month // 12, month % 12 + 1, 1)
    return moment.replace(year=year, month=month,
                          day=min(moment.day, (next_first - datetime.timedelta(days=1)).day))


def monthly_from_31st(suite):
    now = stamp(" ".join(suite.tool("now")[0][4:6]))
    # The latest 31st at least two months back, twelve hours away from the present time of day:
    # every month boundary of the schedule is then half a day away from any moment of the run.
    month = add_months(now.replace(day=1), -2)
    while (add_months(month, 1) - month).days != 31:
        month = add_months(month, -1)
    away = (now + datetime.timedelta(hours=12)).replace(microsecond=0)
    last = month.replace(day=31, hour=away.hour, minute=away.minute, second=away.second,
                         microsecond=0)
    lines = suite.tool("delete-key", "put-date", "LastBackupDate", last.isoformat(), "put-date",
                       "BackupTime", "now", "put-dword", "BackupPeriod", "3", "put-dword",
                       "BackupInterval", "1")
    old = lines[1][7]

    # What the rules give for today: a start on each tick as long as they find the date due.
    expected, starts = old, 0
    while True:
        decision = suite.tool("decide", "hex:" + expected, "3", "1", "now")[0]
        if decision[1] != "due":
            break
        expected, starts = decision[3], starts + 1
        expect(starts < 4, "the rules keep finding the schedule due")
    # The same by plain calendar arithmetic, as a check on the rules themselves.
    model, model_starts = last, 0
    while add_months(model, 1) <= now:
        model = add_months(model, max(n for n in range(1, 400) if add_months(model, n) <= now))
        model_starts += 1
    print("last %s, now %s: %d start(s), new date %s" % (last, now, starts, model))
    expect(starts == model_starts, "the rules give %d starts, calendar stepping %d" % (
        starts, model_starts))
    expect(starts >= 1, "a 31st two months back must be due")

    exe = suite.scratch("monthly-from-31st")
    standin = os.path.join(os.path.dirname(exe), STANDIN_NAME)
    suite.start(exe)
    runs = suite.wait_for_starts(standin, starts, 30)
    time.sleep(EXTRA_CHECKS_SECONDS)
    runs = parse_standin_log(log_of(standin))
    expect(len(runs) == starts, "%d starts, the rules give %d" % (len(runs), starts))
    for run in runs:
        expect(run["args"] == ["/auto"], "arguments %s, not just /auto" % run["args"])
    new, new_text = suite.date("LastBackupDate")
    expect(new == expected, "LastBackupDate is %s (%s), the rules give %s" % (
        new, new_text, expected))
    expect(stamp(new_text) == model, "LastBackupDate is %s, calendar stepping gives %s" % (
        new_text, model))
    expect(suite.running(), "AutoBackup.exe ended (code %s)" % suite.program.returncode)
    suite.expect_no_boxes()


# --- the fatal error report -------------------------------------------------------------------

REPORT_TITLE = "Application Error"
LAUNCH_FAILURE_TITLE = "Error!"
# First line of the report: failure type, module file, offset in it.
REPORT_FIRST_LINE = re.compile(rb"^Exception (\w+) in module (.+) at ([0-9A-F]{8})\.$")


def pe_layout(path):
    """The image base and the code sections (name, start, end as offsets from the load address)
    of a PE executable, read from its headers."""
    try:
        image = pe_image.read(path)
    except ValueError as error:
        raise Failure("%s: %s" % (path, error))
    code = image.sections_with(pe_image.IMAGE_SCN_CNT_CODE)
    return image.image_base, [(s.name, s.start, s.end) for s in code]


def function_at(suite, exe, image_base, offset):
    """The name of the function whose code holds `offset` of the executable, from its symbols;
    None when no symbol tool was given."""
    if not suite.options.nm:
        return None
    result = subprocess.run([suite.options.nm, "-C", "--defined-only", exe], check=True,
                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    best = None
    for line in result.stdout.decode("latin-1").splitlines():
        address, _, rest = line.partition(" ")
        kind, _, name = rest.partition(" ")
        if kind not in ("T", "t") or name.startswith("."):
            continue
        start = int(address, 16) - image_base
        if start <= offset and (best is None or start > best[0]):
            best = (start, name)
    return best[1] if best else None


def report_lines(text):
    """The report's two lines; fails unless the text is exactly two lines, each ended by CR LF."""
    expect(text.endswith(b"\r\n"), "the report does not end with CR LF: %r" % text)
    lines = text.split(b"\r\n")
    expect(len(lines) == 3 and lines[2] == b"", "the report is not two lines: %r" % text)
    return lines[0], lines[1]


def expect_report(suite, box, exe, failure_type, message, code_at=None, module=None):
    """Checks a report box: one box open, the first line naming `failure_type`, the file of `exe`
    and an offset inside its code (inside a function whose name contains `code_at`, when given),
    the second line `message` (a text, or a pattern it must match). An offset of None expects
    00000000. Given `module`, the first line must name that file instead, at any offset."""
    print("box %r: %r" % (REPORT_TITLE, box["text"]))
    expect(box["count"] == 1, "%d boxes open, not one: %s" % (box["count"], box["open"]))
    first, second = report_lines(box["text"])
    match = REPORT_FIRST_LINE.match(first)
    expect(match, "the first line does not have the report's form: %r" % first)
    expect(match.group(1) == failure_type.encode(), "the report names %s, not %s" % (
        match.group(1), failure_type))
    name = (module or os.path.basename(exe)).encode()
    expect(match.group(2).lower() == name.lower(), "the report names the module %s, not %s" % (
        match.group(2), name))
    offset = int(match.group(3), 16)
    if module:
        print("offset %08X in %s" % (offset, module))
    elif code_at is None:
        expect(offset == 0, "offset %08X, not 00000000" % offset)
    else:
        image_base, code = pe_layout(exe)
        inside = [name for name, start, end in code if start <= offset < end]
        expect(inside, "offset %08X lies in no code section of %s: %s" % (offset, exe, code))
        function = function_at(suite, exe, image_base, offset)
        print("offset %08X in section %s, function %s" % (offset, inside[0], function))
        expect(function is None or code_at in function,
               "offset %08X lies in %s, not in %s" % (offset, function, code_at))
    if isinstance(message, str):
        expect(second == message.encode(), "the second line is %r, not %r" % (second, message))
    else:
        expect(message.fullmatch(second), "the second line is %r, not of the form %r" % (
            second, message.pattern))


def close_report(suite):
    """Presses OK on the report: the program must then end at once with exit code 1."""
    suite.press_ok(REPORT_TITLE)
    code = suite.wait_for_exit(30)
    print("exit code %d after OK" % code)
    expect(code == 1, "exit code %d after the report, not 1" % code)
    _, lines = suite.box_tool("count")
    expect(lines[0] == "open 0", "boxes still open: %s" % lines)


def bad_value_report(suite, name, value_name, value_type, value_bytes):
    """A due daily schedule with one value stored with the wrong type: the report names the
    store's failure, the program ends with code 1 and the value is left as it was."""
    suite.daily_schedule("now-3.9")
    stored = suite.tool("put", value_name, value_type, value_bytes)[0]
    before = suite.value(value_name)
    print("stored: %s" % " ".join(stored))
    exe = suite.scratch(name)
    suite.start(exe)
    box = suite.wait_for_box(REPORT_TITLE, 40)
    print("box after %.1f s" % suite.seconds_running())
    expect(suite.seconds_running() >= FIRST_CHECK_NOT_BEFORE,
           "the box came before the first check could run")
    suite.screenshot(name)
    expect_report(suite, box, exe, "ERegistryException",
                  "Invalid data type for '%s'." % value_name, code_at="TRegistry::")
    expect(suite.running(), "AutoBackup.exe ended while its report was open")
    close_report(suite)
    expect(suite.value(value_name) == before, "%s changed from %s" % (value_name, before))
    expect(parse_standin_log(log_of(os.path.join(os.path.dirname(exe), STANDIN_NAME))) == [],
           "the backup application was started")


def last_backup_date_4_bytes(suite):
    bad_value_report(suite, "last-backup-date-4-bytes", "LastBackupDate", "binary", "0000f03f")


def backup_period_string(suite):
    # "1" and its terminator: short enough for the 4-byte read, so the type is what fails.
    bad_value_report(suite, "backup-period-string", "BackupPeriod", "sz", "3100")


def backup_application_missing(suite):
    old = suite.daily_schedule("now-3.9")
    exe = suite.scratch("backup-application-missing")
    os.remove(os.path.join(os.path.dirname(exe), STANDIN_NAME))
    suite.start(exe)
    handles = []
    for shown in (1, 2):
        box = suite.wait_for_box(LAUNCH_FAILURE_TITLE, 40)
        print("box %d after %.1f s: %r" % (shown, suite.seconds_running(), box["text"]))
        expect(box["text"] == b"Auto Backup: Tarvik Email Backup not found!",
               "the box says %r" % box["text"])
        expect(box["count"] == 1, "%d boxes open, not one: %s" % (box["count"], box["open"]))
        expect(box["handle"] not in handles, "the box OK was pressed on is still open")
        handles.append(box["handle"])
        if shown == 1:
            suite.screenshot("backup-application-missing")
        expect(suite.value("LastBackupDate") == (3, old),
               "LastBackupDate changed from %s: %s" % (old, suite.value("LastBackupDate")))
        expect(suite.running(), "AutoBackup.exe ended (code %s)" % suite.program.returncode)
        suite.press_ok(LAUNCH_FAILURE_TITLE)
    # And the checks go on: the next tick fails the same way.
    suite.wait_for_box(LAUNCH_FAILURE_TITLE, 40)
    expect(suite.value("LastBackupDate") == (3, old), "LastBackupDate changed from %s" % old)
    expect(suite.running(), "AutoBackup.exe ended (code %s)" % suite.program.returncode)


def processor_fault_report(suite, name, fault, failure_type, message, code_at=None, module=None,
                           unwinds=None):
    """The test build of the program commits `fault` in its first check: the report names the
    failure the fault table gives, with no crash dialog, then exit code 1. A fault in the
    program's own code unwinds first: its cleanups have left their mark before the box is up. A
    fault inside a system library (`module`) is reported where it happened, with no unwinding;
    `unwinds` False says the same of a fault elsewhere. A `failure_type` of None expects no box
    at all, only exit code 1 in good time."""
    if suite.emulation:
        raise Skipped("%s, which delivers processor faults with wrong codes" % suite.emulation)
    old = suite.daily_schedule("now-3.9")
    exe = suite.scratch(name)
    faults_exe = os.path.join(os.path.dirname(exe), os.path.basename(suite.options.faults))
    shutil.copy(suite.options.faults, faults_exe)
    mark = os.path.join(os.path.dirname(exe), "cleanup-mark.txt")
    suite.start(faults_exe, [fault])
    if failure_type is None:
        code = suite.wait_for_exit(60)
        print("exit code %d after %.1f s" % (code, suite.seconds_running()))
        expect(code == 1, "exit code %d, not 1" % code)
        expect(suite.value("LastBackupDate") == (3, old), "LastBackupDate changed from %s" % old)
        return
    box = suite.wait_for_box(REPORT_TITLE, 40)
    print("box after %.1f s" % suite.seconds_running())
    suite.screenshot(name)
    expect_report(suite, box, faults_exe, failure_type, message, code_at, module)
    if module or unwinds is False:
        expect(not os.path.exists(mark), "cleanups ran for a fault reported where it happened")
    else:
        expect(os.path.exists(mark), "the box is up but the cleanups on the fault's way out "
               "have not run")
        print("cleanup mark present while the box is open")
    expect(suite.running(), "the program ended while its report was open")
    close_report(suite)
    expect(suite.value("LastBackupDate") == (3, old), "LastBackupDate changed from %s" % old)
    expect(parse_standin_log(log_of(os.path.join(os.path.dirname(exe), STANDIN_NAME))) == [],
           "the backup application was started")


def fault_null_call(suite):
    # A call to address 0 is an instruction fetch there; any kind other than a read is reported
    # as "Write". The faulting address is 0 itself, which no module holds.
    zero = "0" * suite.address_digits
    processor_fault_report(suite, "fault-null-call", "null-call", "EAccessViolation",
                           "Access violation at address %s. Write of address %s." % (zero, zero))


def fault_divide_by_zero(suite):
    processor_fault_report(suite, "fault-divide-by-zero", "divide-by-zero", "EDivByZero",
                           "Division by zero.", "CommitFault")


def fault_in_library(suite):
    # strlen reads through the null pointer inside the C library's DLL.
    message = re.compile(rb"Access violation at address [0-9A-F]{%d} in module 'msvcrt\.dll'\. "
                         rb"Read of address 0{%d}\." % (suite.address_digits,
                                                         suite.address_digits), re.IGNORECASE)
    processor_fault_report(suite, "fault-in-library", "library-null-read", "EAccessViolation",
                           message, module="msvcrt.dll")


# Faults the report must survive: the test build's fault word, then the failure type, message
# and function (None: offset 00000000) the one box must name; no failure type: no box can be
# made, only exit code 1. None of them unwinds the check.
FAULT_TABLE = {
    "fault-noexcept": ("noexcept-divide", "EDivByZero", "Division by zero.", "DivideByZero"),
    # The report names the first fault, not the one in the cleanup.
    "fault-in-cleanup": ("fault-in-cleanup", "EDivByZero", "Division by zero.", "DivideByZero"),
    # Terminate with no failure in flight: the system's fail-fast code.
    "fault-terminate": ("terminate", "EExternalException", "External exception C0000409.", None),
    "fault-uncaught": ("uncaught-failure", "EConvertError", "Invalid argument to date encode.",
                       "RaiseUncaught"),
    "fault-second-thread": ("second-thread-fault", "EDivByZero", "Division by zero.",
                            "DivideByZero"),
    # The runtime library's division, linked into the exe but not built to throw from a fault.
    "fault-in-runtime": ("runtime-divide", "EDivByZero", "Division by zero.", "div"),
    "fault-composing": ("fault-composing", None, None, None),
    "fault-stack-overflow": ("stack-overflow", "EStackOverflow", "Stack overflow.", "Recurse"),
    # No box can come with the heap locked; the process must still end, in bounded time (on
    # 64-bit, where Wine ends the overflowed thread itself, too).
    "fault-stack-overflow-locked": ("stack-overflow-locked", None, None, None),
}


def fault_table_case(suite, name):
    fault, failure_type, message, code_at = FAULT_TABLE[name]
    if name == "fault-stack-overflow" and suite.arch == "64":
        raise Skipped("Wine never hands a 64-bit stack overflow to the program's handler")
    processor_fault_report(suite, name, fault, failure_type, message, code_at, unwinds=False)


# Every scenario, by the name of its test: its function, or its function and a dict of what sets
# it apart: "builds" (the builds it runs on, "32" and "64" when not given) and "seconds" (its
# time limit on a native build, LIMIT when not given: what its waits add up to, with room for a
# loaded machine; times four where the build's programs run emulated). The tests are registered
# from this table (`--list`).
SCENARIOS = {
    "no-schedule-key": no_schedule_key,
    "backup-time-missing": backup_time_missing,
    "daily-due": daily_due,
    "not-due": not_due,
    "started-with-arguments": started_with_arguments,
    "directory-with-blank": directory_with_blank,
    "started-elsewhere": started_elsewhere,
    "folder-unicode": lambda suite: folder_named(suite, "folder-unicode", "Почта 邮件"),
    # Deep enough for a path over 260 characters to the program wherever the build folder lies.
    # Evidence under Wine only: Wine starts AutoBackup.exe itself from that path and has a short
    # name for every folder; Windows starts a program from such a path only by its short name,
    # and a volume may keep none.
    "folder-deep": lambda suite: folder_named(suite, "folder-deep", os.path.join(
        *["Почта 邮件 %02d" % level for level in range(17)])),
    "monthly-from-31st": monthly_from_31st,
    "two-copies-together": lambda suite: two_copies(suite, "two-copies-together", 0),
    "two-copies-staggered": lambda suite: two_copies(suite, "two-copies-staggered", 0.5),
    "check-lock-error-box": lambda suite: check_lock(suite, "check-lock-error-box", "error-box"),
    "check-lock-name-held": lambda suite: check_lock(suite, "check-lock-name-held", "name-held"),
    "last-backup-date-4-bytes": last_backup_date_4_bytes,
    "backup-period-string": backup_period_string,
    # Three boxes of up to 40 s each.
    "backup-application-missing": (backup_application_missing, {"seconds": 180}),
    "fault-null-call": fault_null_call,
    "fault-divide-by-zero": fault_divide_by_zero,
    "fault-in-library": fault_in_library,
}
SCENARIOS.update({name: lambda suite, name=name: fault_table_case(suite, name)
                  for name in FAULT_TABLE})
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


TEMPLATE = "e2e-prefix"


def prepare(options):
    """The prefix every scenario copies, made once per build folder (e2e-prefix/wineprefix); no
    Wine process runs in it afterwards, so its files stay as they are. The build folder's own
    prefix, the test programs', starts as a copy of it too."""
    suite = Suite(options, "prepare")
    suite.home = os.path.join(suite.build, TEMPLATE)
    suite.prefix = os.path.join(suite.home, "wineprefix")
    ready = os.path.join(suite.home, "ready")
    if os.path.exists(ready):
        print("prepared already: %s" % suite.prefix)
    else:
        suite.stop_wine()
        shutil.rmtree(suite.home, ignore_errors=True)
        suite.tool("now")  # wine-run makes the prefix on first use
        suite.stop_wine()  # and the registry reaches its files
        with open(ready, "w"):
            pass
        print("prepared %s" % suite.prefix)
    own = os.path.join(suite.build, "wineprefix")
    if not os.path.exists(os.path.join(own, "system.reg")):
        shutil.rmtree(own, ignore_errors=True)
        copy_prefix(suite.prefix, own)
        print("copied to %s" % own)


def run(options, name, seconds, body):
    """Runs `body(suite)` as the scenario `name`, in its own prefix and on its own display, with
    `seconds` to pass (times the emulation's slowness); prints the outcome, returns the exit
    code. The Wine processes of the scenario's prefix and its display end with it."""
    suite = Suite(options, name)

    def over_time(signum, frame):
        raise Failure("%s still running after %d s, its time limit" % (name, seconds * suite.slow))

    xvfb = None
    try:
        try:
            suite.fresh_prefix()
            xvfb = suite.start_display()
            signal.signal(signal.SIGALRM, over_time)
            signal.alarm(seconds * suite.slow)
            body(suite)
        finally:
            signal.alarm(0)
            suite.stop_wine()
            if xvfb:
                xvfb.terminate()
                xvfb.wait(timeout=30)
    except Failure as failure:
        suite.print_outputs()
        print("FAILED: %s" % failure)
        return 1
    except Skipped as reason:
        print("skipped: %s: %s" % (name, reason))
        return SKIP_CODE
    print("passed")
    return 0


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
    parser.add_argument("scenario", choices=sorted(SCENARIOS) + ["prepare"])
    options = parser.parse_args()
    if options.scenario == "prepare":
        try:
            prepare(options)
        except Failure as failure:
            print("FAILED: %s" % failure)
            return 1
        return 0
    function, properties = scenario_entry(options.scenario)
    return run(options, options.scenario, properties["seconds"], function)


if __name__ == "__main__":
    sys.exit(main())
