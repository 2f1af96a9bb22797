#!/usr/bin/env python3
"""Broken log folders and configuration files: the run goes on."""
import os
import random

import harness
from harness import CONF, LOG, STOP_FRAME

NOBODY = 65534


class FileFaults(harness.TestCase):
    def stop(self, **options):
        box = self.stop_run(**options)
        self.assertEqual(box.core[:2], ["CONNECT", STOP_FRAME])
        return box

    def test_missing_read_only_or_full_log_folder_loses_records_but_not_the_run(self):
        read_only = "mount --bind /var/log/tessra /var/log/tessra && mount -o remount,bind,ro /var/log/tessra"
        for setup in ("rmdir /var/log/tessra", read_only):
            with self.subTest(setup=setup):
                # The header block, then each of the four records.
                self.assertEqual(self.stop(setup=setup).stderr,
                                 "Failed to open log file: /var/log/tessra/cue_ctl.log\n" * 5)
        full = self.stop(setup=": >/var/log/tessra/cue_ctl.log && mount --bind /dev/full /var/log/tessra/cue_ctl.log")
        self.assertEqual(full.stderr, "")

    def test_unreadable_or_folder_configuration_is_left_alone_and_logs_nothing(self):
        box = harness.Sandbox(self)
        for folder in ("config/tessra", "var/log/tessra", "tmp"):
            os.chmod(box.path(folder), 0o1777)
        box.write(CONF, harness.DEBUG)
        os.chmod(box.path(CONF), 0)
        box.run(["-c", "STOP", "1"], core=[], user=NOBODY)
        self.assertEqual((box.status, box.core[:2], box.read(CONF)), (0, ["CONNECT", STOP_FRAME], harness.DEBUG))
        self.assertFalse(box.exists(LOG))
        folder = self.stop(conf=None, setup="mkdir /config/tessra/cue_ctl.conf")
        self.assertTrue(os.path.isdir(folder.path(CONF)))
        self.assertFalse(folder.exists(LOG))

    def test_ten_megabyte_line_or_binary_junk_in_the_configuration(self):
        junk = bytes(random.Random(7).getrandbits(8) for _ in range(65536)).decode("latin-1")
        for content in (harness.DEBUG + "x" * (10 << 20), harness.DEBUG + junk):
            with self.subTest(size=len(content)):
                self.assertIn(("DBG", "Exiting ProcessStop()"), self.stop(conf=content).records())


if __name__ == "__main__":
    harness.main()
