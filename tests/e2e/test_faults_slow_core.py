#!/usr/bin/env python3
"""A core that sends one byte every four seconds is slow, not dead."""
import harness


class SlowCore(harness.TestCase):
    def test_a_byte_every_four_seconds_completes_without_a_time_out(self):
        box = self.sandbox()
        box.write_conf("cue_ctl=DEBUG\n")
        # A seven-byte DEV_ID: six gaps of four seconds, each under the time-out.
        result = box.run(["-c", "STOP", "1"],
                         core=["--fault", "trickle", "--trickle-ms", "4000", "--length-byte", "0x02"])
        self.assertEqual(result.status, 0)
        messages = box.messages()
        self.assertNotIn("ERROR: Interrupted by signal or would block. Retrying...", messages)
        self.assertEqual(messages[-2], "Exiting ProcessStop()")
        self.assertGreater(result.elapsed, 23)
        self.assertEqual(result.core[1], "RX 02 05 00 07 11 20 02 02 10 00 F0 43")


if __name__ == "__main__":
    harness.main()
