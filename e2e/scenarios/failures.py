"""Scenarios of failures: the "Error!" box of a missing backup application, the fatal report of
values of the wrong type, and the processor faults of the test-only fault build (the fault
table), each reported by one box and exit code 1."""

import os
import re
import shutil

from harness import (LAUNCH_FAILURE_TITLE, REPORT_TITLE, Skipped, close_report, expect,
                     expect_report)


def bad_value_report(suite, value_name, value_type, value_bytes):
    """A due daily schedule with one value stored with the wrong type: the report names the
    store's failure, the program ends with code 1 and the value is left as it was."""
    suite.daily_schedule("now-3.9")
    stored = suite.tool("put", value_name, value_type, value_bytes)[0]
    before = suite.value(value_name)
    print("stored: %s" % " ".join(stored))
    exe = suite.scratch()
    suite.start(exe)
    box = suite.wait_for_box(REPORT_TITLE, 40)
    print("box after %.1f s" % suite.seconds_running())
    expect(suite.seconds_running() >= suite.first_check_not_before,
           "the box came before the first check could run")
    suite.screenshot()
    expect_report(suite, box, exe, "ERegistryException",
                  "Invalid data type for '%s'." % value_name, code_at="TRegistry::")
    expect(suite.running(), "AutoBackup.exe ended while its report was open")
    close_report(suite)
    expect(suite.value(value_name) == before, "%s changed from %s" % (value_name, before))
    suite.expect_no_start(exe)


def last_backup_date_4_bytes(suite):
    bad_value_report(suite, "LastBackupDate", "binary", "0000f03f")


def backup_period_string(suite):
    # "1" and its terminator: short enough for the 4-byte read, so the type is what fails.
    bad_value_report(suite, "BackupPeriod", "sz", "3100")


def backup_application_missing(suite):
    old = suite.daily_schedule("now-3.9")
    exe = suite.scratch(standin=False)
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
            suite.screenshot()
        expect(suite.value("LastBackupDate") == (3, old),
               "LastBackupDate changed from %s: %s" % (old, suite.value("LastBackupDate")))
        suite.expect_running()
        suite.press_ok(LAUNCH_FAILURE_TITLE)
    # And the checks go on: the next tick fails the same way.
    suite.wait_for_box(LAUNCH_FAILURE_TITLE, 40)
    expect(suite.value("LastBackupDate") == (3, old), "LastBackupDate changed from %s" % old)
    suite.expect_running()


def processor_fault_report(suite, fault, failure_type, message, code_at=None, module=None,
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
    exe = suite.scratch()
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
    suite.screenshot()
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
    suite.expect_no_start(exe)


def fault_null_call(suite):
    # A call to address 0 is an instruction fetch there; any kind other than a read is reported
    # as "Write". The faulting address is 0 itself, which no module holds.
    zero = "0" * suite.address_digits
    processor_fault_report(suite, "null-call", "EAccessViolation",
                           "Access violation at address %s. Write of address %s." % (zero, zero))


def fault_divide_by_zero(suite):
    processor_fault_report(suite, "divide-by-zero", "EDivByZero",
                           "Division by zero.", "CommitFault")


def fault_in_library(suite):
    # strlen reads through the null pointer inside the C library's DLL.
    message = re.compile(rb"Access violation at address [0-9A-F]{%d} in module 'msvcrt\.dll'\. "
                         rb"Read of address 0{%d}\." % (suite.address_digits,
                                                         suite.address_digits), re.IGNORECASE)
    processor_fault_report(suite, "library-null-read", "EAccessViolation",
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


def fault_table_case(suite):
    fault, failure_type, message, code_at = FAULT_TABLE[suite.name]
    if suite.name == "fault-stack-overflow" and suite.arch == "64":
        raise Skipped("Wine never hands a 64-bit stack overflow to the program's handler")
    processor_fault_report(suite, fault, failure_type, message, code_at, unwinds=False)
