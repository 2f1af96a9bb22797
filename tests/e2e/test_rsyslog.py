#!/usr/bin/env python3
"""A real rsyslogd, on the shipped input configuration, receives REMOTE records."""
import os
import shlex
import shutil

import harness
from test_core_link import STOP_DONE

SHIPPED_CONF = os.path.join(harness.HERE, os.pardir, os.pardir, "tools", "rsyslog", "cue_ctl-remote.conf")
RECEIVED = "var/log/tessra/remote.log"


class Rsyslog(harness.TestCase):
    def remote_run(self, core=(), after_start=""):
        """cue_ctl -c STOP 1 logging to rsyslogd, which runs in the foreground as $rsyslogd
        and stops with the run; after_start: shell lines run once it listens."""
        if not shutil.which("rsyslogd", path="/usr/sbin:/usr/bin"):
            raise RuntimeError("rsyslogd is not installed (scripts/install_deps)")
        with open(SHIPPED_CONF) as shipped:
            rsyslog_conf = 'global(workDirectory="/tmp")\n' + shipped.read()
        start = (f"printf %s {shlex.quote(rsyslog_conf)} >/tmp/rsyslog.conf\n"
                 "rsyslogd -n -f /tmp/rsyslog.conf -i /tmp/rsyslogd.pid 2>/tmp/rsyslogd.err &\n"
                 "rsyslogd=$!\n"
                 "helpers+=($rsyslogd)\n"
                 "await_port 5140\n")
        return self.stop_run(conf=harness.DEBUG + "MODE=REMOTE\nREMOTE_HOST=127.0.0.1:5140\n", core=list(core),
                             setup=start + after_start)

    def test_every_record_of_a_run_arrives_in_order_one_per_line(self):
        box = self.remote_run()
        self.assertEqual(box.stderr, "")
        self.assertEqual(box.read(RECEIVED).count("\n"), len(STOP_DONE), "one line per record, each ended")
        # The wire puts two more spaces between header and message.
        self.assertEqual(box.records(RECEIVED), [(level, "  " + message) for level, message in STOP_DONE])

    def test_a_server_that_goes_away_mid_run_costs_records_not_the_run(self):
        # A slow core spreads the records out; the server is killed once the first is in.
        kill_after_first = f"(until [ -s /{RECEIVED} ]; do sleep 0.01; done; kill -KILL $rsyslogd) &\n"
        box = self.remote_run(core=["--fault", "pieces", "--piece-delay-ms", "300"], after_start=kill_after_first)
        self.assertEqual(box.core, ["CONNECT", harness.STOP_FRAME, "CLOSED"])
        self.assertEqual(len(box.read(RECEIVED).splitlines()), 1)
        self.assertIn("ERROR: send failed. Reason: ", box.stderr)
        self.assertEqual(box.read(harness.LOG), harness.HEADER_BLOCK)


if __name__ == "__main__":
    harness.main()
