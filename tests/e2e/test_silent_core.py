#!/usr/bin/env python3
"""A core that stops talking: the receive gives up after three 5 s time-outs."""
import datetime
import re

import harness

RETRY = ("DBG", "ERROR: Interrupted by signal or would block. Retrying...")


def stamps(box, text):
    """Times of the records with this message."""
    return [datetime.datetime.strptime(m.group(1), "%Y/%m/%d %H:%M:%S.%f")
            for m in map(harness.RECORD.match, box.log().split("\n")) if m and m.group(4) == text]


class SilentCore(harness.TestCase):
    def records(self, box):
        return [(level, re.sub(r"Socket(: |=)\d+", r"Socket\1N", text)) for level, text in box.records()]

    def test_silent_core_costs_three_time_outs_then_the_run_ends(self):
        box = self.sandbox()
        box.write_conf("cue_ctl=DEBUG\n")
        result = box.run(["-c", "STOP", "1"], core=["--fault", "silent"])
        self.assertEqual(result.status, 0)
        self.assertEqual(self.records(box), [
            ("DBG", "Connection with core established. (Socket: N)"),
            RETRY, RETRY, RETRY,
            ("DBG", "ERROR: retry count exceeded. (Socket=N)"),
            ("MAJOR", "FATAL ERROR: receive DEV_ID failed."),
        ])
        retries = stamps(box, RETRY[1])
        gaps = [(b - a).total_seconds() for a, b in zip(retries, retries[1:])]
        for gap in gaps:
            self.assertAlmostEqual(gap, 5.0, delta=0.5)
        self.assertGreater(result.elapsed, 14.5)
        self.assertLess(result.elapsed, 20)

    def test_core_that_never_acknowledges(self):
        box = self.sandbox()
        box.write_conf("cue_ctl=DEBUG\n")
        result = box.run(["-c", "STOP", "1"], core=["--fault", "no-ack"])
        self.assertEqual(result.status, 0)
        self.assertEqual(self.records(box)[2:], [
            RETRY, RETRY, RETRY,
            ("DBG", "ERROR: retry count exceeded. (Socket=N)"),
            ("DBG", "ERROR: wait for ack (SET_PLAYBACK_MODE) failed"),
            ("MAJOR", "FATAL ERROR: failed to process command STOP"),
        ])
        self.assertEqual(result.core[1], "RX 02 05 00 07 11 20 02 02 10 00 F0 43")


if __name__ == "__main__":
    harness.main()
