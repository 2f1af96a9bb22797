"""Runs the real cue_ctl, with the core simulator and log sink, inside a jail.

Each Sandbox is a private root (see ./jail): its own /config/tessra,
/var/log/tessra and /tmp, its own loopback, so tests use the tool's fixed
paths and port 5200 side by side without touching the host. The root is a
folder under the test's temporary directory, so the test reads the log and
configuration files straight from the host side.

The binaries come from the environment that CTest sets: CUE_CTL, CORE_SIM,
LOG_SINK, and CUE_EMULATOR (a command prefix, e.g. qemu-ppc, for a cross
build's cue_ctl); CUE_WRAPPER (a command prefix such as valgrind) comes
from the caller's environment.
"""
import os
import re
import shlex
import shutil
import subprocess
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
JAIL = os.path.join(HERE, "jail")
CUE_CTL = os.environ.get("CUE_CTL", "")
CORE_SIM = os.environ.get("CORE_SIM", "")
LOG_SINK = os.environ.get("LOG_SINK", "")
EMULATOR = os.environ.get("CUE_EMULATOR", "")
# A checker to run the tool under, e.g. valgrind, set by whoever runs ctest.
WRAPPER = os.environ.get("CUE_WRAPPER", "")

LOG = "var/log/tessra/cue_ctl.log"
CONF = "config/tessra/cue_ctl.conf"

HEADER_BLOCK = (
    "\n"
    "YYYY/MM/DD HH:MM:SS.mmm THREADID LEVEL LOG MESSAGE                            \n"
    "----------------------- -------- ----- ---------------------------------------\n"
)
RECORD = re.compile(r"^(\d{4}/\d\d/\d\d \d\d:\d\d:\d\d\.\d{3}) +(\d+) (.{5})  (.*)$")
USAGE = (
    "\nUsage: cue_ctl [-c Command] <Clip id>\n"
    "   -c         Send this command via the core to the cards\n"
    "   -v         Print version\n\n"
    "Supported commands: STOP\n\n"
)

# The bash that runs inside the jail: helpers start, the tool runs, helpers
# are given a moment to finish and then stopped; every result lands in /tmp.
RUN_SCRIPT = r"""
set -u
cd /tmp
await() {{ for _ in $(seq 500); do [ -e "$1" ] && return 0; sleep 0.01; done; echo "jail: $1 never appeared" >&2; }}
await_port() {{ for _ in $(seq 500); do (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null && return 0; sleep 0.01; done; echo "jail: port $1 never opened" >&2; }}
helpers=()
{setup}
{helpers}
start=$(date +%s%N)
{tool} >/tmp/tool.out 2>/tmp/tool.err
echo $? >/tmp/tool.status
echo $(( ($(date +%s%N) - start) / 1000000 )) >/tmp/tool.ms
for pid in "${{helpers[@]}}"; do
    for _ in $(seq 200); do kill -0 "$pid" 2>/dev/null || break; sleep 0.01; done
    kill "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
done
exit 0
"""


class Result:
    def __init__(self, sandbox):
        self.status = int(sandbox.read("tmp/tool.status"))
        self.stdout = sandbox.read("tmp/tool.out")
        self.stderr = sandbox.read("tmp/tool.err")
        self.elapsed = int(sandbox.read("tmp/tool.ms")) / 1000.0
        self.core = sandbox.read("tmp/core.txt").splitlines()
        self.sink = sandbox.read("tmp/sink.txt")


class Sandbox:
    def __init__(self, test, tool_args_prefix=None):
        self.dir = tempfile.mkdtemp(prefix="cue_ctl_e2e.")
        test.addCleanup(shutil.rmtree, self.dir, True)
        self.root = os.path.join(self.dir, "root")
        os.makedirs(self.path("config/tessra"))
        os.makedirs(self.path("var/log/tessra"))
        os.makedirs(self.path("tmp"))
        self.binds = sorted({os.path.dirname(os.path.abspath(p)) for p in (CUE_CTL, CORE_SIM, LOG_SINK) if p})

    def path(self, relative):
        return os.path.join(self.root, relative)

    def read(self, relative, default=""):
        try:
            with open(self.path(relative), encoding="latin-1") as f:
                return f.read()
        except FileNotFoundError:
            return default

    def exists(self, relative):
        return os.path.exists(self.path(relative))

    def write(self, relative, content):
        with open(self.path(relative), "w", encoding="latin-1") as f:
            f.write(content)

    def write_conf(self, content):
        self.write(CONF, content)

    def log(self):
        return self.read(LOG)

    def records(self):
        """The log's records as (level column, message) pairs, header block skipped."""
        found = []
        for line in self.log().split("\n"):
            match = RECORD.match(line)
            if match:
                found.append((match.group(3).strip(), match.group(4)))
        return found

    def messages(self):
        return [message for _, message in self.records()]

    def command(self, script):
        args = [JAIL, self.root]
        for directory in self.binds:
            args += ["--bind", directory]
        return args + ["--", "/bin/bash", "-c", script]

    def start(self, args, core=None, sink=None, setup="", user=None):
        """Starts a run in the background; finish() collects it.

        setup: shell lines run as root inside the jail before anything else.
        user: a uid to run the tool as, instead of root.
        """
        helpers = []
        if core is not None:
            helpers.append(
                f"{shlex.quote(CORE_SIM)} --port 5200 --ready /tmp/core.ready --out /tmp/core.txt "
                f"--timeout 60 {' '.join(map(shlex.quote, core))} 2>/tmp/core.err & helpers+=($!); await /tmp/core.ready"
            )
        if sink is not None:
            helpers.append(
                f"{shlex.quote(LOG_SINK)} --ready /tmp/sink.ready --out /tmp/sink.txt --raw /tmp/sink.raw "
                f"--timeout 60 {' '.join(map(shlex.quote, sink))} 2>/tmp/sink.err & helpers+=($!); await /tmp/sink.ready"
            )
        prefix = [] if user is None else ["setpriv", f"--reuid={user}", f"--regid={user}", "--clear-groups"]
        tool = " ".join(map(shlex.quote, prefix + shlex.split(WRAPPER) + shlex.split(EMULATOR) + [CUE_CTL] + list(args)))
        script = RUN_SCRIPT.format(setup=setup, helpers="\n".join(helpers), tool=tool)
        return subprocess.Popen(self.command(script), stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)

    def finish(self, process, timeout=90):
        output, _ = process.communicate(timeout=timeout)
        if process.returncode != 0 or not self.exists("tmp/tool.status"):
            raise AssertionError(f"jail failed ({process.returncode}): {output}")
        return Result(self)

    def run(self, args, core=None, sink=None, setup="", user=None, timeout=90):
        return self.finish(self.start(args, core, sink, setup, user), timeout)


class TestCase(unittest.TestCase):
    maxDiff = None

    @classmethod
    def setUpClass(cls):
        if os.geteuid() != 0:
            raise unittest.SkipTest("the jail needs root")
        for name, value in (("CUE_CTL", CUE_CTL), ("CORE_SIM", CORE_SIM), ("LOG_SINK", LOG_SINK)):
            if not value or not os.access(value, os.X_OK):
                raise RuntimeError(f"{name} must name the built program (got {value!r})")

    def sandbox(self):
        return Sandbox(self)


def main():
    unittest.main(verbosity=2)
