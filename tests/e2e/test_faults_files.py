#!/usr/bin/env python3
"""Broken log folders, configuration files and log servers: the run goes on."""
import os
import random

import harness
from harness import CONF, LOG

STOP_FRAME = "RX 02 05 00 07 11 20 02 02 10 00 F0 43"
NOBODY = 65534


class FileFaults(harness.TestCase):
    def run_stop(self, box, core=(), **kwargs):
        result = box.run(["-c", "STOP", "1"], core=list(core), **kwargs)
        self.assertEqual(result.status, 0, result.stderr)
        self.assertEqual(result.core[:2], ["CONNECT", STOP_FRAME])
        return result

    def test_missing_or_read_only_log_folder_is_reported_and_the_run_goes_on(self):
        for setup in ("rmdir /var/log/tessra",
                      "mount --bind /var/log/tessra /var/log/tessra && "
                      "mount -o remount,bind,ro /var/log/tessra"):
            with self.subTest(setup=setup):
                box = self.sandbox()
                box.write_conf("cue_ctl=DEBUG\n")
                result = self.run_stop(box, setup=setup)
                # The header block, then each of the four records.
                self.assertEqual(result.stderr, "Failed to open log file: /var/log/tessra/cue_ctl.log\n" * 5)

    def test_log_file_on_a_full_file_system_loses_records_quietly(self):
        box = self.sandbox()
        box.write_conf("cue_ctl=DEBUG\n")
        box.write(LOG, "")
        result = self.run_stop(box, setup="mount --bind /dev/full /var/log/tessra/cue_ctl.log")
        self.assertEqual(result.stderr, "")

    def test_unreadable_configuration_is_left_alone_and_logs_nothing(self):
        box = self.sandbox()
        for folder in ("config/tessra", "var/log/tessra", "tmp"):
            os.chmod(box.path(folder), 0o1777)
        box.write_conf("cue_ctl=DEBUG\n")
        os.chmod(box.path(CONF), 0)
        self.run_stop(box, user=NOBODY)
        self.assertEqual(box.read(CONF), "cue_ctl=DEBUG\n")
        self.assertFalse(box.exists(LOG))

    def test_configuration_path_that_is_a_folder(self):
        box = self.sandbox()
        os.mkdir(box.path(CONF))
        self.run_stop(box)
        self.assertTrue(os.path.isdir(box.path(CONF)))
        self.assertFalse(box.exists(LOG))

    def test_ten_megabyte_line_or_binary_junk_in_the_configuration(self):
        junk = bytes(random.Random(7).getrandbits(8) for _ in range(65536)).decode("latin-1")
        for content in ("cue_ctl=DEBUG\n" + "x" * (10 << 20), "cue_ctl=DEBUG\n" + junk):
            with self.subTest(size=len(content)):
                box = self.sandbox()
                box.write_conf(content)
                result = self.run_stop(box)
                self.assertIn("Exiting ProcessStop()", box.messages())
                self.assertLess(result.elapsed, 5)

    def test_log_server_that_goes_away_mid_run(self):
        box = self.sandbox()
        box.write_conf("cue_ctl=DEBUG\nMODE=REMOTE\nREMOTE_HOST=127.0.0.1:5140\n")
        # A slow core spreads the records out; the server leaves after the first.
        result = self.run_stop(box, core=["--fault", "pieces", "--piece-delay-ms", "300"],
                               sink=["--port", "5140", "--max-records", "1"])
        self.assertEqual(len(box.read("tmp/sink.txt").splitlines()), 1)
        self.assertIn("ERROR: send failed. Reason: ", result.stderr)
        self.assertEqual(box.log(), harness.HEADER_BLOCK)


if __name__ == "__main__":
    harness.main()
