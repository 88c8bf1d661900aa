"""Scenarios of schedules and folders: what a check does with the schedule it finds (none, an
incomplete one, due, not yet due, monthly from a 31st) and with the folder the program lies in
(a blank beside a decoy, Cyrillic and Chinese names, a path over 260 characters)."""

import datetime
import os
import shutil
import time

from harness import (DAY, EXTRA_CHECKS_SECONDS, LAUNCH_FAILURE_TITLE, STANDIN_NAME, double_bytes,
                     double_of, expect, log_of, parse_standin_log, stamp)

SW_SHOWNORMAL = 1


def run_to_quiet_exit(suite, waited_for):
    """Runs a scratch copy that must end by itself with exit code 0, not before `waited_for`
    could happen, and without starting the backup application."""
    exe = suite.scratch()
    suite.start(exe, limit=60)
    code = suite.wait_for_exit(60)
    seconds = suite.seconds_running()
    print("exit code %d after %.1f s" % (code, seconds))
    expect(code == 0, "exit code %d, not 0" % code)
    expect(seconds >= suite.first_check_not_before, "ended after %.1f s, before %s" % (
        seconds, waited_for))
    suite.expect_no_start(exe)


def no_schedule_key(suite):
    lines = suite.tool("delete-key", "key")
    expect(lines[1] == ["key", "absent", "parent", "absent"], "key not removed: %s" % lines[1])
    run_to_quiet_exit(suite, "the settling delay could pass")
    key = suite.tool("key")[0]
    expect(key == ["key", "present", "values", "0", "subkeys", "0"],
           "the schedule key is not there empty: %s" % " ".join(key))


def backup_time_missing(suite):
    # Due if "BackupTime" were there: a check that ignored its absence would start a backup.
    suite.daily_schedule("now-3.9")
    suite.tool("delete", "BackupTime")
    before = {name: suite.value(name) for name in ("LastBackupDate", "BackupPeriod",
                                                   "BackupInterval")}
    run_to_quiet_exit(suite, "the first check could run")
    for name, value in before.items():
        expect(suite.value(name) == value, "%s changed from %s" % (name, value))
    expect(suite.value("BackupTime") is None, "BackupTime was written")
    key = suite.tool("key")[0]
    expect(key[:4] == ["key", "present", "values", "3"], "values added: %s" % " ".join(key))


def due_daily(suite, arguments=(), program_folder=".", decoy=None):
    """A daily schedule last run 3.9 days ago: one start with /auto, the date 3 days on with
    its time of day, the program still running."""
    old = suite.daily_schedule("now-3.9")
    old_text = suite.date("LastBackupDate")[1]
    exe = suite.scratch(program_folder)
    if decoy:
        shutil.copy(suite.options.decoy, os.path.join(os.path.dirname(exe), decoy))
    standin = os.path.join(os.path.dirname(exe), STANDIN_NAME)
    suite.start(exe, arguments)
    runs = suite.wait_for_start(standin, 30)
    if decoy:
        decoy_runs = parse_standin_log(log_of(os.path.join(os.path.dirname(exe), decoy)))
        expect(not decoy_runs, "the decoy ran: %s" % decoy_runs)
    time.sleep(EXTRA_CHECKS_SECONDS)
    suite.expect_running()
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
    suite.expect_running()
    return standin, runs[0]


def daily_due(suite):
    due_daily(suite)


def started_with_arguments(suite):
    due_daily(suite, ["/auto", "-x", "two words", "C:\\elsewhere\\"])


def directory_with_blank(suite):
    # Unquoted, "...\Mail Backup\TarvikEmailBackup.exe" would run "...\Mail.exe" first.
    due_daily(suite, program_folder="Mail Backup", decoy="../Mail.exe")


def folder_named(suite, program_folder):
    """The program and the stand-in in `program_folder`: the due backup starts the stand-in there
    once with /auto, shown normally; once the stand-in is gone, the next due check shows the
    "Error!" box, writes nothing, and the check after OK tries again."""
    standin, run = due_daily(suite, program_folder=program_folder)
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
        standin, run = due_daily(suite)
    finally:
        os.chdir(here)
    own = "Z:" + os.path.dirname(standin).replace("/", "\\")
    expect(run["folder"].lower() == own.lower(), "the application ran in %s, not %s" % (
        run["folder"], own))


def not_due(suite):
    old = suite.daily_schedule("now-1.5", interval=2)
    before = {name: suite.value(name) for name in ("LastBackupDate", "BackupTime", "BackupPeriod",
                                                   "BackupInterval")}
    exe = suite.scratch()
    standin = os.path.join(os.path.dirname(exe), STANDIN_NAME)
    suite.start(exe)
    # The first check runs at about 14 s; by 20 s several have found nothing due.
    while suite.seconds_running() < 20 and suite.running():
        time.sleep(0.5)
    suite.expect_running()
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
    suite.expect_running()


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

    exe = suite.scratch()
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
    suite.expect_running()
    suite.expect_no_boxes()
