"""Runs the real cue_ctl, with tools/core_sim, in scripts/jail, a private root
per run. CTest sets CUE_CTL and CUE_EMULATOR (qemu-ppc); the caller may set
CUE_WRAPPER (valgrind). Where the system refuses the namespaces a run needs, it is skipped."""
import os
import re
import shlex
import shutil
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
JAIL = os.path.join(HERE, os.pardir, os.pardir, "scripts", "jail")
CUE_CTL = os.environ.get("CUE_CTL", "")
CORE_SIM = os.path.abspath(os.path.join(HERE, os.pardir, os.pardir, "tools", "core_sim"))
PREFIX = shlex.split(os.environ.get("CUE_WRAPPER", "")) + shlex.split(os.environ.get("CUE_EMULATOR", ""))
LOG, CONF = "var/log/tessra/cue_ctl.log", "config/tessra/cue_ctl.conf"
DEBUG = "cue_ctl=DEBUG\n"
HEADER_BLOCK = ("\nYYYY/MM/DD HH:MM:SS.mmm THREADID LEVEL LOG MESSAGE                            \n"
                "----------------------- -------- ----- ---------------------------------------\n")
RECORD = re.compile(r"^(\d{4}/\d\d/\d\d \d\d:\d\d:\d\d\.\d{3}) +(\d+) (.{5})  (.*)$")
STOP_FRAME = "RX 02 05 00 07 11 20 02 02 10 00 F0 43"
CONNECTED = ("DBG", "Connection with core established. (Socket: N)")

# Inside the jail: the core (if any) starts, the tool runs; every result lands
# in /tmp. A core the tool never contacted would wait forever: it is stopped.
SCRIPT = r"""
{setup}
{tool} >/tmp/tool.out 2>/tmp/tool.err
echo $? >/tmp/tool.status
[ -z "${{core:-}}" ] || grep -qs CONNECT /tmp/core.txt || kill "$core"
wait
"""


class Sandbox:
    def __init__(self, test):
        self.root = tempfile.mkdtemp(prefix="cue_ctl_e2e.")
        test.addCleanup(shutil.rmtree, self.root, True)
        os.chmod(self.root, 0o755)  # the jail's /, which every user walks
        for folder in ("config/tessra", "var/log/tessra", "tmp"):
            os.makedirs(self.path(folder))
        self.binds = sorted({os.path.dirname(os.path.abspath(p)) for p in (CUE_CTL, CORE_SIM)})

    def path(self, relative):
        return os.path.join(self.root, relative)

    def read(self, relative):
        try:
            with open(self.path(relative), encoding="latin-1") as f:
                return f.read()
        except FileNotFoundError:
            return ""

    def exists(self, relative):
        return os.path.exists(self.path(relative))

    def records(self):
        """(level, message) of each record line of the log, socket numbers shown as N."""
        matches = filter(None, map(RECORD.match, self.read(LOG).split("\n")))
        return [(m.group(3).strip(), re.sub(r"Socket(: |=)\d+", r"Socket\1N", m.group(4))) for m in matches]

    def run(self, args, core=True, setup="", unprivileged=False):
        """One run of the tool; core: whether the simulator runs; unprivileged: the tool in a user namespace of its
        own, where only the files' permission bits let it in."""
        lines = [setup]
        if core:
            lines.append(f"{shlex.quote(CORE_SIM)} --ready /tmp/core.ready --out /tmp/core.txt & core=$!")
            lines.append("for _ in $(seq 500); do [ -e /tmp/core.ready ] && break; sleep 0.01; done")
        runner = ["unshare", "--user"] if unprivileged else []
        script = SCRIPT.format(setup="\n".join(lines), tool=shlex.join(runner + PREFIX + [CUE_CTL] + list(args)))
        binds = [arg for folder in self.binds for arg in ("--bind", folder)]
        jail = subprocess.run([JAIL, self.root] + binds + ["--", "/bin/bash", "-c", script],
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, timeout=120)
        if jail.returncode != 0 or not self.exists("tmp/tool.status"):
            raise AssertionError(f"jail failed ({jail.returncode}): {jail.stdout}")
        self.status = int(self.read("tmp/tool.status"))
        self.stdout, self.stderr = self.read("tmp/tool.out"), self.read("tmp/tool.err")
        self.core = self.read("tmp/core.txt").splitlines()
        return self


class TestCase(unittest.TestCase):
    maxDiff = None

    def stop_run(self, conf=DEBUG, args=("-c", "STOP", "1"), **options):
        """cue_ctl -c STOP 1 against a core with these options; status 0 and nothing on stdout."""
        box = Sandbox(self)
        if conf is not None:
            with open(box.path(CONF), "w", encoding="latin-1") as f:
                f.write(conf)
        box.run(list(args), **options)
        self.assertEqual((box.status, box.stdout), (0, ""), box.stderr)
        return box


def user_namespaces_refused():
    """Why the system refuses user namespaces (the jail's without root, the unprivileged runs'), or None."""
    probe = subprocess.run(["unshare", "--user", "true"], stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    return probe.returncode and f"user namespaces refused (sysctl user.max_user_namespaces?): {probe.stdout.strip()}"


def exit_if_the_jail_is_refused():
    """Without root the jail's namespaces come from a user namespace: where there is none, exit 77, skipped."""
    refused = os.geteuid() != 0 and user_namespaces_refused()
    if refused:
        print(f"SKIPPED: {refused}")
        sys.exit(77)


def main():
    exit_if_the_jail_is_refused()
    unittest.main(verbosity=2)
