#!/usr/bin/env python3
"""The command line: usage, version, exit statuses, and when the log appears."""
import harness
from harness import CONF, LOG, USAGE


class CommandLine(harness.TestCase):
    def test_fewer_than_two_arguments_print_usage_and_create_no_log(self):
        for args in ([], ["-v"], ["-c"], ["STOP"]):
            with self.subTest(args=args):
                box = self.sandbox()
                result = box.run(args)
                self.assertEqual(result.status, 1)
                self.assertEqual(result.stdout, USAGE)
                self.assertFalse(box.exists(CONF))
                self.assertFalse(box.exists(LOG))

    def test_version_needs_a_second_argument_and_runs_nothing(self):
        for args in (["-v", "x"], ["-c", "STOP", "-v", "1"]):
            with self.subTest(args=args):
                result = self.sandbox().run(args, core=[])
                self.assertEqual(result.status, 0)
                lines = result.stdout.split("\n")
                self.assertEqual(lines[0], "cue_ctl version 1.0.0")
                self.assertEqual(len(lines), 3, result.stdout)
                self.assertTrue(lines[1])
                self.assertEqual(lines[2], "")
                self.assertEqual(result.core, [], "the core was contacted")

    def test_unknown_option_or_missing_command_prints_diagnostic_and_usage(self):
        for args, diagnostic in ((["-x", "1"], "invalid option -- 'x'"),
                                 (["1", "-c"], "option requires an argument -- 'c'")):
            with self.subTest(args=args):
                result = self.sandbox().run(args)
                self.assertEqual(result.status, 1)
                self.assertEqual(result.stdout, USAGE)
                self.assertIn(diagnostic, result.stderr)

    def test_without_a_core_the_run_fails_in_the_log_and_exits_zero(self):
        box = self.sandbox()
        box.write_conf("cue_ctl=DEBUG\n")
        result = box.run(["-c", "STOP", "1"])
        self.assertEqual(result.status, 0)
        self.assertEqual(result.stdout, "")
        self.assertEqual(box.records(), [
            ("DBG", "ERROR: connect failed. Reason: Connection refused"),
            ("MAJOR", "FATAL ERROR: connect failed."),
        ])

    def test_at_none_the_default_configuration_appears_and_the_log_stays_empty(self):
        box = self.sandbox()
        result = box.run(["-c", "STOP", "1"])
        self.assertEqual(result.status, 0)
        conf = box.read(CONF)
        self.assertTrue(conf.startswith("#Tavrin Technology Log Configuration File\n"), conf)
        self.assertTrue(conf.endswith("cue_ctl=NONE\nMODE=LOCAL\nREMOTE_HOST=0.0.0.0:0\n"), conf)
        self.assertFalse(box.exists(LOG))


if __name__ == "__main__":
    harness.main()
