#!/usr/bin/env python3
"""A hostile or broken core: every row ends with its records and status 0."""
import re

import harness

RETRY = ("DBG", "ERROR: Interrupted by signal or would block. Retrying...")
CONNECTED = ("DBG", "Connection with core established. (Socket: N)")
GAVE_UP = [RETRY, RETRY, RETRY, ("DBG", "ERROR: retry count exceeded. (Socket=N)"),
           ("MAJOR", "FATAL ERROR: receive DEV_ID failed.")]


class CoreFaults(harness.TestCase):
    def run_at_debug(self, core):
        box = self.sandbox()
        box.write_conf("cue_ctl=DEBUG\n")
        result = box.run(["-c", "STOP", "1"], core=core)
        self.assertEqual(result.status, 0, result.stderr)
        records = [(level, re.sub(r"Socket(: |=)\d+", r"Socket\1N", text)) for level, text in box.records()]
        return records, result

    def test_reset_in_the_middle_of_a_frame(self):
        records, _ = self.run_at_debug(["--fault", "reset"])
        self.assertEqual(records, [
            CONNECTED,
            ("DBG", "ERROR: recv failed. (Socket=N) Reason: Connection reset by peer"),
            ("MAJOR", "FATAL ERROR: receive DEV_ID failed."),
        ])

    def test_length_of_63_and_then_nothing(self):
        records, result = self.run_at_debug(["--fault", "stall-length"])
        self.assertEqual(records, [CONNECTED] + GAVE_UP)
        self.assertLess(result.elapsed, 20)

    def test_a_byte_every_six_seconds_still_exhausts_the_one_retry_count(self):
        # Data keeps arriving, but each gap is a time-out and the count is
        # never reset: the receive gives up after three of them.
        records, result = self.run_at_debug(["--fault", "trickle", "--trickle-ms", "6000"])
        self.assertEqual(records, [CONNECTED] + GAVE_UP)
        # About 17 s; the whole 21-byte frame would have taken two minutes.
        self.assertLess(result.elapsed, 25)

    def test_64_kib_of_garbage(self):
        records, result = self.run_at_debug(["--fault", "garbage", "--garbage-bytes", "65536"])
        self.assertEqual(records[0], CONNECTED)
        self.assertTrue(records[-1][1].startswith("FATAL ERROR: "), records)
        self.assertLess(result.elapsed, 20)


if __name__ == "__main__":
    harness.main()
