#!/usr/bin/env python3
"""The whole run against the core simulator: records, bytes on the wire, a broken core."""
import datetime

import harness
from harness import CONNECTED, STOP_FRAME

DEV_ID = ("DBG", "Received DEV_ID: Unique Corvane Address: 0x05  Host Id: 0x1234  Host Mem Id: 0x0001  "
                 "Host Firmware Version: 3.2.3")
RETRY = ("DBG", "ERROR: Interrupted by signal or would block. Retrying...")
GAVE_UP = [RETRY, RETRY, RETRY, ("DBG", "ERROR: retry count exceeded. (Socket=N)")]
NO_DEV_ID = ("MAJOR", "FATAL ERROR: receive DEV_ID failed.")
STOP_DONE = [CONNECTED, DEV_ID, ("DBG", "Exiting ProcessStop()"), ("DBG", "Connection closed. (Socket: N)")]


class CoreLink(harness.TestCase):
    def test_stop_is_sent_acknowledged_and_every_step_recorded(self):
        for core in ([], ["--fault", "pieces", "--piece-delay-ms", "300"], ["--fault", "long-length"]):
            with self.subTest(core=core):
                box = self.stop_run(core=core)
                self.assertTrue(box.read(harness.LOG).startswith(harness.HEADER_BLOCK))
                self.assertEqual(box.records(), STOP_DONE)
                self.assertEqual(box.core, ["CONNECT", STOP_FRAME, "CLOSED"])

    def test_dev_id_fields_are_decoded_and_the_stop_frame_carries_the_address_and_its_checksum(self):
        # unique address, firmware field, the version it reads as, the STOP frame's checksum
        cases = [("0x00", "0xFFFF", "31.31.31", "3E"), ("0xC2", "0x8C43", "3.2.3", "00"),
                 ("0xFF", "0x0421", "1.1.1", "3D"), ("0x21", "0x03E0", "0.31.0", "5F")]
        for address, firmware, version, checksum in cases:
            with self.subTest(address=address):
                box = self.stop_run(core=["--unique-address", address, "--host-id", "0xA1B2",
                                          "--host-mem-id", "0xFF03", "--firmware", firmware])
                self.assertEqual(box.records()[1][1], f"Received DEV_ID: Unique Corvane Address: {address}  Host Id: "
                                 f"0xA1B2  Host Mem Id: 0xFF03  Host Firmware Version: {version}")
                self.assertEqual(box.core[1], f"RX 02 {address[2:]} 00 07 11 20 02 02 10 00 F0 {checksum}")

    def test_a_broken_core_ends_the_run_with_its_records(self):
        not_done = [("DBG", "ERROR: wait for ack (SET_PLAYBACK_MODE) failed"),
                    ("MAJOR", "FATAL ERROR: failed to process command STOP")]
        cases = [("close", [CONNECTED, ("DBG", "Connection closed by remote host."), NO_DEV_ID]),
                 ("bad-start", [CONNECTED, NO_DEV_ID]),
                 ("reset", [CONNECTED, ("DBG", "ERROR: recv failed. (Socket=N) Reason: Connection reset by peer"),
                            NO_DEV_ID]),
                 ("nack", [CONNECTED, DEV_ID, ("DBG", "ERROR: waiting for ACK but received 0x0001")] + not_done)]
        for fault, records in cases:
            with self.subTest(fault=fault):
                box = self.stop_run(core=["--fault", fault])
                self.assertEqual(box.records(), records)
                if fault == "nack":
                    self.assertEqual(box.core[:2], ["CONNECT", STOP_FRAME])
        box = self.stop_run(core=["--fault", "garbage", "--garbage-bytes", "65536"])
        self.assertEqual(box.records()[0], CONNECTED)
        self.assertTrue(box.records()[-1][1].startswith("FATAL ERROR: "), box.records())

    def test_unsupported_or_missing_command_sends_nothing_after_dev_id(self):
        for args, command in ((["-c", "STOP", "-c", "stop", "1"], "stop"), (["-c", "STOP ", "1"], "STOP "),
                              (["1", "2"], "")):
            with self.subTest(args=args):
                box = self.stop_run(args=args)
                self.assertEqual(box.records(), [CONNECTED, DEV_ID, ("DBG", "ERROR: message not supported: " + command),
                                                 ("MAJOR", "FATAL ERROR: failed to process command " + command)])
                self.assertEqual(box.core, ["CONNECT", "CLOSED"])

    def test_silent_core_costs_three_time_outs_five_seconds_apart(self):
        box = self.stop_run(core=["--fault", "silent"])
        self.assertEqual(box.records(), [CONNECTED] + GAVE_UP + [NO_DEV_ID])
        stamps = [datetime.datetime.strptime(m.group(1), "%Y/%m/%d %H:%M:%S.%f")
                  for m in map(harness.RECORD.match, box.read(harness.LOG).split("\n"))
                  if m and m.group(4) == RETRY[1]]
        # Lower bounds only: a slow machine makes them longer, never shorter.
        for earlier, later in zip(stamps, stamps[1:]):
            self.assertGreaterEqual((later - earlier).total_seconds(), 4.9)
        self.assertGreaterEqual(box.elapsed, 14.9)


if __name__ == "__main__":
    harness.main()
