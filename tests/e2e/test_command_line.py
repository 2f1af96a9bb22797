#!/usr/bin/env python3
"""The command line: usage, version, exit statuses, and what appears on disk."""
import harness
from harness import CONF, LOG

USAGE = ("\nUsage: cue_ctl [-c Command] <Clip id>\n"
         "   -c         Send this command via the core to the cards\n"
         "   -v         Print version\n\n"
         "Supported commands: STOP\n\n")


class CommandLine(harness.TestCase):
    def test_usage_version_and_bad_options(self):
        # arguments, status, stdout (None: the version text), getopt's diagnostic (None: stderr stays empty)
        cases = [([], 1, USAGE, None), (["-v"], 1, USAGE, None), (["-c"], 1, USAGE, None), (["STOP"], 1, USAGE, None),
                 (["-x", "1"], 1, USAGE, "invalid option -- 'x'"),
                 (["1", "-c"], 1, USAGE, "option requires an argument -- 'c'"),
                 (["-v", "x"], 0, None, None), (["-c", "STOP", "-v", "1"], 0, None, None)]
        for args, status, stdout, diagnostic in cases:
            with self.subTest(args=args):
                box = harness.Sandbox(self).run(args, core=[])
                self.assertEqual(box.status, status)
                self.assertEqual(box.core, [], "the core was contacted")
                self.assertEqual(box.stderr, "" if diagnostic is None else f"{harness.CUE_CTL}: {diagnostic}\n")
                if stdout is None:
                    lines = box.stdout.split("\n")
                    self.assertEqual((lines[0], len(lines), lines[2]), ("cue_ctl version 1.0.0", 3, ""), box.stdout)
                    self.assertTrue(lines[1])
                else:
                    self.assertEqual(box.stdout, stdout)
                    if len(args) < 2:  # ended before the log exists
                        self.assertFalse(box.exists(CONF))
                self.assertFalse(box.exists(LOG))

    def test_default_configuration_appears_whole_and_logs_nothing(self):
        box = self.stop_run(conf=None)
        conf = box.read(CONF).split("\n")
        self.assertEqual((len(conf), conf[0], conf[-4:]), (12, "#Tavrin Technology Log Configuration File",
                         ["cue_ctl=NONE", "MODE=LOCAL", "REMOTE_HOST=0.0.0.0:0", ""]))
        self.assertFalse(box.exists(LOG))
        self.assertEqual(box.core, ["CONNECT", harness.STOP_FRAME, "CLOSED"])

    def test_without_a_core_the_run_fails_in_the_log_and_exits_zero(self):
        box = self.stop_run(core=None)
        self.assertEqual(box.records(), [("DBG", "ERROR: connect failed. Reason: Connection refused"),
                                         ("MAJOR", "FATAL ERROR: connect failed.")])


if __name__ == "__main__":
    harness.main()
