"""The harness of the whole-program scenarios (suite: Wine prefixes, displays, the programs and
tools, the stand-in's log; reports: the message boxes read back), shared by the scenarios in
e2e/scenarios/."""

from .suite import (DAY, EXTRA_CHECKS_SECONDS, LIMIT, STANDIN_NAME, WINE_RUN, WINESERVER, Failure,
                    Skipped, double_bytes, double_of, emulation_of, expect, log_of,
                    parse_standin_log, prepare, run, stamp)
from .reports import LAUNCH_FAILURE_TITLE, REPORT_TITLE, close_report, expect_report
