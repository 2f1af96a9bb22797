#!/usr/bin/env python3
"""The configuration file read while the tool runs, and REMOTE mode to the log sink."""
import time

import harness
from harness import HEADER_BLOCK

REMOTE_CONF = "cue_ctl=DEBUG\nMODE=REMOTE\nREMOTE_HOST=127.0.0.1:5140\n"
SINK = ["--port", "5140"]


class LiveLogging(harness.TestCase):
    def test_remote_mode_sends_the_records_and_the_file_gets_only_the_header(self):
        box = self.sandbox()
        box.write_conf(REMOTE_CONF)
        result = box.run(["-c", "STOP", "1"], core=[], sink=SINK)
        self.assertEqual(result.status, 0)
        self.assertEqual(result.stderr, "")
        self.assertEqual(box.log(), HEADER_BLOCK)

        raw = box.read("tmp/sink.raw")
        records = raw.split("\0")
        self.assertEqual(records[-1], "", "the stream must end with a zero byte")
        messages = []
        for record in records[:-1]:
            self.assertTrue(record.endswith("\n"), record)
            match = harness.RECORD.match(record[:-1])
            self.assertIsNotNone(match, record)
            self.assertTrue(match.group(4).startswith("  "), "two more spaces after the header")
            messages.append(match.group(4)[2:])
        self.assertEqual(len(messages), 4, raw)
        self.assertTrue(messages[0].startswith("Connection with core established."))
        self.assertEqual(messages[2:], ["Exiting ProcessStop()", messages[3]])
        self.assertTrue(messages[3].startswith("Connection closed. (Socket: "))

    def test_unreachable_server_is_reported_and_the_run_goes_on(self):
        box = self.sandbox()
        box.write_conf(REMOTE_CONF)
        result = box.run(["-c", "STOP", "1"], core=[])
        self.assertEqual(result.status, 0)
        self.assertTrue(result.stderr.startswith(
            "Error while attempting to connect to host: 127.0.0.1:5140\n"), result.stderr)
        self.assertEqual(box.log(), HEADER_BLOCK)
        self.assertEqual(result.core[1], "RX 02 05 00 07 11 20 02 02 10 00 F0 43")

    def test_level_raised_in_the_file_during_a_run_shows_the_later_records(self):
        box = self.sandbox()
        box.write_conf("cue_ctl=NONE\n")
        run = box.start(["-c", "STOP", "1"], core=["--fault", "silent"])
        # Once the tool has connected, its log has read the file at NONE.
        deadline = time.monotonic() + 30
        while "CONNECT" not in box.read("tmp/core.txt") and time.monotonic() < deadline:
            time.sleep(0.05)
        box.write_conf("cue_ctl=DEBUG\n")
        result = box.finish(run)
        self.assertEqual(result.status, 0)
        messages = box.messages()
        # The connect record came before the change; the give-up came after it.
        self.assertNotIn("Connection with core established.", " ".join(messages))
        self.assertEqual(messages[-2:], [messages[-2], "FATAL ERROR: receive DEV_ID failed."])
        self.assertTrue(messages[-2].startswith("ERROR: retry count exceeded."))
        self.assertIn("ERROR: Interrupted by signal or would block. Retrying...", messages)


if __name__ == "__main__":
    harness.main()
