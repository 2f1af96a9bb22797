#!/usr/bin/env python3
"""A real rsyslogd, with the shipped input configuration, receives REMOTE records."""
import os
import re
import shutil

import harness

CONF_DIR = os.path.realpath(os.path.join(harness.HERE, os.pardir, os.pardir, "tools", "rsyslog"))
RSYSLOGD = shutil.which("rsyslogd") or "/usr/sbin/rsyslogd"
REMOTE_CONF = "cue_ctl=DEBUG\nMODE=REMOTE\nREMOTE_HOST=127.0.0.1:5140\n"
# rsyslogd in the foreground on the shipped configuration; it stops with the run.
START = ('rsyslogd -n -f /tmp/rsyslog.conf -i /tmp/rsyslogd.pid 2>/tmp/rsyslogd.err & rs=$!; '
         'helpers+=($rs); await_port 5140')


class Rsyslog(harness.TestCase):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        if not os.access(RSYSLOGD, os.X_OK):
            raise RuntimeError("rsyslogd is not installed (scripts/install_deps)")

    def sandbox(self):
        box = super().sandbox()
        box.binds.append(CONF_DIR)
        box.write("tmp/rsyslog.conf", 'global(workDirectory="/tmp")\n'
                                      f'include(file="{CONF_DIR}/cue_ctl-remote.conf")\n')
        box.write_conf(REMOTE_CONF)
        return box

    def received(self, box):
        return box.read("var/log/tessra/remote.log")

    def test_every_record_of_a_run_arrives_in_order_one_per_line(self):
        box = self.sandbox()
        result = box.run(["-c", "STOP", "1"], core=[], setup=START)
        self.assertEqual(result.status, 0)
        self.assertEqual(result.stderr, "")
        lines = self.received(box).split("\n")
        self.assertEqual(lines[-1], "", "the file ends with a newline")
        messages = []
        for line in lines[:-1]:
            match = harness.RECORD.match(line)
            self.assertIsNotNone(match, repr(line))
            self.assertEqual(match.group(3), "  DBG")
            # The wire puts two more spaces between header and message.
            self.assertTrue(match.group(4).startswith("  ") and match.group(4)[2] != " ", repr(line))
            messages.append(re.sub(r"Socket: \d+", "Socket: N", match.group(4)[2:]))
        self.assertEqual(messages, [
            "Connection with core established. (Socket: N)",
            "Received DEV_ID: Unique Corvane Address: 0x05  Host Id: 0x1234  Host Mem Id: 0x0001  "
            "Host Firmware Version: 3.2.3",
            "Exiting ProcessStop()",
            "Connection closed. (Socket: N)",
        ])

    def test_after_a_server_restart_the_connection_stays_broken_and_sends_are_reported(self):
        # The log connects once; the thread never reconnects a connection it
        # believes is up, so every later record fails to send and says so.
        box = self.sandbox()
        # Restarted once the run's first record has arrived.
        restart = ("( until grep -q . /var/log/tessra/remote.log 2>/dev/null; do sleep 0.05; done; "
                   "kill $rs; while kill -0 $rs 2>/dev/null; do sleep 0.05; done; "
                   "rsyslogd -n -f /tmp/rsyslog.conf -i /tmp/rsyslogd2.pid 2>>/tmp/rsyslogd.err ) &")
        result = box.run(["-c", "STOP", "1"], core=["--fault", "silent"], setup=START + "\n" + restart)
        self.assertEqual(result.status, 0)
        received = self.received(box).splitlines()
        self.assertEqual(len(received), 1, received)
        self.assertIn("    Connection with core established. (Socket: ", received[0])
        # Five records follow the restart (three retries, the give-up, the
        # fatal error): the first still leaves the host, the reset it meets
        # fails the other four.
        failures = result.stderr.splitlines()
        self.assertEqual(len(failures), 4, result.stderr)
        for failure in failures:
            self.assertTrue(failure.startswith("ERROR: send failed. Reason: "), failure)


if __name__ == "__main__":
    harness.main()
