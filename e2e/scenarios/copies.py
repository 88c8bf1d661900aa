"""Scenarios of copies and the check lock: two copies on one due schedule, and a good copy beside
what could keep the lock from it (another copy's open box, the lock's name held elsewhere)."""

import os
import time

from harness import (EXTRA_CHECKS_SECONDS, LAUNCH_FAILURE_TITLE, STANDIN_NAME, expect, log_of,
                     parse_standin_log)


def two_copies(suite, stagger):
    """Two copies beside one stand-in on a due daily schedule, the second started `stagger`
    seconds after the first: one start with /auto, LastBackupDate moved on once to the date the
    rules give, both copies still running. Each copy writes the date only in the check that
    started the backup, so one start is one write."""
    old = suite.daily_schedule("now-3.9")
    exe = suite.scratch()
    standin = os.path.join(os.path.dirname(exe), STANDIN_NAME)
    suite.start(exe)
    time.sleep(stagger)
    suite.start_second(exe)
    suite.wait_for_start(standin, 30)
    # Both copies check every second from here on: a second start would come now.
    time.sleep(EXTRA_CHECKS_SECONDS)
    suite.expect_one_unattended_start(parse_standin_log(log_of(standin)))
    suite.expect_rules_date(old)
    expect(suite.running(), "the first copy ended (code %s)" % suite.program.returncode)
    expect(suite.second.poll() is None, "the second copy ended (code %s)" % suite.second.poll())
    suite.expect_no_boxes()


# Beyond a copy's first check (suite.first_check after its start): room for Wine's start on a
# machine running four scenarios at once. A lock that kept the copy from its first check would
# keep it for good, so this still tells the two apart.
WINE_START_ROOM = 6


def check_lock(suite, variant):
    """Nothing outside one copy's check keeps the check lock from the user's other copies. With
    "error-box" a stale copy in a folder without the backup application has its "Error!" box
    open when a good copy starts 2 s later beside the application; with "name-held" a helper
    holds the lock's global name under a NULL DACL, as another account could. Either way the good
    copy starts the backup once by its first check and writes the date the rules give. The helper
    gives the name Everyone as its owner, which only Wine allows: Windows refuses an owner that is
    a group SID the caller may not assign (ERROR_INVALID_OWNER), so there it takes another
    account."""
    old = suite.daily_schedule("now-3.9")
    exe = suite.scratch()
    standin = os.path.join(os.path.dirname(exe), STANDIN_NAME)
    if variant == "error-box":
        stale = suite.scratch(name=suite.name + "-stale", standin=False)
        suite.start_second(stale)
        time.sleep(2)
    else:
        helper = suite.launch(suite.tool_exe, ["hold-lock-name", "120"], 150, suite.name + ".txt")
        said = os.path.join(os.path.dirname(suite.tool_exe), suite.name + ".txt")
        deadline = time.monotonic() + 60 * suite.slow
        while "holding" not in open(said).read():
            expect(helper.poll() is None and time.monotonic() < deadline,
                   "the helper did not take the name: %s" % open(said).read())
            time.sleep(0.2)
        print(open(said).read().strip())
    suite.start(exe)
    suite.wait_for_start(standin, suite.first_check + WINE_START_ROOM)
    if variant == "error-box":
        box = suite.wait_for_box(LAUNCH_FAILURE_TITLE, 5)
        expect(box["count"] == 1, "%d boxes open, not the stale copy's one" % box["count"])
    else:
        expect(helper.poll() is None, "the helper let go of the name before the start")
    time.sleep(EXTRA_CHECKS_SECONDS)
    suite.expect_one_unattended_start(parse_standin_log(log_of(standin)))
    suite.expect_rules_date(old)
    if variant == "error-box":
        # After OK the stale copy finds nothing due: no second box.
        suite.press_ok(LAUNCH_FAILURE_TITLE)
        time.sleep(EXTRA_CHECKS_SECONDS)
        suite.expect_no_boxes()
        expect(suite.second.poll() is None, "the stale copy ended (code %s)" % suite.second.poll())
    suite.expect_running()
