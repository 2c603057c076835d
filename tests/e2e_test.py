"""The real service as a process on the simulated Mac: start-up, the event loop, what it holds
and what it hands to pmset, a missing notification source, idleness, and valgrind.

    e2e_test.py SERVICE ROOT [TEST...]
"""
import os
import pathlib
import re
import shutil
import signal
import sys
import time
import unittest

import simulated_mac
from simulated_mac import STARTED, Mac, activity, send_uevent, wait_for

I, C, F = (
    "On battery with disablesleep=1 — clearing to protect the battery.",
    "disablesleep cleared.",
    "Failed to clear disablesleep.",
)
L = "Lid closed — asking the system to sleep."
AGAIN = "Trying again while on battery, at intervals that grow up to 5 minutes."
W = "Cannot watch the power-management settings — checking at every power-source update instead."
QUERY, CLEAR, SLEEP = "[-g]on", "[-a][disablesleep][0]nn", "[sleepnow]nn"
ON = "[-a][disablesleep][1]nn"  # a person switching sleep prevention on
NOTHING = "Pass: nothing to clear."
NOTICE, ERROR = 3 << 3 | 5, 3 << 3 | 3  # syslog's daemon.notice and daemon.err
# The first hold-off, as the service has it: the bound of the rows that wait for its end.
HOLD_OFF_S = (
    int(
        re.search(
            r"kFirstHoldOffMs = (\d+)",
            pathlib.Path(__file__).parent.joinpath("../src/service/hold_off.h").read_text(),
        )[1]
    )
    / 1000
)


class EndToEnd(unittest.TestCase):
    def setUp(self):
        self.mac = Mac(*sys.argv[1:3])

    def tearDown(self):
        self.mac.stop()
        self.assertEqual(self.mac.lines("service.out"), [], "written to standard output or error")
        # Every line of the file reached syslog as well, once.
        if (self.mac.root / "Logs").exists() and not self.mac.syslog_stalled:
            self.assertEqual([message for _, message in self.mac.heard()], self.mac.log())

    def start_clearing(self, shell, *warned):
        self.mac.set(battery=True, setting=True)
        self.assertTrue(self.mac.start(shell).started())
        self.assertEqual(self.mac.log(), [I, C, *warned, STARTED])
        self.assertEqual(set(self.mac.lines("handed")), {"n"})  # input null, nothing beyond 2

    def test_start_with_an_inherited_descriptor_then_idle_then_the_settings_watch_lost(self):
        self.start_clearing('exec "$0" 3</dev/null')  # not close-on-exec
        self.assertEqual(self.mac.lines("calls"), [QUERY, CLEAR, QUERY, QUERY])  # + the echo
        self.assertEqual(
            len(os.listdir(f"/proc/{self.mac.process.pid}/fd")), 7
        )  # + watches, syslog
        self.assert_idle()
        shutil.rmtree(self.mac.root / "notices")  # then every power-source update counts, ticks too
        self.assertTrue(wait_for(lambda: self.mac.log()[-1:] == [W]))
        self.clear_at_a_tick()

    def test_start_with_no_standard_descriptors_children_ignored_and_no_settings_watch(self):
        os.rmdir(self.mac.root / "notices")
        self.start_clearing(
            'exec env --ignore-signal=CHLD "$0" <&- >&- 2>&-', W
        )  # both survive exec
        self.assertEqual(len(os.listdir(f"/proc/{self.mac.process.pid}/fd")), 5)
        self.clear_at_a_tick()

    def assert_idle(self, seconds=2):
        before = activity(self.mac.process.pid)
        time.sleep(seconds)
        self.assertEqual(activity(self.mac.process.pid), before, "the idle service woke up")

    def clear_at_a_tick(self):
        self.assertTrue(self.mac.tick())  # a supply's first word counts anyway: the tick after it
        self.mac.set(setting=True)
        self.assertTrue(self.mac.tick())
        self.assertEqual(self.mac.log()[-2:], [I, C])

    def test_what_calls_for_a_pass_and_what_does_not(self):
        mac = self.mac
        self.assertTrue(mac.start().started())
        self.assertEqual(mac.heard(debug=True), [NOTHING])  # and nothing woke it since
        self.assertTrue(mac.pmset("-a", "disablesleep", "1"))  # on mains: left alone
        self.assertEqual(mac.lines("calls"), [ON], "a process started on mains")
        self.assertEqual(mac.heard(debug=True)[1:], ["Woken: settings notice.", NOTHING])
        self.assertTrue(mac.event(battery=True, lid_closed=True))
        self.assertEqual(mac.log(), [STARTED, I, C, L])
        # The clear's own notice (the echo) costs one query more, and no line.
        self.assertEqual(mac.lines("calls"), [ON, QUERY, CLEAR, QUERY, SLEEP, QUERY])
        self.assertTrue(mac.tick(30))
        self.assertEqual(len(mac.lines("calls")), 6, "the battery's level ticks started a process")
        # On battery off at once; the clear's echo is held, and queried at the hold-off's end.
        switched_on = time.monotonic()
        self.assertTrue(mac.pmset("-a", "disablesleep", "1"))
        self.assertEqual(mac.log(), [STARTED, I, C, L, I, C, L])
        self.assertTrue(wait_for(lambda: len(mac.lines("calls")) == 12, HOLD_OFF_S + 10))
        self.assertGreaterEqual(time.monotonic() - switched_on, HOLD_OFF_S)
        self.assertEqual(mac.lines("calls")[6:], [ON, QUERY, CLEAR, QUERY, SLEEP, QUERY])
        # Within the hold-off that a switch-on starts, a change of the power source counts at once.
        mac.set(lid_closed=False)
        self.assertTrue(mac.pmset("-a", "disablesleep", "1") and mac.event(battery=False))
        mac.set(setting=True)
        self.assertTrue(mac.event(battery=True))
        self.assertEqual(mac.log()[7:], [I, C, I, C])
        self.assertTrue(mac.asleep(), "a timer outlived the hold-off that the change ended")
        self.assert_idle(1)

    def test_a_failed_query_or_clear_is_tried_again_ever_less_often_while_on_battery(self):
        mac = self.mac
        (mac.root / "[-g]").write_text('rm "$D/[-g]"; exit 1\n')  # the first query fails
        (mac.root / "[-a][disablesleep][0]").write_text('date +%s.%N >>"$D/clears"; exit 1\n')
        mac.set(battery=True, setting=True)
        self.assertTrue(mac.start().started())
        self.assertEqual(mac.log(), ["pmset -g exited with status 1.", AGAIN, STARTED])
        clears = lambda: [float(t) for t in mac.lines("clears")]
        self.assertTrue(
            wait_for(lambda: len(clears()) == 2, 3 * HOLD_OFF_S + 10), "not tried again"
        )
        first, second = clears()  # as each pmset saw the time: the hold-off doubled
        self.assertGreaterEqual(second - first, 2 * HOLD_OFF_S)
        self.assertTrue(
            mac.event(battery=False) and mac.asleep(), "a try outlived the power change"
        )
        # A report with no line for the setting is an answer: one query, and no try after it.
        (mac.root / "[-g]").write_text("echo 'System-wide power settings:'; exit\n")
        self.assertTrue(mac.event(battery=True) and mac.asleep())
        self.assertEqual((mac.log()[3:], mac.lines("calls")[-2:]), ([I, F, I, F], [CLEAR, QUERY]))
        # What woke it, and what each pass found, at syslog's debug level.
        tries = ["Pass: could not tell.", *["Woken: timer.", "Pass: clear failed."] * 2]
        self.assertEqual(
            mac.heard(debug=True), [*tries, *["Woken: power-source notice.", NOTHING] * 2]
        )

    def test_overflowing_buffers_count_as_a_change_and_a_stalled_system_log_stalls_nothing(self):
        self.mac.stall_syslog()
        self.mac.set(battery=True, setting=True)
        self.assertTrue(self.mac.start().started())
        os.kill(self.mac.process.pid, signal.SIGSTOP)
        self.mac.set(setting=True)
        for _ in range(3000):  # far more than the socket holds, none of power_supply
            send_uevent("net")
        os.kill(self.mac.process.pid, signal.SIGCONT)
        self.assertTrue(wait_for(self.mac.idle))
        self.assertEqual(self.mac.log(), [I, C, STARTED, I, C])
        self.assertEqual(self.mac.heard(), [(NOTICE, I), (NOTICE, C)])  # then it was full

    def test_without_a_notification_source_or_a_log_folder_it_says_why_to_syslog_and_exits_1(self):
        self.mac.set(battery=True, setting=True)
        shutil.rmtree(self.mac.root / "Logs")  # a file that cannot be written loses only itself
        # The first socket is the uevents'; syslog's comes with the first line.
        self.mac.start(
            wrapper=[
                "strace",
                "-f",
                "-o",
                "/dev/null",
                "-e",
                "inject=socket:error=EACCES:when=1",
                "-E",
                "ASAN_OPTIONS=detect_leaks=0",
            ]
        )  # no leak check under ptrace
        self.assertEqual(self.mac.process.wait(timeout=10), 1)
        self.assertEqual(
            self.mac.heard(),
            [
                (NOTICE, I),
                (NOTICE, C),
                (ERROR, "Failed to create power-source notification source — exiting."),
            ],
        )

    def test_valgrind_finds_no_leak_no_error_and_no_stray_descriptor(self):
        if os.environ.get("HALVORSTEN_SANITIZED") or not (
            shutil.which("valgrind") or os.environ.get("CI")
        ):
            self.skipTest("valgrind cannot run a sanitized build, or is missing (CI must have it)")
        report = self.mac.root / "valgrind.log"
        self.mac.set(battery=True, setting=True)
        self.assertTrue(
            self.mac.start(
                wrapper=[
                    "valgrind",
                    "--leak-check=full",
                    "--errors-for-leak-kinds=definite,indirect",
                    "--track-fds=yes",
                    f"--log-file={report}",
                ]
            ).started()
        )
        for _ in range(20):
            self.assertTrue(self.mac.event())
        self.mac.stop()
        for summary in (
            "ERROR SUMMARY: 0 errors",
            "definitely lost: 0 bytes in 0 blocks",
            "indirectly lost: 0 bytes in 0 blocks",  # below: 0-2, watches, syslog, report
            "FILE DESCRIPTORS: 7 open (3 std) at exit.",
        ):
            self.assertIn(summary, report.read_text())


if __name__ == "__main__":
    simulated_mac.enter_private_network()
    # Stops at the first failure when asked to, as GoogleTest does (the mutation tool asks).
    unittest.main(
        argv=sys.argv[:1] + sys.argv[3:],
        verbosity=2,
        failfast=os.environ.get("GTEST_FAIL_FAST") == "1",
    )
