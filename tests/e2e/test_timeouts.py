#!/usr/bin/env python3
"""Cores that stall or trickle: cases that mostly wait out receive time-outs."""
import harness
from harness import CONNECTED
from test_core_link import GAVE_UP, NO_DEV_ID


class Timeouts(harness.TestCase):
    def test_a_stalled_or_trickling_core_exhausts_the_one_retry_count(self):
        # A byte every six seconds still arrives, but each gap is a time-out
        # and the count is never reset: the receive gives up after three.
        for core in (["--fault", "stall-length"], ["--fault", "trickle", "--trickle-ms", "6000"]):
            with self.subTest(core=core):
                self.assertEqual(self.stop_run(core=core).records(), [CONNECTED] + GAVE_UP + [NO_DEV_ID])

    def test_a_byte_every_four_seconds_is_slow_not_dead(self):
        # A seven-byte DEV_ID: six gaps of four seconds, each under the time-out.
        box = self.stop_run(core=["--fault", "trickle", "--trickle-ms", "4000", "--length-byte", "0x02"])
        self.assertEqual([m for _, m in box.records()][-2:], ["Exiting ProcessStop()", "Connection closed. (Socket: N)"])
        self.assertEqual(box.core[1], harness.STOP_FRAME)
        self.assertGreater(box.elapsed, 23)


if __name__ == "__main__":
    harness.main()
