"""The harness of the whole-program scenarios: AutoBackup.exe and the test tools under Wine, each
scenario in its own copy of a prefix prepared once per build folder (`prepare`: e2e-prefix/, the
files hard-linked, the registry files copied) with its own wineserver and its own Xvfb display
on a free number (so a message box blocks as it does for a user instead of failing at once, and
a screenshot shows that scenario's boxes alone). `run` stops every Wine process of the copy at
the scenario's end, prints what it saw and returns 1 with the reason when an expectation
fails."""

import ctypes
import datetime
import os
import shutil
import signal
import struct
import subprocess
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
WINE_RUN = os.path.join(HERE, "..", "..", "scripts", "wine-run")
WINESERVER = "/usr/lib/wine/wineserver"
STANDIN_NAME = "TarvikEmailBackup.exe"
DAY = datetime.timedelta(days=1)


class Failure(Exception):
    pass


class Skipped(Exception):
    pass


# Checks that run after a start before the results are read: later ticks must not start again.
EXTRA_CHECKS_SECONDS = 3.5
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
        # Seconds from a start to the first check, and the least a run may take that waited for
        # it: from the build's own figures (fresh_prefix).
        self.first_check = self.first_check_not_before = None
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

    def run_tool(self, exe, words, limit, arch=None):
        """Runs one of the test tools (or a program of Wine's, on the side `arch` when given)
        once under Wine; its exit code, output and error output."""
        # Files, not pipes: the wineserver that a run starts inherits them and outlives the run,
        # and waiting for the end of a pipe would wait for the server; so do the programs an
        # install starts.
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            code = subprocess.run([WINE_RUN, self.home, arch or self.arch, exe, *words],
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
        timing = os.path.join(self.build, TEMPLATE, TIMING)
        expect(os.path.exists(os.path.join(self.build, TEMPLATE, "ready")) and
               os.path.exists(timing), "no prepared prefix: the wine_prefix fixture has not run")
        copy_prefix(os.path.join(self.build, TEMPLATE, "wineprefix"), self.prefix)
        with open(timing) as f:
            words = f.read().split()
        fields = dict(zip(words[1::2], words[2::2]))
        settling, tick = int(fields["settling-ticks"]), int(fields["tick-ms"]) / 1000
        # The first check comes with the tick after the start-up tick and the settling ticks.
        # Exiting sooner means a tick was skipped; half a tick leaves room for timer jitter but
        # not for a whole tick less.
        self.first_check = (1 + settling + 1) * tick
        self.first_check_not_before = self.first_check - tick / 2

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

    def scratch(self, program_folder=".", name=None, standin=True):
        """A fresh directory for the scenario (or the copy `name`) with AutoBackup.exe and (unless
        not `standin`) the stand-in in `program_folder` below it; the path of AutoBackup.exe."""
        root = os.path.join(self.build, "e2e-runs", name or self.name)
        shutil.rmtree(root, ignore_errors=True)
        folder = os.path.normpath(os.path.join(root, program_folder))
        os.makedirs(folder)
        shutil.copy(self.options.autobackup, os.path.join(folder, "AutoBackup.exe"))
        if standin:
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
        _, lines = self.box_tool("count")
        expect(lines[:1] == ["open 0"], "message boxes on the screen: %s" % lines)

    def wait_for_start(self, standin, limit):
        """The stand-in's log once the first start is in it; fails when none comes in time."""
        runs = self.wait_for_starts(standin, 1, limit)
        expect(runs, "no start of the backup application after %.1f s (running: %s)" % (
            self.seconds_running(), self.running()))
        print("started after %.1f s: %s" % (self.seconds_running(), runs[0]["line"]))
        return runs

    def expect_running(self):
        expect(self.running(), "AutoBackup.exe ended (code %s)" % self.program.returncode)

    def expect_no_start(self, exe):
        """No start of the stand-in beside `exe`."""
        runs = parse_standin_log(log_of(os.path.join(os.path.dirname(exe), STANDIN_NAME)))
        expect(runs == [], "the backup application was started: %s" % runs)

    def expect_rules_date(self, old, period="1", interval="1"):
        """LastBackupDate is what the due-date rules give for a schedule last run at `old` (its
        bytes), now."""
        expected = self.tool("decide", "hex:" + old, period, interval, "now")[0]
        new, new_text = self.date("LastBackupDate")
        print("LastBackupDate now %s" % new_text)
        expect(expected[1] == "due" and new == expected[3],
               "LastBackupDate is %s (%s), the rules give %s" % (new, new_text, " ".join(expected)))

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

    def screenshot(self):
        """The whole screen, trimmed to what is on it, into e2e-screens/SCENARIO.png of the build
        folder."""
        folder = os.path.join(self.build, "e2e-screens")
        os.makedirs(folder, exist_ok=True)
        path = os.path.join(folder, self.name + ".png")
        env = self.environment(60)
        result = subprocess.run(["timeout", "-k", "5", "60", "import", "-window", "root", "-trim",
                                 "+repage", path], env=env, stdin=subprocess.DEVNULL,
                                stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        expect(result.returncode == 0, "no screenshot: %s" % result.stdout.decode("latin-1"))
        print("screenshot %s" % path)


TEMPLATE = "e2e-prefix"
# Beside the prepared prefix: the schedule tool's `timing` line, the program's own figures.
TIMING = "timing"


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
    # Asked again whenever the tool was built since: it is built from the program's header. Asked
    # in the build's own prefix, so that the template stays as it was made.
    timing = os.path.join(suite.home, TIMING)
    if not os.path.exists(timing) or os.path.getmtime(timing) < os.path.getmtime(suite.tool_exe):
        suite.home, suite.prefix = suite.build, own
        line = " ".join(suite.tool("timing")[0])
        suite.stop_wine()
        with open(timing, "w") as f:
            f.write(line + "\n")
        print(line)


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
