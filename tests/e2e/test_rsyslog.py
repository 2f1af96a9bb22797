#!/usr/bin/env python3
"""A real rsyslogd, on the shipped configuration, receives the REMOTE records
of a fleet of units, each in its own network namespace (scripts/fleet checks
that each unit's records arrive whole, in order, in its own file)."""
import os
import subprocess

import harness

REPO = os.path.realpath(os.path.join(harness.HERE, os.pardir, os.pardir))
FLEET = os.path.join(REPO, "scripts", "fleet")
# The library as another application uses it, beside cue_ctl in the same build tree.
WRITER = os.path.join(os.path.dirname(harness.CUE_CTL), os.pardir, "tools", "log_writer")
UNITS, RECORDS, PERIOD_US = os.environ.get("FLEET_UNITS", "8"), "1000", os.environ.get("FLEET_PERIOD_US", "1000")


class Rsyslog(harness.TestCase):
    def test_a_fleet_s_records_arrive_whole_in_order_each_unit_in_its_own_file(self):
        box = harness.Sandbox(self)
        writer = os.path.realpath(WRITER)
        binds = [arg for folder in box.binds + [os.path.dirname(writer), REPO] for arg in ("--bind", folder)]
        fleet = [FLEET, UNITS, RECORDS, PERIOD_US, "--"] + harness.PREFIX + [writer]
        jail = subprocess.run([harness.JAIL, box.root] + binds + ["--"] + fleet,
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, timeout=280)
        print(jail.stdout)
        self.assertEqual(jail.returncode, 0, jail.stdout)


if __name__ == "__main__":
    harness.main()
