#!/usr/bin/env python3
"""The whole run against the core simulator: records and bytes on the wire.
The link's rules, case by case, are unit tests (tests/cue_ctl_test.cpp)."""
import harness
from harness import CONNECTED, STOP_FRAME

DEV_ID = ("DBG", "Received DEV_ID: Unique Corvane Address: 0x05  Host Id: 0x1234  Host Mem Id: 0x0001  "
                 "Host Firmware Version: 3.2.3")
STOP_DONE = [CONNECTED, DEV_ID, ("DBG", "Exiting ProcessStop()"), ("DBG", "Connection closed. (Socket: N)")]


class CoreLink(harness.TestCase):
    def test_stop_is_sent_acknowledged_and_every_step_recorded(self):
        box = self.stop_run()
        self.assertTrue(box.read(harness.LOG).startswith(harness.HEADER_BLOCK))
        self.assertEqual(box.records(), STOP_DONE)
        self.assertEqual(box.core, ["CONNECT", STOP_FRAME, "CLOSED"])

    def test_the_last_command_counts_and_without_one_it_is_empty(self):
        for args, command in ((["-c", "STOP", "-c", "stop", "1"], "stop"), (["1", "2"], "")):
            with self.subTest(args=args):
                box = self.stop_run(args=args)
                self.assertEqual(box.records(), [CONNECTED, DEV_ID, ("DBG", "ERROR: message not supported: " + command),
                                                 ("MAJOR", "FATAL ERROR: failed to process command " + command)])
                self.assertEqual(box.core, ["CONNECT", "CLOSED"])


if __name__ == "__main__":
    harness.main()
