#!/usr/bin/env python3
"""End-to-end timing: `cue_ctl -c STOP 42` against core_sim, next to the
minimal client doing the same exchange, all in one jail (tests/e2e/jail).

Inside the jail core_sim serves every connection and spawn_timer runs each
contestant's batch one run after the other, recording each run's wall time
(fork to reaped), peak RSS and minor faults. The batches are cut into rounds
taken in turn, so that load from elsewhere on the machine falls on all
contestants alike. Every run must have brought the core the right STOP frame
(and, at DEBUG, logged it), or the whole measurement fails.

usage: e2e.py --build BUILD_DIR --out FILE.json [--runs N] [--rounds R] [--warm-up W]
"""
import argparse
import json
import os
import shlex
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
JAIL = os.path.join(os.path.dirname(HERE), "tests", "e2e", "jail")

STOP = [0x02, 0x05, 0x00, 0x07, 0x11, 0x20, 0x02, 0x02, 0x10, 0x00, 0xF0]
STOP_RX = "RX " + " ".join(f"{b:02X}" for b in STOP + [sum(STOP) & 0xFF])

PROLOGUE = r"""
set -u
cd /tmp
mkdir -p /tmp/runs /tmp/logs
{core_sim} --port 5200 --connections {connections} --timeout 900 --ready /tmp/core.ready --out /tmp/core.txt 2>/tmp/core.err &
core=$!
for _ in $(seq 1000); do [ -e /tmp/core.ready ] && break; sleep 0.01; done
failed=0
"""
# One round of one contestant; its records are moved away afterwards, so
# each round's log is checked on its own and none of them rotates.
ROUND = r"""
{configure}
{spawn_timer} -n {runs} -w {warm_up} -o /tmp/runs/{name}.{round} -- {command} || failed=1
mkdir /tmp/logs/{name}.{round}; mv /var/log/tessra/* /tmp/logs/{name}.{round}/ 2>/dev/null
"""
EPILOGUE = r"""
echo $failed >/tmp/timer.status
wait $core
echo $? >/tmp/core.status
"""
CONFIGURE = "printf 'cue_ctl={level}\\nMODE=LOCAL\\nREMOTE_HOST=0.0.0.0:0\\n' >/config/tessra/cue_ctl.conf"


def read(path, default=""):
    try:
        with open(path, encoding="latin-1") as f:
            return f.read()
    except FileNotFoundError:
        return default


def percentile(sorted_values, fraction):
    """Nearest rank."""
    rank = -(-len(sorted_values) * fraction // 1)  # ceil
    return sorted_values[max(0, min(len(sorted_values), int(rank)) - 1)]


def remove_root(directory):
    root = os.path.join(directory, "root")
    # The jail's mounts live and die with its namespace; never recurse into one.
    for sub in ("usr", "etc", "dev", "proc"):
        if os.path.ismount(os.path.join(root, sub)):
            raise RuntimeError(f"{root}/{sub} is still mounted; leaving {directory} in place")
    shutil.rmtree(directory)


def measure(build, contestants, runs, rounds, warm_up):
    """contestants: (name, command, level or None). Returns name -> figures."""
    per_round = runs // rounds
    directory = tempfile.mkdtemp(prefix="cue_bench_e2e.")
    try:
        root = os.path.join(directory, "root")
        for sub in ("config/tessra", "var/log/tessra", "tmp"):
            os.makedirs(os.path.join(root, sub))
        core_sim = os.path.join(build, "tools", "core_sim")
        spawn_timer = os.path.join(build, "bench", "spawn_timer")
        script = PROLOGUE.format(core_sim=shlex.quote(core_sim),
                                 connections=len(contestants) * rounds * (per_round + warm_up))
        for r in range(rounds):
            # Each round starts with the next contestant.
            for name, command, level in contestants[r % len(contestants):] + contestants[:r % len(contestants)]:
                script += ROUND.format(configure=CONFIGURE.format(level=level) if level else "",
                                       spawn_timer=shlex.quote(spawn_timer), runs=per_round, warm_up=warm_up,
                                       name=name, round=r, command=" ".join(map(shlex.quote, command)))
        script += EPILOGUE
        binds = sorted({os.path.dirname(p) for p in [core_sim, spawn_timer] + [c[1][0] for c in contestants]})
        args = [JAIL, root]
        for b in binds:
            args += ["--bind", b]
        done = subprocess.run(args + ["--", "/bin/bash", "-c", script], capture_output=True, text=True,
                              timeout=1800)
        tmp = os.path.join(root, "tmp")
        status = (done.returncode, read(os.path.join(tmp, "timer.status")).strip(),
                  read(os.path.join(tmp, "core.status")).strip())
        if status != (0, "0", "0"):
            raise RuntimeError(f"jail/spawn_timer/core_sim status {status}\n{done.stdout}{done.stderr}"
                               f"{read(os.path.join(tmp, 'core.err'))}")
        problems = []
        core_rx = read(os.path.join(tmp, "core.txt")).splitlines().count(STOP_RX)
        expected_rx = len(contestants) * rounds * (per_round + warm_up)
        if core_rx != expected_rx:
            problems.append(f"core got {core_rx} STOP frames, expected {expected_rx}")

        results = {}
        for name, command, level in contestants:
            lines, stderr_bytes, logged, log_bytes = [], 0, 0, 0
            for r in range(rounds):
                base = os.path.join(tmp, "runs", f"{name}.{r}")
                lines += [line.split() for line in read(base).splitlines()]
                stderr_bytes += len(read(base + ".stderr"))
                logs = os.path.join(tmp, "logs", f"{name}.{r}")
                text = "".join(read(os.path.join(logs, f)) for f in os.listdir(logs))
                log_bytes += len(text)
                round_logged = text.count("Exiting ProcessStop()")
                logged += round_logged
                if level == "DEBUG" and round_logged != per_round + warm_up:
                    problems.append(f"{name} round {r}: {round_logged} runs logged their STOP, "
                                    f"expected {per_round + warm_up}")
            if level == "NONE" and log_bytes:
                problems.append(f"{name}: {log_bytes} bytes logged at NONE")
            if len(lines) != rounds * per_round:
                problems.append(f"{name}: {len(lines)} of {rounds * per_round} runs recorded")
            failed = sum(1 for l in lines if int(l[2]) != 0)
            if failed:
                problems.append(f"{name}: {failed} runs exited non-zero")
            if stderr_bytes:
                problems.append(f"{name}: {stderr_bytes} bytes on its stderr")
            if not lines:
                continue
            wall_ms = sorted(int(l[0]) / 1e6 for l in lines)
            rss_kib = sorted(int(l[1]) for l in lines)
            faults = sorted(int(l[3]) for l in lines)
            results[name] = {
                "runs": len(lines),
                "rounds": rounds,
                "warm_up_per_round": warm_up,
                "median_ms": percentile(wall_ms, 0.5),
                "p99_ms": percentile(wall_ms, 0.99),
                "max_ms": wall_ms[-1],
                "rss_peak_kib": rss_kib[-1],
                "rss_median_kib": percentile(rss_kib, 0.5),
                "minor_faults_median": percentile(faults, 0.5),
                "records_logged": logged,
            }
        if problems:
            raise RuntimeError("; ".join(problems))
        return results
    finally:
        remove_root(directory)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--runs", type=int, default=500, help="timed runs per contestant")
    parser.add_argument("--rounds", type=int, default=10)
    parser.add_argument("--warm-up", type=int, default=3, help="untimed runs per contestant and round")
    options = parser.parse_args()
    if options.runs < options.rounds or options.runs % options.rounds:
        parser.error("--runs must be a multiple of --rounds")
    build = os.path.abspath(options.build)
    stop = ["-c", "STOP", "42"]
    contestants = [("min_client", [os.path.join(build, "bench", "min_client")], None)]
    for name, path in (("cue_ctl", os.path.join(build, "cmd", "cue_ctl")),
                       ("shared", os.path.join(build, "bench", "cue_ctl_shared"))):
        for level in ("NONE", "DEBUG"):
            contestants.append((f"{name}.{level}", [path] + stop, level))
    print(f"e2e: {len(contestants)} contestants x {options.runs} runs in {options.rounds} rounds",
          file=sys.stderr, flush=True)
    results = measure(build, contestants, options.runs, options.rounds, options.warm_up)
    with open(options.out, "w") as f:
        json.dump(results, f, indent=1)


if __name__ == "__main__":
    main()
