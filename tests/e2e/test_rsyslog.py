#!/usr/bin/env python3
"""A real rsyslogd, with the shipped input configuration, receives REMOTE records."""
import os
import shutil

import harness

CONF_DIR = os.path.realpath(os.path.join(harness.HERE, os.pardir, os.pardir, "tools", "rsyslog"))
# rsyslogd in the foreground on the shipped configuration; it stops with the run.
START = ('rsyslogd -n -f /tmp/rsyslog.conf -i /tmp/rsyslogd.pid 2>/tmp/rsyslogd.err & rs=$!; '
         'helpers+=($rs); await_port 5140')
RECEIVED = "var/log/tessra/remote.log"


class Rsyslog(harness.TestCase):
    def test_every_record_of_a_run_arrives_in_order_one_per_line(self):
        if not shutil.which("rsyslogd", path="/usr/sbin:/usr/bin"):
            raise RuntimeError("rsyslogd is not installed (scripts/install_deps)")
        box = harness.Sandbox(self)
        box.binds.append(CONF_DIR)
        box.write("tmp/rsyslog.conf", f'global(workDirectory="/tmp")\ninclude(file="{CONF_DIR}/cue_ctl-remote.conf")\n')
        box.write(harness.CONF, harness.DEBUG + "MODE=REMOTE\nREMOTE_HOST=127.0.0.1:5140\n")
        box.run(["-c", "STOP", "1"], core=[], setup=START)
        self.assertEqual((box.status, box.stderr), (0, ""))
        lines = box.read(RECEIVED).split("\n")
        self.assertEqual(lines[-1], "", "the file ends with a newline")
        messages = []
        for line in lines[:-1]:
            match = harness.RECORD.match(line)
            self.assertIsNotNone(match, repr(line))
            # The wire puts two more spaces between header and message.
            self.assertEqual((match.group(3), match.group(4)[:2]), ("  DBG", "  "), repr(line))
            messages.append(match.group(4)[2:])
        self.assertEqual(len(messages), 4, messages)
        self.assertEqual(messages[1:3], ["Received DEV_ID: Unique Corvane Address: 0x05  Host Id: 0x1234  Host Mem "
                                         "Id: 0x0001  Host Firmware Version: 3.2.3", "Exiting ProcessStop()"])


if __name__ == "__main__":
    harness.main()
