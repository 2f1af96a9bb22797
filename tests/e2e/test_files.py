#!/usr/bin/env python3
"""Broken log folders and configuration files: the run goes on. The tool runs
as nobody, as the unit's applications run as their own users."""
import os

import harness
from harness import CONF, LOG, STOP_FRAME

NOBODY = 65534


class FileFaults(harness.TestCase):
    def stop(self, **options):
        box = self.stop_run(user=NOBODY, **options)
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
        self.assertEqual(box.read(CONF), harness.DEBUG)
        self.assertFalse(box.exists(LOG))
        folder = self.stop(conf=None, setup="mkdir /config/tessra/cue_ctl.conf")
        self.assertTrue(os.path.isdir(folder.path(CONF)))
        self.assertFalse(folder.exists(LOG))


if __name__ == "__main__":
    harness.main()
