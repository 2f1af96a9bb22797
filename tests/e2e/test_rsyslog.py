#!/usr/bin/env python3
"""A real rsyslogd, on the shipped configuration, receives REMOTE records: from a
fleet of units, each in its own network namespace, and from a run it leaves."""
import os
import re
import shlex
import shutil
import subprocess

import harness

REPO = os.path.realpath(os.path.join(harness.HERE, os.pardir, os.pardir))
SHIPPED = os.path.join(REPO, "tools", "rsyslog", "cue_ctl-remote.conf")
FLEET = os.path.join(REPO, "scripts", "fleet")
# The library as another application uses it, beside cue_ctl in the same build tree.
WRITER = os.path.join(os.path.dirname(harness.CUE_CTL), os.pardir, "tools", "log_writer")
UNITS = int(os.environ.get("FLEET_UNITS", "8"))
RECORDS = 1000
PERIOD_US = int(os.environ.get("FLEET_PERIOD_US", "1000"))
# The writer's message: "<pid>-<thread>-<seq> " and 40 + seq % 97 dots.
WRITER_RECORD = re.compile(r"^\d{4}/\d\d/\d\d \d\d:\d\d:\d\d\.\d{3} +\d+   DBG    (\d+)-0-(\d+) (\.*)$")

SERVER_START = """
printf %s {conf} >/tmp/rsyslog.conf
rsyslogd -n -f /tmp/rsyslog.conf -i /tmp/rsyslogd.pid 2>/tmp/rsyslogd.err &
rsyslogd=$!
helpers+=($rsyslogd)
await_port 5140
"""


def server_start():
    # The example runs unchanged, after one line that gives rsyslogd a work folder.
    with open(SHIPPED) as shipped:
        conf = 'global(workDirectory="/tmp")\n' + shipped.read()
    return SERVER_START.format(conf=shlex.quote(conf))


class Rsyslog(harness.TestCase):
    def setUp(self):
        if not shutil.which("rsyslogd", path="/usr/sbin:/usr/bin"):
            raise RuntimeError("rsyslogd is not installed (scripts/install_deps)")

    def test_a_fleet_s_records_arrive_whole_in_order_each_unit_in_its_own_file(self):
        if os.geteuid() != 0:
            self.skipTest("needs root: network namespaces")
        box = harness.Sandbox(self)
        writer = os.path.realpath(WRITER)
        binds = [arg for folder in box.binds + [os.path.dirname(writer), REPO] for arg in ("--bind", folder)]
        fleet = [FLEET, str(UNITS), str(RECORDS), str(PERIOD_US), "--"] + harness.PREFIX + [writer]
        jail = subprocess.run([harness.JAIL, box.root] + binds + ["--"] + fleet,
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, timeout=280)
        self.assertEqual(jail.returncode, 0, jail.stdout)
        units = dict(line.split() for line in box.read("tmp/units").splitlines())
        self.assertEqual(len(units), UNITS)
        errors = "".join(box.read(f"tmp/u{i}/err") for i in range(UNITS))
        failed_sends = errors.count("\n")
        files = sorted(os.listdir(box.path("var/log/tessra/remote")))
        lines = {name[:-len(".log")]: box.read("var/log/tessra/remote/" + name).split("\n") for name in files}
        print(f"fleet: {UNITS} units x {RECORDS} records: sent in {box.read('tmp/sent_ms').strip()} ms, "
              f"all written by {box.read('tmp/written_ms').strip()} ms; {failed_sends} failed sends reported; "
              f"{sum(len(found) - 1 for found in lines.values())} lines in {len(files)} files")
        self.assertEqual(failed_sends, 0, errors[:1000])
        self.assertEqual(sorted(lines), sorted(units), "one file per unit address")
        for address, pid in units.items():
            with self.subTest(unit=address):
                self.assertEqual(lines[address][-1], "", "the last record is ended")
                matches = [WRITER_RECORD.match(line) for line in lines[address][:-1]]
                self.assertNotIn(None, matches, "every line a whole record")
                self.assertEqual([match.groups() for match in matches],
                                 [(pid, str(seq), "." * (40 + seq % 97)) for seq in range(RECORDS)],
                                 "all of this unit's records, in order, none cut, and no other unit's")

    def test_a_server_that_goes_away_mid_run_costs_records_not_the_run(self):
        # A slow core spreads the records out; the server is killed once the first is in.
        received = "var/log/tessra/remote/127.0.0.1.log"
        kill_after_first = f"(until [ -s /{received} ]; do sleep 0.01; done; kill -KILL $rsyslogd) &\n"
        box = self.stop_run(conf=harness.DEBUG + "MODE=REMOTE\nREMOTE_HOST=127.0.0.1:5140\n",
                            core=["--fault", "pieces", "--piece-delay-ms", "300"],
                            setup=server_start() + kill_after_first)
        self.assertEqual(box.core, ["CONNECT", harness.STOP_FRAME, "CLOSED"])
        self.assertEqual(len(box.read(received).splitlines()), 1)
        self.assertIn("ERROR: send failed. Reason: ", box.stderr)
        self.assertEqual(box.read(harness.LOG), harness.HEADER_BLOCK)


if __name__ == "__main__":
    harness.main()
