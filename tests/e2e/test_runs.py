#!/usr/bin/env python3
"""The real binaries in the jail: cue_ctl against the core simulator, as root
and unprivileged (the link's rules, case by case, are unit tests); a fleet of the
library's writers logging REMOTE to a real rsyslogd on the shipped
configuration (scripts/fleet checks what arrives)."""
import os
import subprocess

import harness
from harness import CONF, CONNECTED, LOG, STOP_FRAME

USAGE = ("\nUsage: cue_ctl [-c Command] <Clip id>\n"
         "   -c         Send this command via the core to the cards\n"
         "   -v         Print version\n\n"
         "Supported commands: STOP\n\n")
DEV_ID = ("DBG", "Received DEV_ID: Unique Corvane Address: 0x05  Host Id: 0x1234  Host Mem Id: 0x0001  "
                 "Host Firmware Version: 3.2.3")
REPO = os.path.realpath(os.path.join(harness.HERE, os.pardir, os.pardir))
FLEET = os.path.join(REPO, "scripts", "fleet")
# The library as another application uses it, beside cue_ctl in the same build tree.
WRITER = os.path.join(os.path.dirname(harness.CUE_CTL), os.pardir, "tools", "log_writer")
UNITS, RECORDS, PERIOD_US = os.environ.get("FLEET_UNITS", "8"), "1000", os.environ.get("FLEET_PERIOD_US", "1000")


class CommandLine(harness.TestCase):
    def test_usage_version_and_bad_options(self):
        # arguments, status, stdout (None: the version text), getopt's diagnostic (None: stderr stays empty)
        cases = [([], 1, USAGE, None), (["-v"], 1, USAGE, None), (["-c"], 1, USAGE, None), (["STOP"], 1, USAGE, None),
                 (["-x", "1"], 1, USAGE, "invalid option -- 'x'"),
                 (["1", "-c"], 1, USAGE, "option requires an argument -- 'c'"),
                 (["-v", "x"], 0, None, None), (["-c", "STOP", "-v", "1"], 0, None, None)]
        for args, status, stdout, diagnostic in cases:
            with self.subTest(args=args):
                box = harness.Sandbox(self).run(args)
                self.assertEqual(box.status, status)
                self.assertEqual(box.core, [], "the core was contacted")
                self.assertEqual(box.stderr, "" if diagnostic is None else f"{harness.CUE_CTL}: {diagnostic}\n")
                if stdout is None:  # the version line, then one about the tool
                    self.assertRegex(box.stdout, r"\Acue_ctl version 1\.0\.0\n.+\n\Z")
                else:
                    self.assertEqual(box.stdout, stdout)
                    if len(args) < 2:  # ended before the log exists
                        self.assertFalse(box.exists(CONF))
                self.assertFalse(box.exists(LOG))

    def test_default_configuration_names_cue_ctl_at_none_and_logs_nothing(self):
        box = self.stop_run(conf=None)
        self.assertTrue(box.read(CONF).endswith("\ncue_ctl=NONE\nMODE=LOCAL\nREMOTE_HOST=0.0.0.0:0\n"))
        self.assertFalse(box.exists(LOG))
        self.assertEqual(box.core, ["CONNECT", STOP_FRAME, "CLOSED"])

    def test_stop_is_sent_acknowledged_every_step_recorded_and_the_log_rotated_past_1_mib_into_2_files(self):
        # With the start's header block and the first record, the log passes 1 MiB.
        setup = ("head -c 1048400 /dev/zero | tr '\\0' x >/var/log/tessra/cue_ctl.log && "
                 "echo one >/var/log/tessra/cue_ctl.log.1 && echo two >/var/log/tessra/cue_ctl.log.2")
        box = self.stop_run(setup=setup)
        rotated = box.read(LOG + ".1")
        self.assertTrue(rotated.startswith("x" * 1048400 + harness.HEADER_BLOCK), rotated[-300:])
        self.assertRegex(rotated, r"DBG  Connection with core established\. \(Socket: \d+\)\n\Z")
        self.assertEqual((box.read(LOG + ".2"), box.exists(LOG + ".3")), ("one\n", False))
        self.assertTrue(box.read(LOG).startswith(harness.HEADER_BLOCK))
        self.assertEqual(box.records(), [DEV_ID, ("DBG", "Exiting ProcessStop()"), ("DBG", "Connection closed. (Socket: N)")])
        self.assertEqual(box.core, ["CONNECT", STOP_FRAME, "CLOSED"])

    def test_the_last_command_counts_and_without_one_it_is_empty(self):
        for args, command in ((["-c", "STOP", "-c", "stop", "1"], "stop"), (["1", "2"], "")):
            with self.subTest(args=args):
                box = self.stop_run(args=args)
                self.assertEqual(box.records(), [CONNECTED, DEV_ID, ("DBG", "ERROR: message not supported: " + command),
                                                 ("MAJOR", "FATAL ERROR: failed to process command " + command)])
                self.assertEqual(box.core, ["CONNECT", "CLOSED"])

    def test_without_a_core_the_run_fails_in_the_log_and_exits_zero(self):
        box = self.stop_run(core=False)
        self.assertEqual(box.records(), [("DBG", "ERROR: connect failed. Reason: Connection refused"),
                                         ("MAJOR", "FATAL ERROR: connect failed.")])


class FileFaults(harness.TestCase):
    def setUp(self):
        refused = harness.user_namespaces_refused()
        if refused:
            self.skipTest(refused)

    def stop(self, **options):
        box = self.stop_run(unprivileged=True, **options)
        self.assertEqual(box.core[:2], ["CONNECT", STOP_FRAME])
        return box

    def test_missing_read_only_or_full_log_folder_loses_records_but_not_the_run(self):
        for setup in ("rmdir /var/log/tessra", "chmod 555 /var/log/tessra"):
            with self.subTest(setup=setup):
                # The header block, then each of the four records.
                self.assertEqual(self.stop(setup=setup).stderr,
                                 "Failed to open log file: /var/log/tessra/cue_ctl.log\n" * 5)
        full = self.stop(setup=": >/var/log/tessra/cue_ctl.log && mount --bind /dev/full /var/log/tessra/cue_ctl.log")
        self.assertEqual(full.stderr, "")

    def test_unreadable_or_folder_configuration_is_left_alone_and_logs_nothing(self):
        box = self.stop(setup="chmod 0 /config/tessra/cue_ctl.conf")
        os.chmod(box.path(CONF), 0o600)  # readable again, to a test that runs without privileges too
        self.assertEqual(box.read(CONF), harness.DEBUG)
        self.assertFalse(box.exists(LOG))
        folder = self.stop(conf=None, setup="mkdir /config/tessra/cue_ctl.conf")
        self.assertTrue(os.path.isdir(folder.path(CONF)))
        self.assertFalse(folder.exists(LOG))


class Fleet(harness.TestCase):
    def test_a_fleet_s_records_arrive_whole_in_order_each_unit_in_its_own_file(self):
        box = harness.Sandbox(self)
        writer = os.path.realpath(WRITER)
        binds = [arg for folder in box.binds + [os.path.dirname(writer), REPO] for arg in ("--bind", folder)]
        fleet = [FLEET, UNITS, RECORDS, PERIOD_US, "--"] + harness.PREFIX + [writer]
        jail = subprocess.run([harness.JAIL, box.root] + binds + ["--"] + fleet,
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, timeout=280)
        print(jail.stdout)
        self.assertEqual(jail.returncode, 0, jail.stdout)

if __name__ == "__main__":
    harness.main()
