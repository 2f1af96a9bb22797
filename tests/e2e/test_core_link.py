#!/usr/bin/env python3
"""The whole run against the core simulator: records, bytes on the wire, failure paths."""
import re

import harness
from harness import HEADER_BLOCK

DEV_ID = ("Received DEV_ID: Unique Corvane Address: 0x05  Host Id: 0x1234  Host Mem Id: 0x0001  "
          "Host Firmware Version: 3.2.3")
STOP_FRAME = "RX 02 05 00 07 11 20 02 02 10 00 F0 43"


class CoreLink(harness.TestCase):
    def run_at_debug(self, core, args=("-c", "STOP", "17")):
        box = self.sandbox()
        box.write_conf("cue_ctl=DEBUG\n")
        result = box.run(list(args), core=core)
        self.assertEqual(result.status, 0, result.stderr)
        self.assertEqual(result.stdout, "")
        return box, result

    def assertRecords(self, box, expected):
        """Compares records, with every socket number replaced by N."""
        actual = [(level, re.sub(r"Socket(: |=)\d+", r"Socket\1N", text)) for level, text in box.records()]
        self.assertEqual(actual, expected, box.log())

    def test_stop_is_sent_acknowledged_and_every_step_recorded(self):
        box, result = self.run_at_debug(core=[])
        self.assertTrue(box.log().startswith(HEADER_BLOCK), box.log())
        self.assertRecords(box, [
            ("DBG", "Connection with core established. (Socket: N)"),
            ("DBG", DEV_ID),
            ("DBG", "Exiting ProcessStop()"),
            ("DBG", "Connection closed. (Socket: N)"),
        ])
        self.assertEqual(result.core, ["CONNECT", STOP_FRAME, "CLOSED"])

    def test_stop_frame_carries_the_unique_address_and_its_checksum(self):
        for address, frame in (("0x00", "02 00 00 07 11 20 02 02 10 00 F0 3E"),
                               ("0xC2", "02 C2 00 07 11 20 02 02 10 00 F0 00"),
                               ("0xFF", "02 FF 00 07 11 20 02 02 10 00 F0 3D")):
            with self.subTest(address=address):
                result = self.sandbox().run(["-c", "STOP", "1"], core=["--unique-address", address])
                self.assertEqual(result.core, ["CONNECT", "RX " + frame, "CLOSED"])

    def test_firmware_word_and_ids_are_decoded_as_sent(self):
        box, _ = self.run_at_debug(core=["--unique-address", "0x21", "--host-id", "0xA1B2",
                                         "--host-mem-id", "0xFFFF", "--firmware", "0xFFFF"])
        self.assertIn(("DBG", "Received DEV_ID: Unique Corvane Address: 0x21  Host Id: 0xA1B2  "
                              "Host Mem Id: 0xFFFF  Host Firmware Version: 31.31.31"), box.records())

    def test_core_that_closes_at_once(self):
        box, _ = self.run_at_debug(core=["--fault", "close"])
        self.assertRecords(box, [
            ("DBG", "Connection with core established. (Socket: N)"),
            ("DBG", "Connection closed by remote host."),
            ("MAJOR", "FATAL ERROR: receive DEV_ID failed."),
        ])

    def test_bad_start_byte_fails_without_a_record_of_its_own(self):
        box, _ = self.run_at_debug(core=["--fault", "bad-start"])
        self.assertRecords(box, [
            ("DBG", "Connection with core established. (Socket: N)"),
            ("MAJOR", "FATAL ERROR: receive DEV_ID failed."),
        ])

    def test_answer_other_than_ack_fails_the_command(self):
        box, result = self.run_at_debug(core=["--fault", "nack"])
        self.assertRecords(box, [
            ("DBG", "Connection with core established. (Socket: N)"),
            ("DBG", DEV_ID),
            ("DBG", "ERROR: waiting for ACK but received 0x0001"),
            ("DBG", "ERROR: wait for ack (SET_PLAYBACK_MODE) failed"),
            ("MAJOR", "FATAL ERROR: failed to process command STOP"),
        ])
        self.assertEqual(result.core[:2], ["CONNECT", STOP_FRAME])

    def test_frames_in_pieces_and_length_byte_top_bits(self):
        for core in (["--fault", "pieces", "--piece-delay-ms", "300"], ["--fault", "long-length"]):
            with self.subTest(core=core):
                box, result = self.run_at_debug(core=core)
                self.assertIn(("DBG", "Exiting ProcessStop()"), box.records())
                self.assertEqual(result.core, ["CONNECT", STOP_FRAME, "CLOSED"])

    def test_unsupported_or_missing_command_sends_nothing_after_dev_id(self):
        for args, command in ((["-c", "STOP", "-c", "stop", "1"], "stop"), (["1", "2"], "")):
            with self.subTest(args=args):
                box, result = self.run_at_debug(core=[], args=args)
                self.assertRecords(box, [
                    ("DBG", "Connection with core established. (Socket: N)"),
                    ("DBG", DEV_ID),
                    ("DBG", "ERROR: message not supported: " + command),
                    ("MAJOR", "FATAL ERROR: failed to process command " + command),
                ])
                self.assertEqual(result.core, ["CONNECT", "CLOSED"])

    def test_default_configuration_with_a_core_writes_nothing(self):
        box = self.sandbox()
        result = box.run(["-c", "STOP", "1"], core=[])
        self.assertEqual(result.status, 0)
        self.assertEqual(result.core, ["CONNECT", STOP_FRAME, "CLOSED"])
        self.assertFalse(box.exists(harness.LOG))


if __name__ == "__main__":
    harness.main()
